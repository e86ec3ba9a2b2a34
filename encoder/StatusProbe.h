#pragma once

#include <QString>
#include <chrono>
#include <optional>
#include <sys/socket.h>

namespace zv {

// Asks the streaming server for its status page at a steady pace while we publish. A server that
// stops reading our stream still takes bytes into its kernel's buffers, for minutes at low bitrates,
// so only an answer proves it alive. The question is one fixed request on a connection of its own
// to the address the stream goes to; of the answer only the status line is read. No answer within
// the timeout, or a gateway answering 502/503/504 for it, means it is gone; a refused or closed
// connection is left to the stream, which sees that itself. Never blocks; allocates nothing after
// construction; one thread uses it.
class StatusProbe {
public:
    using Clock = std::chrono::steady_clock;

    StatusProbe(const sockaddr_storage& server, socklen_t length, const QString& host, quint16 port,
        std::chrono::milliseconds period, std::chrono::milliseconds timeout, Clock::time_point now);
    ~StatusProbe();
    StatusProbe(const StatusProbe&) = delete;
    StatusProbe& operator=(const StatusProbe&) = delete;

    // Moves the current question on; the reason when the server has failed to answer.
    std::optional<QString> Poll(Clock::time_point now);

private:
    enum class Phase { Idle, Connecting, Waiting };

    void Ask(Clock::time_point now);
    void Finish(Clock::time_point now);

    sockaddr_storage server_;
    socklen_t length_;
    std::chrono::milliseconds period_;
    std::chrono::milliseconds timeout_;
    char request_[512];
    int requestLength_ = 0;
    char status_[13] = {}; // "HTTP/1.1 200 " is all we read
    int received_ = 0;
    int fd_ = -1;
    Phase phase_ = Phase::Idle;
    Clock::time_point asked_ {};
    Clock::time_point next_;
};

} // namespace zv
