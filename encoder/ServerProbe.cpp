#include "encoder/ServerProbe.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace zv {

namespace {

// A proxy in front of the server answers these on its behalf when the server behind it is stuck.
bool GatewayFailure(int status)
{
    return status == 502 || status == 503 || status == 504;
}

} // namespace

ServerProbe::ServerProbe(QObject* parent)
    : ServerProbe(Timing {}, parent)
{
}

ServerProbe::ServerProbe(Timing timing, QObject* parent)
    : QObject(parent)
    , timing_(timing)
    , network_(new QNetworkAccessManager(this))
    , timer_(new QTimer(this))
{
    // Straight to the server, as the stream itself goes.
    network_->setProxy(QNetworkProxy::NoProxy);
    timer_->setInterval(static_cast<int>(timing_.period.count()));
    connect(timer_, &QTimer::timeout, this, &ServerProbe::Ask);
}

ServerProbe::~ServerProbe()
{
    Stop();
}

void ServerProbe::Start(const QString& host, quint16 port)
{
    Stop();
    host_ = host;
    port_ = port;
    reported_ = false;
    timer_->start();
}

void ServerProbe::Stop()
{
    timer_->stop();
    if (reply_ != nullptr) {
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void ServerProbe::Ask()
{
    if (reply_ != nullptr) {
        return; // the previous question is still within its own timeout
    }
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host_);
    url.setPort(port_);
    url.setPath(QStringLiteral("/status-json.xsl"));
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(timing_.timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("zoveva-encoder"));
    answered_ = false;
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &ServerProbe::OnHeaders);
    connect(reply_, &QNetworkReply::finished, this, &ServerProbe::OnFinished);
}

void ServerProbe::OnHeaders()
{
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && !GatewayFailure(status.toInt())) {
        // The status line is all we need; the body is not read.
        answered_ = true;
        reply_->abort();
    }
}

void ServerProbe::OnFinished()
{
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();
    if (answered_) {
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && !GatewayFailure(status.toInt())) {
        return;
    }
    const bool silent = reply->error() == QNetworkReply::OperationCanceledError
        || reply->error() == QNetworkReply::TimeoutError;
    // Refusals and closed connections are left to the stream itself, which sees them at once; only
    // silence, or a gateway speaking for a stuck server, is this probe's to report.
    if (reported_ || (!silent && !status.isValid())) {
        return;
    }
    reported_ = true;
    timer_->stop();
    const QString why = silent
        ? QStringLiteral("no answer to a status request within %1 s").arg(timing_.timeout.count() / 1000.0)
        : QStringLiteral("its gateway answered %1").arg(status.toInt());
    emit unresponsive(
        QStringLiteral("The server stopped answering: %1 (server %2:%3)").arg(why, host_).arg(port_));
}

} // namespace zv
