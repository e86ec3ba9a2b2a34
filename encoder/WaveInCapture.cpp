#include "encoder/WaveInCapture.h"

#include "audio/MMWavIn.h"
#include "encoder/EncoderStrings.h"
#include "platform/ResStrings.h"
#include "platform/WaveIn.h"

#include <QStringList>

namespace zv {

ZV_DECLARE_EXCEPTION(EInputDeviceError, Exception);

std::unique_ptr<WaveInCapture> WaveInCapture::ForDevice(const QString& name)
{
    return ForDevice(name, DefaultWaveIn());
}

std::unique_ptr<WaveInCapture> WaveInCapture::ForDevice(const QString& name, WaveInOps& binding)
{
    const TMMDeviceId device = TMMWaveIn::DeviceIdOf(name, binding);
    if (device == InvalidId) {
        // The default device goes through the sound server, and goes with it: what the operator needs
        // then is to know that the station comes back by itself, not the devices that remain.
        if (name == QString::fromStdString(binding.FullName(MapperId)) && binding.SoundServerAway()) {
            throw EInputDeviceError(LoadResString(SSoundServerNotAnswering).arg(name));
        }
        // Whole names: two cut to 31 bytes may read alike.
        const QStringList names = TMMWaveIn::FullDeviceNames(binding);
        throw EInputDeviceError(
            QStringLiteral("Unknown input device \"%1\" (input devices here: %2)")
                .arg(name,
                    names.isEmpty() ? QStringLiteral("none")
                                    : u'"' + names.join(QStringLiteral("\", \"")) + u'"'));
    }
    return std::unique_ptr<WaveInCapture>(new WaveInCapture(binding, device));
}

WaveInCapture::WaveInCapture(WaveInOps& binding, TMMDeviceId device)
    : binding_(binding)
    , device_(device)
{
}

WaveInCapture::~WaveInCapture()
{
    Stop();
}

int WaveInCapture::BufferFrames(int sampleRate)
{
    return std::max(256, sampleRate / kBuffersPerSecond);
}

void WaveInCapture::Start(int sampleRate, int channels, Sink sink, Failure failure)
{
    Stop();
    auto waveIn = std::make_unique<TMMWaveIn>(binding_);
    const int frameBytes = 2 * channels;
    waveIn->SetBufferSize(BufferFrames(sampleRate) * frameBytes);
    waveIn->SetNumBuffers(2 * kBuffersPerSecond);
    waveIn->SetCallBackMode(cmThread);
    waveIn->SetMode(channels == 2 ? mStereo : mMono);
    waveIn->SetBitLength(b16Bit);
    waveIn->SetSampleRate(sampleRate);
    waveIn->SetDeviceID(device_);
    waveIn->OnBufferReady = [sink = std::move(sink), frameBytes](QObject*, PWaveHdr header) {
        sink(reinterpret_cast<const std::int16_t*>(header->lpData),
            static_cast<int>(header->dwBytesRecorded) / frameBytes);
    };
    TMMWaveIn* raw = waveIn.get();
    waveIn->OnError = [failure = std::move(failure), raw](QObject*) { failure(raw->ErrorMessage()); };
    waveIn->Open();
    waveIn->Start();
    waveIn_ = std::move(waveIn);
}

void WaveInCapture::Stop()
{
    // Destroying the component ends its capture for good, even with a buffer in hand.
    waveIn_.reset();
}

} // namespace zv
