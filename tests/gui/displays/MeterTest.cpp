#include "DeferredFrames.h"
#include "displays/MMMeter.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QScreen>
#include <climits>
#include <gtest/gtest.h>
#include <iterator>
#include <tuple>
#include <vector>

namespace {

// 20 stereo frames, the left channel peaking at left.
std::vector<std::int16_t> Block(int left, int right = 0)
{
    std::vector<std::int16_t> frames(20 * 2, 0);
    frames[6] = static_cast<std::int16_t>(left);
    frames[9] = static_cast<std::int16_t>(right);
    return frames;
}

// The main window's left meter, with the display timer ticked by hand.
class MainWindowMeter : public ::testing::Test {
protected:
    void SetUp() override
    {
        zv::DisplayTimerService::Instance().SetManual(true);
        window.resize(120, 80);
        meter = new TMMMeter(&window);
        meter->setGeometry(10, 10, 85, 57);
        meter->Bevel().SetBevelOuter(bvNone);
        meter->Bevel().SetBevelInner(bvNone);
        meter->Bevel().SetBorderWidth(2);
        meter->setFont(zv::MakePixelFont(QStringLiteral("MS Sans Serif"), 11, true));
        meter->SetScale1Color(clLime);
        meter->SetNeedleOffset(50);
        meter->SetScaleHeight1(3);
        meter->SetScaleAngle(45);
        meter->SetTopSpace(12);
        TWaveFormatEx format {};
        MakePCMFormat(format, 16, 2, 44100);
        meter->SetPCMFormat(&format);
        meter->SetSamples(20);
        meter->SetDecayMode(dmStepUp);
        meter->SetDecay(8);
        meter->SetPeakSpeed(2);
        meter->SetChannel(chLeft);
        window.show();
        QApplication::processEvents();
    }
    void Feed(int left)
    {
        const auto block = Block(left);
        meter->ProcessData(block.data());
    }
    static void Tick(int n)
    {
        for (int i = 0; i < n; ++i)
            zv::DisplayTimerService::Instance().Tick();
    }
    // Whether the window shows the colour within a pixel of the needle of value x, 60 pixels from
    // the pivot (clear of ticks, labels and caption).
    bool NeedleShown(int x, QRgb colour)
    {
        zv::test::PumpUntil([&] { return !meter->DirectCopyPending(); });
        const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
        const QPoint p = meter->ValuePoint(x, 60) + QPoint(12, 12);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (shown.pixel(p + QPoint(dx, dy)) == colour)
                    return true;
        return false;
    }

    QWidget window;
    TMMMeter* meter = nullptr;
};

TEST_F(MainWindowMeter, NeedleGeometryOfTheExample)
{
    EXPECT_EQ(meter->InnerSize(), QSize(81, 53));
    EXPECT_EQ(meter->Pivot(), QPoint(40, 103));
    EXPECT_EQ(meter->Radius(), 91);
    EXPECT_EQ(meter->ValuePoint(0, 91), QPoint(5, 19));
    EXPECT_EQ(meter->ValuePoint(16384, 91), QPoint(40, 12));
    EXPECT_EQ(meter->ValuePoint(32767, 91), QPoint(75, 19));
    EXPECT_EQ(meter->BytesNeeded(), 80);
}

TEST_F(MainWindowMeter, LevelsMapOntoNeedleUnits)
{
    const std::pair<int, int> cases[] = { { 10362, 26214 }, { 1036, 13106 }, { 104, 21 } };
    for (const auto& [raw, units] : cases) {
        meter->ResetData();
        Feed(raw);
        EXPECT_EQ(meter->Shown(), units) << raw;
    }
    meter->ResetData();
    Feed(10362);
    EXPECT_EQ(meter->Value(), 32) << "-10 dB";
}

TEST_F(MainWindowMeter, FullScaleReachesTheEndAndReportsOverflow)
{
    int gain = 0;
    int pcm = 0;
    meter->OnGainOverflow = [&](QObject*) { ++gain; };
    meter->OnPcmOverflow = [&](QObject*) { ++pcm; };
    Feed(32767);
    EXPECT_EQ(meter->Shown(), 32767);
    EXPECT_EQ(gain, 1) << "reaching full scale is enough";
    EXPECT_EQ(pcm, 1);
    meter->SetGain(8); // twice the level
    meter->ResetData();
    Feed(20000);
    EXPECT_EQ(meter->Shown(), 32767);
    EXPECT_EQ(gain, 2);
}

TEST_F(MainWindowMeter, PeakNeedleHoldsThenFallsBy500TowardsTheLevel)
{
    meter->SetDecayMode(dmNone);
    Feed(32767);
    Feed(10362);
    EXPECT_EQ(meter->Peak(), 32767);
    Tick(40);
    EXPECT_EQ(meter->Peak(), 32767);
    Tick(1);
    EXPECT_EQ(meter->Peak(), 32267);
    Tick(2);
    EXPECT_EQ(meter->Peak(), 31767);
    Tick(2 * 20);
    EXPECT_EQ(meter->Peak(), 26214) << "rests on the level needle";

    // A level equal to the peak does not restart the hold.
    meter->SetPeakSpeed(0);
    Feed(32767);
    Tick(30);
    Feed(32767);
    Tick(11);
    Feed(10362);
    EXPECT_EQ(meter->Peak(), 32767) << "the fall comes with the tick, not the block";
    Tick(1);
    EXPECT_EQ(meter->Peak(), 26214) << "without fall speed it jumps onto the level needle";
}

TEST_F(MainWindowMeter, NeedlesReachTheWindow)
{
    meter->SetDecayMode(dmNone);
    Feed(10362); // 26214 units, right of centre
    Feed(104); // level needle near the left end; peak needle stays at 80 %
    EXPECT_TRUE(NeedleShown(21, 0xFFFFFFFFu)) << "white level needle";
    EXPECT_TRUE(NeedleShown(26214, 0xFFFF0000u)) << "red peak needle";
    EXPECT_FALSE(NeedleShown(16384, 0xFFFFFFFFu));

    meter->SetShowPeak(false);
    QApplication::processEvents();
    EXPECT_FALSE(NeedleShown(26214, 0xFFFF0000u));
    Tick(100);
    EXPECT_EQ(meter->Peak(), 26214) << "no fall while the peak needle is off";
}

// The needles of one refresh's blocks are drawn once, for the copy to the window, as the last
// block left them; a frame the window shows already may be skipped.
TEST_F(MainWindowMeter, DeferredFramesShowWhatDrawingEveryBlockShowed)
{
    zv::test::DeferredFrameProbe probe;
    probe.feed = [this](int raw) { Feed(raw); };
    probe.tick = [] { Tick(1); };
    probe.grab
        = [this] { return window.screen()->grabWindow(window.winId()).toImage().copy(meter->geometry()); };
    probe.everyBlockDraws = false;
    zv::test::ExpectDeferredFramesShowWhatEveryBlockShowed(*meter, meter->OnPostPaint, probe);
}

// A frame whose needles end on the same pixels as the one on the window is not copied again; a
// repaint of part of the control while a new frame waits still brings that frame out whole.
TEST_F(MainWindowMeter, AFrameTheWindowShowsAlreadyIsNotCopiedAgain)
{
    TMMGraphicControl::SetClock(&zv::test::RefreshNow);
    zv::test::gRefreshNow = 1'000'000'000;
    meter->SetDecayMode(dmNone);
    meter->SetShowPeak(false);
    int frames = 0;
    meter->OnPostPaint = [&](QObject*) { ++frames; };
    // Each block in a refresh of its own, so its copy is due at once.
    auto feed = [&](int left) {
        zv::test::gRefreshNow += TMMGraphicControl::kDirectCopyInterval * 1000;
        Feed(left);
    };
    auto refresh = [&] { EXPECT_TRUE(zv::test::PumpUntil([&] { return !meter->DirectCopyPending(); })); };
    feed(10362);
    refresh();
    ASSERT_EQ(frames, 1);
    const int before = meter->Shown();
    feed(10370); // a few needle units on: the same pixels
    ASSERT_NE(meter->Shown(), before);
    ASSERT_EQ(meter->ValuePoint(meter->Shown(), meter->Radius()), meter->ValuePoint(before, meter->Radius()));
    refresh();
    EXPECT_EQ(frames, 1) << "nothing new to show";

    feed(104);
    meter->repaint(0, 0, 6, 6); // draws the new needle, but shows only a corner of it
    refresh();
    EXPECT_TRUE(NeedleShown(21, 0xFFFFFFFFu)) << "the rest of the new frame reached the window";
    EXPECT_FALSE(NeedleShown(26214, 0xFFFFFFFFu));
    TMMGraphicControl::SetClock(nullptr);
}

TEST_F(MainWindowMeter, DisabledMeterRestsAndIgnoresData)
{
    Feed(10362);
    meter->setEnabled(false);
    EXPECT_EQ(meter->Shown(), 0);
    EXPECT_EQ(meter->Peak(), 0);
    Feed(10362);
    EXPECT_EQ(meter->Shown(), 0);
    meter->setEnabled(true);
    Feed(10362);
    EXPECT_EQ(meter->Shown(), 26214);
}

TEST_F(MainWindowMeter, BadFormatAndSettingsAreHandledWithoutHarm)
{
    TWaveFormatEx format {};
    MakePCMFormat(format, 16, 2, 200000);
    try {
        meter->SetPCMFormat(&format);
        FAIL();
    } catch (const EMMMeterError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    EXPECT_EQ(meter->BitLength(), b16Bit);
    EXPECT_EQ(meter->Mode(), mStereo);
    meter->SetScaleAngle(10);
    EXPECT_EQ(meter->ScaleAngle(), 45);
    meter->SetScaleAngle(500);
    EXPECT_EQ(meter->ScaleAngle(), 180);
    meter->SetSensitivy(0);
    EXPECT_EQ(meter->Sensitivy(), -9);
    // Degenerate faces still paint: no ticks, no labels, a pivot on the bottom edge.
    meter->SetScaleTicks(1);
    meter->SetScaleTicksTextEvery(0);
    meter->SetNeedleOffset(0);
    EXPECT_EQ(meter->Pivot(), QPoint(40, 53));
    // Absurd sizes are bounded, so a repaint still ends.
    meter->SetNeedleOffset(INT_MAX);
    meter->SetTopSpace(INT_MIN);
    meter->SetScaleTicks(INT_MAX);
    meter->SetScaleTicksTextEvery(1);
    EXPECT_EQ(meter->NeedleOffset(), 10000);
    EXPECT_EQ(meter->ScaleTicks(), 32768);
    meter->grab();
    Feed(10362);
    meter->resize(3, 3); // smaller than the frame: nothing inside
    QApplication::processEvents();
    Feed(32767);
    EXPECT_EQ(meter->InnerSize(), QSize(0, 0));
}

} // namespace
