#include "encoder/EncoderService.h"

#include "encoder/EncoderLog.h"
#include "encoder/StationLogger.h"

namespace zv {

EncoderService::EncoderService(CaptureFactory factory, QObject* parent)
    : EncoderService(std::move(factory), Options {}, parent)
{
}

EncoderService::EncoderService(CaptureFactory factory, Options options, QObject* parent)
    : QObject(parent)
    , factory_(std::move(factory))
    , options_(options)
{
}

EncoderService::~EncoderService() = default;

void EncoderService::Load(const QString& path)
{
    if (encoder_ && encoder_->RunState() != kStateStopped) {
        throw EEncoderServiceError("Cannot load an encoding file while the encoder runs; stop it first");
    }
    EncoderSettings settings = ReadEncodingFile(path);
    auto capture = factory_(settings.inputSource);
    auto encoder
        = std::make_unique<StreamingEncoder>(std::move(settings), std::move(capture), options_.stream);
    encoder->SetStateListener([this](int state, const QString& reason) {
        EncoderLog(QStringLiteral("state %1 (%2)%3")
                       .arg(state)
                       .arg(QString::fromLatin1(RunStateName(state)),
                           reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
        // From either thread; the owner hears it on its own.
        QMetaObject::invokeMethod(
            this, [this, state, reason] { emit stateChanged(state, reason); }, Qt::QueuedConnection);
    });
    StreamingEncoder* raw = encoder.get();
    encoder->SetEndedCallback([this, raw] {
        QMetaObject::invokeMethod(
            this,
            [this, raw] {
                // Closes the capture once the stream is over; the encoder may have been replaced since.
                if (encoder_.get() == raw) {
                    raw->Finish(std::chrono::milliseconds(0));
                }
            },
            Qt::QueuedConnection);
    });
    if (encoder_) {
        encoder_->Finish(options_.stream.stopDrain);
    }
    encoder_ = std::move(encoder);
    encoder_->SetRecording(encoder_->Settings().recording);
    const EncoderSettings& loaded = encoder_->Settings();
    QString extras;
    if (loaded.tls == EncoderSettings::Tls::Verified) {
        extras += loaded.tlsCaFile.isEmpty()
            ? QStringLiteral(", TLS (certificates of the system's store)")
            : QStringLiteral(", TLS (certificates of the CA file %1)").arg(loaded.tlsCaFile);
    } else if (!loaded.tlsCaFile.isEmpty()) {
        extras += QStringLiteral(", no TLS (Broadcast/@Tls is not 1, so the CA file is not used)");
    }
    if (!loaded.nowPlayingFile.isEmpty()) {
        extras += QStringLiteral(", song titles from %1").arg(loaded.nowPlayingFile);
    }
    EncoderLog(QStringLiteral(
        "loaded %1: input \"%2\", %3 kbit/s at %4 Hz, %5 channel(s), server %6:%7, publishing point %8%9")
                   .arg(path, loaded.inputSource)
                   .arg(loaded.kbps)
                   .arg(loaded.sampleRate)
                   .arg(loaded.channels)
                   .arg(loaded.host)
                   .arg(loaded.port)
                   .arg(loaded.mount, extras));
}

void EncoderService::Start()
{
    if (!encoder_) {
        throw EEncoderServiceError("No encoding file is loaded");
    }
    encoder_->Start();
}

void EncoderService::Stop()
{
    if (encoder_) {
        encoder_->RequestStop();
    }
}

int EncoderService::RunState() const
{
    return encoder_ ? encoder_->RunState() : static_cast<int>(kStateStopped);
}

QString EncoderService::LastError() const
{
    return encoder_ ? encoder_->LastError() : QString();
}

protocol::StreamDetails EncoderService::Details() const
{
    protocol::StreamDetails details;
    if (!encoder_) {
        return details;
    }
    const EncoderSettings& settings = encoder_->Settings();
    const QString host = settings.host.contains(u':') ? u'[' + settings.host + u']' : settings.host;
    details.server = QStringLiteral("%1:%2").arg(host).arg(settings.port).toStdString();
    details.mount = settings.mount.toStdString();
    details.tls = settings.tls == EncoderSettings::Tls::Verified;
    const StreamingEncoder::LiveDetails live = encoder_->Details();
    details.onAir = live.onAir;
    details.onAirMs = live.onAirTime.count();
    details.bytesSent = static_cast<std::int64_t>(live.bytesSent);
    details.listeners = live.listeners.listeners;
    details.listenerPeak = live.listeners.peak;
    details.title = live.title.toStdString();
    if (const auto recorder = encoder_->Recorder()) {
        details.recording = static_cast<std::int32_t>(recorder->CurrentState());
        details.recordingFolder = recorder->Folder().toStdString();
    }
    return details;
}

void EncoderService::ReloadRecording(const QString& path)
{
    if (!encoder_) {
        throw EEncoderServiceError("No encoding file is loaded");
    }
    const RecordingSettings recording = ReadEncodingFile(path).recording;
    const RecordingSettings& current = encoder_->Settings().recording;
    const bool running = encoder_->Recorder() != nullptr;
    if (recording.enabled == running && recording.folder == current.folder && recording.days == current.days
        && recording.minFreeBytes == current.minFreeBytes) {
        return;
    }
    encoder_->SetRecording(recording);
    if (!recording.enabled) {
        EncoderLog(QStringLiteral("recording switched off"));
    }
}

bool EncoderService::Shutdown(std::chrono::milliseconds timeout)
{
    if (!encoder_) {
        return true;
    }
    encoder_->RequestStop();
    return encoder_->Finish(timeout);
}

} // namespace zv
