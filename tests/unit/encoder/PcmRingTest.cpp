#include "encoder/PcmRing.h"

#include <gtest/gtest.h>
#include <numeric>
#include <vector>

using namespace std::chrono_literals;

namespace {

std::vector<std::int16_t> Ramp(int from, int frames, int channels)
{
    std::vector<std::int16_t> v(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            v[static_cast<std::size_t>(i) * channels + c] = static_cast<std::int16_t>((from + i) * 10 + c);
        }
    }
    return v;
}

} // namespace

TEST(PcmRing, KeepsOrderAcrossTheWrapAndDropsTheOldestWhenFull)
{
    zv::PcmRing ring(2, 8);
    ring.Write(Ramp(0, 5, 2).data(), 5);
    std::vector<std::int16_t> out(16);
    ASSERT_EQ(ring.Read(out.data(), 3, 0ms), 3); // frames 0..2 read, 3..4 left
    ring.Write(Ramp(5, 6, 2).data(), 6); // 3..10 fills the ring and wraps
    EXPECT_EQ(ring.Dropped(), 0u);
    ring.Write(Ramp(11, 3, 2).data(), 3); // overflow: 3, 4, 5 are dropped
    EXPECT_EQ(ring.Dropped(), 3u);
    ASSERT_EQ(ring.Read(out.data(), 8, 0ms), 8);
    EXPECT_EQ(std::vector<std::int16_t>(out.begin(), out.end()), Ramp(6, 8, 2));
    EXPECT_EQ(ring.Read(out.data(), 8, 0ms), 0);
}

TEST(PcmRing, AWriteLargerThanTheRingKeepsItsNewestFrames)
{
    zv::PcmRing ring(1, 4);
    ring.Write(Ramp(0, 10, 1).data(), 10);
    std::vector<std::int16_t> out(4);
    ASSERT_EQ(ring.Read(out.data(), 4, 0ms), 4);
    EXPECT_EQ(out, Ramp(6, 4, 1));
    EXPECT_EQ(ring.Dropped(), 6u);
}

TEST(PcmRing, WakeEndsAWaitingRead)
{
    zv::PcmRing ring(1, 4);
    ring.Wake();
    std::vector<std::int16_t> out(4);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ring.Read(out.data(), 4, 10s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}
