#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace zv {

// Where the encoder's sound comes from. The sink runs on the capture thread and must not block.
class IPcmCapture {
public:
    using Sink = std::function<void(const std::int16_t* interleaved, int frames)>;
    // The device failed while capturing (unplugged, ...); called on the owner's thread.
    using Failure = std::function<void(const QString& reason)>;

    virtual ~IPcmCapture() = default;
    // Opens and starts the device as 16-bit PCM; raises an Exception with a readable message.
    virtual void Start(int sampleRate, int channels, Sink sink, Failure failure) = 0;
    // Stops and closes the device; the sink is not called afterwards.
    virtual void Stop() = 0;
};

} // namespace zv
