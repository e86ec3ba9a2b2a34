#include "displays/MMLevelMath.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace {

using zv::LevelGeometry;

// The main window's bars: inner 158 x 18, spot 1, space 1, zones at 50 % and 80 %.
LevelGeometry MainBar()
{
    return LevelGeometry::Compute(158, 18, lkHorizontal, dirNormal, 1, 1, 50, 80);
}

TEST(LevelMath, MainWindowBarLightsSegmentsOnTheDecibelScale)
{
    const LevelGeometry g = MainBar();
    EXPECT_EQ(g.numSpots, 79);
    EXPECT_EQ(g.margin, 0);
    EXPECT_EQ(g.p1, 39);
    EXPECT_EQ(g.p2, 63);
    const std::pair<int, int> cases[]
        = { { 32767, 79 }, { 16384, 65 }, { 10362, 56 }, { 1000, 11 }, { 583, 0 }, { 1, 0 } };
    for (const auto& [raw, spots] : cases)
        EXPECT_EQ(zv::LevelToSpots(raw, 0, -35, true, g.numSpots), spots) << raw;
    // Gain 32 makes five times the level: -10 dB lands above full scale.
    EXPECT_GT(zv::LevelToSpots(10362, 32, -35, true, 79), 79);
    // The linear scale: the bottom is the amplitude of -35 dB.
    EXPECT_EQ(zv::LevelToSpots(32767, 0, -35, false, 79), 79);
    EXPECT_EQ(zv::LevelToSpots(static_cast<int>(zv::LinearFloor(-35)), 0, -35, false, 79), 0);
    EXPECT_EQ(zv::LevelToSpots(16384, 0, -35, false, 79), 39);
}

TEST(LevelMath, NeedleMapsDecibelsOntoItsRange)
{
    const std::pair<int, int> cases[]
        = { { 10362, 26214 }, { 1036, 13106 }, { 104, 21 }, { 32767, 32767 }, { 0, 0 } };
    for (const auto& [raw, units] : cases)
        EXPECT_EQ(zv::LevelToNeedle(raw, 0, -50, true), units) << raw;
}

TEST(LevelMath, PercentValueRoundTrips)
{
    EXPECT_EQ(zv::PercentToLevel(100), 32767);
    EXPECT_EQ(zv::PercentToLevel(150), 32767);
    EXPECT_EQ(zv::PercentToLevel(-4), 0);
    EXPECT_EQ(zv::PercentToLevel(50), 16384); // 16383.5, halves to even
    EXPECT_EQ(zv::ShownToPercent(0, 79, 0, -35, true), 0);
    EXPECT_EQ(zv::ShownToPercent(79, 79, 0, -35, true), 100);
    EXPECT_EQ(zv::ShownToPercent(56, 79, 0, -35, true), 31); // -10.19 dB
    EXPECT_EQ(zv::ShownToPercent(79, 79, 8, -35, true), 50); // gain 8 doubles the level shown
    EXPECT_EQ(zv::ShownToPercent(40, 79, 0, -35, false), 51);
}

TEST(LevelMath, StepUpDecayFallsGeometricallyAfterAPeak)
{
    zv::LevelDecay decay;
    decay.SetMode(dmStepUp);
    decay.SetDecay(8);
    EXPECT_NEAR(decay.Factor(), 0.96466f, 0.00001f);
    std::vector<int> seen { decay.Apply(32767) };
    for (int i = 0; i < 5; ++i)
        seen.push_back(decay.Apply(0));
    EXPECT_EQ(seen, (std::vector<int> { 32767, 31609, 30492, 29414, 28375, 27372 }));
    // A rise is shown at once and restarts the fall from there.
    EXPECT_EQ(decay.Apply(30000), 30000);
    EXPECT_EQ(decay.Apply(0), 28939);
    decay.SetMode(dmNone);
    EXPECT_EQ(decay.Apply(5), 5);
    decay.SetMode(dmStepUp); // starts over from rest
    EXPECT_EQ(decay.Apply(0), 0);
}

TEST(LevelMath, UniformDecayAveragesTheRingOrWhatItHasSeen)
{
    zv::LevelDecay decay;
    decay.SetMode(dmUniform);
    decay.SetDecay(8);
    EXPECT_EQ(decay.RingLength(), 14);
    EXPECT_EQ(decay.Apply(1400), 1400);
    EXPECT_EQ(decay.Apply(0), 700);
    EXPECT_EQ(decay.Apply(100), 500);
    for (int i = 0; i < 14; ++i)
        decay.Apply(140);
    EXPECT_EQ(decay.Apply(1540), (13 * 140 + 1540) / 14);
    decay.SetDecay(3); // a new length starts over
    EXPECT_EQ(decay.RingLength(), 4);
    EXPECT_EQ(decay.Apply(8), 8);
    decay.SetDecay(1);
    EXPECT_EQ(decay.RingLength(), 1);
    EXPECT_EQ(decay.Apply(5), 5);
    EXPECT_EQ(decay.Apply(9), 9);
}

TEST(LevelMath, ExponentialDecayConvergesOnTheLevel)
{
    zv::LevelDecay decay;
    decay.SetMode(dmExponential);
    decay.SetDecay(1); // factor 0.01: 99 % of the new level at once
    EXPECT_NEAR(decay.Apply(10000), 9900, 1);
    EXPECT_NEAR(decay.Apply(10000), 9999, 1);
    EXPECT_NEAR(decay.Apply(0), 100, 1);
    decay.SetDecay(17);
    EXPECT_EQ(decay.Decay(), 16);
}

TEST(LevelMath, BlockPeakReadsTheChosenChannel)
{
    zv::SampleLayout l;
    l.bits = b16Bit;
    l.mode = mStereo;
    l.samples = 3;
    const std::int16_t frames[] = { 100, -100, -300, 300, 50, 60 };
    for (const auto& [channel, peak] : { std::pair { chLeft, 300 }, { chRight, 300 }, { chBoth, 55 } }) {
        l.channel = channel;
        EXPECT_EQ(zv::BlockPeak(frames, l), peak) << channel;
    }
    l.channel = chLeft;
    l.offsetL = -100; // a DC offset of 100 removed
    EXPECT_EQ(zv::BlockPeak(frames, l), 400);
    const std::int16_t clip[] = { -32768, 0 };
    l = {};
    l.bits = b16Bit;
    l.samples = 2;
    EXPECT_EQ(zv::BlockPeak(clip, l), 32768);

    // 8-bit data is centred on 128 and scaled up.
    zv::SampleLayout b8;
    b8.samples = 1;
    const std::uint8_t top = 255;
    const std::uint8_t bottom = 0;
    EXPECT_EQ(zv::BlockPeak(&top, b8), 32512);
    EXPECT_EQ(zv::BlockPeak(&bottom, b8), 32768);
    b8.mode = mStereo;
    const std::uint8_t pair[] = { 0, 255 };
    EXPECT_EQ(zv::BlockPeak(pair, b8), 256) << "(0 + 255) div 2 - 128 = -1";

    zv::SampleLayout bytes;
    bytes.bits = b16Bit;
    bytes.mode = mStereo;
    bytes.samples = 99;
    EXPECT_EQ(bytes.BytesNeeded(), 396);
}

TEST(LevelMath, SegmentLayoutSplitsTheSpareLength)
{
    const LevelGeometry g = LevelGeometry::Compute(10, 5, lkHorizontal, dirNormal, 3, 1, 50, 85);
    EXPECT_EQ(g.numSpots, 2);
    EXPECT_EQ(g.margin, 1);
    EXPECT_EQ(g.Segment(1), QRect(1, 0, 3, 5));
    EXPECT_EQ(g.Segment(2), QRect(5, 0, 3, 5));
    EXPECT_EQ(
        LevelGeometry::Compute(10, 5, lkHorizontal, dirReversed, 3, 1, 50, 85).Segment(1), QRect(6, 0, 3, 5));
    const LevelGeometry v = LevelGeometry::Compute(4, 12, lkVertical, dirNormal, 2, 1, 50, 85);
    EXPECT_EQ(v.numSpots, 4);
    EXPECT_EQ(v.Segment(1), QRect(0, 10, 4, 2)) << "vertical bars start at the bottom";
    EXPECT_EQ(LevelGeometry::Compute(10, 5, lkHorizontal, dirNormal, 50, 1, 50, 85).spotWidth, 3);
    EXPECT_EQ(LevelGeometry::Compute(2, 1, lkHorizontal, dirNormal, 1, 10, 50, 85).numSpots, 1);
}

// The main window's bar drawn into its canvas.
class MainBarFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        dib.SetSize(158, 18);
        dib.BeginDraw();
        dib.SetDrawColor(clBlack);
        dib.Clear();
    }
    void TearDown() override { dib.EndDraw(); }
    void Draw(int count, int peak, int numPeaks)
    {
        const std::array<std::uint32_t, 3> lit { dib.ColorToPixel(clLime), dib.ColorToPixel(clYellow),
            dib.ColorToPixel(clRed) };
        zv::DrawLevelSegments(dib, bar, lit, true, count, peak, numPeaks);
    }
    // The colour of segment n as its dots show it; 0 for none.
    int SegmentColour(int n)
    {
        const QRect r = bar.Segment(n);
        const int colour = dib.GetPixel(r.x(), 0);
        for (int y = 0; y < 18; ++y)
            EXPECT_EQ(dib.GetPixel(r.x(), y), y % 2 == 0 ? colour : 0) << "segment " << n << " row " << y;
        EXPECT_EQ(dib.GetPixel(r.x() + 1, 0), 0) << "gap after segment " << n;
        return colour;
    }
    LevelGeometry bar = MainBar();
    TMMDIBCanvas dib;
};

TEST_F(MainBarFrame, ZonesAndDotRowsOfTheExample)
{
    Draw(79, 0, 2);
    for (const auto& [segment, colour] :
        { std::pair { 1, 250 }, { 39, 250 }, { 40, 251 }, { 63, 251 }, { 64, 249 }, { 79, 249 } })
        EXPECT_EQ(SegmentColour(segment), colour) << segment;
    EXPECT_EQ(bar.Segment(79).x(), 156);
}

TEST_F(MainBarFrame, PeakMarkerStandsAboveTheLevel)
{
    Draw(3, 10, 2);
    std::vector<int> lit;
    for (int n = 1; n <= 79; ++n)
        if (SegmentColour(n) != 0)
            lit.push_back(n);
    EXPECT_EQ(lit, (std::vector<int> { 1, 2, 3, 9, 10 }));
}

TEST_F(MainBarFrame, NoMarkerOnceTheLevelReachesIt)
{
    Draw(10, 10, 2);
    std::vector<int> lit;
    for (int n = 1; n <= 79; ++n)
        if (SegmentColour(n) != 0)
            lit.push_back(n);
    EXPECT_EQ(lit.size(), 10u);
    EXPECT_EQ(lit.back(), 10);
}

TEST(LevelMath, NeedleGeometryOfTheMainWindowMeter)
{
    // Inner 81 x 53, pivot 50 below, radius 53 + 50 - 12 = 91, 45 degrees of scale.
    EXPECT_EQ(zv::NeedlePoint(0, 91, 81, 53, 50, 45), QPoint(5, 19));
    EXPECT_EQ(zv::NeedlePoint(16384, 91, 81, 53, 50, 45), QPoint(40, 12));
    EXPECT_EQ(zv::NeedlePoint(32767, 91, 81, 53, 50, 45), QPoint(75, 19));
    // Half a circle: the ends lie level with the pivot.
    EXPECT_EQ(zv::NeedlePoint(0, 40, 100, 50, 0, 180), QPoint(10, 50));
    EXPECT_EQ(zv::NeedlePoint(32767, 40, 100, 50, 0, 180), QPoint(90, 50));
}

} // namespace
