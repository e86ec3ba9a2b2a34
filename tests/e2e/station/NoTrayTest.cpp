// The program on an X11 desktop without a tray: a private X server where nobody holds the tray
// selection, and a session bus with a notification server but no tray host. The hide button must not
// make the window vanish (it asks the window manager to minimise it), and the dead-air alarm reaches
// the desktop's notifications and the status line.

#include "DesktopBus.h"
#include "ProgramHarness.h"
#include "XSession.h"
#include "tests/support/Wait.h"

#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

// Last: its macros (None, Bool) clash with names above.
#include <X11/Xlib.h>

namespace {

using namespace std::chrono_literals;
using zv::test::ReadAnsi;
using zv::test::XSession;

const QString kTitle = QStringLiteral("Varek R\u00e1dio Zoveva");

// Listens on the root window, as a window manager does, for a window's request to be minimised
// (ICCCM WM_CHANGE_STATE with IconicState).
class IconifyWatch {
public:
    explicit IconifyWatch(const QString& display)
        : display_(XOpenDisplay(display.toLocal8Bit().constData()))
    {
        if (display_) {
            // Qt sends it with the structure-notify mask, others with substructure.
            XSelectInput(display_, DefaultRootWindow(display_), StructureNotifyMask | SubstructureNotifyMask);
            changeState_ = XInternAtom(display_, "WM_CHANGE_STATE", False);
            XSync(display_, False);
        }
    }
    ~IconifyWatch()
    {
        if (display_) {
            XCloseDisplay(display_);
        }
    }
    IconifyWatch(const IconifyWatch&) = delete;
    IconifyWatch& operator=(const IconifyWatch&) = delete;

    bool Open() const { return display_ != nullptr; }

    // Moves a window as the operator dragging it would.
    void Move(unsigned long window, QPoint to)
    {
        XMoveWindow(display_, window, to.x(), to.y());
        XSync(display_, False);
    }

    bool WaitFor(unsigned long window, double seconds)
    {
        constexpr long kIconicState = 3;
        return zv::test::WaitUntil(
            [&] {
                while (XPending(display_) > 0) {
                    XEvent event;
                    XNextEvent(display_, &event);
                    if (event.type == ClientMessage && event.xclient.message_type == changeState_
                        && event.xclient.window == window && event.xclient.data.l[0] == kIconicState) {
                        return true;
                    }
                }
                return false;
            },
            std::chrono::milliseconds(qint64(seconds * 1000)));
    }

private:
    Display* display_;
    Atom changeState_ = 0;
};

// Amber, by the ratio of green to red: the yellow of "Conectando..." has as much green as red at any
// shade its edges take.
bool IsAmber(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) > qRed(c) * 6 / 10 && qGreen(c) < qRed(c) * 88 / 100 && qBlue(c) < 80;
}

TEST(DesktopWithoutTray, HideMinimisesAndTheDeadAirAlarmGoesToNotificationsAndTheStatusLine)
{
    QTemporaryDir folder;
    QTemporaryDir runtime;
    ASSERT_TRUE(folder.isValid() && runtime.isValid());
    XSession x;
    QString error;
    ASSERT_TRUE(x.Start(&error)) << error.toStdString();
    zv::test::DesktopBus desktop;
    ASSERT_TRUE(desktop.Start(&error, false)) << error.toStdString();
    ASSERT_TRUE(zv::test::MakeProgramFolder(folder.path(), 0, QString(), &error)) << error.toStdString();
    // The second input is "Synthetic silence".
    ASSERT_TRUE(zv::test::WriteUserSettings(folder.path(), QStringLiteral("quieto"), 1, &error))
        << error.toStdString();
    ASSERT_TRUE(zv::test::AppendSettings(folder.path(), "SilencioTempo=2\r\nSilencioNivel=-60\r\n", &error))
        << error.toStdString();

    auto environment = zv::test::ProgramEnvironment(x.DisplayName(), runtime.path());
    environment[QStringLiteral("DBUS_SESSION_BUS_ADDRESS")] = desktop.Address();
    environment[QStringLiteral("QT_LOGGING_RULES")] = QString();
    const QString output = folder.filePath(QStringLiteral("output.txt"));
    zv::test::Process program(QStringList { folder.filePath(QStringLiteral("ZoVeva")) }, environment, output);
    const auto diagnostics = [&] {
        return (QStringLiteral("\n--- program output\n") + ReadAnsi(output)
            + QStringLiteral("\n--- ZoVeva.log\n") + ReadAnsi(folder.filePath(QStringLiteral("ZoVeva.log"))))
            .toStdString();
    };
    XSession::Window window;
    ASSERT_TRUE(x.WaitForWindow(kTitle, QSize(327, 318), 20, &window)) << diagnostics();

    // The alarm: one notification, and the status line says it in amber.
    ASSERT_TRUE(zv::test::WaitUntil([&] { return !desktop.Notifications().empty(); }, 15s, 100ms))
        << diagnostics();
    const auto notifications = desktop.Notifications();
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications.front().summary, QStringLiteral("Sil\u00eancio no ar"));
    EXPECT_TRUE(notifications.front().body.contains(QStringLiteral("-60 dBFS por 2 s")))
        << notifications.front().body.toStdString();
    const QRect status = QRect(102, 88, 115, 13).translated(window.geometry.topLeft());
    int amber = 0;
    zv::test::WaitUntil(
        [&] {
            const QImage shot = x.Grab(status);
            amber = 0;
            for (int py = 0; py < shot.height(); ++py)
                for (int px = 0; px < shot.width(); ++px)
                    amber += IsAmber(shot.pixel(px, py));
            return amber > 20;
        },
        5s, 100ms);
    EXPECT_GT(amber, 20) << "the status line shows the alarm";

    IconifyWatch watch(x.DisplayName());
    ASSERT_TRUE(watch.Open());

    // The status line's hint (the alarm's warning first) stays on the screen with the window dragged
    // into the bottom-right corner, partly off it.
    const QRect screen(0, 0, 1024, 768);
    const QPoint corner(screen.right() - 222, screen.bottom() - 104);
    watch.Move(window.id, corner);
    QThread::msleep(300); // the program learns its new place before the pointer comes
    std::vector<unsigned long> before;
    for (const auto& w : x.Windows()) {
        before.push_back(w.id);
    }
    x.Focus(window); // hints show in the active window
    x.MoveTo(corner + QPoint(210, 95));
    QRect hint;
    zv::test::WaitUntil(
        [&] {
            for (const auto& w : x.Windows()) {
                if (std::find(before.begin(), before.end(), w.id) == before.end()
                    && w.geometry.width() > 100) {
                    hint = w.geometry;
                }
            }
            return !hint.isNull();
        },
        6s, 100ms);
    ASSERT_FALSE(hint.isNull()) << "no hint over the status line" << diagnostics();
    EXPECT_TRUE(screen.contains(hint))
        << hint.x() << "," << hint.y() << " " << hint.width() << "x" << hint.height();
    watch.Move(window.id, window.geometry.topLeft());
    x.MoveTo(window.geometry.center());
    QThread::msleep(300); // the window back in place and the hint gone before the click

    // The hide button: the window asks to be minimised and stays mapped, so the taskbar has it.
    x.Click(window.geometry.topLeft() + QPoint(288 + 12, 92 + 11));
    EXPECT_TRUE(watch.WaitFor(window.id, 10)) << diagnostics();
    QThread::msleep(500); // it must stay mapped: a window that went away would have by now
    bool stillThere = false;
    for (const auto& w : x.Windows()) {
        stillThere = stillThere || w.id == window.id;
    }
    EXPECT_TRUE(stillThere) << "a hidden window could only be brought back by a second start";

    // Nothing on the terminal about a tray that is not there.
    const QString printed = ReadAnsi(output);
    EXPECT_FALSE(printed.contains(QStringLiteral("systemTrayWindowChanged"))) << printed.toStdString();
    EXPECT_FALSE(printed.contains(QStringLiteral("QSystemTrayIcon"))) << printed.toStdString();
}

} // namespace
