// Wave format record, unit conversions and block extremes.

#include "audio/MMObj.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {
TWaveFormatEx Pcm(int bits, int channels, int rate)
{
    TWaveFormatEx f {};
    MakePCMFormat(f, bits, channels, rate);
    return f;
}
} // namespace

TEST(WaveFormat, MakePCMFormatFillsDerivedFields)
{
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_EQ(WaveFormatSize(&f), 18);
    EXPECT_EQ(WaveFormatSize(nullptr), 0);
}

TEST(WaveFormat, IsPCMFormatBounds)
{
    struct Case {
        int tag, bits, channels, rate;
        bool pcm;
    };
    const Case cases[] = {
        { 1, 16, 2, 44100, true },
        { 1, 8, 1, 4000, true },
        { 1, 16, 1, 100000, true },
        { 1, 16, 2, 3999, false },
        { 1, 16, 2, 100001, false },
        { 1, 12, 2, 44100, false },
        { 1, 16, 3, 44100, false },
        { 2, 16, 2, 44100, false },
    };
    for (const Case& c : cases) {
        TWaveFormatEx f = Pcm(c.bits, c.channels, c.rate);
        f.wFormatTag = std::uint16_t(c.tag);
        EXPECT_EQ(IsPCMFormat(&f), c.pcm) << c.tag << "/" << c.bits << "/" << c.channels << "/" << c.rate;
    }
    EXPECT_FALSE(IsPCMFormat(nullptr));
}

TEST(WaveFormat, CopyIsIndependentAndSizedByTag)
{
    EXPECT_EQ(CopyWaveFormat(nullptr), nullptr);

    TWaveFormatEx pcm = Pcm(16, 2, 44100);
    pcm.cbSize = 7; // ignored for PCM
    const TWaveFormatPtr copy = CopyWaveFormat(&pcm);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), &pcm);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_EQ(copy->nAvgBytesPerSec, 176400u);

    // A compressed format carries its extra bytes along.
    alignas(4) unsigned char raw[20] = {};
    TWaveFormatEx adpcm = Pcm(4, 1, 8000);
    adpcm.wFormatTag = 2;
    adpcm.cbSize = 2;
    std::memcpy(raw, &adpcm, 18);
    raw[18] = 0xAB;
    raw[19] = 0xCD;
    const TWaveFormatPtr copy2 = CopyWaveFormat(reinterpret_cast<TWaveFormatEx*>(raw));
    ASSERT_EQ(WaveFormatSize(copy2.get()), 20);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(copy2.get())[19], 0xCD);
}

TEST(WaveFormat, ConversionsAt44100Stereo16)
{
    const TWaveFormatEx f = Pcm(16, 2, 44100);
    EXPECT_EQ(SamplesToBytes(&f, 1), 4);
    EXPECT_EQ(MsToBytes(&f, 1), 176); // 176.4
    EXPECT_EQ(MsToBytes(&f, 1000), 176400);
    EXPECT_EQ(BytesToMs(&f, 4096), 23); // 23.2
    EXPECT_EQ(BytesToMs(&f, 176400), 1000);
    EXPECT_EQ(BytesToSamples(&f, 4096), 1024);
    EXPECT_EQ(BytesToSamples(&f, 4094), 1024); // 1023.5 rounds away from zero
    EXPECT_EQ(MsToBytes(&f, INT_MAX), -1); // does not fit: failure, not a wrapped value
}

TEST(WaveFormat, ConversionsRoundUpToWholeFrames)
{
    const TWaveFormatEx mono8 = Pcm(8, 1, 11025);
    EXPECT_EQ(MsToBytes(&mono8, 1), 11); // 11.025
    const TWaveFormatEx stereo16 = Pcm(16, 2, 22050);
    EXPECT_EQ(MsToBytes(&stereo16, 1), 88); // 88.2 -> 88, already whole frames
    EXPECT_EQ(MsToBytes(&stereo16, 3), 268); // 264.6 -> 265 -> 268
    const TWaveFormatEx mono16 = Pcm(16, 1, 8000);
    EXPECT_EQ(SamplesToBytes(&mono16, 3), 6);
}

TEST(WaveFormat, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(5, 1, 4), 1);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
}

TEST(WaveFormat, PCMMinMaxLayouts)
{
    using R = std::array<std::int16_t, 4>;
    {
        const TWaveFormatEx f = Pcm(16, 2, 44100);
        const std::int16_t s[] = { 5, -3, -7, 9, 2, 0 };
        EXPECT_EQ(PCMMinMax(&f, s, sizeof s), (R { 5, -7, -3, 9 }));
        EXPECT_EQ(PCMMinMax(&f, s, 3), (R { 0, 0, 0, 0 })); // no whole frame
        EXPECT_EQ(PCMMinMax(&f, s, 7), (R { 5, 5, -3, -3 })); // cut to one whole frame
    }
    {
        const TWaveFormatEx f = Pcm(8, 1, 11025);
        const std::uint8_t s[] = { 200 };
        EXPECT_EQ(PCMMinMax(&f, s, 1), (R { 200, 200, 200, 200 }));
        EXPECT_EQ(PCMMinMax(&f, s, 0), (R { 128, 128, 128, 128 }));
    }
    {
        const TWaveFormatEx f = Pcm(16, 1, 44100);
        const std::int16_t s[] = { -32768, -32768, -32768 };
        EXPECT_EQ(PCMMinMax(&f, s, sizeof s), (R { -32768, -32767, -32768, -32767 }));
    }
    {
        // 8-bit stereo: first occurrence of an extreme wins, values back in the unsigned range.
        const TWaveFormatEx f = Pcm(8, 2, 11025);
        const std::uint8_t s[] = { 128, 255, 10, 0, 10, 255, 250, 0 };
        EXPECT_EQ(PCMMinMax(&f, s, sizeof s), (R { 10, 250, 255, 0 }));
    }
}
