#include "XSession.h"

#include "tests/support/Wait.h"

#include <QThread>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zv::test {

namespace {

// X errors (a window gone between listing and reading) are expected here; they must not end the test.
int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

QString Title(Display* display, ::Window window)
{
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    QString title;
    if (XGetWindowProperty(
            display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data)
            == Success
        && data) {
        title = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
    }
    if (data) {
        XFree(data);
    }
    return title;
}

} // namespace

XSession::~XSession()
{
    if (display_) {
        XCloseDisplay(display_);
    }
    if (xvfb_ > 0) {
        kill(xvfb_, SIGTERM);
        int status = 0;
        WaitUntil([&] { return waitpid(xvfb_, &status, WNOHANG) != 0; }, std::chrono::seconds(5),
            std::chrono::milliseconds(50));
        if (waitpid(xvfb_, &status, WNOHANG) == 0) {
            kill(xvfb_, SIGKILL);
            waitpid(xvfb_, &status, 0);
        }
    }
}

bool XSession::Start(QString* error)
{
    int fds[2];
    if (pipe(fds) != 0) {
        *error = QStringLiteral("pipe failed");
        return false;
    }
    const QByteArray fd = QByteArray::number(fds[1]);
    const char* argv[] = { "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1024x768x24", "-nolisten",
        "tcp", "-br", nullptr };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&xvfb_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        xvfb_ = -1;
        *error = QStringLiteral("cannot run Xvfb: %1").arg(QString::fromLocal8Bit(strerror(spawned)));
        return false;
    }
    QByteArray answer;
    pollfd p { fds[0], POLLIN, 0 };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!answer.contains('\n') && std::chrono::steady_clock::now() < deadline) {
        if (poll(&p, 1, 100) > 0) {
            char buffer[32];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            answer.append(buffer, n);
        }
    }
    close(fds[0]);
    bool ok = false;
    number_ = answer.trimmed().toInt(&ok);
    if (!ok) {
        *error = QStringLiteral("Xvfb did not report its display");
        return false;
    }
    XSetErrorHandler(IgnoreErrors);
    display_ = XOpenDisplay(DisplayName().toLatin1().constData());
    if (!display_) {
        *error = QStringLiteral("cannot connect to %1").arg(DisplayName());
        return false;
    }
    return true;
}

std::vector<XSession::Window> XSession::Windows()
{
    std::vector<Window> found;
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
        return found;
    }
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes {};
        if (!XGetWindowAttributes(display_, children[i], &attributes) || attributes.map_state != IsViewable) {
            continue;
        }
        found.push_back({ children[i], QRect(attributes.x, attributes.y, attributes.width, attributes.height),
            Title(display_, children[i]) });
    }
    if (children) {
        XFree(children);
    }
    return found;
}

bool XSession::WaitForWindow(const QString& title, QSize size, double seconds, Window* found)
{
    return WaitUntil(
        [&] {
            for (const Window& w : Windows()) {
                if (w.title == title && (!size.isValid() || w.geometry.size() == size)) {
                    *found = w;
                    return true;
                }
            }
            return false;
        },
        std::chrono::milliseconds(qint64(seconds * 1000)), std::chrono::milliseconds(50));
}

QImage XSession::Grab(const QRect& rect)
{
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), rect.x(), rect.y(),
        static_cast<unsigned>(rect.width()), static_cast<unsigned>(rect.height()), AllPlanes, ZPixmap);
    QImage out(rect.size(), QImage::Format_RGB32);
    if (!image) {
        out.fill(Qt::magenta);
        return out;
    }
    for (int y = 0; y < rect.height(); ++y) {
        for (int x = 0; x < rect.width(); ++x) {
            out.setPixel(x, y, 0xFF000000u | static_cast<QRgb>(XGetPixel(image, x, y) & 0xFFFFFFu));
        }
    }
    XDestroyImage(image);
    return out;
}

QRegion XSession::Shape(const Window& window)
{
    int count = 0;
    int ordering = 0;
    XRectangle* rects = XShapeGetRectangles(display_, window.id, ShapeBounding, &count, &ordering);
    QRegion region;
    for (int i = 0; i < count; ++i) {
        region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    }
    if (rects) {
        XFree(rects);
    }
    return region;
}

QImage XSession::Icon(const Window& window)
{
    const Atom icon = XInternAtom(display_, "_NET_WM_ICON", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    QImage out;
    if (XGetWindowProperty(
            display_, window.id, icon, 0, 1 << 20, False, XA_CARDINAL, &type, &format, &count, &after, &data)
            == Success
        && data && format == 32) {
        // 32-bit properties arrive as longs: width, height, then ARGB pixels, for every size given.
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        unsigned long at = 0;
        while (at + 2 <= count) {
            const unsigned long w = values[at];
            const unsigned long h = values[at + 1];
            if (w == 0 || h == 0 || at + 2 + w * h > count) {
                break;
            }
            if (w == 32 && h == 32) {
                out = QImage(32, 32, QImage::Format_ARGB32);
                for (unsigned long i = 0; i < w * h; ++i) {
                    out.setPixel(int(i % w), int(i / w), static_cast<QRgb>(values[at + 2 + i] & 0xFFFFFFFFu));
                }
                break;
            }
            at += 2 + w * h;
        }
    }
    if (data) {
        XFree(data);
    }
    return out;
}

void XSession::Click(QPoint onScreen, unsigned int button)
{
    XTestFakeMotionEvent(display_, DefaultScreen(display_), onScreen.x(), onScreen.y(), CurrentTime);
    XSync(display_, False);
    // Paced as a hand would: a press that follows its motion at once may reach the window before
    // the toolkit has seen the pointer there.
    QThread::msleep(60);
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XSync(display_, False);
    QThread::msleep(60);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

void XSession::MoveTo(QPoint onScreen)
{
    XTestFakeMotionEvent(display_, DefaultScreen(display_), onScreen.x() - 1, onScreen.y(), CurrentTime);
    XSync(display_, False);
    QThread::msleep(60); // two motions, seen apart: a hover starts with the second
    XTestFakeMotionEvent(display_, DefaultScreen(display_), onScreen.x(), onScreen.y(), CurrentTime);
    XSync(display_, False);
}

void XSession::Focus(const Window& window)
{
    XSetInputFocus(display_, window.id, RevertToParent, CurrentTime);
    XSync(display_, False);
}

bool XSession::StartTray(QPoint at, int size)
{
    tray_ = QRect(at, QSize(size, size));
    const ::Window root = DefaultRootWindow(display_);
    trayWindow_
        = XCreateSimpleWindow(display_, root, at.x(), at.y(), unsigned(size), unsigned(size), 0, 0, 0x303030);
    XSelectInput(display_, trayWindow_, SubstructureNotifyMask | StructureNotifyMask);
    XMapWindow(display_, trayWindow_);
    const Atom selection = XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False);
    XSetSelectionOwner(display_, selection, trayWindow_, CurrentTime);
    if (XGetSelectionOwner(display_, selection) != trayWindow_) {
        return false;
    }
    // Announce the new owner, as a notification area does.
    XClientMessageEvent manager {};
    manager.type = ClientMessage;
    manager.window = root;
    manager.message_type = XInternAtom(display_, "MANAGER", False);
    manager.format = 32;
    manager.data.l[0] = CurrentTime;
    manager.data.l[1] = long(selection);
    manager.data.l[2] = long(trayWindow_);
    XSendEvent(display_, root, False, StructureNotifyMask, reinterpret_cast<XEvent*>(&manager));
    XSync(display_, False);
    return true;
}

void XSession::ServeTray()
{
    if (!trayWindow_) {
        return;
    }
    const Atom opcode = XInternAtom(display_, "_NET_SYSTEM_TRAY_OPCODE", False);
    const Atom xembed = XInternAtom(display_, "_XEMBED", False);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        // Dock request: the icon's window goes into the notification area, filling it.
        if (event.type != ClientMessage || event.xclient.message_type != opcode
            || event.xclient.data.l[1] != 0 || dockedIcon_) {
            continue;
        }
        dockedIcon_ = static_cast<unsigned long>(event.xclient.data.l[2]);
        XReparentWindow(display_, dockedIcon_, trayWindow_, 0, 0);
        XResizeWindow(display_, dockedIcon_, unsigned(tray_.width()), unsigned(tray_.height()));
        XMapRaised(display_, dockedIcon_);
        XClientMessageEvent notify {};
        notify.type = ClientMessage;
        notify.window = dockedIcon_;
        notify.message_type = xembed;
        notify.format = 32;
        notify.data.l[0] = CurrentTime;
        notify.data.l[1] = 0; // embedded notify
        notify.data.l[3] = long(trayWindow_);
        XSendEvent(display_, dockedIcon_, False, NoEventMask, reinterpret_cast<XEvent*>(&notify));
        XSync(display_, False);
    }
}

bool XSession::WaitForTrayIcon(double seconds)
{
    return WaitUntil(
        [&] {
            ServeTray();
            return dockedIcon_ != 0;
        },
        std::chrono::milliseconds(qint64(seconds * 1000)), std::chrono::milliseconds(50));
}

void XSession::PressReturn(const Window& window)
{
    PressKey(window, XK_Return);
}

void XSession::PressEscape(const Window& window)
{
    PressKey(window, XK_Escape);
}

void XSession::PressKey(const Window& window, unsigned long keysym)
{
    // No window manager here: the test gives the focus itself.
    XSetInputFocus(display_, window.id, RevertToParent, CurrentTime);
    const KeyCode key = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, key, True, CurrentTime);
    XTestFakeKeyEvent(display_, key, False, CurrentTime);
    XSync(display_, False);
}

QStringList XSession::States(const Window& window)
{
    const Atom property = XInternAtom(display_, "_NET_WM_STATE", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    QStringList states;
    if (XGetWindowProperty(
            display_, window.id, property, 0, 64, False, XA_ATOM, &type, &format, &count, &after, &data)
            == Success
        && data && format == 32) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; ++i) {
            if (char* name = XGetAtomName(display_, atoms[i])) {
                states << QString::fromLatin1(name);
                XFree(name);
            }
        }
    }
    if (data) {
        XFree(data);
    }
    return states;
}

void XSession::TypeInto(const Window& window, QPoint onScreen, const QString& text)
{
    XSetInputFocus(display_, window.id, RevertToParent, CurrentTime);
    XSync(display_, False);
    Click(onScreen);
    QThread::msleep(100); // the field has the focus before the first key
    const auto press = [this](KeySym symbol, bool shift, bool control) {
        const KeyCode key = XKeysymToKeycode(display_, symbol);
        const KeyCode shiftKey = XKeysymToKeycode(display_, XK_Shift_L);
        const KeyCode controlKey = XKeysymToKeycode(display_, XK_Control_L);
        if (shift) {
            XTestFakeKeyEvent(display_, shiftKey, True, CurrentTime);
        }
        if (control) {
            XTestFakeKeyEvent(display_, controlKey, True, CurrentTime);
        }
        XTestFakeKeyEvent(display_, key, True, CurrentTime);
        XTestFakeKeyEvent(display_, key, False, CurrentTime);
        if (control) {
            XTestFakeKeyEvent(display_, controlKey, False, CurrentTime);
        }
        if (shift) {
            XTestFakeKeyEvent(display_, shiftKey, False, CurrentTime);
        }
        XSync(display_, False);
        QThread::msleep(15); // typed, not pasted: each key its own event
    };
    press(XK_a, false, true);
    for (const QChar c : text) {
        // Printable ASCII characters are their own key symbols; the shifted ones sit on level 1.
        const KeySym symbol = c.unicode();
        const KeyCode key = XKeysymToKeycode(display_, symbol);
        const bool shift = key != 0 && XkbKeycodeToKeysym(display_, key, 0, 0) != symbol;
        press(symbol, shift, false);
    }
    QThread::msleep(100); // the last key reaches the field before the caller reads or clicks
}

} // namespace zv::test
