// The builder's reading of translation sources: languages from their headers, texts by msgctxt, and
// sources it refuses.

#include "LcfFixtures.h"

#include <QRegularExpression>

namespace {

QByteArray Po(const char* language, const char* body, const char* charset = "UTF-8")
{
    return QByteArray("msgid \"\"\nmsgstr \"\"\n\"Language: ") + language
        + "\\n\"\n\"Content-Type: text/plain; charset=" + charset + "\\n\"\n\n" + body;
}

} // namespace

TEST(Builder, LanguagesFromTheHeadersAndTextsByContext)
{
    lcftest::TempFiles files;
    const auto pt = files.Write(QStringLiteral("pt_BR.po"),
        Po("pt_BR",
            "msgctxt \"TFrm_ZoVeva|BConfig-Hint\"\nmsgid \"Configurações\"\nmsgstr \"Configurações\"\n\n"
            "msgctxt \"28060\"\nmsgid \"Change\"\nmsgstr \"Mudança\"\n\n"
            "#, fuzzy\nmsgctxt \"TFrm_Config|BFechar-Hint\"\nmsgid \"Fechar\"\nmsgstr \"Fechar?\"\n"));
    const auto es = files.Write(QStringLiteral("es.po"),
        Po("es-ES",
            "msgctxt \"tfrm_zoveva|BConfig-Hint\"\nmsgid \"Configurações\"\nmsgstr \"Configuración\"\n\n"
            "msgctxt \"28060\"\nmsgid \"Change\"\nmsgstr \"\"\n\n"
            "msgctxt \"TFrm_Config|BFechar-Hint\"\nmsgid \"Fechar\"\nmsgstr \"Cerrar\"\n"));
    const zv::lcf::TLcfContent content = zv::lcf::ReadPoSources(
        { QString::fromStdString(pt.string()), QString::fromStdString(es.string()) });

    EXPECT_EQ(content.Lcids, (std::vector<std::uint32_t> { 1046, 3082 }));
    ASSERT_EQ(content.Strings.count(28060), 1u);
    EXPECT_EQ(content.Strings.at(28060).Leading, "Change");
    EXPECT_EQ(content.Strings.at(28060).Texts, (zv::lcf::TTexts { lcftest::T("Mudança"), std::nullopt }));
    // One resource per class whatever the letter case; a fuzzy text is no text.
    ASSERT_EQ(content.Windows.size(), 2u);
    EXPECT_EQ(content.Windows[0].first, "TFrm_ZoVeva");
    ASSERT_EQ(content.Windows[0].second.size(), 1u);
    EXPECT_EQ(content.Windows[0].second[0].Key, "BConfig-Hint");
    EXPECT_EQ(content.Windows[0].second[0].Texts,
        (zv::lcf::TTexts { lcftest::T("Configurações"), lcftest::T("Configuración") }));
    EXPECT_EQ(content.Windows[1].second[0].Texts, (zv::lcf::TTexts { std::nullopt, lcftest::T("Cerrar") }));
}

TEST(Builder, RefusedSourcesNameTheFile)
{
    const char* entry = "msgctxt \"W|C-Caption\"\nmsgid \"a\"\nmsgstr \"b\"\n";
    struct Case {
        const char* what;
        QByteArray source;
        const char* says;
    };
    const Case cases[] = {
        { "no language", Po("", entry), "names no locale id" },
        { "unknown language", Po("xx_YY", entry), "names no locale id" },
        { "not UTF-8", Po("pt_BR", entry, "ISO-8859-1"), "charset=UTF-8" },
        { "no context", Po("pt_BR", "msgid \"a\"\nmsgstr \"b\"\n"), "has no msgctxt" },
        { "context without a class", Po("pt_BR", "msgctxt \"C-Caption\"\nmsgid \"a\"\nmsgstr \"b\"\n"),
            "neither a string id" },
        { "context without a property", Po("pt_BR", "msgctxt \"W|C\"\nmsgid \"a\"\nmsgstr \"b\"\n"),
            "neither a string id" },
        { "string id beyond 16 bits", Po("pt_BR", "msgctxt \"70000\"\nmsgid \"a\"\nmsgstr \"b\"\n"),
            "neither a string id" },
        { "context twice",
            Po("pt_BR", QByteArray(entry) + "\nmsgctxt \"W|C-Caption\"\nmsgid \"x\"\nmsgstr \"y\"\n"),
            "appears twice" },
        { "syntax", Po("pt_BR", "msgctxt \"W|C-Caption\"\nmsgid \"a\nmsgstr \"b\"\n"), "bad.po:" },
    };
    for (const Case& c : cases) {
        lcftest::TempFiles files;
        const auto path = files.Write(QStringLiteral("bad.po"), c.source);
        try {
            zv::lcf::ReadPoSources({ QString::fromStdString(path.string()) });
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const zv::lcf::ELcfSourceError& error) {
            const QString message = QString::fromUtf8(error.what());
            EXPECT_TRUE(message.contains(QLatin1String("bad.po"))) << c.what << ": " << error.what();
            EXPECT_TRUE(message.contains(QLatin1String(c.says))) << c.what << ": " << error.what();
        }
    }

    // Two sources of one language.
    lcftest::TempFiles files;
    const QString a
        = QString::fromStdString(files.Write(QStringLiteral("a.po"), Po("en_US", entry)).string());
    const QString b
        = QString::fromStdString(files.Write(QStringLiteral("b.po"), Po("en-US", entry)).string());
    EXPECT_THROW(zv::lcf::ReadPoSources({ a, b }), zv::lcf::ELcfSourceError);
}
