#include "encoder/HttpExchange.h"

#include "encoder/TlsPolicy.h"

#include <cerrno>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <unistd.h>

namespace zv {

namespace {

QString SystemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString TlsError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return QStringLiteral("the connection was closed");
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

qsizetype HeadersEnd(const QByteArray& answer, qsizetype* separator)
{
    qsizetype end = answer.indexOf("\r\n\r\n");
    *separator = 4;
    if (end < 0) {
        end = answer.indexOf("\n\n");
        *separator = 2;
    }
    return end;
}

} // namespace

HttpExchange::HttpExchange(const sockaddr_storage& server, socklen_t length, const TlsPolicy* tls,
    QByteArray request, qsizetype maxAnswer)
    : tls_(tls)
    , request_(std::move(request))
    , maxAnswer_(maxAnswer)
{
    fd_ = socket(server.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        Fail(QStringLiteral("cannot make a socket: %1").arg(SystemError(errno)));
        return;
    }
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&server), length) != 0 && errno != EINPROGRESS) {
        Fail(QStringLiteral("cannot connect: %1").arg(SystemError(errno)));
        return;
    }
    events_ = POLLOUT;
}

HttpExchange::~HttpExchange()
{
    Release();
}

void HttpExchange::Release()
{
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
        ssl_ = nullptr;
        ERR_clear_error();
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    events_ = 0;
}

HttpExchange::State HttpExchange::Fail(const QString& why)
{
    error_ = why;
    Release();
    return state_ = State::Failed;
}

HttpExchange::State HttpExchange::Finish()
{
    Release();
    return state_ = State::Done;
}

HttpExchange::State HttpExchange::Poll()
{
    if (state_ != State::Working) {
        return state_;
    }
    if (phase_ == Phase::Connecting) {
        pollfd ready { fd_, POLLOUT, 0 };
        if (poll(&ready, 1, 0) <= 0) {
            return state_;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return Fail(QStringLiteral("cannot connect: %1").arg(SystemError(error != 0 ? error : errno)));
        }
        if (tls_ != nullptr) {
            ssl_ = SSL_new(tls_->Context());
            if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) {
                return Fail(QStringLiteral("TLS is not available: %1").arg(TlsError()));
            }
            SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
            if (!tls_->HostIsAddress()) {
                SSL_set_tlsext_host_name(ssl_, tls_->Host().toUtf8().constData());
            }
            SSL_set_connect_state(ssl_);
            phase_ = Phase::Handshaking;
        } else {
            phase_ = Phase::Sending;
        }
    }
    if (phase_ == Phase::Handshaking && Handshake() != State::Working) {
        return state_;
    }
    if (phase_ == Phase::Sending && SendRequest() != State::Working) {
        return state_;
    }
    if (phase_ == Phase::Receiving) {
        return Receive();
    }
    return state_;
}

HttpExchange::State HttpExchange::Handshake()
{
    const int result = SSL_connect(ssl_);
    if (result != 1) {
        const int error = SSL_get_error(ssl_, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            events_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
            return state_;
        }
        return Fail(QStringLiteral("the TLS handshake failed: %1").arg(TlsError()));
    }
    // Nothing is sent to a server whose certificate is not good for it.
    const QString refused = tls_->Verify(SSL_get_peer_cert_chain(ssl_));
    if (!refused.isEmpty()) {
        certificateRefused_ = true;
        return Fail(QStringLiteral("the server's certificate was not accepted: %1").arg(refused));
    }
    phase_ = Phase::Sending;
    return state_;
}

HttpExchange::State HttpExchange::SendRequest()
{
    while (sent_ < request_.size()) {
        const char* from = request_.constData() + sent_;
        const auto left = static_cast<std::size_t>(request_.size() - sent_);
        if (ssl_ != nullptr) {
            const int written = SSL_write(ssl_, from, static_cast<int>(left));
            if (written <= 0) {
                const int error = SSL_get_error(ssl_, written);
                if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                    events_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
                    return state_;
                }
                return Fail(QStringLiteral("cannot send the request: %1").arg(TlsError()));
            }
            sent_ += written;
        } else {
            const ssize_t written = send(fd_, from, left, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (written < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    events_ = POLLOUT;
                    return state_;
                }
                return Fail(QStringLiteral("cannot send the request: %1").arg(SystemError(errno)));
            }
            sent_ += written;
        }
    }
    phase_ = Phase::Receiving;
    events_ = POLLIN;
    return state_;
}

HttpExchange::State HttpExchange::Receive()
{
    char buffer[4096];
    for (;;) {
        // One byte past the bound tells a full answer from a longer one.
        const auto room = static_cast<std::size_t>(
            std::min<qsizetype>(static_cast<qsizetype>(sizeof buffer), maxAnswer_ + 1 - answer_.size()));
        ssize_t got = 0;
        if (ssl_ != nullptr) {
            const int read = SSL_read(ssl_, buffer, static_cast<int>(room));
            if (read <= 0) {
                const int error = SSL_get_error(ssl_, read);
                if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                    events_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
                    return state_;
                }
                if (error == SSL_ERROR_ZERO_RETURN || !answer_.isEmpty()) {
                    return Finish();
                }
                return Fail(QStringLiteral("no answer: %1").arg(TlsError()));
            }
            got = read;
        } else {
            got = recv(fd_, buffer, room, MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    return state_;
                }
                if (!answer_.isEmpty()) {
                    return Finish();
                }
                return Fail(QStringLiteral("no answer: %1").arg(SystemError(errno)));
            }
            if (got == 0) {
                if (answer_.isEmpty()) {
                    return Fail(QStringLiteral("the server closed the connection without answering"));
                }
                return Finish();
            }
        }
        answer_.append(buffer, got);
        if (answer_.size() > maxAnswer_) {
            answer_.truncate(maxAnswer_);
            truncated_ = true;
            return Finish();
        }
        if (WholeAnswer()) {
            return Finish();
        }
    }
}

bool HttpExchange::WholeAnswer() const
{
    qsizetype separator = 0;
    const qsizetype end = HeadersEnd(answer_, &separator);
    if (end < 0) {
        return false;
    }
    const QByteArray headers = answer_.left(end).toLower();
    const qsizetype at = headers.indexOf("\ncontent-length:");
    if (at < 0) {
        return false;
    }
    qsizetype lineEnd = headers.indexOf('\n', at + 1);
    if (lineEnd < 0) {
        lineEnd = headers.size();
    }
    bool ok = false;
    const qlonglong length = headers.mid(at + 16, lineEnd - at - 16).trimmed().toLongLong(&ok);
    return ok && length >= 0 && answer_.size() - end - separator >= length;
}

bool HttpExchange::HasStatusLine() const
{
    return answer_.size() >= 12 || answer_.contains('\n');
}

int HttpExchange::Status() const
{
    // "HTTP/1.0 200 ...": untrusted bytes, of which only the version's form and three digits count.
    if (!answer_.startsWith("HTTP/")) {
        return 0;
    }
    const qsizetype space = answer_.indexOf(' ');
    if (space < 0 || space > 9 || answer_.size() < space + 4) {
        return 0;
    }
    int status = 0;
    for (qsizetype i = space + 1; i < space + 4; ++i) {
        if (answer_[i] < '0' || answer_[i] > '9') {
            return 0;
        }
        status = status * 10 + (answer_[i] - '0');
    }
    return status;
}

QByteArray HttpExchange::Body() const
{
    qsizetype separator = 0;
    const qsizetype end = HeadersEnd(answer_, &separator);
    return end < 0 ? QByteArray() : answer_.mid(end + separator);
}

} // namespace zv
