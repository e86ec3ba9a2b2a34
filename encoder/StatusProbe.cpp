#include "encoder/StatusProbe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace zv {

namespace {

// A proxy in front of the server answers these on its behalf when the server behind it is stuck.
bool GatewayFailure(int status)
{
    return status == 502 || status == 503 || status == 504;
}

} // namespace

StatusProbe::StatusProbe(const sockaddr_storage& server, socklen_t length, const QString& host, quint16 port,
    std::chrono::milliseconds period, std::chrono::milliseconds timeout, Clock::time_point now)
    : server_(server)
    , length_(length)
    , period_(period)
    , timeout_(timeout)
    , next_(now + period)
{
    const QByteArray name = host.toUtf8().left(200);
    const bool literal6 = host.contains(u':');
    requestLength_ = std::snprintf(request_, sizeof request_,
        "GET /status-json.xsl HTTP/1.0\r\nHost: %s%s%s:%u\r\nUser-Agent: zoveva-encoder\r\nConnection: "
        "close\r\n\r\n",
        literal6 ? "[" : "", name.constData(), literal6 ? "]" : "", static_cast<unsigned>(port));
    requestLength_ = std::min(requestLength_, static_cast<int>(sizeof request_) - 1);
}

StatusProbe::~StatusProbe()
{
    if (fd_ >= 0) {
        close(fd_);
    }
}

void StatusProbe::Ask(Clock::time_point now)
{
    fd_ = socket(server_.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        next_ = now + period_;
        return;
    }
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&server_), length_) != 0 && errno != EINPROGRESS) {
        Finish(now);
        return;
    }
    phase_ = Phase::Connecting;
    asked_ = now;
    received_ = 0;
}

void StatusProbe::Finish(Clock::time_point now)
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    phase_ = Phase::Idle;
    next_ = now + period_;
}

std::optional<QString> StatusProbe::Poll(Clock::time_point now)
{
    if (phase_ == Phase::Idle) {
        if (now >= next_) {
            Ask(now);
        }
        return std::nullopt;
    }
    if (now - asked_ > timeout_) {
        Finish(now);
        return QStringLiteral("no answer to a status request within %1 s").arg(timeout_.count() / 1000.0);
    }
    if (phase_ == Phase::Connecting) {
        pollfd ready { fd_, POLLOUT, 0 };
        if (poll(&ready, 1, 0) <= 0) {
            return std::nullopt;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0
            || send(fd_, request_, static_cast<size_t>(requestLength_), MSG_NOSIGNAL | MSG_DONTWAIT)
                != requestLength_) {
            Finish(now);
            return std::nullopt;
        }
        phase_ = Phase::Waiting;
        return std::nullopt;
    }
    const ssize_t n
        = recv(fd_, status_ + received_, sizeof status_ - 1 - static_cast<size_t>(received_), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return std::nullopt;
    }
    if (n > 0) {
        received_ += static_cast<int>(n);
        if (received_ < static_cast<int>(sizeof status_) - 1) {
            return std::nullopt;
        }
    }
    // The status line's start, or whatever came before the connection closed: untrusted bytes, of
    // which only "HTTP/" and three digits are taken.
    status_[received_] = '\0';
    int status = 0;
    if (received_ >= 12 && std::strncmp(status_, "HTTP/", 5) == 0) {
        for (int i = 9; i < 12 && status_[i] >= '0' && status_[i] <= '9'; ++i) {
            status = status * 10 + (status_[i] - '0');
        }
    }
    Finish(now);
    if (GatewayFailure(status)) {
        return QStringLiteral("its gateway answered %1 to a status request").arg(status);
    }
    return std::nullopt;
}

} // namespace zv
