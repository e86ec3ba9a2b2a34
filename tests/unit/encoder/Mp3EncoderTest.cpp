#include "encoder/Mp3Encoder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <vector>

using zv::Mp3Encoder;

namespace {

struct FrameInfo {
    int kbps;
    int sampleRate;
};

// Walks MPEG audio layer III frame headers; stops at the first byte that is not a frame.
std::vector<FrameInfo> Frames(const std::vector<std::uint8_t>& data, std::size_t* consumed)
{
    static const int kMpeg1[] = { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0 };
    static const int kMpeg2[] = { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0 };
    static const int kRates[3][3]
        = { { 44100, 48000, 32000 }, { 22050, 24000, 16000 }, { 11025, 12000, 8000 } };
    std::vector<FrameInfo> frames;
    std::size_t pos = 0;
    while (pos + 4 <= data.size()) {
        const std::uint8_t* h = &data[pos];
        if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0 || ((h[1] >> 1) & 3) != 1) {
            break;
        }
        const int version = (h[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int rateIndex = (h[2] >> 2) & 3;
        if (version == 1 || rateIndex == 3) {
            break;
        }
        const int family = version == 3 ? 0 : version == 2 ? 1 : 2;
        const int kbps = (version == 3 ? kMpeg1 : kMpeg2)[h[2] >> 4];
        const int rate = kRates[family][rateIndex];
        const int padding = (h[2] >> 1) & 1;
        const int length = (version == 3 ? 144 : 72) * kbps * 1000 / rate + padding;
        if (kbps == 0 || length < 4) {
            break;
        }
        frames.push_back({ kbps, rate });
        pos += static_cast<std::size_t>(length);
    }
    *consumed = pos;
    return frames;
}

std::vector<std::int16_t> Tone(int sampleRate, int channels, int frames)
{
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 1000.0 * i / sampleRate));
        for (int c = 0; c < channels; ++c) {
            pcm[static_cast<std::size_t>(i) * channels + c] = v;
        }
    }
    return pcm;
}

} // namespace

// Every frame of the output carries the profile's bitrate and sample rate: constant bitrate, no tag
// frames, whatever size the captured blocks have.
TEST(Mp3Encoder, WritesConstantBitrateFramesAtTheProfileRate)
{
    const struct {
        int rate;
        int channels;
        int kbps;
    } cases[] = { { 32000, 2, 32 }, { 48000, 2, 64 }, { 48000, 2, 96 }, { 48000, 2, 128 }, { 48000, 1, 64 },
        { 22050, 2, 128 } };
    for (const auto& c : cases) {
        Mp3Encoder encoder(c.rate, c.channels, c.kbps);
        const auto pcm = Tone(c.rate, c.channels, c.rate * 2);
        std::vector<std::uint8_t> out;
        // Blocks of odd sizes, and one larger than the encoder's own chunk.
        int done = 0;
        for (int block : { 1, 1023, 9000, 4096, 333 }) {
            const auto bytes
                = encoder.Encode(pcm.data() + static_cast<std::size_t>(done) * c.channels, block);
            out.insert(out.end(), bytes.begin(), bytes.end());
            done += block;
        }
        const auto rest
            = encoder.Encode(pcm.data() + static_cast<std::size_t>(done) * c.channels, c.rate * 2 - done);
        out.insert(out.end(), rest.begin(), rest.end());
        const auto tail = encoder.Flush();
        out.insert(out.end(), tail.begin(), tail.end());

        std::size_t consumed = 0;
        const auto frames = Frames(out, &consumed);
        EXPECT_EQ(consumed, out.size()) << c.kbps << " kbit/s: bytes outside frames";
        // Two seconds of sound, give or take the encoder's delay and padding.
        const int samplesPerFrame = c.rate >= 32000 ? 1152 : 576;
        EXPECT_NEAR(static_cast<double>(frames.size()) * samplesPerFrame / c.rate, 2.0, 0.1) << c.kbps;
        std::set<std::pair<int, int>> kinds;
        for (const auto& f : frames) {
            kinds.insert({ f.kbps, f.sampleRate });
        }
        EXPECT_EQ(kinds, (std::set<std::pair<int, int>> { { c.kbps, c.rate } }))
            << c.kbps << " kbit/s at " << c.rate;
    }
}

TEST(Mp3Encoder, RefusesSettingsLameCannotKeep)
{
    EXPECT_THROW(Mp3Encoder(8000, 2, 128), zv::EMp3EncoderError);
    EXPECT_THROW(Mp3Encoder(48000, 3, 64), zv::EMp3EncoderError);
    EXPECT_THROW(Mp3Encoder(48000, 2, 65), zv::EMp3EncoderError);
}
