#include "displays/MMSpectrMath.h"
#include "tests/support/Wait.h"

#include <QImage>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

namespace {

using zv::SpectrumCore;

constexpr double Pi = 3.141592653589793238462643383280;

// Peak markers move only when a test ticks.
struct ManualTimer {
    ManualTimer() { zv::DisplayTimerService::Instance().SetManual(true); }
};

void Tick(int count)
{
    for (int i = 0; i < count; ++i)
        zv::DisplayTimerService::Instance().Tick();
}

// 16-bit stereo frames, left and right equal: a sum of cosines (frequency in Hz, amplitude).
std::vector<std::int16_t> Tones(int frames, int rate, std::vector<std::pair<double, double>> tones)
{
    std::vector<std::int16_t> data(std::size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        double v = 0;
        for (const auto& [hz, amp] : tones)
            v += amp * std::cos(2 * Pi * hz * i / rate);
        const auto s = std::int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
        data[std::size_t(2 * i)] = s;
        data[std::size_t(2 * i + 1)] = s;
    }
    return data;
}

// The spectrum as the main window sets it up, on a 170 x 56 drawing area.
struct MainSpectrum : ManualTimer {
    SpectrumCore core;
    TMMDIBCanvas dib;

    MainSpectrum()
    {
        core.SetArea(170, 56);
        core.SetMode(mStereo);
        core.SetChannel(chBoth);
        core.SetBitLength(b16Bit);
        core.SetSampleRate(44100);
        core.SetFFTLength(64);
        core.SetWindow(fwHamming);
        core.SetGain(sg3db);
        core.SetDecayMode(dmStepUp);
        core.SetDecay(8);
        core.SetVerticalScale(20);
        core.SetPoint(1, 75);
        core.SetColor(SpectrumCore::Bar1, clLime);
        core.SetColor(SpectrumCore::Bar2, clYellow);
        core.SetColor(SpectrumCore::Bar3, clRed);
        for (int i : { SpectrumCore::Inactive1, SpectrumCore::Inactive2, SpectrumCore::Inactive3 })
            core.SetColor(i, clBlack);
        core.SetInactiveDoted(true);
        dib.SetSize(170, 56);
    }

    void Frame(const void* data, bool full = false)
    {
        if (data)
            core.Analyse(data);
        TMMDIBDrawScope scope(dib);
        core.DrawFrame(dib, full);
    }

    std::vector<int> BarStarts() const
    {
        std::vector<int> starts;
        for (int r = 0; core.Bars()[r].X1 != -1; ++r)
            starts.push_back(core.Bars()[r].X1);
        return starts;
    }
};

QRgb Rgb(TColor c)
{
    return zv::ColorToQRgb(c);
}

TEST(Spectrum, MainWindowLayoutAndTables)
{
    MainSpectrum s;
    const SpectrumCore& c = s.core;
    EXPECT_EQ(c.NumSpots(), 28);
    EXPECT_EQ(c.SpotOffset(), 0);
    EXPECT_EQ(c.P1(), 14);
    EXPECT_EQ(c.P2(), 21);
    EXPECT_EQ(c.LowFreq(), 0.0f);
    EXPECT_EQ(c.BytesNeeded(), 256);
    EXPECT_NEAR(c.DecayFactor(), 0.96466f, 0.000005f);
    EXPECT_EQ(c.ScaleShift(), 21);

    s.Frame(nullptr, true);
    const std::vector<int> starts { 0, 6, 11, 16, 22, 27, 32, 38, 43, 48, 54, 59, 64, 70, 75, 80, 85, 91, 96,
        101, 107, 112, 117, 123, 128, 133, 139, 144, 149, 155, 160, 165 };
    EXPECT_EQ(s.BarStarts(), starts);
    int lastFactor = 0;
    for (std::size_t j = 0; j < starts.size(); ++j) {
        EXPECT_EQ(c.FirstBin()[std::size_t(starts[j])], int(j)) << "bar " << j << " shows bin " << j;
        const int factor = c.ColumnFactor()[std::size_t(starts[j])];
        EXPECT_GT(factor, lastFactor) << "the 3 dB tilt rises with the bin";
        lastFactor = factor;
    }
    EXPECT_EQ(c.ColumnFactor()[0], 930);
    EXPECT_EQ(c.ColumnFactor()[165], 5260);
}

TEST(Spectrum, LitSpotsRoundHalvesToEven)
{
    const int expected[] = { 0, 1, 2, 2, 2, 3, 4 };
    for (int v = 0; v <= 6; ++v)
        EXPECT_EQ(SpectrumCore::LitSpots(v, 28, 56), expected[v]) << "value " << v;
    EXPECT_EQ(SpectrumCore::LitSpots(-40, 28, 56), 0);
    EXPECT_EQ(SpectrumCore::LitSpots(1000, 28, 56), 28);
}

// A cosine at 1 kHz whose bin magnitude is VS x 32768 = 6553.6 fills the height exactly: with the
// rectangular window a cosine of integer bin frequency has magnitude = its amplitude after the 2/N
// scaling, and at 8000 Hz bin 7 stands for (7 + 1) x 125 = 1000 Hz.
TEST(Spectrum, OneKilohertzAtVerticalScaleFillsTheHeight)
{
    MainSpectrum s;
    s.core.SetSampleRate(8000);
    s.core.SetWindow(fwRectangular);
    s.core.SetDecayMode(dmNone);
    int overflows = 0;
    s.core.GainOverflow = [&] { ++overflows; };
    const int bar7 = [&] {
        for (int i = 0; i < 170; ++i)
            if (s.core.FirstBin()[std::size_t(i)] == 7)
                return i;
        return -1;
    }();
    ASSERT_GE(bar7, 0);
    const auto valueAt = [&](double amplitude) {
        const auto data = Tones(64, 8000, { { 875.0, amplitude } }); // bin 7 = 7 x 125 Hz
        s.Frame(data.data());
        for (int r = 0; s.core.Bars()[r].X1 != -1; ++r)
            if (s.core.Bars()[r].X1 == bar7)
                return s.core.Bars()[r].Value;
        return -1;
    };
    EXPECT_EQ(valueAt(6554), 56);
    EXPECT_EQ(overflows, 1);
    EXPECT_NEAR(valueAt(3277), 28, 1) << "linear: half the magnitude, half the height";
    EXPECT_EQ(overflows, 1);
}

// With the decibel axis the display spans 60 dB: a bin magnitude of 32768 reaches the top, one of
// about 32.8 the bottom, 30 dB below full scale the middle. Both level paths (without decay the
// bins are logarithmic already, with decay the bars take the logarithm) agree.
TEST(Spectrum, DecibelAxisSpansSixtyDecibels)
{
    for (const auto decay : { dmNone, dmStepUp }) {
        MainSpectrum s;
        s.core.SetWindow(fwRectangular);
        s.core.SetGain(sgNone);
        s.core.SetDecayMode(decay);
        s.core.SetLogAmp(true);
        EXPECT_EQ(s.core.ScaleShift(), 24);
        struct Case {
            double amplitude;
            int value;
        };
        for (const Case c : { Case { 32767, 56 }, Case { 1036, 28 }, Case { 33, 0 } }) {
            s.core.DataReset();
            const auto data = Tones(64, 44100, { { 689.0625 * 12, c.amplitude } });
            s.Frame(data.data());
            EXPECT_NEAR(s.core.Bars()[12].Value, c.value, 1) << c.amplitude << " decay " << int(decay);
        }
    }
}

// On a logarithmic axis the first column shows bin 0, the bars rise through the bins up to the top
// octave, and a column that covers several bins shows the loudest of them.
TEST(Spectrum, LogarithmicFrequencyAxis)
{
    MainSpectrum s;
    s.core.SetFFTLength(1024);
    s.core.SetLogFreq(true);
    EXPECT_FLOAT_EQ(s.core.LowFreq(), 44100.0f / 1024);
    const auto& first = s.core.FirstBin();
    const auto& end = s.core.EndBin();
    EXPECT_EQ(first[0], 0);
    int column = -1;
    for (int i = 169; i >= 0 && column < 0; --i)
        if (first[std::size_t(i)] != -1 && end[std::size_t(i)] > first[std::size_t(i)] + 2)
            column = i;
    ASSERT_GE(column, 0);
    int previous = -1;
    for (int i = 0; i < 170; ++i) {
        if (first[std::size_t(i)] == -1)
            continue;
        ASSERT_GT(first[std::size_t(i)], previous) << i;
        previous = first[std::size_t(i)];
    }
    EXPECT_GT(previous, 256) << "the last bar lies in the top octave";
    const int bin = first[std::size_t(column)] + 1; // not the column's first bin
    const auto tone = Tones(1024, 44100, { { 44100.0 / 1024 * bin, 20000 } });
    s.Frame(tone.data());
    int value = 0;
    for (int r = 0; s.core.Bars()[r].X1 != -1; ++r)
        if (s.core.Bars()[r].X1 == column)
            value = s.core.Bars()[r].Value;
    EXPECT_GT(value, 20);
}

TEST(Spectrum, LitSpotsTakeTheirZoneColours)
{
    MainSpectrum s;
    const auto loud = Tones(64, 44100, { { 689.0625 * 3, 30000 } }); // bin 3
    s.Frame(loud.data());
    const zv::SpectrumBar* bar = s.core.Bars() + 3;
    ASSERT_EQ(bar->X1, 16);
    ASSERT_GE(bar->Value, 56);
    const QImage img = s.dib.ToImage();
    // Spot n is row 57 - 2n, with a one-row gap above it.
    for (int n = 1; n <= 28; ++n) {
        const TColor want = n > 21 ? clRed : (n > 14 ? clYellow : clLime);
        EXPECT_EQ(img.pixel(bar->X1 + 1, 57 - 2 * n), Rgb(want)) << "spot " << n;
        EXPECT_EQ(img.pixel(bar->X1 + 1, 56 - 2 * n), Rgb(clBlack)) << "gap above spot " << n;
    }
    EXPECT_EQ(img.pixel(bar->X2 - 1, 55), Rgb(clBlack)) << "Space 1: the rightmost column stays dark";
}

TEST(Spectrum, PeakHeldFor41TicksThenGoneAtOnce)
{
    MainSpectrum s;
    const auto loud = Tones(64, 44100, { { 689.0625 * 5, 20000 } });
    const auto quiet = std::vector<std::int16_t>(128, 0);
    s.Frame(loud.data());
    const int peak = s.core.Bars()[5].Peak;
    ASSERT_GT(peak, 10);
    s.core.SetDecayMode(dmNone); // the bar itself drops at once
    s.Frame(quiet.data());
    EXPECT_EQ(s.core.Bars()[5].Value, 0);
    Tick(40);
    EXPECT_EQ(s.core.Bars()[5].Peak, peak);
    s.Frame(quiet.data());
    const QImage held = s.dib.ToImage();
    EXPECT_EQ(held.pixel(s.core.Bars()[5].X1, 57 - 2 * peak),
        Rgb(peak > 21       ? clRed
                : peak > 14 ? clYellow
                            : clLime));
    Tick(1);
    EXPECT_EQ(s.core.Bars()[5].Peak, 0);

    // With PeakSpeed the marker falls one spot per PeakSpeed ticks instead.
    s.core.SetPeakSpeed(2);
    s.core.SetDecayMode(dmStepUp);
    s.Frame(loud.data());
    const int again = s.core.Bars()[5].Peak;
    s.core.SetDecayMode(dmNone);
    s.Frame(quiet.data());
    Tick(41 + 4);
    EXPECT_EQ(s.core.Bars()[5].Peak, again - 3);
    // Frozen (info mode) peaks do not move.
    s.core.SetFrozen(true);
    Tick(10);
    EXPECT_EQ(s.core.Bars()[5].Peak, again - 3);
}

// The real timer thread counts the peaks down while frames are drawn on this thread (a run for the
// thread sanitizer as much as a check that peaks fall on their own).
TEST(Spectrum, RealTimerMovesPeaksBesideFrames)
{
    MainSpectrum s;
    s.core.SetPeakDelay(0);
    s.core.SetDecayMode(dmNone);
    zv::DisplayTimerService::Instance().SetManual(false);
    const auto loud = Tones(64, 44100, { { 689.0625 * 5, 20000 } });
    const auto quiet = std::vector<std::int16_t>(128, 0);
    for (int i = 0; i < 2000; ++i)
        s.Frame(i % 2 ? loud.data() : quiet.data());
    s.Frame(loud.data());
    s.Frame(quiet.data());
    zv::test::WaitUntil([&] { return s.core.Bars()[5].Peak <= 0; });
    zv::DisplayTimerService::Instance().SetManual(true);
    EXPECT_EQ(s.core.Bars()[5].Peak, 0);
}

TEST(Spectrum, StepUpDecayFallsByTheFactorAndRisesAtOnce)
{
    MainSpectrum s;
    const auto loud = Tones(64, 44100, { { 689.0625 * 8, 8000 } });
    const auto louder = Tones(64, 44100, { { 689.0625 * 8, 16000 } });
    const auto quiet = std::vector<std::int16_t>(128, 0);
    s.core.Analyse(loud.data());
    const int start = s.core.BinLevel()[8];
    ASSERT_GT(start, 1000);
    float state = float(start);
    int frames = 0;
    while (s.core.BinLevel()[8] > 0) {
        s.core.Analyse(quiet.data());
        state *= s.core.DecayFactor();
        ASSERT_EQ(s.core.BinLevel()[8], int(state)) << "frame " << frames;
        ASSERT_LT(++frames, 1000);
    }
    EXPECT_EQ(int(state), 0);
    s.core.Analyse(loud.data());
    s.core.Analyse(quiet.data());
    s.core.Analyse(louder.data());
    EXPECT_GT(s.core.BinLevel()[8], start) << "a louder frame replaces the state at once";
}

TEST(Spectrum, SettersClampOrIgnore)
{
    ManualTimer timer;
    SpectrumCore c;
    c.SetArea(170, 56);
    struct Clamp {
        bool (SpectrumCore::*set)(int);
        int (SpectrumCore::*get)() const;
        int in, out;
    };
    const Clamp clamps[] = {
        { &SpectrumCore::SetFFTLength, &SpectrumCore::FFTLength, 100, 64 },
        { &SpectrumCore::SetFFTLength, &SpectrumCore::FFTLength, 5000, 4096 },
        { &SpectrumCore::SetFFTLength, &SpectrumCore::FFTLength, 3, 8 },
        { &SpectrumCore::SetFrequencyScale, &SpectrumCore::FrequencyScale, 3, 2 },
        { &SpectrumCore::SetFrequencyScale, &SpectrumCore::FrequencyScale, 20, 16 },
        { &SpectrumCore::SetVerticalScale, &SpectrumCore::VerticalScale, 0, 1 },
        { &SpectrumCore::SetVerticalScale, &SpectrumCore::VerticalScale, 1000, 500 },
        { &SpectrumCore::SetVerticalScale, &SpectrumCore::VerticalScale, 37, 37 },
        { &SpectrumCore::SetSampleRate, &SpectrumCore::SampleRate, 10, 8000 },
        { &SpectrumCore::SetSampleRate, &SpectrumCore::SampleRate, 500000, 100000 },
        { &SpectrumCore::SetRefFreq, &SpectrumCore::RefFreq, 0, 1 },
        { &SpectrumCore::SetRefFreq, &SpectrumCore::RefFreq, 50000, 44100 },
        { &SpectrumCore::SetDecay, &SpectrumCore::Decay, 0, 1 },
        { &SpectrumCore::SetDecay, &SpectrumCore::Decay, 40, 16 },
    };
    for (const auto& t : clamps) {
        (c.*t.set)(t.in);
        EXPECT_EQ((c.*t.get)(), t.out) << t.in;
    }
    struct Ignore {
        bool (SpectrumCore::*set)(int);
        int (SpectrumCore::*get)() const;
        int in;
    };
    const Ignore ignored[] = {
        { &SpectrumCore::SetSpace, &SpectrumCore::Space, 6 },
        { &SpectrumCore::SetSpace, &SpectrumCore::Space, -1 },
        { &SpectrumCore::SetSpotSpace, &SpectrumCore::SpotSpace, 11 },
        { &SpectrumCore::SetNumPeaks, &SpectrumCore::NumPeaks, 6 },
        { &SpectrumCore::SetPeakDelay, &SpectrumCore::PeakDelay, 51 },
        { &SpectrumCore::SetPeakSpeed, &SpectrumCore::PeakSpeed, 51 },
        { &SpectrumCore::SetSpotHeight, &SpectrumCore::SpotHeight, 56 / 3 + 1 },
        { &SpectrumCore::SetSpotHeight, &SpectrumCore::SpotHeight, 0 },
    };
    for (const auto& t : ignored) {
        const int before = (c.*t.get)();
        EXPECT_FALSE((c.*t.set)(t.in)) << t.in;
        EXPECT_EQ((c.*t.get)(), before) << t.in;
    }
    for (const int p : { 0, 101 }) {
        EXPECT_FALSE(c.SetPoint(0, p));
        EXPECT_EQ(c.Point(0), 50);
    }
    EXPECT_TRUE(c.SetSpotHeight(56 / 3));
    EXPECT_EQ(c.NumSpots(), (56 + 1) / (18 + 1));
}

TEST(Spectrum, RejectedFormatChangesNothing)
{
    MainSpectrum s;
    TWaveFormatEx bad {};
    MakePCMFormat(bad, 24, 2, 44100);
    TWaveFormatEx tooFast {};
    MakePCMFormat(tooFast, 16, 2, 192000);
    TWaveFormatEx ok {};
    MakePCMFormat(ok, 8, 1, 22050);
    for (const TWaveFormatEx* f : std::initializer_list<const TWaveFormatEx*> { &bad, &tooFast, nullptr }) {
        try {
            s.core.SetPCMFormat(f);
            ADD_FAILURE() << "accepted";
        } catch (const EMMSpectrumError& e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
        EXPECT_EQ(s.core.SampleRate(), 44100);
        EXPECT_EQ(s.core.BitLength(), b16Bit);
        EXPECT_EQ(s.core.Mode(), mStereo);
    }
    s.core.SetPCMFormat(&ok);
    EXPECT_EQ(s.core.SampleRate(), 22050);
    EXPECT_EQ(s.core.BitLength(), b8Bit);
    EXPECT_EQ(s.core.Mode(), mMono);
    EXPECT_EQ(s.core.BytesNeeded(), 64);
}

TEST(Spectrum, EightBitSilenceLightsNothingWhateverTheGain)
{
    for (const auto gain : { sgNone, sg3db, sg6db, sg9db, sg12db }) {
        MainSpectrum s;
        s.core.SetBitLength(b8Bit);
        s.core.SetGain(gain);
        const std::vector<std::uint8_t> silence(128, 128);
        s.Frame(silence.data());
        for (const int level : s.core.BinLevel())
            ASSERT_EQ(level, 0) << int(gain);
        const QImage img = s.dib.ToImage();
        for (int y = 0; y < 56; ++y)
            for (int x = 0; x < 170; ++x)
                ASSERT_EQ(img.pixel(x, y), Rgb(clBlack)) << int(gain) << " at " << x << "," << y;
    }
}

TEST(Spectrum, PcmOverflowCountsEveryClippedValue)
{
    MainSpectrum s;
    int count = 0;
    s.core.PcmOverflow = [&] { ++count; };
    std::vector<std::int16_t> data(128, 0);
    data[0] = 32766, data[1] = 32766; // average 32766: counts with sg3db
    data[10] = 32767, data[11] = 32765; // average 32766 again
    data[20] = 32767, data[21] = 32764; // 32765: does not
    data[30] = -32768, data[31] = -32768; // negative full scale never counts
    s.core.Analyse(data.data());
    EXPECT_EQ(count, 2);

    count = 0;
    s.core.SetGain(sg12db); // only a true 32767 average counts there
    s.core.Analyse(data.data());
    EXPECT_EQ(count, 0);
    data[40] = 32767, data[41] = 32767;
    s.core.Analyse(data.data());
    EXPECT_EQ(count, 1);

    count = 0;
    s.core.SetChannel(chLeft);
    s.core.Analyse(data.data());
    EXPECT_EQ(count, 3) << "one channel: every 32767 sample";
}

// Components beyond 16 bits (a full-scale DC offset with the rectangular window gives 2 x 32767)
// saturate instead of wrapping to the opposite sign.
TEST(Spectrum, ScaledComponentsSaturate)
{
    MainSpectrum s;
    s.core.SetWindow(fwRectangular);
    s.core.SetGain(sgNone);
    s.core.SetDecayMode(dmNone);
    for (const std::int16_t dc : { std::int16_t(32767), std::int16_t(-32768) }) {
        const std::vector<std::int16_t> data(128, dc);
        s.core.Analyse(data.data());
        EXPECT_EQ(s.core.Spectrum16()[0], dc > 0 ? 32767 : -32768);
        EXPECT_GT(s.core.BinLevel()[0], 32767 * 16 - 16) << "bin 0 stays loud";
    }
}

TEST(Spectrum, GridHasSixRowsAndSeventeenColumns)
{
    MainSpectrum s;
    s.core.SetDrawGrid(true);
    s.core.SetColor(SpectrumCore::Grid, clGray);
    s.Frame(nullptr, true);
    const QImage img = s.dib.ToImage();
    std::set<int> rows, columns;
    for (int y = 0; y < 56; ++y) {
        int dots = 0;
        for (int x = 0; x < 170; ++x)
            dots += img.pixel(x, y) == Rgb(clGray);
        if (dots > 60)
            rows.insert(y);
    }
    for (int x = 0; x < 170; ++x) {
        int dots = 0;
        for (int y = 0; y < 56; ++y)
            dots += img.pixel(x, y) == Rgb(clGray);
        if (dots > 20)
            columns.insert(x);
    }
    EXPECT_EQ(rows, (std::set<int> { 0, 11, 22, 33, 44, 55 }));
    EXPECT_EQ(columns.size(), 17u);
    EXPECT_TRUE(columns.count(0) && columns.count(169));
}

// A tone mix with one loud bin (well above the height) and quieter ones, then silence.
struct StyleFixture : MainSpectrum {
    std::vector<std::int16_t> mix = Tones(64, 44100,
        { { 689.0625 * 2, 30000 }, { 689.0625 * 9, 1500 }, { 689.0625 * 20, 400 }, { 689.0625 * 27, 3000 } });
    std::vector<std::int16_t> silence = std::vector<std::int16_t>(128, 0);

    explicit StyleFixture(TMMSpectrumKind kind)
    {
        core.SetKind(kind);
        core.SetDecayMode(dmNone);
    }
    const zv::SpectrumBar& Bar(int r) const { return core.Bars()[r]; }
};

TEST(SpectrumStyles, DotsSitOnTheirRowInTheZoneColour)
{
    StyleFixture s(skDots);
    EXPECT_EQ(s.core.P1(), 28) << "skDots zone limits are rows";
    EXPECT_EQ(s.core.P2(), 14);
    s.Frame(s.mix.data());
    const QImage img = s.dib.ToImage();
    bool sawTop = false, sawBottom = false;
    for (int r = 0; s.Bar(r).X1 != -1; ++r) {
        const int y = std::clamp(55 - s.Bar(r).Value, 0, 55);
        sawTop |= y == 0;
        sawBottom |= y == 55;
        const TColor want = y <= 14 ? clRed : (y > 28 ? clLime : clYellow);
        for (int x = s.Bar(r).X1; x < s.Bar(r).X2; ++x)
            ASSERT_EQ(img.pixel(x, y), Rgb(want)) << "bar " << r << " x " << x;
    }
    EXPECT_TRUE(sawTop && sawBottom) << "values of H or more go to the top row, 0 to the bottom row";
}

TEST(SpectrumStyles, MirroredLinesAreCentredAndZoned)
{
    StyleFixture s(skVLines);
    s.Frame(s.silence.data());
    QImage img = s.dib.ToImage();
    for (int y = 0; y < 56; ++y) {
        const bool middle = y == 27 || y == 28;
        ASSERT_EQ(img.pixel(3, y), Rgb(middle ? clLime : clBlack)) << "value 0: two middle rows, row " << y;
    }
    s.Frame(s.mix.data());
    img = s.dib.ToImage();
    const auto& loud = s.Bar(2);
    EXPECT_EQ(loud.Value, 55) << "clamped to H - 1 and kept";
    for (int y = 0; y < 56; ++y)
        ASSERT_NE(img.pixel(loud.X1 + 1, y), Rgb(clBlack)) << "full height, row " << y;
    EXPECT_EQ(img.pixel(loud.X1 + 1, 0), Rgb(clRed));
    EXPECT_EQ(img.pixel(loud.X1 + 1, 27), Rgb(clLime));
}

TEST(SpectrumStyles, LineWithAndWithoutPeakLine)
{
    StyleFixture s(skLines);
    s.core.SetNumPeaks(0);
    s.Frame(s.mix.data());
    const auto lit = [](const QImage& img, int x) {
        std::vector<int> rows;
        for (int y = 0; y < 56; ++y)
            if (img.pixel(x, y) != Rgb(clBlack))
                rows.push_back(y);
        return rows;
    };
    const int centre = s.Bar(2).X1 + (s.Bar(2).X2 - s.Bar(2).X1) / 2;
    EXPECT_EQ(lit(s.dib.ToImage(), centre).front(), 0) << "the loud bar reaches the top";
    s.Frame(s.silence.data());
    EXPECT_EQ(lit(s.dib.ToImage(), centre), std::vector<int> { 55 }) << "silence: the base line only";

    s.core.SetNumPeaks(1);
    s.Frame(s.mix.data());
    s.Frame(s.silence.data());
    EXPECT_EQ(lit(s.dib.ToImage(), centre), (std::vector<int> { 0, 55 })) << "the peak line stays up";
    Tick(41);
    s.Frame(s.silence.data());
    EXPECT_EQ(lit(s.dib.ToImage(), centre), std::vector<int> { 55 }) << "and falls with the timer";
}

TEST(SpectrumStyles, ScrollMovesOlderLinesDownAndDrawsNoGrid)
{
    StyleFixture s(skScroll);
    s.core.SetDrawGrid(true);
    s.Frame(nullptr, true);
    s.Frame(s.mix.data());
    const QImage before = s.dib.ToImage();
    EXPECT_EQ(before.pixel(0, 55), Rgb(clBlack)) << "no grid";
    s.Frame(s.silence.data());
    const QImage after = s.dib.ToImage();
    const int newRow = 56 / 3; // silence sits on the base line H - (H - H / 3)
    for (int y = 0; y + 2 < 56; ++y) {
        if (y + 2 == newRow)
            continue;
        for (int x = 0; x < 170; ++x)
            ASSERT_EQ(after.pixel(x, y + 2), before.pixel(x, y)) << x << "," << y;
    }
    for (int x = 0; x < 170; ++x) {
        ASSERT_EQ(after.pixel(x, 0), Rgb(clBlack));
        ASSERT_EQ(after.pixel(x, newRow), Rgb(clLime));
    }
}

// Extreme values on the smallest areas: every style stays inside its canvas.
TEST(SpectrumStyles, EveryStyleOnTinyAndOddAreas)
{
    ManualTimer timer;
    const auto loud = Tones(4096, 44100, { { 0, 32767 }, { 5000, 32767 } });
    for (const auto kind : { skDots, skLines, skVLines, skBars, skPeaks, skScroll }) {
        for (const auto& [w, h] :
            { std::pair { 1, 1 }, std::pair { 4, 4 }, std::pair { 5, 13 }, std::pair { 300, 7 } }) {
            SpectrumCore c;
            c.SetKind(kind);
            c.SetArea(w, h);
            c.SetBitLength(b16Bit);
            c.SetMode(mStereo);
            c.SetFFTLength(4096);
            c.SetGain(sg12db);
            c.SetDrawGrid(true);
            c.SetNumPeaks(5);
            TMMDIBCanvas dib;
            dib.SetSize(c.W(), c.H());
            for (int f = 0; f < 3; ++f) {
                c.Analyse(loud.data());
                TMMDIBDrawScope scope(dib);
                c.DrawFrame(dib, f == 0);
            }
            EXPECT_EQ(c.W(), std::max(w, 4));
            EXPECT_EQ(c.H(), std::max(h, 4));
        }
    }
}

} // namespace
