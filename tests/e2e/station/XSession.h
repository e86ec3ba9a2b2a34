#pragma once

// A private X server (Xvfb) for one test and what a test does with it from the outside: find the
// program's windows, read their pixels, shape and icon, click and type through the XTest extension.

#include <QImage>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QStringList>
#include <sys/types.h>
#include <vector>

typedef struct _XDisplay Display;

namespace zv::test {

class XSession {
public:
    XSession() = default;
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Starts Xvfb on a free display (black root, 1024 x 768, 24 bits) and connects to it.
    bool Start(QString* error);
    // ":<n>", for the DISPLAY of the programs under test.
    QString DisplayName() const { return QStringLiteral(":%1").arg(number_); }

    struct Window {
        unsigned long id = 0;
        QRect geometry; // on the screen
        QString title;
    };
    // Viewable top-level windows, bottom to top.
    std::vector<Window> Windows();
    // Waits up to `seconds` for a viewable window of that title (and size, when given).
    bool WaitForWindow(const QString& title, QSize size, double seconds, Window* found);

    // The screen's pixels in `rect`.
    QImage Grab(const QRect& rect);
    // The window's bounding shape in window coordinates; the whole window when it has none.
    QRegion Shape(const Window& window);
    // The 32 x 32 picture of the window's icon (_NET_WM_ICON); null when it has none.
    QImage Icon(const Window& window);

    // A notification area of `size` x `size` pixels at `at`: takes the tray selection and docks the
    // first icon that asks. Start it before the program.
    bool StartTray(QPoint at, int size);
    // Answers the tray's requests; the waits here call it, a test waiting on its own calls it too.
    void ServeTray();
    // Waits up to `seconds` for an icon to dock.
    bool WaitForTrayIcon(double seconds);
    // The notification area on the screen.
    QRect TrayRect() const { return tray_; }

    // button 1: left, 3: right.
    void Click(QPoint onScreen, unsigned int button = 1);
    // Moves the pointer there (in two steps, so that the window under it sees a move).
    void MoveTo(QPoint onScreen);
    // Gives the window the input focus, as a window manager would: it becomes the active window.
    void Focus(const Window& window);
    void PressReturn(const Window& window);
    void PressEscape(const Window& window);
    // Any key by its keysym (XK_Tab, ...).
    void PressKey(const Window& window, unsigned long keysym);
    // The window's states as its program set them (_NET_WM_STATE: "_NET_WM_STATE_MODAL", ...).
    QStringList States(const Window& window);
    // Gives `window` the keyboard focus, clicks `onScreen` (a text field in it), selects all that the
    // field holds (Ctrl+A) and types `text` over it: printable ASCII only, as the US keyboard of Xvfb
    // has it.
    void TypeInto(const Window& window, QPoint onScreen, const QString& text);

private:
    pid_t xvfb_ = -1;
    int number_ = -1;
    Display* display_ = nullptr;
    unsigned long trayWindow_ = 0;
    unsigned long dockedIcon_ = 0;
    QRect tray_;
};

} // namespace zv::test
