#include "encoder/StatusProbe.h"

#include "tests/support/Wait.h"

#include <QFile>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using zv::ReadListenerCounts;
using zv::StatusProbe;

// Icecast's status-json.xsl with one source is an object, with several an array.
TEST(StatusProbe, ReadsTheCountsOfOurMountOnly)
{
    const QString mount = QStringLiteral("/radio1");
    const QByteArray one
        = R"({"icestats":{"source":{"listenurl":"http://h:8000/radio1","listeners":3,"listener_peak":14}}})";
    const QByteArray several = R"({"icestats":{"source":[
        {"listenurl":"http://h:8000/radio10","listeners":99,"listener_peak":99},
        {"listenurl":"http://h:8000/radio1","listeners":0,"listener_peak":2}]}})";
    const struct {
        const char* name;
        QByteArray json;
        int listeners; // -1: no counts
        int peak;
        const char* problem;
    } cases[] = {
        { "one source", one, 3, 14, "" },
        { "several sources", several, 0, 2, "" },
        { "no peak", R"({"icestats":{"source":{"listenurl":"http://h/radio1","listeners":1}}})", 1, -1, "" },
        { "not listed", R"({"icestats":{"source":{"listenurl":"http://h:8000/radio10","listeners":1}}})", -1,
            -1, "the server's status page does not list /radio1" },
        { "no sources", R"({"icestats":{"server_id":"Icecast 2.4.4"}})", -1, -1,
            "the server's status page does not list /radio1" },
        { "count not a number", R"({"icestats":{"source":{"listenurl":"http://h/radio1","listeners":"3"}}})",
            -1, -1, "the server's status page gives no listener count for /radio1" },
        { "negative count", R"({"icestats":{"source":{"listenurl":"http://h/radio1","listeners":-2}}})", -1,
            -1, "the server's status page gives no listener count for /radio1" },
        { "no icestats", R"({"stats":{}})", -1, -1, "the server's status page has no \"icestats\"" },
        { "HTML", "<html><body>It works!</body></html>", -1, -1, "the server's status page is not JSON" },
        { "nothing", "", -1, -1, "the server's status page is not JSON" },
    };
    for (const auto& c : cases) {
        const zv::StatusReading reading = ReadListenerCounts(c.json, mount);
        EXPECT_EQ(reading.counts ? reading.counts->listeners : -1, c.listeners) << c.name;
        EXPECT_EQ(reading.counts ? reading.counts->peak : -1, c.peak) << c.name;
        EXPECT_EQ(
            reading.problem.left(static_cast<qsizetype>(std::strlen(c.problem))).toStdString(), c.problem)
            << c.name << ": " << reading.problem.toStdString();
        EXPECT_EQ(reading.problem.isEmpty(), *c.problem == '\0') << c.name;
    }
}

namespace {

// A status page on loopback that answers each connection with the next of its answers (the last one
// again when they run out). An answer is sent whole and the connection closed, or, with `hold`, only
// its first `held` bytes, keeping the connection open until the server ends.
class FakeStatusServer {
public:
    struct Answer {
        QByteArray bytes;
        bool hold = false;
        qsizetype held = 0;
    };

    explicit FakeStatusServer(std::vector<Answer> answers)
        : answers_(std::move(answers))
    {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in in {};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr*>(&in), sizeof in);
        listen(listen_, 4);
        socklen_t length = sizeof address_;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address_), &length);
        pipe(stop_);
        thread_ = std::thread([this] { Serve(); });
    }

    ~FakeStatusServer()
    {
        close(stop_[1]);
        thread_.join();
        close(stop_[0]);
        close(listen_);
    }

    const sockaddr_storage& Address() const { return address_; }
    std::string LastRequest()
    {
        std::lock_guard lock(mutex_);
        return request_;
    }

private:
    // Waits for the socket or the end; false at the end.
    bool Wait(int fd)
    {
        pollfd fds[2] = { { fd, POLLIN, 0 }, { stop_[0], POLLIN, 0 } };
        return poll(fds, 2, -1) > 0 && (fds[1].revents & (POLLIN | POLLHUP)) == 0;
    }

    void Serve()
    {
        for (std::size_t next = 0; Wait(listen_); ++next) {
            const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos && Wait(client)) {
                const ssize_t got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(got));
            }
            {
                std::lock_guard lock(mutex_);
                request_ = request;
            }
            const Answer& answer = answers_[std::min(next, answers_.size() - 1)];
            const qsizetype size = answer.hold ? answer.held : answer.bytes.size();
            for (qsizetype sent = 0; sent < size;) {
                const ssize_t n = send(client, answer.bytes.constData() + sent,
                    static_cast<std::size_t>(size - sent), MSG_NOSIGNAL);
                if (n <= 0) {
                    break; // the probe stopped reading
                }
                sent += n;
            }
            if (answer.hold) {
                Wait(stop_[0]);
            }
            close(client);
        }
    }

    std::vector<Answer> answers_;
    int listen_ = -1;
    int stop_[2] = { -1, -1 };
    sockaddr_storage address_ {};
    std::mutex mutex_;
    std::string request_;
    std::thread thread_;
};

constexpr auto kPeriod = 10s;
constexpr auto kTimeout = 10s;

// Sends the probe's question at `at` and lets it run (in real time, at that moment of its clock) until
// `done` says so, for a few seconds at most.
template <typename Done>
std::optional<QString> Ask(StatusProbe& probe, StatusProbe::Clock::time_point at, Done done)
{
    std::optional<QString> said = probe.Poll(at);
    EXPECT_TRUE(probe.Asking());
    zv::test::WaitUntil([&] { return said || done() || (said = probe.Poll(at)); }, 5s, 2ms);
    return said;
}

// The probe's log lines, which go to standard error.
class StandardErrorCapture {
public:
    StandardErrorCapture()
    {
        saved_ = dup(STDERR_FILENO);
        const QByteArray path = QFile::encodeName(dir_.filePath(QStringLiteral("stderr")));
        file_ = open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(file_, STDERR_FILENO);
    }
    ~StandardErrorCapture() { Restore(); }
    QString Restore()
    {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            close(file_);
            saved_ = -1;
        }
        QFile file(dir_.filePath(QStringLiteral("stderr")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryDir dir_;
    int saved_ = -1;
    int file_ = -1;
};

} // namespace

// Whatever is wrong with the status answer costs the listener count, says so once, and never ends the
// stream; a good answer brings the count back.
TEST(StatusProbe, AStatusAnswerThatCannotBeReadCostsOnlyTheCount)
{
    const QByteArray good
        = "HTTP/1.0 200 OK\r\nContent-Type: text/javascript\r\n\r\n"
          R"({"icestats":{"source":{"listenurl":"http://h:8000/rádio","listeners":3,"listener_peak":5}}})";
    FakeStatusServer server({
        { "HTTP/1.0 200 OK\r\n\r\n<html>garbage" },
        { "HTTP/1.0 200 OK\r\n\r\n<html>garbage again" },
        { good },
        { "HTTP/1.0 200 OK\r\n\r\n" + QByteArray(2 * 1024 * 1024, '[') },
        { "HTTP/1.0 404 Not Found\r\n\r\nnothing here" },
    });
    const auto t0 = StatusProbe::Clock::now();
    StatusProbe probe(server.Address(), sizeof(sockaddr_in), QStringLiteral("ns1.example.test"), 8000,
        QStringLiteral("/rádio"), nullptr, kPeriod, kTimeout, t0);
    StandardErrorCapture log;
    const auto run = [&](int question) {
        return Ask(probe, t0 + question * (kPeriod + 1s), [&] { return !probe.Asking(); });
    };

    EXPECT_EQ(run(1), std::nullopt);
    EXPECT_EQ(server.LastRequest().substr(0, server.LastRequest().find('\r')),
        "GET /status-json.xsl?mount=%2Fr%C3%A1dio HTTP/1.0");
    EXPECT_TRUE(probe.CountProblem().startsWith(QStringLiteral("the server's status page is not JSON")));
    EXPECT_EQ(run(2), std::nullopt);
    EXPECT_EQ(probe.Listeners().listeners, -1);

    EXPECT_EQ(run(3), std::nullopt);
    EXPECT_EQ(probe.Listeners().listeners, 3);
    EXPECT_EQ(probe.Listeners().peak, 5);
    EXPECT_TRUE(probe.CountProblem().isEmpty());

    EXPECT_EQ(run(4), std::nullopt);
    EXPECT_EQ(probe.CountProblem(), QStringLiteral("the server's status answer is larger than 64 KiB"));
    EXPECT_EQ(probe.Listeners().listeners, -1) << "an old count is not shown as the current one";

    EXPECT_EQ(run(5), std::nullopt);
    EXPECT_EQ(probe.CountProblem(), QStringLiteral("the server answered the status request with HTTP 404"));

    const QString lines = log.Restore();
    EXPECT_EQ(
        lines.count(QStringLiteral("Cannot read the listener count: the server's status page is not JSON")),
        1)
        << lines.toStdString();
    EXPECT_EQ(lines.count(QStringLiteral("The listener count is readable again")), 1) << lines.toStdString();
    EXPECT_EQ(lines.count(QStringLiteral("Cannot read the listener count")), 3) << lines.toStdString();
}

// Only the status line proves the server alive: a body that never ends costs the count, while no
// status line at all, or a gateway's 503 for it, means the server is gone.
TEST(StatusProbe, ASlowBodyIsNoSilenceButAMissingStatusLineIs)
{
    const auto t0 = StatusProbe::Clock::now();
    const auto late = t0 + kPeriod + kTimeout + 1s;
    const auto probeOf = [&](const FakeStatusServer& server) {
        return std::make_unique<StatusProbe>(server.Address(), sizeof(sockaddr_in), QStringLiteral("h"), 8000,
            QStringLiteral("/radio1"), nullptr, kPeriod, kTimeout, t0);
    };
    {
        const QByteArray answer = "HTTP/1.0 200 OK\r\n\r\n{\"icestats\":{\"source\":";
        FakeStatusServer slow({ { answer, true, answer.size() } });
        auto probe = probeOf(slow);
        EXPECT_EQ(Ask(*probe, t0 + kPeriod, [&] { return probe->Answered(); }), std::nullopt);
        ASSERT_TRUE(probe->Answered());
        EXPECT_EQ(probe->Poll(late), std::nullopt);
        EXPECT_EQ(
            probe->CountProblem(), QStringLiteral("the server's status answer was not complete within 10 s"));
        EXPECT_FALSE(probe->Asking());
    }
    {
        FakeStatusServer silent({ { "HTTP/1.0 200 OK", true, 0 } });
        auto probe = probeOf(silent);
        Ask(*probe, t0 + kPeriod, [&] { return !silent.LastRequest().empty(); });
        EXPECT_EQ(probe->Poll(late), QStringLiteral("no answer to a status request within 10 s"));
    }
    {
        FakeStatusServer gateway({ { "HTTP/1.1 503 Service Unavailable\r\n\r\n" } });
        auto probe = probeOf(gateway);
        EXPECT_EQ(Ask(*probe, t0 + kPeriod, [&] { return !probe->Asking(); }),
            QStringLiteral("its gateway answered 503 to a status request"));
    }
}
