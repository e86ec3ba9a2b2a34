// The Debian package of this build, as an operator gets it: what it holds and depends on, what
// lintian and the desktop's validators say of it, and the program installed from it, started by
// its launcher under a private X server for users whose home folders are temporary, streaming to a
// private Icecast.

#include "IcecastServer.h"
#include "ProgramHarness.h"
#include "XSession.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <memory>
#include <set>

namespace {

using zv::test::Process;
using zv::test::ReadAnsi;
using zv::test::RunCommand;
using zv::test::XSession;

namespace fs = std::filesystem;

const QString kTitle = QStringLiteral("Varek R\u00e1dio Zoveva");
const QSize kMainSize(327, 318);

QString Quoted(const QString& s)
{
    return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
        + QLatin1Char('\'');
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WaitUntil(const std::function<bool()>& done, double seconds)
{
    return zv::test::WaitUntil(
        done, std::chrono::milliseconds(qint64(seconds * 1000)), std::chrono::milliseconds(50));
}

class Package : public ::testing::Test {
protected:
    // Makes the package of this build with CPack into a folder of the test's own.
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        const QString log = Dir.filePath(QStringLiteral("cpack.log"));
        int code = -1;
        RunCommand(QStringLiteral("cpack --config %1/CPackConfig.cmake -B %2 >%3 2>&1")
                       .arg(Quoted(QStringLiteral(ZOVEVA_BUILD_ROOT)), Quoted(Dir.path()), Quoted(log)),
            &code);
        ASSERT_EQ(code, 0) << ReadAll(log).toStdString();
        const QStringList debs = QDir(Dir.path()).entryList({ QStringLiteral("zoveva_*_amd64.deb") });
        ASSERT_EQ(debs.size(), 1) << ReadAll(log).toStdString();
        Deb = Dir.filePath(debs.front());
    }

    QString Extracted()
    {
        const QString root = Dir.filePath(QStringLiteral("root"));
        int code = -1;
        RunCommand(QStringLiteral("dpkg-deb -x %1 %2 2>&1").arg(Quoted(Deb), Quoted(root)), &code);
        EXPECT_EQ(code, 0);
        return root;
    }

    QTemporaryDir Dir;
    QString Deb;
};

// Package names that provide the shared libraries an executable of the package links (its own
// NEEDED entries, where the dynamic loader finds them here).
std::set<QString> LibraryPackages(const QString& executable)
{
    std::map<QString, QString> resolved;
    const QString ldd = QString::fromLocal8Bit(RunCommand(QStringLiteral("ldd %1").arg(Quoted(executable))));
    static const QRegularExpression found(
        QStringLiteral("^\\s*(\\S+) => (\\S+)"), QRegularExpression::MultilineOption);
    for (auto it = found.globalMatch(ldd); it.hasNext();) {
        const auto match = it.next();
        resolved[match.captured(1)] = match.captured(2);
    }
    // The dynamic loader shows under its path alone.
    static const QRegularExpression loader(
        QStringLiteral("^\\s*(/\\S+)\\s+\\("), QRegularExpression::MultilineOption);
    for (auto it = loader.globalMatch(ldd); it.hasNext();) {
        const QString path = it.next().captured(1);
        resolved[QFileInfo(path).fileName()] = path;
    }
    std::set<QString> packages;
    const QString needed
        = QString::fromLocal8Bit(RunCommand(QStringLiteral("objdump -p %1").arg(Quoted(executable))));
    static const QRegularExpression soname(QStringLiteral("NEEDED\\s+(\\S+)"));
    for (auto it = soname.globalMatch(needed); it.hasNext();) {
        const QString library = it.next().captured(1);
        std::error_code ec;
        const fs::path path = fs::canonical(resolved[library].toStdString(), ec);
        const QString owners
            = QString::fromLocal8Bit(RunCommand(QStringLiteral("dpkg -S %1 2>/dev/null").arg(library)));
        QString owner;
        for (const QString& line : owners.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            // "libqt6core6:amd64: /usr/lib/x86_64-linux-gnu/libQt6Core.so.6"; lines of diversions
            // ("diversion by libc6 from: /lib64/ld-linux-x86-64.so.2") name no owner.
            if (line.startsWith(QStringLiteral("diversion by "))) {
                continue;
            }
            const QString file = line.section(QStringLiteral(": "), 1);
            std::error_code ec2;
            if (!ec && fs::canonical(file.toStdString(), ec2) == path && !ec2) {
                owner = line.section(QLatin1Char(':'), 0, 0);
            }
        }
        packages.insert(owner.isEmpty() ? QStringLiteral("(no package has %1)").arg(library) : owner);
    }
    return packages;
}

std::set<QString> Names(const QString& field)
{
    std::set<QString> names;
    for (const QString& entry : field.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        names.insert(entry.trimmed().section(QLatin1Char(' '), 0, 0));
    }
    return names;
}

TEST_F(Package, HoldsTheProgramFolderTheDesktopFilesAndTheLibrariesItNeeds)
{
    // Every file with its mode: the program folder read-only for users, executables executable.
    const QString icon = QStringLiteral("./usr/share/icons/hicolor/%1x%1/apps/br.net.varekradio.ZoVeva.png");
    std::map<QString, QString> expected = {
        { QStringLiteral("./usr/bin/zoveva"), QStringLiteral("-rwxr-xr-x") },
        { QStringLiteral("./usr/bin/zoveva-encoder -> ../lib/zoveva/zoveva-encoder"),
            QStringLiteral("lrwxrwxrwx") },
        { QStringLiteral("./usr/lib/zoveva/ZoVeva"), QStringLiteral("-rwxr-xr-x") },
        { QStringLiteral("./usr/lib/zoveva/zoveva-encoder"), QStringLiteral("-rwxr-xr-x") },
        { QStringLiteral("./usr/lib/zoveva/zoveva-account"), QStringLiteral("-rwxr-xr-x") },
        { QStringLiteral("./usr/lib/zoveva/padrao.xml"), QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/lib/zoveva/ZoVeva.lcf"), QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/share/applications/br.net.varekradio.ZoVeva.desktop"),
            QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/share/metainfo/br.net.varekradio.ZoVeva.metainfo.xml"),
            QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/share/man/man1/zoveva.1.gz"), QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/share/man/man1/zoveva-encoder.1.gz"), QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/share/doc/zoveva/copyright"), QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/share/doc/zoveva/changelog.gz"), QStringLiteral("-rw-r--r--") },
        { QStringLiteral("./usr/share/doc/zoveva/examples/zoveva-encoder@.service"),
            QStringLiteral("-rw-r--r--") },
    };
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        expected[icon.arg(size)] = QStringLiteral("-rw-r--r--");
    }
    std::map<QString, QString> found;
    const QString listing
        = QString::fromLocal8Bit(RunCommand(QStringLiteral("dpkg-deb -c %1").arg(Quoted(Deb))));
    for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // drwxr-xr-x root/root 0 2026-12-11 01:21 ./usr/
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        ASSERT_GE(f.size(), 6) << line.toStdString();
        EXPECT_EQ(f[1], QStringLiteral("root/root")) << line.toStdString();
        const QString path = f.mid(5).join(QLatin1Char(' '));
        if (f[0].startsWith(QLatin1Char('d'))) {
            EXPECT_EQ(f[0], QStringLiteral("drwxr-xr-x")) << line.toStdString();
        } else {
            found[path] = f[0];
        }
    }
    EXPECT_EQ(found, expected) << listing.toStdString();

    const auto field = [&](const char* name) {
        return QString::fromUtf8(
            RunCommand(QStringLiteral("dpkg-deb -f %1 %2").arg(Quoted(Deb), QLatin1String(name))).trimmed());
    };
    EXPECT_EQ(field("Package"), QStringLiteral("zoveva"));
    EXPECT_EQ(field("Architecture"), QStringLiteral("amd64"));
    EXPECT_TRUE(QFileInfo(Deb).fileName().startsWith(
        QStringLiteral("zoveva_") + field("Version") + QLatin1Char('_')));
    // Every library the program and the encoder link is a dependency (computed, so it follows what
    // the build links); what no linker sees is listed by hand; the server is only a suggestion.
    const std::set<QString> depends = Names(field("Depends"));
    const QString root = Extracted();
    for (const char* executable : { "ZoVeva", "zoveva-encoder", "zoveva-account" }) {
        const auto libraries
            = LibraryPackages(root + QStringLiteral("/usr/lib/zoveva/") + QLatin1String(executable));
        EXPECT_GE(libraries.size(), 4u) << executable;
        for (const QString& package : libraries) {
            EXPECT_TRUE(depends.count(package)) << executable << " needs " << package.toStdString()
                                                << "; Depends: " << field("Depends").toStdString();
        }
    }
    // What no linker sees: the window system plug-ins, and fontconfig's configuration (without it a
    // minimal install greets every start with "Fontconfig error: Cannot load default config file").
    for (const char* package : { "qt6-qpa-plugins", "fontconfig-config", "fontconfig" }) {
        EXPECT_TRUE(depends.count(QLatin1String(package)))
            << package << "; Depends: " << field("Depends").toStdString();
    }
    EXPECT_FALSE(depends.count(QStringLiteral("icecast2")));
    EXPECT_TRUE(Names(field("Suggests")).count(QStringLiteral("icecast2")));

    // lintian: no errors. Its whole answer goes to the test's output.
    int code = -1;
    const QByteArray lintian
        = RunCommand(QStringLiteral("lintian --tag-display-limit 0 -I %1 2>&1").arg(Quoted(Deb)), &code);
    std::cout << "--- lintian -I " << QFileInfo(Deb).fileName().toStdString() << " (exit " << code << ")\n"
              << lintian.toStdString() << "---\n";
    ASSERT_NE(code, 127) << "lintian is not installed (scripts/install-deps)";
    for (const QByteArray& line : lintian.split('\n')) {
        EXPECT_FALSE(line.startsWith("E:")) << line.toStdString();
    }

    const QByteArray desktop = RunCommand(
        QStringLiteral("desktop-file-validate %1 2>&1")
            .arg(Quoted(root + QStringLiteral("/usr/share/applications/br.net.varekradio.ZoVeva.desktop"))),
        &code);
    EXPECT_EQ(code, 0) << desktop.toStdString();
    EXPECT_TRUE(desktop.trimmed().isEmpty()) << desktop.toStdString();
    const QByteArray metainfo = RunCommand(
        QStringLiteral("appstreamcli validate --no-net %1 2>&1")
            .arg(Quoted(root + QStringLiteral("/usr/share/metainfo/br.net.varekradio.ZoVeva.metainfo.xml"))),
        &code);
    EXPECT_EQ(code, 0) << metainfo.toStdString();
    const QByteArray entry
        = ReadAll(root + QStringLiteral("/usr/share/applications/br.net.varekradio.ZoVeva.desktop"));
    EXPECT_TRUE(entry.contains("\nCategories=AudioVideo;Audio;Recorder;\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("\nExec=zoveva\n")) << entry.toStdString();
}

// Processes running the executable at `path` (resolved), whoever started them.
int Running(const QString& path)
{
    const fs::path wanted = fs::canonical(path.toStdString());
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::error_code ec;
        const fs::path exe = fs::read_symlink(entry.path() / "exe", ec);
        n += !ec && exe == wanted;
    }
    return n;
}

// The template of a network whose server is the private Icecast.
bool PointTemplateAt(const QString& path, const zv::test::IcecastServer& icecast)
{
    QString text = QString::fromUtf8(ReadAll(path));
    text.replace(QRegularExpression(QStringLiteral("PublishPort=\"[^\"]*\"")),
        QStringLiteral("PublishPort=\"%1\"").arg(icecast.Port()));
    text.replace(QRegularExpression(QStringLiteral("SourcePassword=\"[^\"]*\"")),
        QStringLiteral("SourcePassword=\"%1\"").arg(icecast.Password()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) > 0;
}

TEST_F(Package, TheLauncherRunsTheProgramFromEachUsersOwnFolderOnceAtATime)
{
    const QString root = Extracted();
    const QString installed = root + QStringLiteral("/usr/lib/zoveva");
    const QString launcher = root + QStringLiteral("/usr/bin/zoveva");
    QTemporaryDir runtime;
    XSession X;
    QString error;
    ASSERT_TRUE(X.Start(&error)) << error.toStdString();
    ASSERT_TRUE(X.StartTray(QPoint(40, 300), 32));
    const auto environment = [&](const QString& home) {
        auto env = zv::test::ProgramEnvironment(X.DisplayName(), runtime.path());
        env[QStringLiteral("HOME")] = home;
        env[QStringLiteral("XDG_DATA_HOME")] = QString();
        return env;
    };
    const QString home = Dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home));
    const QString folder = home + QStringLiteral("/.local/share/ZoVeva");
    const QString output = Dir.filePath(QStringLiteral("output.txt"));
    const auto diagnostics = [&] {
        return QStringLiteral(
            "\n--- launcher and program\n%1\n--- ZoVeva.log\n%2\n--- zoveva-encoder.log\n%3")
            .arg(ReadAnsi(output), ReadAnsi(folder + QStringLiteral("/ZoVeva.log")),
                ReadAnsi(folder + QStringLiteral("/zoveva-encoder.log")))
            .toStdString();
    };
    const auto mode
        = [](const QString& path) { return fs::status(path.toStdString()).permissions() & fs::perms::mask; };
    using fs::perms;

    // The first start: the folder is made, private, with links to the installed executables and copies
    // of the template and the language file; the program writes cfg.ini and its log there, and, with no
    // encoding file of the user yet, says so.
    {
        Process program({ launcher }, environment(home), output);
        XSession::Window box;
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const auto& w : X.Windows()) {
                    if (w.title == kTitle && w.geometry.size() != kMainSize) {
                        box = w;
                        return true;
                    }
                }
                return false;
            },
            20))
            << diagnostics();
        EXPECT_EQ(mode(folder), perms::owner_all);
        for (const char* name : { "ZoVeva", "zoveva-encoder" }) {
            const QFileInfo link(folder + QLatin1Char('/') + QLatin1String(name));
            EXPECT_TRUE(link.isSymLink()) << name;
            EXPECT_EQ(link.symLinkTarget(),
                QFileInfo(installed + QLatin1Char('/') + QLatin1String(name)).absoluteFilePath());
        }
        for (const char* name : { "padrao.xml", "ZoVeva.lcf" }) {
            const QString copy = folder + QLatin1Char('/') + QLatin1String(name);
            EXPECT_FALSE(QFileInfo(copy).isSymLink()) << name;
            EXPECT_EQ(ReadAll(copy), ReadAll(installed + QLatin1Char('/') + QLatin1String(name))) << name;
        }
        EXPECT_EQ(mode(folder + QStringLiteral("/padrao.xml")), perms::owner_read | perms::owner_write);
        EXPECT_EQ(mode(folder + QStringLiteral("/cfg.ini")), perms::owner_read | perms::owner_write);
        X.PressReturn(box);
        EXPECT_TRUE(WaitUntil(
            [&] {
                return ReadAnsi(folder + QStringLiteral("/ZoVeva.log")).contains(QStringLiteral("codifica"));
            },
            10))
            << diagnostics();
        EXPECT_FALSE(QFile::exists(installed + QStringLiteral("/cfg.ini")));
        EXPECT_FALSE(QFile::exists(installed + QStringLiteral("/ZoVeva.log")));
    }

    // An upgrade brings a template for the network's server (here the private Icecast); the user's
    // settings are those of the account "e2e". The next start takes the new template over, leaves
    // the settings and the log alone, and goes on the air.
    zv::test::IcecastServer icecast;
    ASSERT_TRUE(icecast.Start(&error)) << error.toStdString();
    ASSERT_TRUE(PointTemplateAt(installed + QStringLiteral("/padrao.xml"), icecast));
    ASSERT_TRUE(zv::test::WriteUserSettings(folder, QStringLiteral("e2e"), 0, &error)) << error.toStdString();
    // The user's encoding file as the network's new template makes it.
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/e2e.xml")));
    ASSERT_TRUE(QFile::copy(installed + QStringLiteral("/padrao.xml"), folder + QStringLiteral("/e2e.xml")));
    const QString earlierLog = ReadAnsi(folder + QStringLiteral("/ZoVeva.log"));
    Process program({ launcher }, environment(home), output);
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << diagnostics();
    ASSERT_TRUE(icecast.WaitForSource(QStringLiteral("/e2e"), 30)) << diagnostics();
    EXPECT_GT(icecast.Listen(QStringLiteral("/e2e"), 2).size(), 4000) << "the stream carries sound";
    EXPECT_EQ(
        ReadAll(folder + QStringLiteral("/padrao.xml")), ReadAll(installed + QStringLiteral("/padrao.xml")));
    EXPECT_TRUE(ReadAnsi(folder + QStringLiteral("/ZoVeva.log")).startsWith(earlierLog));
    EXPECT_EQ(Running(installed + QStringLiteral("/ZoVeva")), 1);

    // A second start while it runs, its window hidden in the tray: the window comes back, and no
    // second program or encoder stays.
    const auto mapped = [&] {
        for (const auto& w : X.Windows()) {
            if (w.id == window.id) {
                return true;
            }
        }
        return false;
    };
    X.Click(window.geometry.topLeft() + QPoint(288 + 12, 92 + 11));
    ASSERT_TRUE(WaitUntil([&] { return !mapped(); }, 5)) << "hidden by its button";
    {
        Process again({ launcher }, environment(home), Dir.filePath(QStringLiteral("again.txt")));
        ASSERT_TRUE(again.WaitForExit(20))
            << ReadAnsi(Dir.filePath(QStringLiteral("again.txt"))).toStdString();
        EXPECT_EQ(again.ExitCode(), 0) << ReadAnsi(Dir.filePath(QStringLiteral("again.txt"))).toStdString();
    }
    EXPECT_TRUE(WaitUntil(mapped, 5)) << "the running program's window is shown again";
    EXPECT_EQ(Running(installed + QStringLiteral("/ZoVeva")), 1);
    EXPECT_EQ(Running(installed + QStringLiteral("/zoveva-encoder")), 1);
    EXPECT_TRUE(icecast.HasSource(QStringLiteral("/e2e")));

    // Another user, meanwhile, runs a program of their own from their own folder, where a template
    // they changed by hand is kept.
    const QString other = Dir.filePath(QStringLiteral("other"));
    const QString otherFolder = other + QStringLiteral("/.local/share/ZoVeva");
    ASSERT_TRUE(QDir().mkpath(otherFolder));
    const QByteArray edited = ReadAll(installed + QStringLiteral("/padrao.xml")) + "<!-- edited here -->\n";
    {
        QFile file(otherFolder + QStringLiteral("/padrao.xml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(edited) == edited.size());
    }
    const QString otherOutput = Dir.filePath(QStringLiteral("other.txt"));
    Process second({ launcher }, environment(other), otherOutput);
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(otherFolder + QStringLiteral("/cfg.ini")); }, 20))
        << ReadAnsi(otherOutput).toStdString();
    EXPECT_TRUE(WaitUntil([&] { return Running(installed + QStringLiteral("/ZoVeva")) == 2; }, 10));
    EXPECT_EQ(ReadAll(otherFolder + QStringLiteral("/padrao.xml")), edited);
    EXPECT_TRUE(ReadAnsi(otherOutput).contains(QStringLiteral("keeping")))
        << ReadAnsi(otherOutput).toStdString();
    EXPECT_TRUE(program.Running());
}

} // namespace
