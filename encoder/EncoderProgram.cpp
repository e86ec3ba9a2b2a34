#include "encoder/EncoderProgram.h"

#include "encoder/ControlServer.h"
#include "encoder/EncoderLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

using namespace std::chrono_literals;

// Time the stream gets to close cleanly when the process is asked to end.
constexpr auto kShutdownBound = 4s;

int g_signalWrite = -1; // written by the signal handler only

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_signalWrite, &byte, 1);
}

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the event loop's thread.
class SignalWatcher : public QObject {
public:
    explicit SignalWatcher(std::function<void()> handler)
        : handler_(std::move(handler))
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            return;
        }
        read_ = fds[0];
        g_signalWrite = fds[1];
        auto* notifier = new QSocketNotifier(read_, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char bytes[16];
            [[maybe_unused]] const auto count = read(read_, bytes, sizeof bytes);
            handler_();
        });
        struct sigaction action { };
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : { SIGINT, SIGTERM, SIGHUP }) {
            sigaction(signal, &action, nullptr);
        }
    }

private:
    std::function<void()> handler_;
    int read_ = -1;
};

void IgnoreBrokenPipes()
{
    // A server that goes away must show up as a send error, not end the process silently.
    std::signal(SIGPIPE, SIG_IGN);
}

void Print(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int RunStandalone(const QString& path, EncoderService::CaptureFactory factory)
{
    IgnoreBrokenPipes();
    EncoderService service(std::move(factory));
    bool interrupted = false;
    int interrupts = 0;
    SignalWatcher watcher([&] {
        interrupted = true;
        if (++interrupts > 1) {
            EncoderLog(QStringLiteral("interrupted again; ending at once"));
            std::fflush(nullptr);
            _exit(kExitOk);
        }
        Print(QStringLiteral("interrupted: stopping"));
        service.Stop();
    });
    QObject::connect(&service, &EncoderService::stateChanged, [&](int state, const QString& reason) {
        Print(QStringLiteral("state %1 (%2)%3")
                  .arg(state)
                  .arg(QString::fromLatin1(RunStateName(state)),
                      reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
        if (state == kStateStopped) {
            QCoreApplication::exit(interrupted ? kExitOk : kExitStreamEnded);
        }
    });
    try {
        service.Load(path);
        service.Start();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zoveva-encoder: %s\n", error.what());
        return kExitLoadFailed;
    }
    const int code = QCoreApplication::exec();
    if (!service.Shutdown(kShutdownBound)) {
        EncoderLog(QStringLiteral("the stream did not close in time; ending anyway"));
        std::fflush(nullptr);
        _exit(code);
    }
    return code;
}

int RunControlled(int fd, EncoderService::CaptureFactory factory)
{
    IgnoreBrokenPipes();
    struct stat info { };
    if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) {
        std::fprintf(stderr, "zoveva-encoder: descriptor %d is not the client's control socket\n", fd);
        return kExitUsage;
    }
    EncoderLog(QStringLiteral("started for the client"));
    EncoderService service(std::move(factory));
    ControlServer server(fd, service);
    QObject::connect(&server, &ControlServer::closed, [] { QCoreApplication::exit(kExitOk); });
    SignalWatcher watcher([] {
        EncoderLog(QStringLiteral("asked to end"));
        QCoreApplication::exit(kExitOk);
    });
    const int code = QCoreApplication::exec();
    if (!service.Shutdown(kShutdownBound)) {
        EncoderLog(QStringLiteral("the stream did not close in time; ending anyway"));
        _exit(code);
    }
    EncoderLog(QStringLiteral("ended"));
    return code;
}

} // namespace zv
