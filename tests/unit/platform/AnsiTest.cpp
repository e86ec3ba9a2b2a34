#include "platform/Ansi.h"

#include <gtest/gtest.h>

TEST(Ansi, IsWindows1252BothWays)
{
    EXPECT_EQ(zv::ToAnsi(QStringLiteral("A\u00e7\u00e3o \u20ac")), QByteArray("\x41\xe7\xe3\x6f\x20\x80"));
    QByteArray every;
    for (int b = 0; b < 256; ++b) {
        every.append(static_cast<char>(b));
    }
    EXPECT_EQ(zv::ToAnsi(zv::FromAnsi(every)), every);
    EXPECT_EQ(zv::ToAnsiExact(zv::FromAnsi(every)), every);
}

TEST(Ansi, CharactersWithoutAByteBecomeAQuestionMarkOrRefuse)
{
    EXPECT_EQ(zv::ToAnsi(QStringLiteral("a\u0416b\U0001F600c")), QByteArray("a?b?c"));
    EXPECT_FALSE(zv::ToAnsiExact(QStringLiteral("a\u0416b")).has_value());
}

// For readers that take ISO-8859-1 only (a streaming server's details): Latin-1 text stays byte for
// byte, and what that encoding lacks becomes the text a reader would have written instead.
TEST(Ansi, Latin1NearestKeepsLatin1AndSpellsOutTheRest)
{
    const struct {
        QString text;
        QByteArray latin1;
    } cases[] = {
        { QStringLiteral("R\u00e1dio Esta\u00e7\u00e3o \u00a9\u00bd\u00ff"),
            "R\xe1"
            "dio Esta\xe7\xe3o \xa9\xbd\xff" },
        { QStringLiteral("\u201cVoz\u201d \u2018x\u2019 \u2013 \u2014 \u2026"), "\"Voz\" 'x' - - ..." },
        { QStringLiteral("5 \u20ac, Marca\u2122"), "5 EUR, MarcaTM" },
        { QStringLiteral("\u0152uvre \u0141\u00f3d\u017a"),
            "OEuvre L\xf3"
            "dz" },
        { QStringLiteral("\u041c\u043e\u0441\u043a\u0432\u0430"), "Moskva" },
        { QStringLiteral("a\u200bb\u202fc"), "ab c" }, // invisible format character, narrow blank
        { QStringLiteral("a\u0301"), "\xe1" }, // decomposed: composed first
        { QStringLiteral("x\U0001F600y"), "x?y" }, // nothing near: one '?' per character
        { QString(), QByteArray() },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::ToLatin1Nearest(c.text), c.latin1) << c.text.toStdString();
    }
}
