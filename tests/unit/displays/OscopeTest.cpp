#include "displays/MMOscopeMath.h"

#include <QImage>
#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace {

using zv::OscopeCore;

QRgb Rgb(TColor c)
{
    return zv::ColorToQRgb(c);
}

// The oscilloscope as the main window sets it up, on a 170 x 56 drawing area.
struct MainScope {
    OscopeCore core;
    TMMDIBCanvas dib;
    int pcmOverflows = 0;
    int gainOverflows = 0;

    MainScope()
    {
        core.SetArea(170, 56);
        core.SetKind(okCzoVevas);
        core.SetColor(OscopeCore::ForegroundColor, clLime);
        core.SetBitLength(b16Bit);
        core.SetSampleRate(44100);
        core.SetMode(mStereo);
        core.PcmOverflow = [this] { ++pcmOverflows; };
        core.GainOverflow = [this] { ++gainOverflows; };
        dib.SetSize(170, 56);
    }

    // Frames of left/right pairs, as many as a block needs (more for zoomed blocks).
    static std::vector<std::int16_t> Pairs(int frames, std::int16_t l, std::int16_t r)
    {
        std::vector<std::int16_t> d(std::size_t(frames) * 2);
        for (int i = 0; i < frames; ++i) {
            d[std::size_t(2 * i)] = l;
            d[std::size_t(2 * i + 1)] = r;
        }
        return d;
    }

    QImage Frame(const std::vector<std::int16_t>& data)
    {
        core.Take(data.data());
        TMMDIBDrawScope scope(dib);
        core.DrawFrame(dib);
        return dib.ToImage();
    }

    // Rows of column x that are not background.
    static std::vector<int> Lit(const QImage& img, int x)
    {
        std::vector<int> rows;
        for (int y = 0; y < img.height(); ++y)
            if (img.pixel(x, y) != Rgb(clBlack))
                rows.push_back(y);
        return rows;
    }
};

TEST(Oscope, MainWindowLayout)
{
    MainScope s;
    EXPECT_EQ(s.core.BytesNeeded(), 680);
    EXPECT_EQ(s.core.MidRow(), 28);
    EXPECT_EQ(s.core.GridDivisions(), 4);
    EXPECT_EQ(s.core.BlockMs(), 4);
    // A block shows frames 0 ... 169, left and right averaged toward zero.
    std::vector<std::int16_t> ramp(680 / 2);
    for (int i = 0; i < 170; ++i) {
        ramp[std::size_t(2 * i)] = std::int16_t(i * 100 + 1);
        ramp[std::size_t(2 * i + 1)] = std::int16_t(-i * 100);
    }
    s.core.Take(ramp.data());
    for (int i = 0; i < 170; ++i)
        ASSERT_EQ(s.core.ScopeData()[std::size_t(i)], 0) << i; // (i·100 + 1 − i·100) / 2 = 0
    ramp[2 * 169 + 1] = 32767;
    s.core.Take(ramp.data());
    EXPECT_EQ(s.core.ScopeData()[169], (16901 + 32767) / 2);
}

TEST(Oscope, SilenceFullScaleAndNegativeFullScaleRows)
{
    MainScope s;
    QImage img = s.Frame(MainScope::Pairs(170, 0, 0));
    for (int x = 0; x < 170; ++x)
        ASSERT_EQ(MainScope::Lit(img, x), std::vector<int> { 28 }) << x;

    img = s.Frame(MainScope::Pairs(170, 32767, 32767));
    EXPECT_EQ(MainScope::Lit(img, 100), std::vector<int> { 0 });
    EXPECT_EQ(s.pcmOverflows, 169) << "every drawn column but the first";
    img = s.Frame(MainScope::Pairs(170, -32768, -32768));
    EXPECT_EQ(MainScope::Lit(img, 100), std::vector<int> { 55 });
    EXPECT_EQ(s.pcmOverflows, 169) << "negative full scale is no overflow";
    EXPECT_EQ(s.gainOverflows, 0);
}

TEST(Oscope, ZoomStretchesOrCompressesTime)
{
    MainScope s;
    std::vector<std::int16_t> ramp(2 * 170 * 9);
    for (std::size_t i = 0; i < ramp.size() / 2; ++i)
        ramp[2 * i] = ramp[2 * i + 1] = std::int16_t(i);
    struct Case {
        int zoom, stored, bytes, frameOfColumn9;
    };
    for (const Case c : { Case { -1, -1, 344, 4 }, Case { 2, 2, 1360, 18 }, Case { 0, 2, 1360, 18 },
             Case { 12, 9, 6120, 81 }, Case { -20, -9, 72, 0 } }) {
        s.core.SetZoom(c.zoom);
        EXPECT_EQ(s.core.Zoom(), c.stored) << c.zoom;
        EXPECT_EQ(s.core.BytesNeeded(), c.bytes) << c.zoom;
        s.core.Take(ramp.data());
        EXPECT_EQ(s.core.ScopeData()[9], c.frameOfColumn9) << c.zoom;
    }
    s.core.SetZoom(-1);
    s.core.Take(ramp.data());
    EXPECT_EQ(s.core.ScopeData()[168], 84);
    EXPECT_EQ(s.core.ScopeData()[169], 84) << "each of 85 frames twice";
}

TEST(Oscope, DeviceColumnsShowTheLogicalTimeSpanWithValuesBetweenSamples)
{
    // A ramp of ten per frame: a column between two frames reads the value between them.
    std::vector<std::int16_t> ramp(2 * 170 * 4);
    for (std::size_t i = 0; i < ramp.size() / 2; ++i)
        ramp[2 * i] = ramp[2 * i + 1] = std::int16_t(10 * i);
    struct Case {
        qreal ratio;
        int zoom, width, column, value;
    };
    for (const Case c : { Case { 2.0, 1, 340, 9, 45 }, Case { 2.0, 1, 340, 339, 1690 },
             Case { 1.5, 2, 255, 9, 120 }, Case { 1.5, 2, 255, 10, 133 }, Case { 1.5, -1, 255, 10, 33 } }) {
        OscopeCore core;
        core.SetBitLength(b16Bit);
        core.SetMode(mStereo);
        core.SetZoom(c.zoom);
        const int logicalBytes = [&] {
            core.SetArea(170, 56);
            return core.BytesNeeded();
        }();
        core.SetPixelRatio(c.ratio);
        core.SetArea(c.width, 84);
        SCOPED_TRACE(testing::Message() << c.ratio << " zoom " << c.zoom << " column " << c.column);
        EXPECT_EQ(core.BytesNeeded(), logicalBytes) << "the same time span as the logical width";
        core.Take(ramp.data());
        EXPECT_EQ(core.ScopeData()[std::size_t(c.column)], c.value);
    }
}

TEST(Oscope, StepsDrawEveryKthColumn)
{
    MainScope s;
    s.core.SetKind(okDots);
    for (const auto& [in, out] : { std::pair { 3, 3 }, std::pair { 0, 1 }, std::pair { 20, 9 } }) {
        s.core.SetSteps(in);
        EXPECT_EQ(s.core.Steps(), out) << in;
    }
    s.core.SetSteps(3);
    const QImage img = s.Frame(MainScope::Pairs(170, 1000, 1000));
    for (int x = 0; x < 170; ++x)
        EXPECT_EQ(MainScope::Lit(img, x).size(), x % 3 == 0 ? 1u : 0u) << x;
}

TEST(Oscope, GainDoublesAndOnlyLevelsAboveTheAreaOverflow)
{
    MainScope s;
    s.core.SetKind(okDots);
    EXPECT_TRUE(s.core.SetGain(8));
    EXPECT_FALSE(s.core.SetGain(40));
    EXPECT_FALSE(s.core.SetGain(-9));
    EXPECT_EQ(s.core.Gain(), 8);
    struct Case {
        std::int16_t sample;
        std::vector<int> rows;
        int overflows;
    };
    for (const Case& c : { Case { 16000, { 0 }, 0 }, Case { 16500, {}, 0 }, Case { 17000, {}, 1 },
             Case { -16000, { 55 }, 0 }, Case { -17000, {}, 0 } }) {
        s.gainOverflows = 0;
        std::vector<std::int16_t> d = MainScope::Pairs(170, 0, 0);
        d[2 * 50] = d[2 * 50 + 1] = c.sample;
        const QImage img = s.Frame(d);
        EXPECT_EQ(MainScope::Lit(img, 50), c.rows) << c.sample;
        EXPECT_EQ(s.gainOverflows, c.overflows) << c.sample;
    }
}

TEST(Oscope, LowPassSmoothsASingleSample)
{
    MainScope s;
    s.core.SetLowPass(true);
    std::vector<std::int16_t> d = MainScope::Pairs(170, 0, 0);
    d[2 * 10] = d[2 * 10 + 1] = 4000;
    s.core.Take(d.data());
    EXPECT_EQ(s.core.ScopeData()[9], 0);
    EXPECT_EQ(s.core.ScopeData()[10], 3000);
    EXPECT_EQ(s.core.ScopeData()[11], 1000);
    EXPECT_EQ(s.core.ScopeData()[12], 0);
}

TEST(Oscope, SpikesOfSilenceLieOnTheBottomRow)
{
    MainScope s;
    s.core.SetKind(okSpikes);
    const QImage img = s.Frame(MainScope::Pairs(170, 0, 0));
    for (int x = 0; x < 170; ++x)
        ASSERT_EQ(MainScope::Lit(img, x), std::vector<int> { 55 }) << x;
    const QImage loud = s.Frame(MainScope::Pairs(170, -32768, -32768));
    EXPECT_EQ(MainScope::Lit(loud, 7).size(), 56u) << "-32768 counts as 32768: the full height";
}

TEST(Oscope, DisabledShowsOnlyTheShortMiddleLine)
{
    MainScope s;
    s.core.SetEnabled(false);
    const QImage img = s.Frame(MainScope::Pairs(170, 20000, 20000));
    for (int x = 0; x < 170; ++x) {
        const bool onLine = x >= 5 && x < 165;
        ASSERT_EQ(MainScope::Lit(img, x), onLine ? std::vector<int> { 28 } : std::vector<int> {}) << x;
        if (onLine) {
            ASSERT_EQ(img.pixel(x, 28), Rgb(clGray));
        }
    }
}

TEST(Oscope, EffectsColourTheHighLevels)
{
    MainScope s;
    s.core.SetColor(OscopeCore::EffectColor, clRed);
    std::vector<std::int16_t> d = MainScope::Pairs(170, 0, 0);
    d[2 * 20] = d[2 * 20 + 1] = 30000; // near the top: level 53, row 2
    d[2 * 40] = d[2 * 40 + 1] = 8000; // level 34, row 21: between the efPeak limits

    s.core.SetKind(okDots);
    s.core.SetEffect(efPeak);
    EXPECT_EQ(s.core.EffectLow(), 18);
    EXPECT_EQ(s.core.EffectHigh(), 38);
    QImage img = s.Frame(d);
    EXPECT_EQ(img.pixel(20, 2), Rgb(clRed));
    EXPECT_EQ(img.pixel(40, 21), Rgb(clLime));

    s.core.SetKind(okVertLines);
    img = s.Frame(d);
    for (int y = 2; y <= 6; ++y)
        EXPECT_EQ(img.pixel(20, y), Rgb(clRed)) << "five-pixel mark at the tip, row " << y;
    EXPECT_EQ(img.pixel(20, 7), Rgb(clLime));
    EXPECT_EQ(img.pixel(40, 21), Rgb(clLime));

    s.core.SetEffect(efSplit);
    img = s.Frame(d);
    EXPECT_EQ(img.pixel(40, 21), Rgb(clRed)) << "efSplit: the whole line above the middle";
    EXPECT_EQ(img.pixel(40, 27), Rgb(clRed));

    s.core.SetKind(okMirLines);
    img = s.Frame(d);
    // Level 34 > MidRow: the line spans rows 21 ... 33; the half from the middle up to the level
    // row is the foreground, the other half the effect.
    EXPECT_EQ(img.pixel(40, 30), Rgb(clLime));
    EXPECT_EQ(img.pixel(40, 22), Rgb(clRed));
}

TEST(Oscope, ScrollModeChartsBlockMinimaAndMaxima)
{
    MainScope s;
    s.core.SetKind(okDots);
    s.core.SetScroll(true);
    s.core.SetFFTLength(100);
    EXPECT_EQ(s.core.FFTLength(), 64);
    EXPECT_EQ(s.core.BytesNeeded(), 256);
    EXPECT_EQ(s.core.ScrollStep(), 64);
    s.core.SetAccelerate(false);
    EXPECT_EQ(s.core.ScrollStep(), 0);

    std::vector<std::int16_t> block = MainScope::Pairs(64, 0, 0);
    block[2 * 5] = 20000, block[2 * 5 + 1] = 10000; // the maximum comes first
    block[2 * 9] = -8000, block[2 * 9 + 1] = -12000;
    s.core.Take(block.data());
    EXPECT_EQ(s.core.ScopeData()[0], 15000);
    EXPECT_EQ(s.core.ScopeData()[1], -10000);

    TMMDIBDrawScope scope(s.dib);
    s.core.ScrollStart(s.dib);
    EXPECT_EQ(s.core.ScrollPos(), -5);
    // The trace follows the sweep bar BarWidth columns behind it.
    int x = 0;
    for (int b = 0; b < 170; ++b)
        x = s.core.ScrollBlock(s.dib);
    EXPECT_EQ(x, 164);
    EXPECT_EQ(s.core.SweepCount(), 170);
    const auto pixel = [&](TColor c) { return int(s.dib.ColorToPixel(c)); };
    const int top = 56 - s.core.Level(15000) - 1, bottom = 56 - s.core.Level(-10000) - 1;
    EXPECT_EQ(s.dib.GetPixel(164, top), pixel(clLime));
    EXPECT_EQ(s.dib.GetPixel(164, bottom), pixel(clLime));
    EXPECT_EQ(s.dib.GetPixel(167, 40), pixel(clGray)) << "the sweep bar";
    // Full: every further block moves the chart one column to the left.
    s.core.Take(MainScope::Pairs(64, 0, 0).data());
    EXPECT_EQ(s.core.ScrollBlock(s.dib), 165);
    EXPECT_EQ(s.dib.GetPixel(163, top), pixel(clLime));
    EXPECT_EQ(s.dib.GetPixel(165, top), pixel(clBlack));
    EXPECT_EQ(s.dib.GetPixel(165, 28), pixel(clLime)) << "silence";
}

TEST(Oscope, SelectionBounds)
{
    MainScope s;
    struct Case {
        int a, b, start, end;
    };
    for (const Case c : { Case { 10, 20, 10, 20 }, Case { 20, 10, 10, 20 }, Case { -5, 30, -1, 30 },
             Case { 5, 500, 5, 170 }, Case { 7, 7, -1, -1 }, Case { -3, -2, -1, -1 } }) {
        s.core.SetSelection(c.a, c.b);
        EXPECT_EQ(s.core.SelStart(), c.start) << c.a << "," << c.b;
        EXPECT_EQ(s.core.SelEnd(), c.end) << c.a << "," << c.b;
    }
}

TEST(Oscope, RejectedFormatChangesNothing)
{
    MainScope s;
    TWaveFormatEx bad {};
    MakePCMFormat(bad, 16, 6, 44100);
    EXPECT_THROW(s.core.SetPCMFormat(&bad), EMMOscopeError);
    try {
        s.core.SetPCMFormat(nullptr);
    } catch (const EMMOscopeError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    EXPECT_EQ(s.core.BytesNeeded(), 680);
    TWaveFormatEx ok {};
    MakePCMFormat(ok, 8, 1, 96000);
    s.core.SetPCMFormat(&ok);
    EXPECT_EQ(s.core.SampleRate(), 88200);
    EXPECT_EQ(s.core.BytesNeeded(), 170);
}

TEST(Oscope, EveryStyleAndEffectOnTinyAreasWithExtremes)
{
    std::vector<std::int16_t> wild(2 * 4096 * 9);
    for (std::size_t i = 0; i < wild.size(); ++i)
        wild[i] = i % 3 == 0 ? 32767 : (i % 3 == 1 ? -32768 : std::int16_t(i * 7919));
    for (const auto kind : { okDots, okCzoVevas, okVertLines, okMirLines, okSpikes }) {
        for (const auto effect : { efNone, efPeak, efSplit }) {
            for (const auto& [w, h] : { std::pair { 1, 1 }, std::pair { 4, 4 }, std::pair { 7, 5 } }) {
                for (const bool scroll : { false, true }) {
                    OscopeCore c;
                    c.SetArea(w, h);
                    c.SetKind(kind);
                    c.SetEffect(effect);
                    c.SetBitLength(b16Bit);
                    c.SetMode(mStereo);
                    c.SetGain(32);
                    c.SetZoom(-9);
                    c.SetScroll(scroll);
                    c.SetDrawGrid(true);
                    c.SetDrawMidLine(true);
                    c.SetSelection(1, 3);
                    c.SetLocator(2);
                    TMMDIBCanvas dib;
                    dib.SetSize(c.W(), c.H());
                    TMMDIBDrawScope scope(dib);
                    c.ScrollStart(dib);
                    for (int f = 0; f < 12; ++f) {
                        c.Take(wild.data() + f);
                        if (scroll)
                            c.ScrollBlock(dib);
                        else
                            c.DrawFrame(dib);
                    }

                    // The area is never smaller than 4 x 4; every pixel is one of the scope's
                    // colours; the trace shows, except in a scrolling chart no wider than its sweep
                    // bar, whose new columns go to the bar's left (here off the area).
                    const auto where = ::testing::Message() << int(kind) << "/" << int(effect) << " " << w
                                                            << "x" << h << (scroll ? " scroll" : "");
                    EXPECT_EQ(c.W(), std::max(w, 4)) << where;
                    EXPECT_EQ(c.H(), std::max(h, 4)) << where;
                    std::set<std::uint32_t> colours { dib.ColorToPixel(c.BackColor()) };
                    for (int i = 0; i < OscopeCore::ColorCount; ++i)
                        colours.insert(dib.ColorToPixel(c.Color(i)));
                    const std::set<std::uint32_t> traced { dib.ColorToPixel(
                                                               c.Color(OscopeCore::ForegroundColor)),
                        dib.ColorToPixel(c.Color(OscopeCore::EffectColor)) };
                    bool trace = false;
                    for (int y = 0; y < c.H(); ++y) {
                        for (int x = 0; x < c.W(); ++x) {
                            const auto p = std::uint32_t(dib.GetPixel(x, y));
                            EXPECT_TRUE(colours.count(p)) << where << ": " << x << "," << y << " " << p;
                            trace = trace || traced.count(p);
                        }
                    }
                    if (!scroll || c.W() > c.BarWidth()) {
                        EXPECT_TRUE(trace) << where;
                    }
                }
            }
        }
    }
}

} // namespace
