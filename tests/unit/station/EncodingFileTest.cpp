#include "station/EncodingFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {

// The profile as the template carries it, at each row's values.
const QString kProfiles[] = {
    QStringLiteral(
        R"(<audio bitrate="32000" nSamplesPerSec="32000" nAvgBytesPerSec="4000" nBlockAlign="1536" )"
        R"(lsamplesize="1536" codecdata="008800001700001E0000"/>)"),
    QStringLiteral(
        R"(<audio bitrate="64008" nSamplesPerSec="48000" nAvgBytesPerSec="8001" nBlockAlign="2731" )"
        R"(lsamplesize="2731" codecdata="008800000F00AD2A0000"/>)"),
    QStringLiteral(
        R"(<audio bitrate="96000" nSamplesPerSec="48000" nAvgBytesPerSec="12000" nBlockAlign="4096" )"
        R"(lsamplesize="4096" codecdata="008800000F0000400000"/>)"),
    QStringLiteral(
        R"(<audio bitrate="128016" nSamplesPerSec="48000" nAvgBytesPerSec="16002" nBlockAlign="5462" )"
        R"(lsamplesize="5462" codecdata="008800000F0059550000"/>)"),
};
const char* const kRows[] = { "32000", "64008", "96000", "128016" };

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

const TEncodingValues kValues { QStringLiteral("R\u00e1dio Teste"), QStringLiteral("Placa USB"),
    QStringLiteral("ns2.varekradio.net.br"), QStringLiteral("maria") };

QDomElement Element(const QDomDocument& document, const QString& path)
{
    QDomElement element = document.documentElement();
    for (const QString& step : path.split(QLatin1Char('/'))) {
        element = element.firstChildElement(step);
    }
    return element;
}

} // namespace

TEST(RewriteProfile, EveryRowFromEveryRowAndAtTargetUntouched)
{
    for (int from = 0; from < 4; ++from) {
        for (int to = 0; to < 4; ++to) {
            const TBitrateRow* target = BitrateRowFor(QString::fromLatin1(kRows[to]));
            ASSERT_NE(target, nullptr);
            // Wrapped in other text: only the profile's own attributes may change.
            const QString text
                = QStringLiteral("<profile name=\"x\">") + kProfiles[from] + QStringLiteral("</profile>");
            EXPECT_EQ(RewriteProfile(text, *target),
                QStringLiteral("<profile name=\"x\">") + kProfiles[to] + QStringLiteral("</profile>"))
                << kRows[from] << " -> " << kRows[to];
        }
    }
}

TEST(RewriteProfile, OddProfiles)
{
    const TBitrateRow& r96000 = *BitrateRowFor(u"96000");
    const TBitrateRow& r64008 = *BitrateRowFor(u"64008");
    const struct {
        const char* name;
        QString text;
        const TBitrateRow& target;
        QString expected;
    } cases[] = {
        // A sample rate equal to the bitrate, standing before it, is not taken for the bitrate.
        { "rate first", QStringLiteral(R"(nSamplesPerSec="32000" bitrate="32000")"), r96000,
            QStringLiteral(R"(nSamplesPerSec="48000" bitrate="96000")") },
        { "names in other case",
            QStringLiteral(R"(bitrate="32000" NSAMPLESPERSEC="32000" CODECDATA="008800001700001e0000")"),
            r64008,
            QStringLiteral(R"(bitrate="64008" nSamplesPerSec="48000" codecdata="008800000F00AD2A0000")") },
        { "every 128016", QStringLiteral(R"(bitrate="128016" peak="128016")"), r64008,
            QStringLiteral(R"(bitrate="64008" peak="64008")") },
        { "unknown bitrate", QStringLiteral(R"(bitrate="44100" nSamplesPerSec="32000")"), r64008,
            QStringLiteral(R"(bitrate="44100" nSamplesPerSec="32000")") },
        { "no bitrate at all", QStringLiteral(R"(123456789032000 nSamplesPerSec="32000")"), r64008,
            QStringLiteral(R"(123456789032000 nSamplesPerSec="32000")") },
        { "bitrate at the very end", QStringLiteral("x bitrate"), r64008, QStringLiteral("x bitrate") },
        { "empty", QString(), r64008, QString() },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RewriteProfile(c.text, c.target), c.expected) << c.name;
    }
}

struct EncodingFileTest : ::testing::Test {
    QTemporaryDir dir;
    QString user = dir.filePath(QStringLiteral("maria.xml"));
    QString templ = QStringLiteral(ZOVEVA_TEMPLATE);
};

TEST_F(EncodingFileTest, TemplatePatchedAndRebuiltAgainUnchanged)
{
    RebuildEncodingFileFrom(templ, user, kValues, u"64008");
    const QByteArray first = ReadAll(user);
    const QDomDocument document = LoadEncodingFile(user);
    EXPECT_EQ(Element(document, "Description").attribute("Title"), QStringLiteral("R\u00e1dio Teste"));
    EXPECT_EQ(Element(document, "SourceGroups/SourceGroup/Source").attribute("InputSource"), "Placa USB");
    const QDomElement broadcast = Element(document, "Broadcast");
    EXPECT_EQ(broadcast.attribute("PublishServer"), "ns2.varekradio.net.br");
    EXPECT_EQ(broadcast.attribute("PublishingPoint"), "maria");
    EXPECT_EQ(broadcast.attribute("PublishPort"), "8000");
    const QDomNode profile = Element(document, "Profile").firstChild();
    EXPECT_TRUE(profile.isCDATASection());
    EXPECT_TRUE(profile.nodeValue().contains(kProfiles[1])) << profile.nodeValue().toStdString();

    RebuildEncodingFileFrom(user, user, kValues, u"64008");
    EXPECT_EQ(ReadAll(user), first);
}

TEST_F(EncodingFileTest, OnlyTextLikeGrandchildrenOfTheRootAreRewritten)
{
    const QString deep = dir.filePath(QStringLiteral("deep.xml"));
    WriteAll(deep,
        R"(<E>bitrate="32000"<Description/><SourceGroups><SourceGroup><Source/>)"
        R"(<![CDATA[bitrate="32000"]]></SourceGroup></SourceGroups><Broadcast/>)"
        R"(<P><!--bitrate="32000"--><X a='bitrate="32000"'/></P><Q><![CDATA[bitrate="32000"]]></Q></E>)");
    RebuildEncodingFileFrom(deep, user, kValues, u"96000");
    const QString saved = QString::fromUtf8(ReadAll(user));
    EXPECT_EQ(saved.count(QStringLiteral("bitrate=\"96000\"")), 2)
        << saved.toStdString(); // comment and Q's CDATA
    EXPECT_EQ(saved.count(QStringLiteral("bitrate=\"32000\"")), 2)
        << saved.toStdString(); // root text, depth 3
    EXPECT_TRUE(saved.contains(QStringLiteral("<!--bitrate=\"96000\"-->")));

    RebuildEncodingFileFrom(deep, user, kValues, u"12345"); // no row: attributes only
    EXPECT_EQ(QString::fromUtf8(ReadAll(user)).count(QStringLiteral("bitrate=\"96000\"")), 0);
}

TEST_F(EncodingFileTest, BrokenOrIncompleteFilesRaiseAndTheUserFileStays)
{
    const QByteArray good = ReadAll(templ);
    const QByteArray userBytes = "<user file as it was/>";
    const QString source = dir.filePath(QStringLiteral("source.xml"));
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        { "empty", "" },
        { "not xml", "\x00\xff garbage" },
        { "cut short", good.left(good.size() / 2) },
        { "no Description", QByteArray(good).replace("<Description", "<Descricao") },
        { "no SourceGroups",
            QByteArray(good).replace("<SourceGroups>", "<Grupos>").replace("</SourceGroups>", "</Grupos>") },
        { "no SourceGroup",
            QByteArray(good).replace("<SourceGroup ", "<Grupo ").replace("</SourceGroup>", "</Grupo>") },
        { "no Source", QByteArray(good).replace("<Source ", "<Fonte ") },
        { "no Broadcast", QByteArray(good).replace("<Broadcast ", "<Transmissao ") },
    };
    for (const auto& c : cases) {
        WriteAll(source, c.bytes);
        WriteAll(user, userBytes);
        EXPECT_THROW(RebuildEncodingFileFrom(source, user, kValues, u"32000"), EEncodingFileError) << c.name;
        EXPECT_EQ(ReadAll(user), userBytes) << c.name;
    }

    TEncodingValues noCard = kValues;
    noCard.InputSource.reset();
    EXPECT_THROW(RebuildEncodingFileFrom(templ, user, noCard, u"32000"), EEncodingFileError);
    EXPECT_THROW(
        RebuildEncodingFileFrom(dir.filePath("absent.xml"), user, kValues, u"32000"), EEncodingFileError);
    // A pipe under the template's name is refused at once instead of waiting for a writer.
    const QString pipe = dir.filePath(QStringLiteral("pipe.xml"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_THROW(RebuildEncodingFileFrom(pipe, user, kValues, u"32000"), EEncodingFileError);
    EXPECT_EQ(ReadAll(user), userBytes);
}

TEST_F(EncodingFileTest, FileInAnotherEncodingIsSavedAsUtf8AndKeepsItsText)
{
    const QString latin = dir.filePath(QStringLiteral("latin.xml"));
    WriteAll(latin,
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<E><Description Author=\"Fl\xe1vio\"/>"
        "<SourceGroups><SourceGroup><Source/></SourceGroup></SourceGroups><Broadcast/></E>");
    RebuildEncodingFileFrom(latin, user, kValues, u"32000");
    const QDomDocument document = LoadEncodingFile(user);
    EXPECT_EQ(Element(document, "Description").attribute("Author"), QStringLiteral("Fl\u00e1vio"));
    EXPECT_EQ(Element(document, "Description").attribute("Title"), QStringLiteral("R\u00e1dio Teste"));
}

TEST(XmlCharactersOnly, LeavesOutWhatXmlCannotHoldAndKeepsTheRest)
{
    const struct {
        QString in;
        QString out;
    } cases[] = {
        { QStringLiteral("A\u0001B\u001fC"), QStringLiteral("ABC") },
        { QString(QChar(0)) + QStringLiteral("x"), QStringLiteral("x") },
        { QStringLiteral("t\tl\nc\r"), QStringLiteral("t\tl\nc\r") },
        // DEL and the C1 controls (Windows-1252's unassigned 0x81, 0x8D, 0x8F, 0x90, 0x9D) are XML.
        { QStringLiteral("\u007f\u0081\u008d\u008f\u0090\u009d"),
            QStringLiteral("\u007f\u0081\u008d\u008f\u0090\u009d") },
        { QStringLiteral("a\ufffeb\uffffc\ufffd"), QStringLiteral("abc\ufffd") },
        { QStringLiteral("R\u00e1dio \u20ac \U0001F3B5"), QStringLiteral("R\u00e1dio \u20ac \U0001F3B5") },
        { QString(QChar(0xD800)) + QStringLiteral("x") + QChar(0xDC00), QStringLiteral("x") },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XmlCharactersOnly(c.in), c.out) << c.in.toStdString();
    }
}

TEST_F(EncodingFileTest, ValuesWithCharactersXmlCannotHoldStillMakeAFileThatLoads)
{
    const TEncodingValues values { QStringLiteral("A\u0001B"), QStringLiteral("Placa\u0002 1"),
        QStringLiteral("ns1.\u0003x"), QStringLiteral("ma\u001bria") };
    RebuildEncodingFileFrom(templ, user, values, u"32000");
    const QDomDocument document = LoadEncodingFile(user);
    EXPECT_EQ(Element(document, "Description").attribute("Title"), "AB");
    EXPECT_EQ(Element(document, "SourceGroups/SourceGroup/Source").attribute("InputSource"), "Placa 1");
    EXPECT_EQ(Element(document, "Broadcast").attribute("PublishServer"), "ns1.x");
    EXPECT_EQ(Element(document, "Broadcast").attribute("PublishingPoint"), "maria");
}

// What is saved is read back first: a document that would not load again leaves the old file alone.
TEST_F(EncodingFileTest, ADocumentThatWouldNotLoadAgainIsNotSaved)
{
    const QByteArray before = "<old/>";
    for (const char* what : { "comment", "attribute" }) {
        WriteAll(user, before);
        QDomDocument document = LoadEncodingFile(templ);
        if (std::string(what) == "comment") {
            document.documentElement().appendChild(document.createComment(QStringLiteral("a--b")));
        } else {
            document.documentElement().setAttribute(QStringLiteral("X"), QStringLiteral("\u0001"));
        }
        try {
            SaveEncodingFile(document, user);
            ADD_FAILURE() << what << ": saved";
        } catch (const EEncodingFileError& error) {
            EXPECT_TRUE(error.Message().contains(QStringLiteral("%1 was not saved").arg(user)))
                << error.Message().toStdString();
        }
        EXPECT_EQ(ReadAll(user), before) << what;
    }
}

// The client loads no more than the encoder would: a template padded past the bound is refused with a
// message naming it, before it is read; one at the bound loads, but the patched result would exceed the
// bound, so it is not saved.
TEST_F(EncodingFileTest, FilesBeyondTheEncodersBoundAreRefused)
{
    const QByteArray good = ReadAll(templ);
    const qint64 bound = zv::shared::kMaxEncodingFileBytes;
    const QString big = dir.filePath(QStringLiteral("big.xml"));
    const auto padded = [&](qint64 size) {
        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--";
        const QByteArray tail = "-->\n" + good.mid(good.indexOf("<Encoding"));
        return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
    };

    WriteAll(big, padded(bound + 1));
    WriteAll(user, "<old/>");
    try {
        RebuildEncodingFileFrom(big, user, kValues, u"32000");
        ADD_FAILURE() << "loaded";
    } catch (const EEncodingFileError& error) {
        EXPECT_EQ(error.Message().toStdString(),
            QStringLiteral(
                "The encoding file %1 is too large: %2 bytes, where an encoding file holds at most "
                "4194304 bytes")
                .arg(big)
                .arg(bound + 1)
                .toStdString());
    }
    EXPECT_EQ(ReadAll(user), "<old/>");
    // A name that looks like an argument is named as it is.
    const QString odd = dir.filePath(QStringLiteral("r%1d%2.xml"));
    WriteAll(odd, padded(bound + 1));
    try {
        LoadEncodingFile(odd);
        ADD_FAILURE() << "loaded";
    } catch (const EEncodingFileError& error) {
        EXPECT_TRUE(error.Message().startsWith(QStringLiteral("The encoding file %1 is too large: %2 bytes")
                                                   .arg(odd, QString::number(bound + 1))))
            << error.Message().toStdString();
    }

    // 200 MB (a sparse file: the size is what is looked at, nothing of it is read).
    QFile huge(big);
    ASSERT_TRUE(huge.resize(200 * 1024 * 1024));
    EXPECT_THROW(LoadEncodingFile(big), EEncodingFileError);

    WriteAll(big, padded(bound));
    EXPECT_FALSE(LoadEncodingFile(big).documentElement().isNull());
    try {
        RebuildEncodingFileFrom(big, user, kValues, u"32000");
        ADD_FAILURE() << "saved";
    } catch (const EEncodingFileError& error) {
        EXPECT_TRUE(error.Message().contains(QStringLiteral("%1 was not saved").arg(user)))
            << error.Message().left(300).toStdString();
    }
    EXPECT_EQ(ReadAll(user), "<old/>");
}

// A user's file that cannot be loaded would fail every rebuild: the error says how to get a new one. A
// broken template is the network's to mend, and says so by its name alone.
TEST_F(EncodingFileTest, UnloadableUserFileTellsTheOperatorHowToRemakeIt)
{
    WriteAll(user,
        "<Encoding><Description Title=\"A\x01"
        "B\"/></Encoding>");
    try {
        RebuildEncodingFileFrom(user, user, kValues, u"32000");
        ADD_FAILURE() << "rebuilt";
    } catch (const EEncodingFileError& error) {
        EXPECT_TRUE(
            error.Message().startsWith(QStringLiteral("The encoding file %1 is not valid XML").arg(user)))
            << error.Message().toStdString();
        EXPECT_TRUE(error.Message().endsWith(
            QStringLiteral(". Delete %1 and save the settings again: the program then makes it anew from the "
                           "template padrao.xml")
                .arg(user)))
            << error.Message().toStdString();
    }
    const QString broken = dir.filePath(QStringLiteral("padrao.xml"));
    WriteAll(broken, "<Encoding>");
    try {
        RebuildEncodingFileFrom(broken, user, kValues, u"32000");
        ADD_FAILURE() << "rebuilt";
    } catch (const EEncodingFileError& error) {
        EXPECT_TRUE(error.Message().contains(broken));
        EXPECT_FALSE(error.Message().contains(QStringLiteral("Delete")));
    }
}

// At the start an old Placa gives way to the device the user's file names; a file that is missing or
// broken must neither stop the start nor move Placa (the rebuild reports what is wrong with it).
TEST_F(EncodingFileTest, PlacaGivesWayOnlyToADeviceTheUserFileNames)
{
    auto binding = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::Tone, "Synthetic tone 1 kHz" },
        { zv::SyntheticDevice::Silence, "Synthetic silence" } });
    const QByteArray templ = ReadAll(QStringLiteral(ZOVEVA_TEMPLATE));
    ASSERT_TRUE(templ.contains("InputSource=\"\""));
    const auto naming = [&](const QByteArray& source) {
        return QByteArray(templ).replace("InputSource=\"\"", "InputSource=\"" + source + '"');
    };
    const struct {
        const char* name;
        std::optional<QByteArray> file; // none: no file at all
        int expected; // for Placa 0
    } cases[] = {
        { "names the second device", naming("Synthetic silence"), 1 },
        { "blanks around the name, as the encoder trims them", naming("  Synthetic silence "), 1 },
        { "names the device Placa stands for", naming("Synthetic tone 1 kHz"), 0 },
        { "names no device here", naming("USB card that is away"), 0 },
        { "names none", naming(""), 0 },
        { "no file", std::nullopt, 0 },
        { "not XML", QByteArray("<Encoder><SourceGroups>"), 0 },
        { "no Source element", QByteArray("<Encoder/>"), 0 },
    };
    for (const auto& c : cases) {
        QFile::remove(user);
        if (c.file) {
            WriteAll(user, *c.file);
        }
        EXPECT_EQ(SoundCardForPlaca(0, user, *binding), c.expected) << c.name;
    }
    QFile::remove(user);
    ASSERT_TRUE(QDir().mkdir(user));
    EXPECT_EQ(SoundCardForPlaca(5, user, *binding), 5) << "a folder under the file's name";
}
