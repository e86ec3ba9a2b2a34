#include "encoder/StatusProbe.h"

#include "encoder/EncoderLog.h"
#include "encoder/HttpExchange.h"
#include "encoder/TlsPolicy.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace zv {

namespace {

// A proxy in front of the server answers these on its behalf when the server behind it is stuck.
bool GatewayFailure(int status)
{
    return status == 502 || status == 503 || status == 504;
}

// The path of a listen URL ("http://host:port/radio1" → "/radio1").
QString UrlPath(const QString& url)
{
    const qsizetype scheme = url.indexOf(QStringLiteral("://"));
    const qsizetype slash = url.indexOf(u'/', scheme < 0 ? 0 : scheme + 3);
    return slash < 0 ? QString() : url.mid(slash);
}

std::optional<int> Count(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!(number >= 0 && number <= 1e9) || number != static_cast<double>(static_cast<int>(number))) {
        return std::nullopt;
    }
    return static_cast<int>(number);
}

} // namespace

StatusReading ReadListenerCounts(QByteArrayView json, const QString& mount)
{
    StatusReading reading;
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError) {
        reading.problem = QStringLiteral("the server's status page is not JSON (%1 at byte %2)")
                              .arg(error.errorString())
                              .arg(error.offset);
        return reading;
    }
    const QJsonValue stats = document.object().value(QStringLiteral("icestats"));
    if (!stats.isObject()) {
        reading.problem = QStringLiteral("the server's status page has no \"icestats\"");
        return reading;
    }
    // One source is an object, several an array.
    const QJsonValue sources = stats.toObject().value(QStringLiteral("source"));
    const QJsonArray list = sources.isArray() ? sources.toArray() : QJsonArray { sources };
    for (const auto& entry : list) {
        const QJsonObject source = entry.toObject();
        if (UrlPath(source.value(QStringLiteral("listenurl")).toString()) != mount) {
            continue;
        }
        const auto listeners = Count(source.value(QStringLiteral("listeners")));
        const auto peak = Count(source.value(QStringLiteral("listener_peak")));
        if (!listeners) {
            reading.problem
                = QStringLiteral("the server's status page gives no listener count for %1").arg(mount);
            return reading;
        }
        reading.counts = ListenerCount { *listeners, peak.value_or(-1) };
        return reading;
    }
    reading.problem = QStringLiteral("the server's status page does not list %1").arg(mount);
    return reading;
}

StatusProbe::StatusProbe(const sockaddr_storage& server, socklen_t length, const QString& host, quint16 port,
    const QString& mount, std::shared_ptr<const TlsPolicy> tls, std::chrono::milliseconds period,
    std::chrono::milliseconds timeout, Clock::time_point now)
    : server_(server)
    , length_(length)
    , mount_(mount)
    , tls_(std::move(tls))
    , period_(period)
    , timeout_(timeout)
    , next_(now + period)
{
    const QByteArray name = host.contains(u':') ? '[' + host.toUtf8() + ']' : host.toUtf8();
    request_ = "GET /status-json.xsl?mount=" + QUrl::toPercentEncoding(mount) + " HTTP/1.0\r\nHost: " + name
        + ':' + QByteArray::number(port) + "\r\nUser-Agent: zoveva-encoder\r\nConnection: close\r\n\r\n";
}

StatusProbe::~StatusProbe() = default;

void StatusProbe::Finish(Clock::time_point now)
{
    exchange_.reset();
    next_ = now + period_;
}

void StatusProbe::Report(const QString& problem)
{
    if (problem == problem_) {
        return;
    }
    if (!problem.isEmpty()) {
        counts_ = {};
        EncoderLog(QStringLiteral("Cannot read the listener count: %1").arg(problem));
    } else {
        EncoderLog(QStringLiteral("The listener count is readable again"));
    }
    problem_ = problem;
}

void StatusProbe::ReadAnswer()
{
    const int status = exchange_->Status();
    if (status != 200) {
        Report(QStringLiteral("the server answered the status request with HTTP %1").arg(status));
        return;
    }
    if (exchange_->Truncated()) {
        Report(QStringLiteral("the server's status answer is larger than %1 KiB").arg(kMaxAnswer / 1024));
        return;
    }
    const StatusReading reading = ReadListenerCounts(exchange_->Body(), mount_);
    if (reading.counts) {
        counts_ = *reading.counts;
    }
    Report(reading.problem);
}

std::optional<QString> StatusProbe::Poll(Clock::time_point now)
{
    if (!exchange_) {
        if (now >= next_) {
            exchange_ = std::make_unique<HttpExchange>(server_, length_, tls_.get(), request_, kMaxAnswer);
            answered_ = false;
            asked_ = now;
        }
        return std::nullopt;
    }
    const HttpExchange::State state = exchange_->Poll();
    if (!answered_ && exchange_->HasStatusLine()) {
        answered_ = true;
        if (GatewayFailure(exchange_->Status())) {
            const int status = exchange_->Status();
            Finish(now);
            return QStringLiteral("its gateway answered %1 to a status request").arg(status);
        }
    }
    switch (state) {
    case HttpExchange::State::Done:
        ReadAnswer();
        Finish(now);
        return std::nullopt;
    case HttpExchange::State::Failed:
        // A refused or closed connection is the stream's to see; a certificate we refuse is news.
        if (answered_ || exchange_->CertificateRefused()) {
            Report(QStringLiteral("the status request failed: %1").arg(exchange_->Error()));
        }
        Finish(now);
        return std::nullopt;
    case HttpExchange::State::Working:
        break;
    }
    if (now - asked_ > timeout_) {
        const bool answered = answered_;
        Finish(now);
        if (!answered) {
            return QStringLiteral("no answer to a status request within %1 s").arg(timeout_.count() / 1000.0);
        }
        Report(QStringLiteral("the server's status answer was not complete within %1 s")
                   .arg(timeout_.count() / 1000.0));
    }
    return std::nullopt;
}

} // namespace zv
