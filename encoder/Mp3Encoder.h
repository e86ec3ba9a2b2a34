#pragma once

#include "platform/Exception.h"

#include <cstdint>
#include <span>
#include <vector>

struct lame_global_struct;

namespace zv {

ZV_DECLARE_EXCEPTION(EMp3EncoderError, Exception);

// Constant-bitrate MP3 encoder over LAME for a live stream: no tag frames, input and output at the
// same sample rate. Not thread-safe; one thread feeds it.
class Mp3Encoder {
public:
    // Quality 2: near the best LAME offers, at a cost of a few percent of one core at our bitrates.
    static constexpr int kDefaultQuality = 2;
    // Largest number of frames one Encode call hands to LAME; longer input is split.
    static constexpr int kMaxChunkFrames = 4096;

    Mp3Encoder(int sampleRate, int channels, int kbps, int quality = kDefaultQuality);
    ~Mp3Encoder();
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // Encodes interleaved 16-bit frames. The returned bytes stay valid until the next call.
    std::span<const std::uint8_t> Encode(const std::int16_t* interleaved, int frames);
    // Ends the stream: what LAME still holds, padded to whole frames.
    std::span<const std::uint8_t> Flush();

    int Channels() const { return channels_; }

private:
    lame_global_struct* lame_ = nullptr;
    int channels_;
    std::vector<std::uint8_t> out_; // all encoded bytes of one call
    std::vector<std::uint8_t> step_; // LAME's output buffer for one chunk, sized once
};

} // namespace zv
