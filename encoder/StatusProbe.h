#pragma once

#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <sys/socket.h>

namespace zv {

class HttpExchange;
class TlsPolicy;

// Listeners of our publishing point, as the server's status page counts them; -1 while not known.
struct ListenerCount {
    int listeners = -1;
    int peak = -1;
};

// What a status page (Icecast's status-json.xsl) says of the publishing point `mount`.
struct StatusReading {
    std::optional<ListenerCount> counts;
    QString problem; // why there are no counts
};
StatusReading ReadListenerCounts(QByteArrayView json, const QString& mount);

// Asks the streaming server for its status page at a steady pace while we publish. A server that
// stops reading our stream still takes bytes into its kernel's buffers, for minutes at low bitrates,
// so only an answer proves it alive. The question is one fixed request on a connection of its own
// to the address the stream goes to (with TLS when the stream uses it), for our publishing point only.
// No status line within the timeout, or a gateway answering 502/503/504 for it, means the server is
// gone; a refused or closed connection is left to the stream, which sees that itself. The rest of the
// answer gives the listener count: read up to a bound and within the same timeout, and whatever is
// wrong with it (too large, cut off, late, not a status page) costs the count and one log line, never
// the stream. Never blocks; one thread uses it.
class StatusProbe {
public:
    using Clock = std::chrono::steady_clock;

    // The answer is read up to this size; a status page for one publishing point is about 1 KiB.
    static constexpr qsizetype kMaxAnswer = 64 * 1024;

    StatusProbe(const sockaddr_storage& server, socklen_t length, const QString& host, quint16 port,
        const QString& mount, std::shared_ptr<const TlsPolicy> tls, std::chrono::milliseconds period,
        std::chrono::milliseconds timeout, Clock::time_point now);
    ~StatusProbe();
    StatusProbe(const StatusProbe&) = delete;
    StatusProbe& operator=(const StatusProbe&) = delete;

    // Moves the current question on; the reason when the server has failed to answer.
    std::optional<QString> Poll(Clock::time_point now);

    // From the last answer that could be read.
    ListenerCount Listeners() const { return counts_; }
    // Why the listener count is not known; empty while it is read fine.
    const QString& CountProblem() const { return problem_; }
    // A question is out; its status line has come.
    bool Asking() const { return exchange_ != nullptr; }
    bool Answered() const { return exchange_ != nullptr && answered_; }

private:
    void Finish(Clock::time_point now);
    void ReadAnswer();
    void Report(const QString& problem);

    sockaddr_storage server_;
    socklen_t length_;
    QString mount_;
    std::shared_ptr<const TlsPolicy> tls_;
    std::chrono::milliseconds period_;
    std::chrono::milliseconds timeout_;
    QByteArray request_;
    std::unique_ptr<HttpExchange> exchange_;
    bool answered_ = false; // the current question's status line has come
    Clock::time_point asked_ {};
    Clock::time_point next_;
    ListenerCount counts_;
    QString problem_;
};

} // namespace zv
