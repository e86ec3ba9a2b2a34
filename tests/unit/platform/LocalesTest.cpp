// Locale ids: the code page table of our own, ICU's names, and text through a code page.

#include "platform/Locales.h"

#include <gtest/gtest.h>

TEST(Locales, DefaultAnsiCodePageByScriptAndLanguage)
{
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        { 1046, 1252 }, { 1033, 1252 }, { 3082, 1252 }, { 1034, 1252 }, { 2070, 1252 }, // Western
        { 1045, 1250 }, { 1050, 1250 }, { 2074, 1250 }, // Polish, Croatian, Serbian (Latin)
        { 3098, 1251 }, { 1049, 1251 }, { 2092, 1251 }, // Serbian (Cyrillic), Russian, Azeri (Cyrillic)
        { 1068, 1254 }, { 1055, 1254 }, // Azeri (Latin), Turkish
        { 1028, 950 }, { 3076, 950 }, { 2052, 936 }, { 4100, 936 }, // Chinese
        { 1041, 932 }, { 1042, 949 }, { 1054, 874 }, { 1032, 1253 }, { 1037, 1255 }, { 1025, 1256 },
        { 1061, 1257 }, { 1066, 1258 }, { 1081, 0 }, { 0, 0 },
        { 0x3FF, 0 }, // Hindi has none; nothing for no language
    };
    for (const auto& [lcid, codePage] : cases) {
        EXPECT_EQ(zv::DefaultAnsiCodePage(lcid), codePage) << lcid;
    }
}

TEST(Locales, IcuNamesAndIds)
{
    EXPECT_EQ(zv::LocaleForLcid(1046), "pt_BR");
    EXPECT_EQ(zv::LocaleDisplayName(1033), "English (United States)");
    EXPECT_FALSE(zv::LocaleForLcid(0x1234));
    EXPECT_FALSE(zv::LocaleDisplayName(0)); // ICU's root locale names no language
    EXPECT_EQ(zv::LcidForLocale(QStringLiteral("es_ES")), 3082u);
    EXPECT_EQ(zv::LcidForLocale(QStringLiteral("pt-BR.UTF-8")), 1046u);
    EXPECT_EQ(zv::LcidForLocale(QStringLiteral("xx_YY")), 0u);
}

TEST(Locales, TextThroughACodePageKeepsWhatItHolds)
{
    EXPECT_EQ(zv::ThroughCodePage(QString::fromUtf8("Ação Ω €"), 1252), QString::fromUtf8("Ação ? €"));
    EXPECT_EQ(zv::ThroughCodePage(QString::fromUtf8("日本語 ü"), 932), QString::fromUtf8("日本語 ?"));
    // No code page, or one without a converter: as it is.
    EXPECT_EQ(zv::ThroughCodePage(QString::fromUtf8("Ω"), 0), QString::fromUtf8("Ω"));
    EXPECT_EQ(zv::ThroughCodePage(QString::fromUtf8("Ω"), 12345), QString::fromUtf8("Ω"));
}
