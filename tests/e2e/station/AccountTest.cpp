// The settings window and the account page as an operator meets them: ZoVeva and the real encoder on a
// private X server, a private Icecast on loopback, and the network's account page
// (tests/e2e/account-server.py) at info.zoveva.localhost, reached through that server as the browser's
// proxy. The test types into the real window, saves, and looks at cfg.ini, the encoding file, the
// stream and the account server's record of what it was sent.

#include "IcecastServer.h"
#include "ProgramHarness.h"
#include "StreamCheck.h"
#include "XSession.h"
#include "station/ConfigStore.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

using zv::test::BrowserProcesses;
using zv::test::Process;
using zv::test::ReadAnsi;
using zv::test::SourceDir;
using zv::test::XSession;

const QString kTitle = QStringLiteral("Varek R\u00e1dio Zoveva");
const QSize kMainSize(327, 318);
const QSize kSettingsSize(300, 414);

// The shared bounded wait, polling every 100 ms as these checks read files and the window system.
bool WaitFor(double seconds, const std::function<bool()>& done)
{
    return zv::test::WaitUntil(
        done, std::chrono::milliseconds(static_cast<int>(seconds * 1000)), std::chrono::milliseconds(100));
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The source of `mount` in Icecast's status, empty when there is none.
QJsonObject Source(const zv::test::IcecastServer& icecast, const QString& mount)
{
    const QJsonValue sources = icecast.Status().value(QStringLiteral("source"));
    const QJsonArray list = sources.isArray() ? sources.toArray() : QJsonArray { sources };
    for (const QJsonValue& source : list) {
        if (source.toObject().value(QStringLiteral("listenurl")).toString().endsWith(mount)) {
            return source.toObject();
        }
    }
    return {};
}

// Whether the program itself has the browser engine's library loaded.
bool LoadsBrowserEngine(pid_t program)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(program));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngine");
}

class Account : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        ASSERT_TRUE(Runtime.isValid());
        QString error;
        ASSERT_TRUE(X.Start(&error)) << error.toStdString();
        ASSERT_TRUE(X.StartTray(QPoint(40, 300), 32));
        ASSERT_TRUE(Icecast.Start(&error)) << error.toStdString();
        ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), Icecast.Port(), Icecast.Password(), &error))
            << error.toStdString();
        // A save needs a language from the language file, which the program folder has.
        ASSERT_TRUE(QFile::exists(Folder.filePath(QStringLiteral("ZoVeva.lcf"))));
        // User "maria", password "demo" (scrambled), 32 kbit/s, on the network zoveva.localhost.
        ASSERT_TRUE(WriteBytes(Folder.filePath(QStringLiteral("cfg.ini")),
            "[Geral]\r\nControle=0\r\nUsuario=maria\r\nSenha=\xbb\xba\xb2\xb0\r\nPlaca=0\r\nRadio=R\xe1"
            "dio Teste\r\nKbps=32000\r\nServidor=zoveva.localhost\r\nServerDefault=ns1\r\niIdioma=-1\r\n"));
        ASSERT_TRUE(QFile::copy(
            Folder.filePath(QStringLiteral("padrao.xml")), Folder.filePath(QStringLiteral("maria.xml"))));

        // The account page knows both accounts and starts with a limit of 64 kbit/s; it reloads itself
        // every two seconds, so a changed limit shows soon.
        ASSERT_TRUE(
            WriteBytes(Server.filePath(QStringLiteral("accounts")), "maria\tdemo\njose\tn0va senha\n"));
        ASSERT_TRUE(WriteBytes(LimitFile(), "64\n"));
        AccountServer = std::make_unique<Process>(
            QStringList { SourceDir() + QStringLiteral("/tests/e2e/account-server.py"),
                QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--ready"),
                Server.filePath(QStringLiteral("port")), QStringLiteral("--accounts"),
                Server.filePath(QStringLiteral("accounts")), QStringLiteral("--limit-file"), LimitFile(),
                QStringLiteral("--log"), RequestLog(), QStringLiteral("--refresh"), QStringLiteral("2") },
            std::map<QString, QString> {}, Server.filePath(QStringLiteral("output.txt")));
        ASSERT_TRUE(WaitFor(10, [&] {
            return !ReadBytes(Server.filePath(QStringLiteral("port"))).isEmpty();
        })) << ReadAnsi(Server.filePath(QStringLiteral("output.txt"))).toStdString();
        ServerPort = ReadBytes(Server.filePath(QStringLiteral("port"))).trimmed().toInt();
    }

    QString LimitFile() const { return Server.filePath(QStringLiteral("limit")); }
    QString RequestLog() const { return Server.filePath(QStringLiteral("requests.jsonl")); }
    QByteArray Cfg() const { return ReadBytes(Folder.filePath(QStringLiteral("cfg.ini"))); }
    QString Log() const { return ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log"))); }
    // Encoder processes the client started, by the encoder log's own record.
    int EncoderStarts() const
    {
        return int(
            ReadAnsi(Folder.filePath(QStringLiteral("zoveva-encoder.log")))
                .count(QRegularExpression(QStringLiteral("ZoVeva\\[\\d+\\]: encoder process \\d+ started"))));
    }

    // The account server's record of the posts it was sent: body and answer.
    std::vector<std::pair<QByteArray, QString>> Posts() const
    {
        std::vector<std::pair<QByteArray, QString>> posts;
        for (const QByteArray& line : ReadBytes(RequestLog()).split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            if (entry.value(QStringLiteral("method")).toString() == QLatin1String("POST")) {
                posts.emplace_back(entry.value(QStringLiteral("body")).toString().toLatin1(),
                    entry.value(QStringLiteral("answer")).toString());
            }
        }
        return posts;
    }

    std::unique_ptr<Process> StartProgram()
    {
        auto environment = zv::test::ProgramEnvironment(X.DisplayName(), Runtime.path());
        // Every address goes to the account server as the browser's proxy, names under localhost too.
        environment[QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS")]
            = QStringLiteral("--proxy-server=http://127.0.0.1:%1 --proxy-bypass-list=<-loopback>")
                  .arg(ServerPort);
        return std::make_unique<Process>(QStringList { Folder.filePath(QStringLiteral("ZoVeva")) },
            environment, Folder.filePath(QStringLiteral("output.txt")));
    }

    // The account page's black background with its green heading and white and yellow text, in
    // `page` (screen coordinates); the empty panel is black alone.
    bool PageShows(const QRect& page)
    {
        const QImage shot = X.Grab(page);
        int green = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb c = shot.pixel(x, y);
                green += qGreen(c) > 200 && qRed(c) < 90 && qBlue(c) < 90;
            }
        }
        return green > 20;
    }

    std::string Diagnostics() const
    {
        return QStringLiteral(
            "\n--- cfg.ini\n%1\n--- account server\n%2\n--- program output\n%3\n--- ZoVeva.log\n%4"
            "\n--- zoveva-encoder.log\n%5")
            .arg(QString::fromLatin1(Cfg()), QString::fromUtf8(ReadBytes(RequestLog())),
                ReadAnsi(Folder.filePath(QStringLiteral("output.txt"))).right(3000), Log().right(3000),
                ReadAnsi(Folder.filePath(QStringLiteral("zoveva-encoder.log"))).right(3000))
            .toStdString();
    }

    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    QTemporaryDir Server;
    XSession X;
    zv::test::IcecastServer Icecast;
    std::unique_ptr<Process> AccountServer;
    int ServerPort = 0;
};

// The account page's limit at start, a save typed into the window with a new user name, and a later
// change of the limit: each puts the encoder on the air at the bitrate and under the names it should.
TEST_F(Account, SaveAndAccountLimitPutTheStationOnTheAirAtTheAccountsBitrate)
{
    auto program = StartProgram();
    XSession::Window main;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 30, &main)) << Diagnostics();

    // The first show posts the account; the page's 64 kbit/s replaces the 32 of cfg.ini.
    ASSERT_TRUE(WaitFor(60, [&] { return Cfg().contains("Kbps=64008\r\n"); })) << Diagnostics();
    ASSERT_FALSE(Posts().empty());
    EXPECT_EQ(
        Posts().front(), std::make_pair(QByteArray("Usuario=maria&Senha=demo"), QStringLiteral("200 maria")));
    ASSERT_TRUE(Icecast.WaitForSource(QStringLiteral("/maria"), 30)) << Diagnostics();

    // The information button: the settings window with the account page, as the operator sees it.
    X.Click(main.geometry.topLeft() + QPoint(36 + 12, 255 + 12));
    XSession::Window info;
    ASSERT_TRUE(X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 10, &info));
    const QRect page = QRect(34, 32, 232, 305).translated(info.geometry.topLeft());
    EXPECT_TRUE(WaitFor(20, [&] { return PageShows(page); })) << "the account page shows";
    QImage shot = X.Grab(info.geometry).convertToFormat(QImage::Format_ARGB32);
    const QRegion shape = X.Shape(info);
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (!shape.contains(QPoint(x, y))) {
                shot.setPixel(x, y, 0);
            }
        }
    }
    QDir().mkpath(QStringLiteral(ZOVEVA_SCREENSHOT_DIR));
    EXPECT_TRUE(shot.save(QStringLiteral(ZOVEVA_SCREENSHOT_DIR "/program-account.png")));
    // Its close button, under the page.
    X.Click(info.geometry.topLeft() + QPoint(34 + 79 + 37, 32 + 312 + 13));
    EXPECT_TRUE(WaitFor(10, [&] {
        XSession::Window shown;
        return !X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 0, &shown);
    }));

    // The settings window: radio name, user name and password typed in, then saved.
    X.Click(main.geometry.topLeft() + QPoint(8 + 12, 215 + 12));
    XSession::Window settings;
    ASSERT_TRUE(X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 10, &settings));
    const QPoint panel = settings.geometry.topLeft() + QPoint(34, 31);
    X.TypeInto(settings, panel + QPoint(78 + 70, 40 + 10), QStringLiteral("Radio Nova"));
    X.TypeInto(settings, panel + QPoint(78 + 70, 68 + 10), QStringLiteral("jose"));
    X.TypeInto(settings, panel + QPoint(78 + 70, 96 + 10), QStringLiteral("n0va senha"));
    const int startsBefore = EncoderStarts();
    X.Click(panel + QPoint(30 + 37, 312 + 13));

    ASSERT_TRUE(WaitFor(20, [&] { return Cfg().contains("Usuario=jose\r\n"); })) << Diagnostics();
    const QByteArray cfg = Cfg();
    EXPECT_TRUE(cfg.contains("Radio=Radio Nova\r\n")) << Diagnostics();
    EXPECT_FALSE(cfg.contains("n0va senha")) << "the password is stored scrambled";
    EXPECT_TRUE(cfg.contains("Senha=" + ScramblePassword("n0va senha") + "\r\n")) << Diagnostics();
    EXPECT_TRUE(WaitFor(10, [&] {
        XSession::Window shown;
        return !X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 0, &shown);
    })) << "the window hides after the save";
    // The new user's encoding file carries the new title; the stream is on the air under it.
    EXPECT_TRUE(ReadBytes(Folder.filePath(QStringLiteral("jose.xml"))).contains("Title=\"Radio Nova\""))
        << ReadBytes(Folder.filePath(QStringLiteral("jose.xml"))).left(600).constData();
    ASSERT_TRUE(Icecast.WaitForSource(QStringLiteral("/jose"), 30)) << Diagnostics();
    EXPECT_EQ(Source(Icecast, QStringLiteral("/jose")).value(QStringLiteral("server_name")).toString(),
        QStringLiteral("Radio Nova"));
    // A new user name: the encoder started twice by the save; the account posted again.
    EXPECT_TRUE(WaitFor(10, [&] { return EncoderStarts() >= startsBefore + 2; })) << Diagnostics();
    EXPECT_TRUE(WaitFor(10, [&] {
        const auto posts = Posts();
        return !posts.empty()
            && posts.back()
            == std::make_pair(QByteArray("Usuario=jose&Senha=n0va+senha"), QStringLiteral("200 jose"));
    })) << Diagnostics();
    // The save's second start can meet the first encoder still holding /jose for a moment: refused as
    // in use, it is started again by the poll. So the count is taken once it has held still, and must
    // then hold: the save's read of the same limit restarts nothing.
    int settled = -1;
    EXPECT_TRUE(WaitFor(40,
        [&] {
            const int before = EncoderStarts();
            QThread::msleep(4500);
            settled = EncoderStarts();
            return settled == before && Icecast.WaitForSource(QStringLiteral("/jose"), 1);
        }))
        << "the same limit restarts nothing" << Diagnostics();
    QThread::msleep(4500);
    EXPECT_EQ(EncoderStarts(), settled) << "the same limit restarts nothing" << Diagnostics();

    // The account page now says 96. No browser runs while nobody looks at the page: the information
    // button loads it again, and the station goes to 96 kbit/s.
    ASSERT_TRUE(WriteBytes(LimitFile(), "96\n"));
    X.Click(main.geometry.topLeft() + QPoint(36 + 12, 255 + 12));
    ASSERT_TRUE(X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 10, &info));
    ASSERT_TRUE(WaitFor(30, [&] { return Cfg().contains("Kbps=96000\r\n"); })) << Diagnostics();
    EXPECT_TRUE(WaitFor(10, [&] { return EncoderStarts() > settled; })) << Diagnostics();
    EXPECT_TRUE(ReadBytes(Folder.filePath(QStringLiteral("jose.xml"))).contains("96"));
    bool at96 = false;
    zv::test::DecodedStream decoded;
    for (int attempt = 0; attempt < 20 && !at96; ++attempt) {
        if (Icecast.WaitForSource(QStringLiteral("/jose"), 10)) {
            decoded = zv::test::Decode(Icecast.Listen(QStringLiteral("/jose"), 3));
            at96 = decoded.bitRate == 96000;
        }
    }
    EXPECT_TRUE(at96) << "a listener decodes " << decoded.bitRate << " bit/s " << decoded.error.toStdString()
                      << Diagnostics();
}

// The browser lives only while the page is read or shown: none after the first show's read, some
// while the information mode shows the page (drawn in the settings window's panel), none again once
// the window closes. The program itself never loads the engine.
TEST_F(Account, BrowserRunsOnlyWhileThePageIsReadOrShown)
{
    auto program = StartProgram();
    XSession::Window main;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 30, &main)) << Diagnostics();
    ASSERT_TRUE(WaitFor(60, [&] { return Cfg().contains("Kbps=64008\r\n"); })) << Diagnostics();
    EXPECT_TRUE(WaitFor(20, [&] { return BrowserProcesses(program->Pid()) == 0; }))
        << BrowserProcesses(program->Pid()) << " browser processes after the read";

    X.Click(main.geometry.topLeft() + QPoint(36 + 12, 255 + 12));
    const auto clicked = std::chrono::steady_clock::now();
    XSession::Window info;
    ASSERT_TRUE(X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 10, &info));
    const QRect page = QRect(34, 32, 232, 305).translated(info.geometry.topLeft());
    ASSERT_TRUE(WaitFor(30, [&] { return PageShows(page); })) << "the account page shows" << Diagnostics();
    std::printf("the page was drawn %.2f s after the click\n",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count());
    EXPECT_GT(BrowserProcesses(program->Pid()), 0);
    // The information mode posts the account again.
    EXPECT_TRUE(WaitFor(10, [&] { return Posts().size() >= 2; })) << Diagnostics();

    X.Click(info.geometry.topLeft() + QPoint(34 + 79 + 37, 32 + 312 + 13));
    ASSERT_TRUE(WaitFor(10, [&] {
        XSession::Window shown;
        return !X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 0, &shown);
    }));
    EXPECT_TRUE(WaitFor(20, [&] { return BrowserProcesses(program->Pid()) == 0; }))
        << BrowserProcesses(program->Pid()) << " browser processes after the window closed";
    EXPECT_FALSE(LoadsBrowserEngine(program->Pid()));
}

} // namespace
