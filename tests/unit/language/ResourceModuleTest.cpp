// The resource-module reader: what it reads from the builder's modules and from modules the
// Windows tool chain of binutils makes, and how it refuses damaged ones.

#include "LcfFixtures.h"
#include "platform/PeResources.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <sys/stat.h>

using zv::EResourceModuleError;
using zv::TResourceModule;

namespace {

const std::vector<lcftest::TResource> kResources = {
    { QStringLiteral("LCHEADER"), lcftest::Header("LCHEADER", 0, { 1046, 1033 }) },
    { QStringLiteral("28060"), QByteArray("\x08\0\0\0\x02\0\0\0A\0", 10) },
    { QStringLiteral("TFrm_ZoVeva"), QByteArray(300, 'z') },
    { QStringLiteral("EMPTY"), QByteArray() },
};

QByteArray Valid()
{
    return zv::lcf::BuildResourceModule(kResources);
}

void Put32(QByteArray& bytes, qsizetype at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void Put16(QByteArray& bytes, qsizetype at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

QString RunTool(const QString& program, const QStringList& arguments, const QString& directory)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << qPrintable(program);
    EXPECT_EQ(process.exitCode(), 0) << qPrintable(program) << ": "
                                     << process.readAllStandardError().constData();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace

TEST(ResourceModule, ReadsEveryRawDataResourceByNameWhateverTheLetterCase)
{
    const TResourceModule module = TResourceModule::FromBytes(Valid(), QStringLiteral("t.lcf"));
    QStringList names = module.RcDataNames();
    names.sort();
    EXPECT_EQ(names, QStringList({ "28060", "EMPTY", "LCHEADER", "TFRM_ZOVEVA" }));
    for (const auto& r : kResources) {
        ASSERT_TRUE(module.RcData(r.Name)) << qPrintable(r.Name);
        EXPECT_EQ(*module.RcData(r.Name), r.Data) << qPrintable(r.Name);
    }
    EXPECT_EQ(module.RcData(u"tfrm_zoveva"), kResources[2].Data);
    EXPECT_FALSE(module.RcData(u"TFRM_CONFIG"));
    EXPECT_FALSE(module.RcData(u""));
}

// The same resources through windres and ld: other tools' modules read exactly as ours, and other
// tools accept ours.
TEST(ResourceModule, WindresAndLdModulesReadExactlyAsTheBuildersOwn)
{
    const QString windres = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-windres"));
    const QString ld = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-ld"));
    const QString objdump = QStandardPaths::findExecutable(QStringLiteral("x86_64-w64-mingw32-objdump"));
    ASSERT_FALSE(windres.isEmpty() || ld.isEmpty() || objdump.isEmpty())
        << "binutils-mingw-w64-x86-64 is missing (scripts/install-deps installs it)";

    zv::lcf::TLcfContent content;
    content.Lcids = { 1046, 1033 };
    content.LeadingColumn = true;
    content.Strings[28060] = { QStringLiteral("built-in"), { lcftest::T("Alteração"), std::nullopt } };
    content.Windows.push_back({ QStringLiteral("TFrm_ZoVeva"),
        { { "BConfig-Hint", { lcftest::T("Configurações"), lcftest::T("Settings") } } } });
    const auto resources = zv::lcf::LanguageResources(content);

    lcftest::TempFiles files;
    const QString rc = files.Path(QStringLiteral("rc"));
    zv::lcf::WriteResourceScript(resources, rc);
    RunTool(windres, { "--preprocessor=cat", "-i", "lcf.rc", "-O", "coff", "-o", "lcf.res" }, rc);
    RunTool(ld, { "--dll", "-e", "0", "-o", "theirs.lcf", "lcf.res" }, rc);
    const TResourceModule theirs = TResourceModule::Open((rc + QStringLiteral("/theirs.lcf")).toStdString());

    const auto oursPath = files.WriteModule(QStringLiteral("ours.lcf"), resources);
    const TResourceModule ours = TResourceModule::Open(oursPath);
    QStringList names = ours.RcDataNames();
    QStringList theirNames = theirs.RcDataNames();
    names.sort();
    theirNames.sort();
    EXPECT_EQ(names, theirNames);
    EXPECT_EQ(names, QStringList({ "28060", "LCHEADER", "TFRM_ZOVEVA" }));
    for (const QString& name : names) {
        EXPECT_EQ(ours.RcData(name), theirs.RcData(name)) << qPrintable(name);
    }

    const QString dump = RunTool(objdump, { "-x", QString::fromStdString(oursPath.string()) }, rc);
    EXPECT_TRUE(dump.contains(QLatin1String("(PE32+)"))) << qPrintable(dump);
    EXPECT_TRUE(dump.contains(QLatin1String(".rsrc")));
    EXPECT_TRUE(dump.contains(QLatin1String("TFRM_ZOVEVA")));
}

TEST(ResourceModule, DamagedModulesAreRefusedNamingTheFileAndTheFault)
{
    // Places in the builder's layout: PE header at 0x80, optional header at 0x98, the section at
    // 0x188, the resources at 0x200 (type directory, then the names' directory at +0x18).
    constexpr qsizetype pe = 0x80, optional = 0x98, section = 0x188, rsrc = 0x200, names = rsrc + 0x18;
    struct Case {
        const char* what;
        std::function<void(QByteArray&)> damage;
        const char* says;
    };
    const Case cases[] = {
        { "text", [](QByteArray& b) { b = "hello, world"; }, "no MZ header" },
        { "empty", [](QByteArray& b) { b.clear(); }, "no MZ header" },
        { "PE header beyond the end", [](QByteArray& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }, "no PE header" },
        { "PE signature", [](QByteArray& b) { b[pe + 2] = 'X'; }, "no PE header" },
        { "optional header size", [](QByteArray& b) { Put16(b, pe + 20, 0xFFFF); },
            "optional header lies outside" },
        { "optional header magic", [](QByteArray& b) { Put16(b, optional, 0x0999); },
            "unknown optional header" },
        { "section count", [](QByteArray& b) { Put16(b, pe + 6, 0xFFFF); }, "section table lies outside" },
        { "resource address", [](QByteArray& b) { Put32(b, optional + 128, 0x9000); },
            "resource directory lies outside" },
        { "resource size", [](QByteArray& b) { Put32(b, optional + 132, 0x7FFFFFFF); },
            "resource directory lies outside" },
        { "section raw data past the end", [](QByteArray& b) { Put32(b, section + 20, 0xFFFFF000u); },
            "resource directory lies outside" },
        { "type entry is data", [](QByteArray& b) { Put32(b, rsrc + 20, 0x18); },
            "type entry is not a directory" },
        { "name count", [](QByteArray& b) { Put16(b, names + 12, 0xFFFF); }, "run past the resources" },
        { "name offset", [](QByteArray& b) { Put32(b, names + 16, 0xFFFFFFFFu); }, "name lies outside" },
        { "name length",
            [=](QByteArray& b) {
                const qsizetype at
                    = rsrc + (qFromLittleEndian<quint32>(b.constData() + names + 16) & 0x7FFFFFFF);
                Put16(b, at, 0xFFFF);
            },
            "name runs past" },
        { "language directory offset", [](QByteArray& b) { Put32(b, names + 20, 0x8FFFFFF0u); },
            "language directory lies outside" },
        { "data address",
            [=](QByteArray& b) {
                const qsizetype language
                    = rsrc + (qFromLittleEndian<quint32>(b.constData() + names + 20) & 0x7FFFFFFF);
                const qsizetype leaf = rsrc + qFromLittleEndian<quint32>(b.constData() + language + 20);
                Put32(b, leaf, 0x7FFFFFF0u);
            },
            "lies outside the file's sections" },
        { "data size",
            [=](QByteArray& b) {
                const qsizetype language
                    = rsrc + (qFromLittleEndian<quint32>(b.constData() + names + 20) & 0x7FFFFFFF);
                const qsizetype leaf = rsrc + qFromLittleEndian<quint32>(b.constData() + language + 20);
                Put32(b, leaf + 4, 0xFFFFFFFFu);
            },
            "lies outside the file's sections" },
    };
    for (const Case& c : cases) {
        QByteArray bytes = Valid();
        c.damage(bytes);
        try {
            TResourceModule::FromBytes(bytes, QStringLiteral("/p/ZoVeva.lcf"));
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EResourceModuleError& error) {
            const QString message = error.Message();
            EXPECT_TRUE(message.startsWith(QLatin1String("/p/ZoVeva.lcf: ")))
                << c.what << ": " << error.what();
            EXPECT_TRUE(message.contains(QLatin1String(c.says))) << c.what << ": " << error.what();
        }
    }
}

TEST(ResourceModule, EveryTruncationReadsOrIsRefusedNeverMore)
{
    const QByteArray bytes = Valid();
    for (qsizetype size = 0; size <= bytes.size(); ++size) {
        try {
            const TResourceModule module = TResourceModule::FromBytes(bytes.left(size), QStringLiteral("t"));
            for (const auto& r : kResources) {
                EXPECT_EQ(module.RcData(r.Name), r.Data) << size;
            }
        } catch (const EResourceModuleError&) {
        }
    }
}

TEST(ResourceModule, ModulesWithoutRawDataAndMissingFiles)
{
    QByteArray noResources = Valid();
    Put32(noResources, 0x98 + 128, 0); // no resource directory
    EXPECT_TRUE(TResourceModule::FromBytes(noResources, QStringLiteral("t")).RcDataNames().isEmpty());

    lcftest::TempFiles files;
    // A pipe (whose open would wait for a writer) and an endless device, directly or through a link,
    // are refused at once instead of holding or filling the program.
    const QString pipe = files.Path(QStringLiteral("pipe.lcf"));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString link = files.Path(QStringLiteral("zero.lcf"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), link));
    for (const QString& path : { files.Path(QStringLiteral("absent.lcf")), files.Path(QString()), pipe, link,
             QStringLiteral("/dev/zero") }) {
        try {
            TResourceModule::Open(path.toStdString());
            ADD_FAILURE() << qPrintable(path);
        } catch (const EResourceModuleError& error) {
            EXPECT_TRUE(error.Message().startsWith(path)) << error.what();
        }
    }
}
