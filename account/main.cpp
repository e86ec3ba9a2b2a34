// zoveva-account: the station's account page in a browser engine of its own process, so the engine
// lives only while the client needs the page.
//
//   zoveva-account --read
//       loads the request headless, prints the limit of the page (the first load that completes) and
//       ends.
//   zoveva-account --show WIDTHxHEIGHT [--top-level TITLE]
//       shows the page in a frameless window of that size for the client to embed (X11), or in a
//       window of its own with --top-level (where nothing can be embedded), prints the window's id,
//       then the limit of every page it completes (the page may reload itself).
//
// The request is the first line of standard input (account/AccountHelperProtocol.h); the helper ends
// when its input closes, and when the client dies.

#include "account/AccountHelperProtocol.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QSocketNotifier>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QtMessageHandler gQtHandler = nullptr;

// The engine says these at every start: as root, where the sandbox was switched off below, and when
// reading, where it is given no graphics on purpose.
void WithoutEngineNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if ((type == QtInfoMsg && message == QLatin1String("Sandboxing disabled by user."))
        || (type == QtWarningMsg
            && message.trimmed() == QLatin1String("No suitable graphics backend found"))) {
        return;
    }
    gQtHandler(type, context, message);
}

// The engine's start details and the page's script console are for whoever looks into them, not for
// the operator's terminal (the client's standard error is ours): ZOVEVA_DEBUG_LIBS=1 shows them.
void RouteLibraryMessages()
{
    const QByteArray wanted = qgetenv("ZOVEVA_DEBUG_LIBS");
    if (!wanted.isEmpty() && wanted != "0") {
        // Newer engines say their start details at debug level, older ones at info level.
        QLoggingCategory::setFilterRules(
            QStringLiteral("qt.webenginecontext.debug=true\nqt.webenginecontext.info=true"));
        return;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\njs=false"));
    gQtHandler = qInstallMessageHandler(WithoutEngineNotices);
}

bool WriteAll(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

// The first line of standard input, without its end.
QByteArray ReadRequestLine()
{
    QByteArray line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || c == '\n') {
            return line;
        }
        line += c;
        // A request is an address, a short body and one header.
        if (line.size() > 1024 * 1024) {
            return {};
        }
    }
}

int Usage()
{
    std::fputs("usage: zoveva-account --read | --show WIDTHxHEIGHT [--top-level TITLE]\n"
               "  reads the account page's request from the first line of standard input\n",
        stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Never outlive the client, whose pages these are.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

    const std::string mode = argc > 1 ? argv[1] : "";
    QSize size;
    QString title;
    bool topLevel = false;
    if (mode == "--show" && argc >= 3) {
        const QList<QByteArray> parts = QByteArray(argv[2]).split('x');
        size = parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
        if (argc == 5 && std::string(argv[3]) == "--top-level") {
            topLevel = true;
            title = QString::fromLocal8Bit(argv[4]);
        } else if (argc != 3) {
            return Usage();
        }
        if (size.isEmpty()) {
            return Usage();
        }
    } else if (mode != "--read" || argc != 2) {
        return Usage();
    }
    const bool reading = mode == "--read";

    const std::optional<zv::account::Request> request = zv::account::DecodeRequest(ReadRequestLine());
    if (!request) {
        std::fputs("zoveva-account: no request on standard input\n", stderr);
        return 2;
    }

    RouteLibraryMessages();
    // Chromium refuses to run its sandbox as root; read when the engine starts.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (reading) {
        // Nothing is shown: no window system, and no graphics process to draw for it.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + (flags.isEmpty() ? "" : " ") + "--disable-gpu");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);

    // In memory only: no cache, cookies or history on disk. Outlives the page (deleted last).
    auto* profile = new QWebEngineProfile(&app);
    std::unique_ptr<QWebEngineView> view;
    std::unique_ptr<QWebEnginePage> page;
    if (reading) {
        page = std::make_unique<QWebEnginePage>(profile);
    } else {
        view = std::make_unique<QWebEngineView>();
        view->setObjectName(QStringLiteral("WebBrowser1"));
        view->setPage(new QWebEnginePage(profile, view.get()));
        view->resize(size);
        if (topLevel) {
            view->setWindowTitle(title);
        } else {
            // Out of sight, and left alone by the window manager, until the client takes it in.
            view->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
            view->move(-10 * size.width(), -10 * size.height());
        }
    }
    QWebEnginePage* current = reading ? page.get() : view->page();

    // Every completed load of the top document, whatever its outcome (an HTTP error page the engine
    // shows, or its own page for a server it cannot reach, report false): the limit it carries. In the
    // application's own script world, where the page's scripts cannot replace what this one calls.
    QObject::connect(current, &QWebEnginePage::loadFinished, &app, [current, reading](bool) {
        current->runJavaScript(
            zv::account::LimitScript(), QWebEngineScript::ApplicationWorld, [reading](const QVariant& value) {
                const std::optional<QString> limit
                    = value.typeId() == QMetaType::QString ? std::optional(value.toString()) : std::nullopt;
                if (!WriteAll(zv::account::LimitLine(limit)) || reading) {
                    QCoreApplication::quit();
                }
            });
    });

    // The client closes our input when it no longer wants the page.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });

    QWebEngineHttpRequest post(request->Url, QWebEngineHttpRequest::Post);
    post.setPostData(request->Body);
    for (const auto& [name, value] : request->Headers) {
        post.setHeader(name, value);
    }
    current->load(post);
    if (view) {
        view->show();
        if (!WriteAll(zv::account::WindowLine(view->winId()))) {
            return 1;
        }
    }

    const int code = QApplication::exec();
    // The pages go before their profile.
    view.reset();
    page.reset();
    delete profile;
    return code;
}
