#include "encoder/IcecastPublisher.h"

#include "encoder/EncoderLog.h"
#include "encoder/EncoderStrings.h"
#include "encoder/HttpExchange.h"
#include "encoder/SourceRefusal.h"
#include "encoder/StatusProbe.h"
#include "encoder/TlsPolicy.h"
#include "platform/Ansi.h"
#include "platform/ResStrings.h"

#include <QUrl>
#include <arpa/inet.h>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <linux/tcp.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <shout/shout.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace zv {

namespace {

void InitLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        shout_init();
        // libshout writes without MSG_NOSIGNAL: a vanished server must be a send error, not the
        // silent end of the process.
        std::signal(SIGPIPE, SIG_IGN);
    });
}

std::uint16_t PeerPort(int fd)
{
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return 0;
}

// libshout does not hand out its socket, yet only the socket tells whether bytes really reach the
// server. This process holds one TCP connection to the server's port, so look it up by its peer.
int FindConnectionSocket(std::uint16_t port)
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int found = -1;
    int matches = 0;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(dir)) {
            continue;
        }
        int type = 0;
        socklen_t size = sizeof type;
        if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM) {
            continue;
        }
        if (PeerPort(static_cast<int>(fd)) == port) {
            found = static_cast<int>(fd);
            ++matches;
        }
    }
    closedir(dir);
    return matches == 1 ? found : -1;
}

QByteArray Utf8(const QString& text)
{
    return text.toUtf8();
}

// libshout has made the TLS connection and asks whether to trust it. Its own check compares host names
// only (a numeric server never passes) and tells nobody why it failed; ours answers for every
// connection alike and keeps the reason.
int CheckCertificate(shout_t* handle, shout_event_t event, void* data, va_list)
{
    if (event != SHOUT_EVENT_TLS_CHECK_PEER_CERTIFICATE) {
        return SHOUT_CALLBACK_PASS;
    }
    auto* check = static_cast<IcecastPublisher::CertificateCheck*>(data);
    char* pem = nullptr;
    if (shout_control(handle, SHOUT_CONTROL_GET_SERVER_CERTIFICATE_CHAIN_AS_PEM, &pem) != SHOUTERR_SUCCESS) {
        check->problem = QStringLiteral("the server's certificate could not be read");
        return SHOUTERR_TLSBADCERT;
    }
    check->problem = check->policy->VerifyPem(pem);
    std::free(pem);
    return check->problem.isEmpty() ? SHOUTERR_SUCCESS : SHOUTERR_TLSBADCERT;
}

// The meaning of the metadata update's answer, for the log; empty when the server took the title.
QString TitleRefusal(const HttpExchange& exchange)
{
    if (exchange.Current() == HttpExchange::State::Failed) {
        return exchange.Error();
    }
    const int status = exchange.Status();
    if (status == 200 && exchange.Body().contains("<return>1</return>")) {
        return {};
    }
    if (status == 401) {
        return QStringLiteral("wrong source user or password");
    }
    if (status == 0) {
        return QStringLiteral("its answer is no HTTP answer");
    }
    return QStringLiteral("it answered HTTP %1").arg(status);
}

} // namespace

IcecastPublisher::IcecastPublisher(PublishTarget target)
    : IcecastPublisher(std::move(target), Limits {})
{
}

IcecastPublisher::IcecastPublisher(PublishTarget target, Limits limits)
    : target_(std::move(target))
    , limits_(limits)
{
    InitLibraryOnce();
    shout_ = shout_new();
    if (shout_ == nullptr) {
        throw EPublishError("Icecast publisher: out of memory");
    }
}

IcecastPublisher::~IcecastPublisher()
{
    Close();
    shout_free(shout_);
}

QString IcecastPublisher::Where() const
{
    return QStringLiteral("server %1:%2, publishing point %3")
        .arg(target_.host)
        .arg(target_.port)
        .arg(target_.mount);
}

void IcecastPublisher::Raise(const QString& what)
{
    throw EPublishError(QStringLiteral("%1 (%2)").arg(what, Where()));
}

void IcecastPublisher::RaiseRefused()
{
    const SourceRefusal why = AskWhySourceRefused(addresses_, target_, tls_.get(), limits_.refusalQuestion);
    switch (why.kind) {
    case SourceRefusal::Kind::WrongPassword:
        Raise(LoadResString(SSourceWrongPassword));
    case SourceRefusal::Kind::MountInUse:
        Raise(LoadResString(SSourceMountInUse));
    case SourceRefusal::Kind::Other:
        Raise(LoadResString(SSourceRefusedSaying).arg(why.serverText));
    case SourceRefusal::Kind::Unknown:
        break;
    }
    Raise(QStringLiteral(
        "The server refused the source: wrong source password, or the publishing point is already in use"));
}

QByteArray IcecastPublisher::Metadata(const QString& text) const
{
    // The source's headers carry no character set: the server reads them as its mount says.
    return target_.metadataUtf8 ? text.toUtf8() : ToLatin1Nearest(text);
}

QString ConnectHost(const QString& host)
{
    const QString name = host.endsWith(u'.') ? host.chopped(1) : host;
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || name.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive)) {
        return QStringLiteral("127.0.0.1");
    }
    return host;
}

void IcecastPublisher::ApplySettings()
{
    bool ok = shout_set_host(shout_, Utf8(ConnectHost(target_.host)).constData()) == SHOUTERR_SUCCESS;
    ok = ok && shout_set_port(shout_, target_.port) == SHOUTERR_SUCCESS;
    ok = ok && shout_set_user(shout_, Utf8(target_.user).constData()) == SHOUTERR_SUCCESS;
    ok = ok && shout_set_password(shout_, Utf8(target_.password).constData()) == SHOUTERR_SUCCESS;
    ok = ok && shout_set_mount(shout_, Utf8(target_.mount).constData()) == SHOUTERR_SUCCESS;
    ok = ok && shout_set_protocol(shout_, SHOUT_PROTOCOL_HTTP) == SHOUTERR_SUCCESS;
    ok = ok
        && shout_set_content_format(shout_, SHOUT_FORMAT_MP3, SHOUT_USAGE_AUDIO, nullptr) == SHOUTERR_SUCCESS;
    ok = ok && shout_set_nonblocking(shout_, SHOUT_BLOCKING_NONE) == SHOUTERR_SUCCESS;
    ok = ok && shout_set_agent(shout_, "zoveva-encoder") == SHOUTERR_SUCCESS;
    for (const auto& [key, value] :
        { std::pair { SHOUT_META_NAME, &target_.name }, std::pair { SHOUT_META_GENRE, &target_.genre },
            std::pair { SHOUT_META_DESCRIPTION, &target_.description } }) {
        if (!value->isEmpty()) {
            ok = ok && shout_set_meta(shout_, key, Metadata(*value).constData()) == SHOUTERR_SUCCESS;
        }
    }
    ok = ok
        && shout_set_audio_info(shout_, SHOUT_AI_BITRATE, QByteArray::number(target_.kbps).constData())
            == SHOUTERR_SUCCESS;
    ok = ok
        && shout_set_audio_info(
               shout_, SHOUT_AI_SAMPLERATE, QByteArray::number(target_.sampleRate).constData())
            == SHOUTERR_SUCCESS;
    ok = ok
        && shout_set_audio_info(shout_, SHOUT_AI_CHANNELS, QByteArray::number(target_.channels).constData())
            == SHOUTERR_SUCCESS;
    if (target_.tls) {
        // Direct TLS: the connection is TLS from its first byte or it does not come up.
        ok = ok && shout_set_tls(shout_, SHOUT_TLS_RFC2818) == SHOUTERR_SUCCESS;
        check_.policy = tls_.get();
        ok = ok && shout_set_callback(shout_, CheckCertificate, &check_) == SHOUTERR_SUCCESS;
    } else {
        ok = ok && shout_set_tls(shout_, SHOUT_TLS_DISABLED) == SHOUTERR_SUCCESS;
    }
    if (!ok) {
        Raise(QStringLiteral("Icecast publisher: the connection settings were refused (%1)")
                  .arg(QString::fromUtf8(shout_get_error(shout_))));
    }
}

void IcecastPublisher::BeginConnect()
{
    if (target_.tls && !tls_) {
        QString problem;
        tls_ = TlsPolicy::Make(target_.host, target_.tlsCaFile, problem);
        if (!tls_) {
            Raise(problem);
        }
    }
    ApplySettings();
    // libshout reports a name that does not resolve as a refused connection; say what it is. (The
    // lookup blocks like libshout's own; the caller's deadline covers both.)
    addrinfo hints {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(Utf8(ConnectHost(target_.host)).constData(), nullptr, &hints, &found);
    if (lookup != 0) {
        Raise(QStringLiteral("Cannot find the server \"%1\" (%2)")
                  .arg(target_.host, QString::fromLocal8Bit(gai_strerror(lookup))));
    }
    addresses_.clear();
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addrlen <= sizeof(sockaddr_storage)
            && (entry->ai_family == AF_INET || entry->ai_family == AF_INET6)) {
            sockaddr_storage address {};
            std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
            addresses_.push_back(address);
        }
    }
    freeaddrinfo(found);
    const int result = shout_open(shout_);
    if (result == SHOUTERR_SUCCESS || result == SHOUTERR_BUSY || result == SHOUTERR_CONNECTED) {
        return;
    }
    if (result == SHOUTERR_NOLOGIN) {
        RaiseRefused();
    }
    if (target_.tls) {
        Raise(LoadResString(SNoTlsConnection));
    }
    Raise(
        QStringLiteral("Cannot connect to the server: nothing answers there or the connection was refused"));
}

void IcecastPublisher::FindServerAddress()
{
    serverLength_ = 0;
    if (socket_ >= 0) {
        socklen_t length = sizeof server_;
        if (getpeername(socket_, reinterpret_cast<sockaddr*>(&server_), &length) == 0) {
            serverLength_ = length;
            return;
        }
    }
    // Without the stream's own socket, the first address the name gave.
    if (!addresses_.empty()) {
        server_ = addresses_.front();
        if (server_.ss_family == AF_INET6) {
            reinterpret_cast<sockaddr_in6&>(server_).sin6_port = htons(target_.port);
            serverLength_ = sizeof(sockaddr_in6);
        } else {
            reinterpret_cast<sockaddr_in&>(server_).sin_port = htons(target_.port);
            serverLength_ = sizeof(sockaddr_in);
        }
    }
}

bool IcecastPublisher::PollConnect(Clock::time_point now)
{
    const int result = shout_get_connected(shout_);
    if (result == SHOUTERR_BUSY) {
        return false;
    }
    if (result == SHOUTERR_CONNECTED) {
        socket_ = FindConnectionSocket(target_.port);
        if (socket_ >= 0) {
            // Keep the kernel's share of unsent data small, so a stalled path shows up in our own
            // counters within seconds instead of after megabytes of buffering.
            const int size = 16 * 1024;
            setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        }
        FindServerAddress();
        if (socket_ >= 0 && serverLength_ > 0) {
            probe_ = std::make_unique<StatusProbe>(server_, serverLength_, target_.host, target_.port,
                target_.mount, tls_, limits_.probePeriod, limits_.probeTimeout, now);
        }
        lastProgress_ = now;
        return true;
    }
    if (result == SHOUTERR_NOLOGIN) {
        RaiseRefused();
    }
    // Our own check refused the certificate: whatever libshout makes of the handshake it then ends
    // (under load it may report a socket error instead), that is the reason.
    if (result == SHOUTERR_TLSBADCERT || !check_.problem.isEmpty()) {
        Raise(LoadResString(SServerCertificateRefused)
                  .arg(check_.problem.isEmpty() ? QStringLiteral("it does not verify") : check_.problem));
    }
    if (target_.tls
        && (result == SHOUTERR_NOCONNECT || result == SHOUTERR_SOCKET || result == SHOUTERR_UNCONNECTED
            || result == SHOUTERR_NOTLS)) {
        Raise(LoadResString(SNoTlsConnection));
    }
    if (result == SHOUTERR_NOCONNECT || result == SHOUTERR_SOCKET || result == SHOUTERR_UNCONNECTED) {
        Raise(QStringLiteral(
            "Cannot connect to the server: nothing answers there or the connection was refused"));
    }
    Raise(QStringLiteral("The server did not accept the source (%1)")
              .arg(QString::fromUtf8(shout_get_error(shout_))));
}

bool IcecastPublisher::TlsHandshakeUnanswered() const
{
    if (!target_.tls) {
        return false;
    }
    const int socket = FindConnectionSocket(target_.port);
    tcp_info info {};
    socklen_t length = sizeof info;
    // Kernels older than the byte count (4.1) leave it out: then nothing is known.
    return socket >= 0 && getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0
        && length >= offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received
        && info.tcpi_bytes_received == 0;
}

std::size_t IcecastPublisher::KernelQueue() const
{
    int queued = 0;
    if (socket_ < 0 || ioctl(socket_, TIOCOUTQ, &queued) != 0 || queued < 0) {
        return 0;
    }
    return static_cast<std::size_t>(queued);
}

std::size_t IcecastPublisher::Pending()
{
    const ssize_t ours = shout_queuelen(shout_);
    return (ours > 0 ? static_cast<std::size_t>(ours) : 0) + KernelQueue();
}

void IcecastPublisher::WatchProgress(Clock::time_point now)
{
    const ssize_t ours = shout_queuelen(shout_);
    const std::size_t queued = ours > 0 ? static_cast<std::size_t>(ours) : 0;
    const std::size_t pending = queued + KernelQueue();
    const std::uint64_t delivered = pending < submitted_ ? submitted_ - pending : 0;
    if (delivered > delivered_ || pending == 0) {
        lastProgress_ = now;
    }
    delivered_ = std::max(delivered_, delivered);
    if (now - lastProgress_ > limits_.stall) {
        Raise(QStringLiteral("The server stopped taking the stream: nothing reached it for %1 s")
                  .arg(std::chrono::duration_cast<std::chrono::seconds>(limits_.stall).count()));
    }
    if (queued > limits_.maxBacklog) {
        Raise(QStringLiteral("The server stopped taking the stream: %1 bytes are waiting to be sent")
                  .arg(queued));
    }
}

void IcecastPublisher::Send(std::span<const std::uint8_t> bytes, Clock::time_point now)
{
    // An empty send still pushes what is queued.
    const int result = shout_send(shout_, bytes.data(), bytes.size());
    if (result != SHOUTERR_SUCCESS && result != SHOUTERR_BUSY) {
        Raise(QStringLiteral("Lost the connection to the server (%1)")
                  .arg(QString::fromUtf8(shout_get_error(shout_))));
    }
    submitted_ += bytes.size();
    WatchProgress(now);
    if (probe_) {
        if (const auto silence = probe_->Poll(now)) {
            Raise(QStringLiteral("The server stopped answering: %1").arg(*silence));
        }
    }
    PollTitle(now);
}

ListenerCount IcecastPublisher::Listeners() const
{
    return probe_ ? probe_->Listeners() : ListenerCount {};
}

void IcecastPublisher::SetSongTitle(const QString& title)
{
    wantedTitle_ = title;
}

QByteArray IcecastPublisher::TitleRequest(const QString& title) const
{
    const QByteArray host
        = target_.host.contains(u':') ? '[' + target_.host.toUtf8() + ']' : target_.host.toUtf8();
    const QByteArray credentials = (target_.user + u':' + target_.password).toUtf8().toBase64();
    // The request names the title's character set, and the server converts it for its mount: sent as
    // UTF-8, every character arrives, where Latin-1 would have lost typographic quotes and the euro.
    return "GET /admin/metadata?mode=updinfo&mount=" + QUrl::toPercentEncoding(target_.mount)
        + "&charset=UTF-8&song=" + title.toUtf8().toPercentEncoding() + " HTTP/1.0\r\nHost: " + host + ':'
        + QByteArray::number(target_.port) + "\r\nAuthorization: Basic " + credentials
        + "\r\nUser-Agent: zoveva-encoder\r\nConnection: close\r\n\r\n";
}

void IcecastPublisher::FinishTitle()
{
    const QString refusal = TitleRefusal(*titleExchange_);
    if (refusal.isEmpty()) {
        acceptedTitle_ = askedTitle_;
        EncoderLog(QStringLiteral("now playing: \"%1\"").arg(*askedTitle_));
    } else {
        EncoderLog(
            QStringLiteral("The server did not take the song title \"%1\": %2").arg(*askedTitle_, refusal));
    }
    titleExchange_.reset();
}

void IcecastPublisher::PollTitle(Clock::time_point now)
{
    if (titleExchange_) {
        if (titleExchange_->Poll() != HttpExchange::State::Working) {
            FinishTitle();
        } else if (now - titleAsked_ > limits_.probeTimeout) {
            EncoderLog(QStringLiteral("The server did not take the song title \"%1\": no answer within %2 s")
                           .arg(*askedTitle_, QString::number(limits_.probeTimeout.count() / 1000.0)));
            titleExchange_.reset();
        }
    }
    // An empty first title says nothing; a later one clears what was shown.
    if (!wantedTitle_ || wantedTitle_ == askedTitle_ || serverLength_ == 0
        || (wantedTitle_->isEmpty() && !askedTitle_)) {
        return;
    }
    titleExchange_ = std::make_unique<HttpExchange>(
        server_, serverLength_, tls_.get(), TitleRequest(*wantedTitle_), 4096);
    askedTitle_ = wantedTitle_;
    titleAsked_ = now;
}

void IcecastPublisher::Close()
{
    // Also abandons a connection still being set up; on an idle handle it only reports an error.
    probe_.reset();
    titleExchange_.reset();
    if (shout_ != nullptr) {
        shout_close(shout_);
    }
    socket_ = -1;
}

} // namespace zv
