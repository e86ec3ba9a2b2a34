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

    // Buffers of half a second, two seconds of them. A stream to a server and listeners that buffer
    // seconds gains nothing from shorter ones, and every buffer wakes the capture, hand-over and
    // streaming threads once each: at 100 ms those wake-ups cost a fifth as much as the MP3 encoding.
    static constexpr int kBuffersPerSecond = 2;
    // The frames of one buffer, what the streaming thread gets at a time.
    static int BufferFrames(int sampleRate);

    void Start(int sampleRate, int channels, Sink sink, Failure failure) override;
    void Stop() override;

private:
    WaveInCapture(WaveInOps& binding, TMMDeviceId device);

    WaveInOps& binding_;
    TMMDeviceId device_;
    std::unique_ptr<TMMWaveIn> waveIn_; // owner's thread
};

} // namespace zv
