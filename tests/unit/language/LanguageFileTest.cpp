// Opening a language file: the header's forms, the enumeration, the string resources' columns and
// code pages, and what stays when an open fails.

#include "LcfFixtures.h"
#include "platform/ResStrings.h"
#include "station/LcUnit.h"

using lcftest::Header;
using lcftest::T;
using lcftest::TResource;

namespace {

class LanguageFile : public ::testing::Test {
protected:
    void TearDown() override { CloseLanguage(); }

    // A module with the given header resource and the string 28060 in two languages.
    std::filesystem::path WithHeader(const QString& name, const QByteArray& header)
    {
        zv::lcf::TLcfContent strings;
        strings.Lcids = { 1046, 1033 };
        strings.Strings[28060] = { QString(), { T("pt"), T("en") } };
        auto resources = zv::lcf::LanguageResources(strings);
        resources.erase(resources.begin()); // the builder's own header
        if (!name.isEmpty()) {
            resources.push_back({ name, header });
        }
        return files.WriteModule(QStringLiteral("h.lcf"), resources);
    }

    lcftest::TempFiles files;
    const QString builtIn = zv::BuiltInResString(zv::SPropertyWhileOpen);
};

} // namespace

TEST_F(LanguageFile, HeaderFormsAndWhatOpenAnswers)
{
    struct Case {
        const char* what;
        QString name;
        QByteArray header;
        int result;
    };
    const Case cases[] = {
        { "LCHEADER", "LCHEADER", Header("LCHEADER", 0, { 1046, 1033 }), olOpened },
        { "id absent", "LCHEADER", Header("LCHEADER", 0, { 1046 }), olNoLanguage },
        { "LCHEADE2 with the LCHEADER magic", "LCHEADE2",
            Header("LCHEADER", 0, { 1046, 1033 }, { 1252, 1252 }), olOpened },
        { "LCHEADE2 with its own name as magic", "LCHEADE2",
            Header("LCHEADE2", 0, { 1046, 1033 }, { 1252, 1252 }), olNoFile },
        { "wrong magic", "LCHEADER", Header("LCHEADEX", 0, { 1033 }), olNoFile },
        { "15 bytes", "LCHEADER", Header("LCHEADER", 0, {}).left(15), olNoFile },
        { "empty list", "LCHEADER", Header("LCHEADER", 0, {}), olNoLanguage },
        { "list longer than the header", "LCHEADER",
            Header("LCHEADER", 0, { 1033 }).replace(12, 4, QByteArray("\xff\xff\0\0", 4)), olNoFile },
        { "LCHEADE2 without its code pages", "LCHEADE2", Header("LCHEADER", 0, { 1033 }), olNoFile },
        { "no header resource", QString(), QByteArray(), olNoFile },
    };
    for (const Case& c : cases) {
        const auto file = WithHeader(c.name, c.header);
        EXPECT_EQ(OpenLanguage(file, 1033), c.result) << c.what;
        EXPECT_EQ(TLcf::Instance().IsOpen(), c.result == olOpened) << c.what;
        // Only an open language redirects the resource strings.
        EXPECT_EQ(zv::LoadResString(zv::SPropertyWhileOpen), c.result == olOpened ? "en" : builtIn) << c.what;
    }
    EXPECT_EQ(OpenLanguage(files.Write(QStringLiteral("text.lcf"), "LCHEADER"), 1033), olNoFile);
    EXPECT_EQ(OpenLanguage(files.Path(QStringLiteral("absent.lcf")).toStdString(), 1033), olNoFile);
}

TEST_F(LanguageFile, HeaderNamedLcheaderIsLookedForFirst)
{
    zv::lcf::TLcfContent content;
    content.Lcids = { 1033 };
    auto resources = zv::lcf::LanguageResources(content);
    resources.push_back({ QStringLiteral("LCHEADE2"), Header("LCHEADER", 0, { 1046 }, { 1252 }) });
    EXPECT_EQ(OpenLanguage(files.WriteModule(QStringLiteral("both.lcf"), resources), 1046), olNoLanguage);
}

TEST_F(LanguageFile, EnumerationRunsFirstAndStopsWhenTheCallbackSaysSo)
{
    struct Seen {
        std::vector<std::uint32_t> ids;
        std::size_t stopAfter = 100;
        bool openDuringCallback = false;
    };
    const auto proc = [](std::uint32_t lcid, void* context) {
        auto& seen = *static_cast<Seen*>(context);
        seen.ids.push_back(lcid);
        seen.openDuringCallback |= TLcf::Instance().IsOpen();
        return seen.ids.size() < seen.stopAfter;
    };
    const auto file
        = WithHeader(QStringLiteral("LCHEADER"), Header("LCHEADER", 0, { 1046, 1034, 1033, 3082 }));

    // A language that was open is closed before the callback runs.
    ASSERT_EQ(OpenLanguage(file, 1046), olOpened);
    Seen all;
    EXPECT_EQ(OpenLanguage(file, 7, proc, &all), olNoLanguage);
    EXPECT_EQ(all.ids, (std::vector<std::uint32_t> { 1046, 1034, 1033, 3082 }));
    EXPECT_FALSE(all.openDuringCallback);

    // Stopping ends the enumeration, not the look-up of the id.
    Seen two { {}, 2, false };
    EXPECT_EQ(OpenLanguage(file, 3082, proc, &two), olOpened);
    EXPECT_EQ(two.ids, (std::vector<std::uint32_t> { 1046, 1034 }));
    EXPECT_EQ(TLcf::Instance().LanguageIndex(), 3);
}

TEST_F(LanguageFile, StringColumnsFollowFlagBitZero)
{
    zv::lcf::TLcfContent content;
    content.Lcids = { 1046, 1033 };
    content.Strings[28060] = { QStringLiteral("lead"), { T("pt"), T("en") } };
    content.Strings[29900] = { QStringLiteral("lead"), { std::nullopt, T("en only") } };
    for (const bool leading : { false, true }) {
        content.LeadingColumn = leading;
        const auto file = files.WriteLanguages(QStringLiteral("s.lcf"), content);
        ASSERT_EQ(OpenLanguage(file, 1046), olOpened);
        EXPECT_EQ(TLcf::Instance().StringColumn(), leading ? 1 : 0);
        EXPECT_EQ(LookupResString(28060), "pt") << leading;
        // No text for the language, no resource at all: the built-in text.
        EXPECT_EQ(LookupResString(29900), "<unknown>") << leading;
        EXPECT_EQ(LookupResString(12345), QString()) << leading;
        ASSERT_EQ(OpenLanguage(file, 1033), olOpened);
        EXPECT_EQ(LookupResString(28060), "en") << leading;
        EXPECT_EQ(LookupResString(29900), "en only") << leading;
    }
    CloseLanguage();
    EXPECT_EQ(LookupResString(28060), builtIn);
}

TEST_F(LanguageFile, DamagedStringResourcesGiveTheBuiltInText)
{
    QByteArray beyond(16, '\0'); // column 0: offset 100, 4 bytes, past the resource's end
    beyond[0] = 100;
    beyond[4] = 4;
    QByteArray negative(16, '\0');
    negative.replace(0, 4, "\xff\xff\xff\xff"); // offset -1
    negative[4] = 2;
    for (const QByteArray& data : { beyond, negative, QByteArray("\x08\0\0"), QByteArray() }) {
        const auto file = files.WriteModule(QStringLiteral("d.lcf"),
            { { QStringLiteral("LCHEADER"), Header("LCHEADER", 0, { 1033 }) },
                { QStringLiteral("28060"), data } });
        ASSERT_EQ(OpenLanguage(file, 1033), olOpened);
        EXPECT_EQ(LookupResString(28060), builtIn);
    }
}

TEST_F(LanguageFile, ResourceStringsComeThroughTheLanguagesCodePage)
{
    zv::lcf::TLcfContent content;
    content.Lcids = { 1049, 1033, 1081 }; // Russian, English, Hindi
    content.Strings[28060] = { QString(), { T("Привет ü"), T("Ωmega ü"), T("हिन्दी") } };
    // The locales' own code pages: 1251, 1252, and none for Hindi.
    ASSERT_EQ(OpenLanguage(files.WriteLanguages(QStringLiteral("c.lcf"), content), 1049), olOpened);
    EXPECT_EQ(TLcf::Instance().CodePage(), 1251u);
    EXPECT_EQ(LookupResString(28060), QString::fromUtf8("Привет ?"));
    ASSERT_EQ(OpenLanguage(files.WriteLanguages(QStringLiteral("c.lcf"), content), 1033), olOpened);
    EXPECT_EQ(LookupResString(28060), QString::fromUtf8("?mega ü"));
    ASSERT_EQ(OpenLanguage(files.WriteLanguages(QStringLiteral("c.lcf"), content), 1081), olOpened);
    EXPECT_EQ(LookupResString(28060), QString::fromUtf8("हिन्दी"));

    // LCHEADE2 says the code page itself.
    content.Lcheade2 = true;
    content.CodePages = { 1252, 1251, 0 };
    ASSERT_EQ(OpenLanguage(files.WriteLanguages(QStringLiteral("c2.lcf"), content), 1033), olOpened);
    EXPECT_EQ(TLcf::Instance().CodePage(), 1251u);
    EXPECT_EQ(LookupResString(28060), QString::fromUtf8("?mega ?"));
}
