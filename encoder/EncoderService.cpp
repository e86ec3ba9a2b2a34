#include "encoder/EncoderService.h"

#include "encoder/EncoderLog.h"

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
    const EncoderSettings& loaded = encoder_->Settings();
    EncoderLog(QStringLiteral(
        "loaded %1: input \"%2\", %3 kbit/s at %4 Hz, %5 channel(s), server %6:%7, publishing point %8")
                   .arg(path, loaded.inputSource)
                   .arg(loaded.kbps)
                   .arg(loaded.sampleRate)
                   .arg(loaded.channels)
                   .arg(loaded.host)
                   .arg(loaded.port)
                   .arg(loaded.mount));
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

bool EncoderService::Shutdown(std::chrono::milliseconds timeout)
{
    if (!encoder_) {
        return true;
    }
    encoder_->RequestStop();
    return encoder_->Finish(timeout);
}

} // namespace zv
