#include "encoder/SourceRefusal.h"

#include "encoder/HttpExchange.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace zv {

namespace {

using Clock = std::chrono::steady_clock;

// The server's words are untrusted bytes on their way into logs and message boxes.
QString Printable(QByteArrayView text)
{
    QString out;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            break;
        }
        if (c >= 0x20 && c < 0x7f) {
            out += QLatin1Char(c);
        }
    }
    return out.trimmed().left(100);
}

socklen_t LengthOf(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

void SetPort(sockaddr_storage& address, quint16 port)
{
    if (address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
    }
}

// Waits for `events` on fd until the deadline; false when it passed first or the socket failed.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd wait { fd, events, 0 };
        const int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && (wait.revents & (events | POLLHUP | POLLERR)) != 0;
    }
}

QByteArray Request(const PublishTarget& target)
{
    const QByteArray host
        = target.host.contains(u':') ? '[' + target.host.toUtf8() + ']' : target.host.toUtf8();
    const QByteArray credentials = (target.user + u':' + target.password).toUtf8().toBase64();
    return "PUT " + target.mount.toUtf8() + " HTTP/1.0\r\nHost: " + host + ':'
        + QByteArray::number(target.port) + "\r\nAuthorization: Basic " + credentials
        + "\r\nUser-Agent: zoveva-encoder\r\nContent-Type: audio/mpeg\r\n\r\n";
}

// One attempt on one address: the answer's first bytes, empty when none came.
QByteArray Ask(
    sockaddr_storage address, const PublishTarget& target, const TlsPolicy* tls, Clock::time_point deadline)
{
    SetPort(address, target.port);
    // Icecast closes the connection after a refusal; the status line and a short body are all we need.
    HttpExchange exchange(address, LengthOf(address), tls, Request(target), 2048);
    while (exchange.Poll() == HttpExchange::State::Working) {
        if (exchange.HasStatusLine() && exchange.Status() / 100 == 2) {
            break; // accepted after all: nothing more to learn, and the source must not linger
        }
        if (!WaitFor(exchange.Fd(), exchange.Events(), deadline)) {
            break;
        }
    }
    return exchange.Answer();
}

} // namespace

SourceRefusal ClassifySourceAnswer(QByteArrayView answer)
{
    SourceRefusal refusal;
    if (!answer.startsWith("HTTP/") || answer.size() < 12) {
        return refusal;
    }
    const qsizetype space = answer.indexOf(' ');
    if (space < 0 || answer.size() < space + 4) {
        return refusal;
    }
    int status = 0;
    for (qsizetype i = space + 1; i < space + 4; ++i) {
        if (answer[i] < '0' || answer[i] > '9') {
            return refusal;
        }
        status = status * 10 + (answer[i] - '0');
    }
    if (status >= 200 && status < 300) {
        return refusal;
    }
    const qsizetype headersEnd = answer.indexOf("\r\n\r\n");
    const QByteArrayView body = headersEnd >= 0 ? answer.sliced(headersEnd + 4) : QByteArrayView();
    if (status == 401) {
        refusal.kind = SourceRefusal::Kind::WrongPassword;
    } else if (status == 403 && QByteArray(body.data(), body.size()).toLower().contains("in use")) {
        refusal.kind = SourceRefusal::Kind::MountInUse;
    } else {
        refusal.kind = SourceRefusal::Kind::Other;
    }
    // What the server said: its message body, else the status line's reason.
    refusal.serverText = Printable(body);
    if (refusal.serverText.isEmpty()) {
        refusal.serverText = Printable(answer.sliced(space + 1));
    }
    return refusal;
}

SourceRefusal AskWhySourceRefused(const std::vector<sockaddr_storage>& addresses, const PublishTarget& target,
    const TlsPolicy* tls, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (const sockaddr_storage& address : addresses) {
        if (Clock::now() >= deadline) {
            break;
        }
        const QByteArray answer = Ask(address, target, tls, deadline);
        if (!answer.isEmpty()) {
            return ClassifySourceAnswer(answer);
        }
    }
    return {};
}

} // namespace zv
