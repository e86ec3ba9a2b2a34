#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <sys/socket.h>

struct ssl_st;

namespace zv {

class TlsPolicy;

// One HTTP/1.0 request and its answer on a connection of its own, plain or TLS (the server's
// certificate checked by the policy before a byte is sent), never waiting: each Poll moves it on as far
// as the socket allows. The answer is kept up to a bound; what comes beyond it is not read. The caller
// keeps the deadline. One thread uses it.
class HttpExchange {
public:
    enum class State {
        Working,
        Done, // the whole answer is in (the server closed, or its Content-Length arrived), or the bound was
              // reached
        Failed, // see Error()
    };

    // `tls` null: plain. The policy must outlive the exchange.
    HttpExchange(const sockaddr_storage& server, socklen_t length, const TlsPolicy* tls, QByteArray request,
        qsizetype maxAnswer);
    ~HttpExchange();
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    State Poll();
    State Current() const { return state_; }

    // Whether the status line has arrived; its code (0 when what came is no HTTP status line).
    bool HasStatusLine() const;
    int Status() const;
    // Status line, headers and body as received so far, at most the bound.
    const QByteArray& Answer() const { return answer_; }
    QByteArray Body() const;
    // More came than the bound.
    bool Truncated() const { return truncated_; }
    // Why it failed.
    const QString& Error() const { return error_; }
    // It failed because the server's certificate was not good for it.
    bool CertificateRefused() const { return certificateRefused_; }

    // What to wait for before the next Poll: the socket and POLLIN or POLLOUT (-1 when finished).
    int Fd() const { return state_ == State::Working ? fd_ : -1; }
    short Events() const { return events_; }

private:
    enum class Phase { Connecting, Handshaking, Sending, Receiving };

    State Fail(const QString& why);
    State Finish();
    State Handshake();
    State SendRequest();
    State Receive();
    bool WholeAnswer() const;
    void Release();

    const TlsPolicy* tls_;
    QByteArray request_;
    qsizetype maxAnswer_;
    int fd_ = -1;
    ssl_st* ssl_ = nullptr;
    Phase phase_ = Phase::Connecting;
    State state_ = State::Working;
    short events_ = 0;
    qsizetype sent_ = 0;
    QByteArray answer_;
    bool truncated_ = false;
    bool certificateRefused_ = false;
    QString error_;
};

} // namespace zv
