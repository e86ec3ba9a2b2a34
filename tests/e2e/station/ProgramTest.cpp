// The program as an operator runs it: ZoVeva and the real zoveva-encoder on a private X server, the
// synthetic sound input, a private Icecast on loopback. The test looks from the outside only: the
// windows on the screen, their pixels, shape and icon, the files in the program folder, the stream.
// Screenshots of the window go to build/screenshots (the copies in docs/ come from here).

#include "DesktopBus.h"
#include "IcecastServer.h"
#include "ProgramFixture.h"
#include "ProgramHarness.h"
#include "XSession.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>
#include <X11/keysym.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using zv::test::Process;
using zv::test::ReadAnsi;
using zv::test::SourceDir;
using zv::test::WaitUntil;
using zv::test::XSession;

const QString kTitle = QStringLiteral("Varek R\u00e1dio Zoveva");
const QSize kMainSize(327, 318);

class Program : public zv::test::ProgramFixture {
protected:
    // Pixels of the window, those outside its shape see-through.
    QImage Screenshot(const XSession::Window& window)
    {
        QImage shot = X.Grab(window.geometry).convertToFormat(QImage::Format_ARGB32);
        const QRegion shape = X.Shape(window);
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (!shape.contains(QPoint(x, y)))
                    shot.setPixel(x, y, 0);
        return shot;
    }
};

int CountPixels(const QImage& image, const std::function<bool(QRgb)>& test)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += test(image.pixel(x, y));
    return n;
}

bool IsLime(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 90 && qBlue(c) < 90;
}

// Which of the four tray frames a picture is, 1 ... 4; 0 for none. The icon reaches the window
// system through Qt's pixmap conversions, whose rounding of partly see-through pixels depends on the
// processor: pixels are compared premultiplied (a fully see-through pixel then matches whatever its
// colour), within a few values. The frames differ from each other by far more.
int FrameOf(const QImage& icon, const std::vector<QImage>& frames)
{
    if (icon.isNull()) {
        return 0;
    }
    const QImage shown = icon.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const QImage frame = frames[i].convertToFormat(QImage::Format_ARGB32_Premultiplied);
        bool same = shown.size() == frame.size();
        for (int y = 0; same && y < shown.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
            for (int x = 0; same && x < shown.width(); ++x) {
                same = std::abs(qRed(a[x]) - qRed(b[x])) <= 4 && std::abs(qGreen(a[x]) - qGreen(b[x])) <= 4
                    && std::abs(qBlue(a[x]) - qBlue(b[x])) <= 4 && std::abs(qAlpha(a[x]) - qAlpha(b[x])) <= 4;
            }
        }
        if (same) {
            return int(i) + 1;
        }
    }
    return 0;
}

TEST_F(Program, OnTheAirWithItsShapeStatusTrayAnimationAndFourMovingDisplays)
{
    zv::test::IcecastServer icecast;
    QString error;
    ASSERT_TRUE(icecast.Start(&error)) << error.toStdString();
    ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), icecast.Port(), icecast.Password(), &error))
        << error.toStdString();
    const QString wav = Folder.filePath(QStringLiteral("music.wav"));
    ASSERT_TRUE(zv::test::WriteMusicWav(wav));
    // The third input is the WAV file.
    ASSERT_TRUE(zv::test::WriteUserSettings(Folder.path(), QStringLiteral("e2e"), 2, &error))
        << error.toStdString();

    auto program = StartProgram(wav);
    ASSERT_TRUE(program->Running());
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();

    // Its shape: the skin's outline, placed at (2, 2), not the window's rectangle.
    const QRegion shape = X.Shape(window);
    EXPECT_GT(shape.rectCount(), 10);
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
    EXPECT_FALSE(shape.contains(QPoint(326, 317)));
    EXPECT_TRUE(shape.contains(QPoint(163, 160)));
    EXPECT_TRUE(shape.contains(QPoint(20 + 12, 236 + 11))) << "the display button";

    // "Conectado" in lime once the encoder publishes.
    const QRect status = QRect(102, 88, 115, 13).translated(window.geometry.topLeft());
    ASSERT_TRUE(WaitUntil([&] { return CountPixels(X.Grab(status), IsLime) > 30; }, 30s, 100ms))
        << Diagnostics();
    EXPECT_TRUE(icecast.WaitForSource(QStringLiteral("/e2e"), 10));

    // The window's icon (its taskbar button) runs through the four tray frames while on the air.
    std::vector<QImage> frames;
    for (int f = 1; f <= 4; ++f) {
        frames.push_back(QImage(SourceDir() + QStringLiteral("/resources/images/tray%1.png").arg(f))
                             .convertToFormat(QImage::Format_ARGB32));
    }
    std::vector<int> seen;
    for (int i = 0; i < 80; ++i) {
        const QImage icon = X.Icon(window);
        const int f = FrameOf(icon, frames);
        if (f != 0 && (seen.empty() || seen.back() != f)) {
            seen.push_back(f);
        }
        QThread::msleep(50); // sampled for 4 s: the animation is what is watched
    }
    // The frame counter runs while not connected too: the first frame on the air may follow the still
    // frame 1 with any other; from then on they come in order.
    ASSERT_GE(seen.size(), 6u) << "frames seen in 4 s: " << ::testing::PrintToString(seen) << Diagnostics();
    for (std::size_t i = 2; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], seen[i - 1] % 4 + 1)
            << "frame order at " << i << ": " << ::testing::PrintToString(seen);
    }

    // Each display moves; the display button brings the next one to the front.
    const QRect displays = QRect(74, 131, 170, 56).translated(window.geometry.topLeft());
    const QPoint displayButton = window.geometry.topLeft() + QPoint(20 + 12, 236 + 11);
    const char* names[] = { "spectrum", "oscilloscope", "levels", "meters", "spectrum" };
    const QString shots = QStringLiteral(ZOVEVA_SCREENSHOT_DIR);
    QDir().mkpath(shots);
    for (int view = 0; view < 5; ++view) {
        if (view > 0) {
            X.Click(displayButton);
            QThread::msleep(400); // the next display in front before its first picture is taken
        }
        const QImage first = X.Grab(displays);
        EXPECT_TRUE(WaitUntil([&] { return X.Grab(displays) != first; }, 3s, 100ms)) << names[view];
        EXPECT_GT(CountPixels(first, [](QRgb c) { return qGray(c) > 60; }), 40) << names[view];
        if (view < 4) {
            EXPECT_TRUE(Screenshot(window).save(
                shots + QStringLiteral("/program-%1.png").arg(QLatin1String(names[view]))));
        }
    }

    // The tray icon cycles through four pictures while on the air.
    ASSERT_TRUE(X.WaitForTrayIcon(5));
    std::vector<QImage> pictures;
    std::vector<int> shown;
    QImage previous;
    for (int i = 0; i < 80; ++i) {
        // A picture counts once two grabs in a row agree: a grab may fall between the clearing of
        // the icon's background and the drawing of the icon.
        const QImage tray = X.Grab(X.TrayRect());
        if (tray == previous) {
            auto known = std::find(pictures.begin(), pictures.end(), tray);
            if (known == pictures.end()) {
                pictures.push_back(tray);
                known = pictures.end() - 1;
            }
            const int id = int(known - pictures.begin());
            if (shown.empty() || shown.back() != id) {
                shown.push_back(id);
            }
        }
        previous = tray;
        QThread::msleep(50); // sampled for 4 s, as above
    }
    EXPECT_EQ(pictures.size(), 4u) << ::testing::PrintToString(shown);
    ASSERT_GE(shown.size(), 6u) << ::testing::PrintToString(shown);
    for (std::size_t i = 4; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i], shown[i - 4])
            << "cycle of four at " << i << ": " << ::testing::PrintToString(shown);
    }

    // Hidden with its button, the window comes back with a left click on the tray icon and goes again
    // with another.
    const auto mapped = [&] {
        for (const auto& w : X.Windows()) {
            if (w.id == window.id) {
                return true;
            }
        }
        return false;
    };
    const auto waitFor = [&](const std::function<bool()>& done) { return WaitUntil(done, 3s, 50ms); };
    X.Click(window.geometry.topLeft() + QPoint(288 + 12, 92 + 11));
    EXPECT_TRUE(waitFor([&] { return !mapped(); })) << "hidden by its button";
    const QPoint trayIcon = X.TrayRect().center();
    X.Click(trayIcon);
    EXPECT_TRUE(waitFor(mapped)) << "shown by a left click on the tray icon";
    // Two presses within the double-click time are a double click, which does nothing.
    QThread::msleep(800);
    X.Click(trayIcon);
    EXPECT_TRUE(waitFor([&] { return !mapped(); })) << "hidden by another";
    QThread::msleep(800);
    X.Click(trayIcon);
    ASSERT_TRUE(waitFor(mapped));

    // A right click opens the tray menu where the mouse is; its last item, "Fechar", asks first while
    // the station is on the air: Escape keeps it on the air, Yes stops the encoder, the program ends,
    // the stream goes off the air.
    const auto newWindow
        = [&](const std::vector<unsigned long>& before, auto accept, XSession::Window* found) {
              return waitFor([&] {
                  for (const auto& w : X.Windows()) {
                      if (std::find(before.begin(), before.end(), w.id) == before.end() && accept(w)) {
                          *found = w;
                          return true;
                      }
                  }
                  return false;
              });
          };
    const auto windowIds = [&] {
        std::vector<unsigned long> ids;
        for (const auto& w : X.Windows()) {
            ids.push_back(w.id);
        }
        return ids;
    };
    const auto quitFromTheMenu = [&] {
        // Listed before the click: a menu that maps quickly would otherwise count as already there.
        const auto beforeMenu = windowIds();
        X.Click(trayIcon, 3);
        XSession::Window menu;
        ASSERT_TRUE(newWindow(
            beforeMenu, [](const XSession::Window& w) { return w.geometry.height() > 40; }, &menu))
            << "no menu; windows: " << [&] {
                   std::string list;
                   for (const auto& w : X.Windows()) {
                       list += QStringLiteral("%1 %2x%3+%4+%5 '%6'; ")
                                   .arg(w.id)
                                   .arg(w.geometry.width())
                                   .arg(w.geometry.height())
                                   .arg(w.geometry.x())
                                   .arg(w.geometry.y())
                                   .arg(w.title)
                                   .toStdString();
                   }
                   return list;
               }();
        EXPECT_EQ(menu.geometry.topLeft(), trayIcon) << "the menu opens at the mouse";
        QThread::msleep(300); // its items laid out before the click
        X.Click(QPoint(menu.geometry.left() + 30, menu.geometry.bottom() - 10));
        // The menu bears the program's title too: gone first, it cannot be taken for the question.
        ASSERT_TRUE(waitFor([&] {
            const auto windows = X.Windows();
            return std::none_of(
                windows.begin(), windows.end(), [&](const auto& w) { return w.id == menu.id; });
        })) << "the menu closes on its item";
    };
    const auto isQuestion = [&](const XSession::Window& w) { return w.title == kTitle && w.id != window.id; };
    XSession::Window question;
    auto before = windowIds();
    quitFromTheMenu();
    ASSERT_TRUE(newWindow(before, isQuestion, &question)) << "no question" << Diagnostics();
    X.PressEscape(question);
    ASSERT_TRUE(waitFor([&] {
        const auto windows = X.Windows();
        return std::none_of(
            windows.begin(), windows.end(), [&](const auto& w) { return w.id == question.id; });
    })) << "the question closes";
    EXPECT_FALSE(program->WaitForExit(1)) << "Escape answers No";
    EXPECT_TRUE(icecast.HasSource(QStringLiteral("/e2e")));
    before = windowIds();
    quitFromTheMenu();
    ASSERT_TRUE(newWindow(before, isQuestion, &question)) << "no question" << Diagnostics();
    // No has the focus; the Tab key takes it to Yes, which Return presses.
    X.PressKey(question, XK_Tab);
    X.PressReturn(question);
    ASSERT_TRUE(program->WaitForExit(20)) << Diagnostics();
    EXPECT_EQ(program->ExitCode(), 0);
    // The program waited for the last encoder to end: its exit status is in the encoder's log.
    static const QRegularExpression released(QStringLiteral("encoder process \\d+ released: exit code 0"));
    EXPECT_TRUE(ReadAnsi(Folder.filePath(QStringLiteral("zoveva-encoder.log"))).contains(released))
        << Diagnostics();
    EXPECT_TRUE(WaitUntil([&] { return !icecast.HasSource(QStringLiteral("/e2e")); }, 10s, 100ms));
}

// Under a desktop whose tray host speaks the status-notifier protocol, the tray icon's tooltip is text
// the test can read. The input is silence, then a tone, in a loop: past the time cfg.ini gives, the
// dead-air alarm is logged, notified and put first in the tooltip, and the tone clears it. Then the
// tooltip carries the stream's details and follows the listeners the server counts.
TEST_F(Program, TrayToolTipFollowsTheListenersAndTheDeadAirAlarmComesAndGoes)
{
    zv::test::DesktopBus desktop;
    QString error;
    ASSERT_TRUE(desktop.Start(&error)) << error.toStdString();
    zv::test::IcecastServer icecast;
    ASSERT_TRUE(icecast.Start(&error)) << error.toStdString();
    ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), icecast.Port(), icecast.Password(), &error))
        << error.toStdString();
    // A desktop shows a notification in the tooltip for 10 s: the silence outlasts it, so the warning
    // line shows after it, and the tone leaves time for the listeners before the next silence.
    const QString wav = Folder.filePath(QStringLiteral("silence-then-tone.wav"));
    ASSERT_TRUE(zv::test::WriteSilenceThenToneWav(wav, 16, 50));
    ASSERT_TRUE(zv::test::WriteUserSettings(Folder.path(), QStringLiteral("extras"), 2, &error))
        << error.toStdString();
    ASSERT_TRUE(zv::test::AppendSettings(Folder.path(), "SilencioTempo=2\r\n", &error))
        << error.toStdString();

    auto environment = zv::test::ProgramEnvironment(X.DisplayName(), Runtime.path(), wav);
    environment[QStringLiteral("DBUS_SESSION_BUS_ADDRESS")] = desktop.Address();
    Process program(QStringList { Folder.filePath(QStringLiteral("ZoVeva")) }, environment,
        Folder.filePath(QStringLiteral("output.txt")));
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();
    ASSERT_TRUE(desktop.WaitForTrayIcon(20)) << Diagnostics();

    // Watches the tooltip until `done` holds or the time is up.
    bool warned = false;
    QString tip;
    QString since; // the warning's time, and when the test first saw it
    QTime seenAt;
    const QString warning = QStringLiteral("ATEN\u00c7\u00c3O: sil\u00eancio no ar desde ");
    const auto watch = [&](double seconds, const std::function<bool()>& done) {
        return WaitUntil(
            [&] {
                tip = desktop.TrayToolTip();
                if (!warned && tip.startsWith(warning)) {
                    warned = true;
                    since = tip.mid(warning.size(), 8);
                    seenAt = QTime::currentTime();
                }
                return done();
            },
            std::chrono::milliseconds(qint64(seconds * 1000)), 200ms);
    };

    const auto log = [&] { return ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log"))); };
    EXPECT_TRUE(
        watch(40, [&] { return warned && log().contains(QStringLiteral("O som voltou depois de 00:00:1")); }))
        << tip.toStdString() << Diagnostics();
    EXPECT_TRUE(log().contains(
        QStringLiteral("Sil\u00eancio no ar: o som capturado ficou abaixo de -50 dBFS por 2 s")));
    // The warning names when the silence began: at least the alarm's 2 s before it could be seen.
    const QTime began = QTime::fromString(since, QStringLiteral("HH:mm:ss"));
    ASSERT_TRUE(began.isValid()) << since.toStdString();
    if (seenAt >= QTime(0, 1, 0)) { // not across midnight
        EXPECT_LE(began, seenAt.addSecs(-2)) << since.toStdString() << " seen at "
                                             << seenAt.toString(QStringLiteral("HH:mm:ss.zzz")).toStdString();
    }
    const auto notifications = desktop.Notifications();
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications.front().summary, QStringLiteral("Sil\u00eancio no ar"));
    EXPECT_TRUE(notifications.front().body.contains(QStringLiteral("-50 dBFS por 2 s")));

    ASSERT_TRUE(icecast.WaitForSource(QStringLiteral("/extras"), 10)) << Diagnostics();
    const QString where = QStringLiteral("Conectado \u2014 127.0.0.1:%1/extras \u2014 ").arg(icecast.Port());
    EXPECT_TRUE(
        watch(20, [&] { return tip.contains(where) && tip.contains(QStringLiteral(" \u2014 0 ouvintes")); }))
        << tip.toStdString() << Diagnostics();
    EXPECT_FALSE(warned && tip.startsWith(QStringLiteral("ATEN")));

    std::vector<pid_t> listeners;
    const QByteArray url = icecast.Url(QStringLiteral("/extras")).toLocal8Bit();
    for (int i = 0; i < 2; ++i) {
        char curl[] = "curl";
        char quiet[] = "-s";
        char output[] = "-o";
        char nowhere[] = "/dev/null";
        char* argv[] = { curl, quiet, output, nowhere, const_cast<char*>(url.constData()), nullptr };
        pid_t pid = -1;
        ASSERT_EQ(posix_spawnp(&pid, "curl", nullptr, nullptr, argv, environ), 0);
        listeners.push_back(pid);
    }
    EXPECT_TRUE(watch(25, [&] { return tip.contains(QStringLiteral(" \u2014 2 ouvintes")); }))
        << tip.toStdString() << Diagnostics();
    for (const pid_t pid : listeners) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(icecast.HasSource(QStringLiteral("/extras")));
}

// The synthetic input's silence, with the alarm's time shortened in cfg.ini, raises the alarm once; the
// stream stays on the air.
TEST_F(Program, SyntheticSilenceRaisesTheDeadAirAlarmOnce)
{
    zv::test::IcecastServer icecast;
    QString error;
    ASSERT_TRUE(icecast.Start(&error)) << error.toStdString();
    ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), icecast.Port(), icecast.Password(), &error))
        << error.toStdString();
    // The second input is "Synthetic silence".
    ASSERT_TRUE(zv::test::WriteUserSettings(Folder.path(), QStringLiteral("quieto"), 1, &error))
        << error.toStdString();
    ASSERT_TRUE(zv::test::AppendSettings(Folder.path(), "SilencioTempo=3\r\nSilencioNivel=-60\r\n", &error))
        << error.toStdString();
    auto program = StartProgram();
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();
    ASSERT_TRUE(icecast.WaitForSource(QStringLiteral("/quieto"), 30)) << Diagnostics();
    const QString raised
        = QStringLiteral("Sil\u00eancio no ar: o som capturado ficou abaixo de -60 dBFS por 3 s");
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log"))).contains(raised); }, 10s, 100ms))
        << Diagnostics();
    QThread::msleep(4000); // long enough for a second entry or a false "back" to show
    const QString log = ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log")));
    EXPECT_EQ(log.count(raised), 1) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("O som voltou")));
    EXPECT_TRUE(icecast.HasSource(QStringLiteral("/quieto")));
}

namespace {

// Whether a process of the group (the program and what it started) runs the named command.
bool GroupRuns(pid_t group, const QByteArray& command)
{
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "pid (comm) state ppid pgrp ...": the name may hold blanks, so fields count from its ')'.
        const QByteArray text = stat.readAll();
        const qsizetype open = text.indexOf('(');
        const qsizetype close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (open > 0 && close > open && fields.size() > 2 && fields[2].toInt() == group
            && text.mid(open + 1, close - open - 1) == command) {
            return true;
        }
    }
    return false;
}

} // namespace

// Started from a terminal, the program keeps what the libraries say about themselves off it: the
// browser engine's graphics details (qt.webenginecontext), the account page's script console, the
// engine's sandbox notice as root. ZOVEVA_DEBUG_LIBS=1 brings them back. The engine has said its
// piece once its page processes run.
TEST_F(Program, TerminalStaysQuietUnlessLibraryMessagesAreAskedFor)
{
    QString error;
    ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), 0, QString(), &error)) << error.toStdString();
    ASSERT_TRUE(zv::test::WriteUserSettings(Folder.path(), QStringLiteral("quieto"), 1, &error))
        << error.toStdString();
    const QString output = Folder.filePath(QStringLiteral("output.txt"));
    for (const bool wanted : { false, true }) {
        SCOPED_TRACE(wanted ? "ZOVEVA_DEBUG_LIBS=1" : "by default");
        auto environment = zv::test::ProgramEnvironment(X.DisplayName(), Runtime.path(), QString());
        environment[QStringLiteral("ZOVEVA_DEBUG_LIBS")] = wanted ? QStringLiteral("1") : QString();
        environment[QStringLiteral("QT_LOGGING_RULES")] = QString();
        QFile::remove(output);
        {
            Process program(QStringList { Folder.filePath(QStringLiteral("ZoVeva")) }, environment, output);
            XSession::Window window;
            ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();
            ASSERT_TRUE(WaitUntil([&] { return GroupRuns(program.Pid(), "QtWebEngineProc"); }, 30s, 100ms))
                << Diagnostics();
            QThread::msleep(1000); // what the first page load says, too
        }
        const QString printed = ReadAnsi(output);
        EXPECT_EQ(printed.contains(QStringLiteral("qt.webenginecontext:")), wanted) << printed.toStdString();
        if (!wanted) {
            EXPECT_FALSE(printed.contains(QStringLiteral("Sandboxing disabled"))) << printed.toStdString();
            EXPECT_FALSE(printed.contains(QStringLiteral("js: "))) << printed.toStdString();
        }
    }
}

TEST_F(Program, FirstStartInAnEmptyFolderAsksForTheSettings)
{
    QString error;
    ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), 0, QString(), &error)) << error.toStdString();
    auto program = StartProgram();
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();
    EXPECT_TRUE(QFile::exists(Folder.filePath(QStringLiteral("cfg.ini"))));
    // It holds the account password: its owner's alone.
    EXPECT_EQ(std::filesystem::status(Folder.filePath(QStringLiteral("cfg.ini")).toStdString()).permissions(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // The message box, titled like the program, then the settings window.
    XSession::Window box;
    const bool found = WaitUntil(
        [&] {
            bool any = false;
            for (const auto& w : X.Windows()) {
                if (w.title == kTitle && w.geometry.size() != kMainSize) {
                    box = w;
                    any = true;
                }
            }
            return any;
        },
        10s, 50ms);
    ASSERT_TRUE(found) << Diagnostics();
    // The entry is written once the operator has read the message.
    EXPECT_FALSE(
        ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log"))).contains(QStringLiteral("codifica")));
    X.PressReturn(box);
    XSession::Window settings;
    ASSERT_TRUE(X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), QSize(300, 414), 10, &settings))
        << Diagnostics();
    QThread::msleep(300); // drawn before its picture is taken
    QDir().mkpath(QStringLiteral(ZOVEVA_SCREENSHOT_DIR));
    EXPECT_TRUE(Screenshot(settings).save(QStringLiteral(ZOVEVA_SCREENSHOT_DIR "/program-settings.png")));
    const QString log = ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log")));
    EXPECT_TRUE(log.contains(QStringLiteral("N\u00e3o foi encontrado o arquivo de codifica\u00e7\u00e3o")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Erro")));
    EXPECT_FALSE(QFile::exists(Folder.filePath(QStringLiteral(".xml"))));
}

// README's run command: the demo station starts, its client goes on the air, and stopping it leaves
// nothing running.
TEST(DemoStation, StreamsAndStopsEverythingItStarted)
{
    QTemporaryDir demo;
    ASSERT_TRUE(demo.isValid());
    const QString build = QStringLiteral(ZOVEVA_BUILD_ROOT);
    const QString output = demo.filePath(QStringLiteral("demo-output.txt"));
    Process script({ SourceDir() + QStringLiteral("/scripts/demo-station"), QStringLiteral("--seconds"),
                       QStringLiteral("15") },
        { { QStringLiteral("ZOVEVA_BUILD_DIR"), build }, { QStringLiteral("ZOVEVA_DEMO_DIR"), demo.path() },
            { QStringLiteral("DISPLAY"), QString() }, { QStringLiteral("WAYLAND_DISPLAY"), QString() },
            { QStringLiteral("QT_QPA_PLATFORM"), QString() } },
        output);
    ASSERT_TRUE(script.Running());
    const pid_t group = script.Pid();

    QString url;
    WaitUntil(
        [&] {
            QFile file(output);
            if (file.open(QIODevice::ReadOnly)) {
                const auto match = QRegularExpression(QStringLiteral("(http://127\\.0\\.0\\.1:\\d+)/demo"))
                                       .match(QString::fromLocal8Bit(file.readAll()));
                if (match.hasMatch()) {
                    url = match.captured(1);
                }
            }
            return !url.isEmpty();
        },
        30s, 100ms);
    ASSERT_FALSE(url.isEmpty()) << ReadAnsi(output).toStdString();
    const bool onAir = WaitUntil(
        [&] {
            return zv::test::RunCommand(QStringLiteral("curl -s --max-time 2 '%1/status-json.xsl'").arg(url))
                .contains("/demo\"");
        },
        30s, 100ms);
    EXPECT_TRUE(onAir) << ReadAnsi(output).toStdString()
                       << ReadAnsi(demo.filePath(QStringLiteral("zoveva-encoder.log"))).toStdString();

    ASSERT_TRUE(script.WaitForExit(40));
    EXPECT_EQ(script.ExitCode(), 0) << ReadAnsi(output).toStdString();
    const int alive = kill(-group, 0);
    const int error = errno;
    EXPECT_EQ(alive, -1) << "a process of the demo is still running";
    EXPECT_EQ(error, ESRCH);
    int curl = 0;
    zv::test::RunCommand(QStringLiteral("curl -s --max-time 2 '%1/' >/dev/null").arg(url), &curl);
    EXPECT_NE(curl, 0) << "Icecast still answers";
}

} // namespace
