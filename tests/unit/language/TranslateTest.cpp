// Translating a window: which entries apply and in what order, and the walk of a property path over
// the components' Qt properties (string-list lines, objects, collections), on plain QObjects.

#include "LcfFixtures.h"
#include "station/LcUnit.h"

#include <QObject>

using lcftest::T;

namespace {

class TPart : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint MEMBER hint)
    Q_PROPERTY(QStringList Items MEMBER items)
    Q_PROPERTY(QObject* Font MEMBER font)
    Q_PROPERTY(QObjectList Columns MEMBER columns)
    Q_PROPERTY(QString Fixed READ Fixed)
    Q_PROPERTY(int Tag MEMBER tag)
public:
    explicit TPart(const char* name, QObject* parent)
        : QObject(parent)
    {
        setObjectName(QString::fromLatin1(name));
    }
    QString Caption() const { return caption; }
    void SetCaption(const QString& c)
    {
        caption = c;
        ++captionWrites;
    }
    QString Fixed() const { return QStringLiteral("fixed"); }

    QString caption = QStringLiteral("caption");
    int captionWrites = 0;
    QString hint;
    QStringList items { QStringLiteral("zero"), QStringLiteral("one") };
    QObject* font = nullptr;
    QObjectList columns;
    int tag = 7;
};

class TBaseForm : public TPart {
    Q_OBJECT
public:
    using TPart::TPart;
};

class TTestForm : public TBaseForm {
    Q_OBJECT
public:
    TTestForm()
        : TBaseForm("TestForm", nullptr)
    {
        font->setObjectName(QStringLiteral("font"));
        part->columns = { column0, column1, nullptr };
        part->font = font;
    }
    TPart* part = new TPart("Part1", this);
    TPart* font = new TPart("", this);
    TPart* column0 = new TPart("", this);
    TPart* column1 = new TPart("", this);
};

using Entries = std::vector<std::pair<QByteArray, const char*>>;

class Translate : public ::testing::Test {
protected:
    void TearDown() override { CloseLanguage(); }

    // Opens a one-language file (list index 1 of two, so a reader that ignored the index would show)
    // with window resources per class.
    void Open(const std::vector<std::pair<QString, Entries>>& windows, std::uint32_t codePage = 1252)
    {
        zv::lcf::TLcfContent content;
        content.Lcids = { 1046, 1033 };
        content.Lcheade2 = true;
        content.CodePages = { 1252, codePage };
        content.LeadingColumn = true; // window entries take no leading column, whatever the flags say
        for (const auto& [name, entries] : windows) {
            std::vector<zv::lcf::TWindowEntry> list;
            for (const auto& [key, text] : entries) {
                list.push_back({ key, { T("other language"), text ? T(text) : std::nullopt } });
            }
            content.Windows.push_back({ name, list });
        }
        ASSERT_EQ(OpenLanguage(files.WriteLanguages(QStringLiteral("w.lcf"), content), 1033), olOpened);
    }

    lcftest::TempFiles files;
    TTestForm form;
};

} // namespace

TEST_F(Translate, TextsOfTheWindowAndItsComponentsByNameIgnoringCase)
{
    Open({ { "TTestForm",
        { { "TestForm-Caption", "Window" }, { "part1-hint", "Part hint" },
            { "Part1-Caption-anything", "Part" }, { "Nobody-Caption", "x" }, { "Part1-Nothing", "x" },
            { "Part1-", "x" }, { "Part1", "x" }, { "Part1-Tag", "8" }, { "Part1-Fixed", "x" } } } });
    TranslateForm(form);
    EXPECT_EQ(form.caption, "Window");
    EXPECT_EQ(form.part->hint, "Part hint");
    EXPECT_EQ(form.part->caption, "Part");
    // Only writable text properties change.
    EXPECT_EQ(form.part->tag, 7);
}

TEST_F(Translate, AnIndexOnTheLastSegmentChangesNothingAndLineNThenText)
{
    Open({ { "TTestForm",
        { { "Part1-Items(0)", "ignored" }, { "Part1-Items(1).Text", "ŁINE" },
            { "Part1-Items(2).Text", "beyond" }, { "Part1-Items(-1).Text", "before" },
            { "Part1-Caption(3)", "Ł" } } } });
    TranslateForm(form);
    // The line goes through the language's code page (1252 has no Ł); a caption does not.
    EXPECT_EQ(form.part->items, QStringList({ "zero", "?INE" }));
    EXPECT_EQ(form.part->caption, QString::fromUtf8("Ł"));
}

TEST_F(Translate, ObjectsAndCollectionItemsAlongThePath)
{
    Open({ { "TTestForm",
        { { "Part1-Font.Caption", "font" }, { "Part1-Columns<1>.Caption", "column 1" },
            { "Part1-Columns<2>.Caption", "null item" }, { "Part1-Columns<3>.Caption", "beyond" },
            { "TestForm-Font.Caption", "null object" }, { "Part1-Font.Items(0).Text", "font line" } } } });
    TranslateForm(form);
    EXPECT_EQ(form.font->caption, "font");
    EXPECT_EQ(form.font->items.at(0), "font line");
    EXPECT_EQ(form.column1->caption, "column 1");
    EXPECT_EQ(form.column0->caption, "caption");
}

TEST_F(Translate, BadIndexOrAngleBracketsOnANonCollectionEndTheWindowsTranslation)
{
    for (const char* bad : { "Part1-Items(x).Text", "Part1-Items().Text", "Part1-Columns<1x>.Caption",
             "Part1-Font<0>.Caption", "Part1-Items<0>.Text" }) {
        TTestForm fresh;
        // Entries apply last first: the bad one comes before the caption.
        Open({ { "TTestForm", { { "TestForm-Caption", "after" }, { bad, "x" } } } });
        EXPECT_THROW(TranslateForm(fresh), ELcfError) << bad;
        EXPECT_EQ(fresh.caption, "caption") << bad;
    }
}

TEST_F(Translate, BaseClassesFirstAndWithinAResourceTheLastEntryFirst)
{
    Open({ { "TBaseForm", { { "TestForm-Caption", "base" }, { "Part1-Hint", "base hint" } } },
        { "TTestForm", { { "TestForm-Caption", "first" }, { "TestForm-Caption", "second" } } } });
    TranslateForm(form);
    EXPECT_EQ(form.caption, "first");
    EXPECT_EQ(form.part->hint, "base hint");
    const TProps props = TProps::Collect(form);
    ASSERT_EQ(props.Items.size(), 4u);
    EXPECT_EQ(props.Items[0].Text, "base hint");
    EXPECT_EQ(props.Items[3].Text, "first");
}

TEST_F(Translate, WithoutItsOwnClassesResourceAWindowKeepsItsTexts)
{
    Open({ { "TBaseForm", { { "TestForm-Caption", "base" } } },
        { "TPart", { { "TestForm-Caption", "x" } } } });
    TranslateForm(form);
    EXPECT_EQ(form.caption, "caption");
    CloseLanguage();
    TranslateForm(form);
    EXPECT_EQ(form.caption, "caption");
}

TEST_F(Translate, ATextIsWrittenOnlyWhenItDiffers)
{
    Open({ { "TTestForm", { { "TestForm-Caption", "caption" }, { "Part1-Caption", "new" } } } });
    TranslateForm(form);
    TranslateForm(form);
    EXPECT_EQ(form.captionWrites, 0);
    EXPECT_EQ(form.part->captionWrites, 1);
}

TEST_F(Translate, EntriesWithoutATextForTheLanguageAndDamagedEntriesArePassedOver)
{
    Open({ { "TTestForm", { { "TestForm-Caption", nullptr }, { "Part1-Hint", "hint" } } } });
    TranslateForm(form);
    EXPECT_EQ(form.caption, "caption");
    EXPECT_EQ(form.part->hint, "hint");

    // Hand-made window resources: an entry table past the end, entries pointing anywhere.
    const auto window = [](quint32 count, std::vector<quint32> offsets, const QByteArray& tail) {
        QByteArray r;
        lcftest::Append32(r, 0);
        lcftest::Append32(r, count);
        for (quint32 o : offsets) {
            lcftest::Append32(r, o);
            lcftest::Append32(r, 0);
        }
        return r + tail;
    };
    QByteArray entry; // key "TestForm-Caption" and language 0's text, then nothing for language 1
    for (quint32 v : { 24u, 16u, 40u, 2u, 0u, 0xFFFFFFFFu }) {
        lcftest::Append32(entry, v);
    }
    entry += "TestForm-Caption";
    for (const QByteArray& r : { window(0xFFFFFFF, {}, {}), window(2, { 0xFFFFFF00u, 16 }, entry),
             window(1, { 0 }, entry.left(20)), QByteArray("\xff\xff\xff\xff"), QByteArray() }) {
        const auto file = files.WriteModule(QStringLiteral("d.lcf"),
            { { QStringLiteral("LCHEADER"), lcftest::Header("LCHEADER", 0, { 1046, 1033 }) },
                { QStringLiteral("TTESTFORM"), r } });
        ASSERT_EQ(OpenLanguage(file, 1033), olOpened);
        EXPECT_NO_THROW(TranslateForm(form));
        EXPECT_EQ(form.caption, "caption");
    }
}

#include "TranslateTest.moc"
