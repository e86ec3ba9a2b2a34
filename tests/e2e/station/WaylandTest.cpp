// The program under a Wayland compositor: weston with its headless back end, a plain background and
// no panel, its screenshots taken with weston-screenshooter (weston runs with --debug for that). A
// Wayland compositor takes a window's mask for input only: what the screen shows of the window is what
// the window draws.

#include "IcecastServer.h"
#include "ProgramHarness.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegion>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace {

using zv::test::Process;
using zv::test::ReadAnsi;

// The compositor's background, where nothing is drawn.
constexpr QRgb kBackground = qRgb(0x20, 0x80, 0xc0);
const QString kSocket = QStringLiteral("zoveva-test");

// The smallest rectangle around every pixel that is not the background.
QRect Drawn(const QImage& screen)
{
    QRect drawn;
    for (int y = 0; y < screen.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x) {
            if ((row[x] & 0xffffff) != (kBackground & 0xffffff)) {
                drawn |= QRect(x, y, 1, 1);
            }
        }
    }
    return drawn;
}

class Weston {
public:
    // False, with `error`, when weston does not come up.
    bool Start(QString* error)
    {
        if (!folder_.isValid() || !runtime_.isValid()) {
            *error = QStringLiteral("no temporary folders");
            return false;
        }
        for (const char* tool : { "weston", "weston-screenshooter" }) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                *error = QStringLiteral("%1 is not installed (scripts/install-deps test)").arg(tool);
                return false;
            }
        }
        QFile ini(folder_.filePath(QStringLiteral("weston.ini")));
        if (!ini.open(QIODevice::WriteOnly)
            || ini.write("[core]\nidle-time=0\n[shell]\nbackground-color=0xff2080c0\npanel-position=none\n"
                         "locking=false\n")
                < 0) {
            *error = QStringLiteral("cannot write weston.ini");
            return false;
        }
        ini.close();
        process_ = std::make_unique<Process>(
            QStringList { QStandardPaths::findExecutable(QStringLiteral("weston")),
                QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--use-pixman"),
                QStringLiteral("--debug"), QStringLiteral("--socket=") + kSocket,
                QStringLiteral("--width=1024"), QStringLiteral("--height=768"),
                QStringLiteral("--config=") + ini.fileName() },
            std::map<QString, QString> { { QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path() },
                { QStringLiteral("WAYLAND_DISPLAY"), QString() }, { QStringLiteral("DISPLAY"), QString() } },
            folder_.filePath(QStringLiteral("weston.txt")));
        // Up once its background fills the screen.
        if (zv::test::WaitUntil(
                [&] {
                    const QImage shot = Screenshot();
                    return !shot.isNull() && Drawn(shot).isEmpty();
                },
                std::chrono::seconds(30), std::chrono::milliseconds(100))) {
            return true;
        }
        *error = QStringLiteral("weston did not start:\n")
            + ReadAnsi(folder_.filePath(QStringLiteral("weston.txt")));
        return false;
    }

    QString RuntimeDir() const { return runtime_.path(); }

    // The whole screen; null when no screenshot could be taken.
    QImage Screenshot()
    {
        const QString shots = folder_.filePath(QStringLiteral("shots"));
        QDir(shots).removeRecursively();
        QDir().mkpath(shots);
        int code = 0;
        zv::test::RunCommand(
            QStringLiteral(
                "cd '%1' && XDG_RUNTIME_DIR='%2' WAYLAND_DISPLAY='%3' weston-screenshooter >/dev/null 2>&1")
                .arg(shots, runtime_.path(), kSocket),
            &code);
        const QStringList files = QDir(shots).entryList({ QStringLiteral("*.png") }, QDir::Files);
        if (code != 0 || files.isEmpty()) {
            return {};
        }
        return QImage(shots + u'/' + files.first()).convertToFormat(QImage::Format_RGB32);
    }

private:
    QTemporaryDir folder_;
    QTemporaryDir runtime_;
    std::unique_ptr<Process> process_;
};

// The main window's corners show the background, not a rectangle around the skin: every pixel of the
// window outside the skin's shape is the compositor's. And with no tray host there, nothing on the
// terminal about a tray.
TEST(Wayland, MainWindowCornersShowWhatIsUnderTheWindow)
{
    Weston weston;
    QString error;
    ASSERT_TRUE(weston.Start(&error)) << error.toStdString();

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(zv::test::MakeProgramFolder(folder.path(), 0, QString(), &error)) << error.toStdString();
    ASSERT_TRUE(zv::test::WriteUserSettings(folder.path(), QStringLiteral("quieto"), 1, &error))
        << error.toStdString();
    auto environment = zv::test::ProgramEnvironment(QString(), weston.RuntimeDir());
    environment[QStringLiteral("QT_QPA_PLATFORM")] = QStringLiteral("wayland");
    environment[QStringLiteral("WAYLAND_DISPLAY")] = kSocket;
    environment[QStringLiteral("QT_LOGGING_RULES")] = QString();
    const QString output = folder.filePath(QStringLiteral("output.txt"));
    Process program(QStringList { folder.filePath(QStringLiteral("ZoVeva")) }, environment, output);

    // Shown once the status line ("Conectando...", yellow) is drawn and two screenshots agree.
    QImage screen;
    // Drawn once two screenshots in a row show the same window.
    QRect drawn;
    zv::test::WaitUntil(
        [&] {
            const QImage shot = weston.Screenshot();
            const QRect now = Drawn(shot);
            if (now.width() > 250 && now.height() > 250 && now == drawn) {
                screen = shot;
                return true;
            }
            drawn = now;
            return false;
        },
        std::chrono::seconds(60), std::chrono::milliseconds(100));
    ASSERT_FALSE(screen.isNull()) << "no window drawn\n" << ReadAnsi(output).toStdString();
    QDir().mkpath(QStringLiteral(ZOVEVA_SCREENSHOT_DIR));
    screen.copy(drawn.adjusted(-12, -12, 12, 12))
        .save(QStringLiteral(ZOVEVA_SCREENSHOT_DIR "/program-wayland.png"));

    // The skin's shape: its pixels of another colour than its top-left one, at (2, 2) of the window.
    const QImage skin = QImage(zv::test::SourceDir() + QStringLiteral("/resources/skins/main.png"))
                            .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(skin.isNull());
    QRegion shape;
    for (int y = 0; y < skin.height(); ++y)
        for (int x = 0; x < skin.width(); ++x)
            if (skin.pixel(x, y) != skin.pixel(0, 0))
                shape += QRect(x + 2, y + 2, 1, 1);
    EXPECT_EQ(drawn.size(), shape.boundingRect().size()) << "the skin's outline, not the window's rectangle";
    const QRect window(drawn.topLeft() - shape.boundingRect().topLeft(), QSize(327, 318));
    int outside = 0;
    int background = 0;
    for (int y = 0; y < window.height(); ++y) {
        for (int x = 0; x < window.width(); ++x) {
            const QPoint at = window.topLeft() + QPoint(x, y);
            if (!shape.contains(QPoint(x, y)) && screen.rect().contains(at)) {
                ++outside;
                background += (screen.pixel(at) & 0xffffff) == (kBackground & 0xffffff);
            }
        }
    }
    EXPECT_GT(outside, 1000);
    EXPECT_EQ(background, outside) << "the window's pixels outside its shape show what is under it";

    const QString printed = ReadAnsi(output);
    EXPECT_FALSE(printed.contains(QStringLiteral("systemTrayWindowChanged"))) << printed.toStdString();
}

} // namespace
