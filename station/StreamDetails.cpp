#include "station/StreamDetails.h"

#include "platform/ResStrings.h"
#include "station/Recording.h"
#include "station/StationStrings.h"

#include <QStringList>

namespace {

const QString kSeparator = QStringLiteral(" \u2014 ");

} // namespace

QString OnAirTimeText(std::int64_t ms)
{
    const std::int64_t seconds = std::max<std::int64_t>(ms, 0) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString SentBytesText(std::int64_t bytes)
{
    bytes = std::max<std::int64_t>(bytes, 0);
    if (bytes < 1'000'000) {
        return QStringLiteral("%1 kB").arg(bytes / 1000);
    }
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / 1e6, 0, 'f', 1);
}

QString StreamDetailsText(const QString& statusText, const TStreamDetails& details)
{
    QStringList parts { statusText };
    if (!details.Server.isEmpty()) {
        const QString where = details.Server + details.Mount;
        parts << (details.Tls ? zv::LoadResString(zv::SDetailsTls).arg(where) : where);
    }
    if (details.OnAir) {
        parts << OnAirTimeText(details.OnAirMs) << SentBytesText(details.BytesSent);
        if (details.Listeners >= 0) {
            // One listener takes the singular; none and several the plural, in the three languages.
            const bool one = details.Listeners == 1;
            parts << (details.ListenerPeak >= 0
                    ? zv::LoadResString(one ? zv::SDetailsListenerPeak : zv::SDetailsListenersPeak)
                          .arg(details.Listeners)
                          .arg(details.ListenerPeak)
                    : zv::LoadResString(one ? zv::SDetailsListener : zv::SDetailsListeners)
                          .arg(details.Listeners));
        }
        if (!details.Title.isEmpty()) {
            parts << zv::LoadResString(zv::SDetailsTitle).arg(details.Title);
        }
    }
    // Also off the air: the recording goes on while the server is away.
    if (const QString recording = RecordingDetailsText(details); !recording.isEmpty()) {
        parts << recording;
    }
    return parts.join(kSeparator);
}

QString TStreamDetailsWatch::Poll(IEncoderApp* app, const QString& statusText, const LogLine& log)
{
    TStreamDetails details;
    std::shared_ptr<IEncoder> encoder;
    // For the display only: an encoder that cannot say costs the details, never the poll.
    if (app && Succeeded(app->GetEncoder(encoder)) && encoder && Failed(encoder->GetStreamDetails(details))) {
        details = {};
    }
    // A connection ends when its encoder goes off the air or is replaced by a new one.
    if (onAir_ && (!details.OnAir || app != app_ || details.OnAirMs < onAir_->OnAirMs)) {
        if (log) {
            log(zv::LoadResString(zv::SConnectionEnded)
                    .arg(onAir_->Server + onAir_->Mount, OnAirTimeText(onAir_->OnAirMs),
                        SentBytesText(onAir_->BytesSent)));
        }
        onAir_.reset();
    }
    if (details.OnAir) {
        onAir_ = details;
        app_ = app;
    }
    last_ = details;
    return StreamDetailsText(statusText, details);
}
