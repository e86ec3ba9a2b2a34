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
