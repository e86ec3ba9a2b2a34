#pragma once

#include "audio/MMObj.h"
#include "encoder/PcmCapture.h"

#include <memory>

class TMMWaveIn;

namespace zv {

class WaveInOps;

// The encoder's sound, captured with the project's wave-in from the device of that name.
class WaveInCapture : public IPcmCapture {
public:
    // Raises when no device of the binding has that name; the message lists the ones there are.
    static std::unique_ptr<WaveInCapture> ForDevice(const QString& name);
    static std::unique_ptr<WaveInCapture> ForDevice(const QString& name, WaveInOps& binding);
    ~WaveInCapture() override;

    void Start(int sampleRate, int channels, Sink sink, Failure failure) override;
    void Stop() override;

private:
    WaveInCapture(WaveInOps& binding, TMMDeviceId device);

    WaveInOps& binding_;
    TMMDeviceId device_;
    std::unique_ptr<TMMWaveIn> waveIn_; // owner's thread
};

} // namespace zv
