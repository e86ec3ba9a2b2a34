#pragma once

#include "encoder/PublishTarget.h"
#include "encoder/StatusProbe.h"
#include "platform/Exception.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <sys/socket.h>
#include <vector>

struct shout;

namespace zv {
class HttpExchange;
class TlsPolicy;
} // namespace zv

namespace zv {

ZV_DECLARE_EXCEPTION(EPublishError, Exception);

// The name to connect to for `host`: the loopback address for "localhost" and every name under it,
// which are this machine by definition (RFC 6761) and which a browser resolves so on its own, while
// the system's resolver knows only "localhost" itself; any other host as it is.
QString ConnectHost(const QString& host);

// Publishes an MP3 stream to an Icecast 2 mount as a source client. Nothing here blocks: connecting
// and sending advance on each call, so the caller keeps its own deadlines. One thread uses it.
class IcecastPublisher {
public:
    using Clock = std::chrono::steady_clock;

    struct Limits {
        // No byte reached the server for this long while some were waiting: the path to it is gone.
        // (A server that merely stopped reading keeps taking bytes into its kernel's buffers; that
        // case is the status probe's.)
        std::chrono::milliseconds stall { 10000 };
        // While publishing, the server is asked for its status page this often and must answer
        // within the timeout: a frozen server is given up within period + timeout.
        std::chrono::milliseconds probePeriod { 10000 };
        std::chrono::milliseconds probeTimeout { 10000 };
        // Bytes waiting in our own queue beyond this also mean it stopped taking the stream.
        std::size_t maxBacklog = 512 * 1024;
        // Time granted to the server to say why it refused the source.
        std::chrono::milliseconds refusalQuestion { 1000 };
    };

    explicit IcecastPublisher(PublishTarget target);
    IcecastPublisher(PublishTarget target, Limits limits);
    ~IcecastPublisher();
    IcecastPublisher(const IcecastPublisher&) = delete;
    IcecastPublisher& operator=(const IcecastPublisher&) = delete;

    // Starts connecting. Throws EPublishError when it cannot even begin.
    void BeginConnect();
    // Advances connecting; true once the server has accepted the source. Throws EPublishError on refusal.
    bool PollConnect(Clock::time_point now);
    // While connecting with TLS: the connection to the server is up and the server has sent nothing on
    // it, so our handshake got no answer (a TLS server answers at once; a plain HTTP port waits for a
    // request that never comes).
    bool TlsHandshakeUnanswered() const;
    // Queues the bytes and pushes what the connection takes. Throws EPublishError when the connection
    // is lost or the server stopped taking data.
    void Send(std::span<const std::uint8_t> bytes, Clock::time_point now);
    // Bytes accepted by Send that the server has not acknowledged yet (best knowledge).
    std::size_t Pending();
    void Close();

    // Stream bytes that reached the server (best knowledge).
    std::uint64_t Delivered() const { return delivered_; }
    // Our listeners, from the status requests; -1 while not known.
    ListenerCount Listeners() const;

    // The song title to show on the stream. Sent with the next Send once connected (a title given
    // while one is still on its way replaces it); a title the server refuses is logged, the stream
    // goes on. Nothing waits for the server.
    void SetSongTitle(const QString& title);
    // The last title the server took on this connection.
    const std::optional<QString>& AcceptedTitle() const { return acceptedTitle_; }

    QString Where() const;

    // What libshout's certificate callback needs, and what it finds.
    struct CertificateCheck {
        const TlsPolicy* policy = nullptr;
        QString problem; // why the server's certificate was refused
    };

private:
    void ApplySettings();
    QByteArray Metadata(const QString& text) const;
    [[noreturn]] void RaiseRefused();
    void WatchProgress(Clock::time_point now);
    std::size_t KernelQueue() const;
    [[noreturn]] void Raise(const QString& what);
    void FindServerAddress();
    void PollTitle(Clock::time_point now);
    void FinishTitle();
    QByteArray TitleRequest(const QString& title) const;

    PublishTarget target_;
    Limits limits_;
    shout* shout_ = nullptr;
    int socket_ = -1; // the connection's socket, when we could find it; only inspected
    std::unique_ptr<StatusProbe> probe_;
    std::vector<sockaddr_storage> addresses_; // the server's, as BeginConnect found them
    sockaddr_storage server_ {}; // the address the stream went to, once connected
    socklen_t serverLength_ = 0;
    std::shared_ptr<const TlsPolicy> tls_; // with TLS
    CertificateCheck check_;
    std::optional<QString> wantedTitle_; // the latest title given
    std::optional<QString> askedTitle_; // the latest title a request went out for
    std::optional<QString> acceptedTitle_;
    std::unique_ptr<HttpExchange> titleExchange_;
    Clock::time_point titleAsked_ {};
    std::uint64_t submitted_ = 0;
    std::uint64_t delivered_ = 0;
    Clock::time_point lastProgress_ {};
};

} // namespace zv
