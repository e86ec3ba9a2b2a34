#include "DeferredFrames.h"
#include "displays/MMLevel.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QScreen>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <tuple>
#include <vector>

namespace {

TWaveFormatEx Pcm(int bits, int channels, int rate)
{
    TWaveFormatEx format {};
    MakePCMFormat(format, bits, channels, rate);
    return format;
}

// One block of 99 stereo frames whose left channel peaks at left and right at right.
std::vector<std::int16_t> Block(int left, int right = 0)
{
    std::vector<std::int16_t> frames(99 * 2, 0);
    frames[10] = static_cast<std::int16_t>(left);
    frames[21] = static_cast<std::int16_t>(right);
    return frames;
}

// The main window's upper bar, shown in a window, with the display timer ticked by hand.
class MainWindowBar : public ::testing::Test {
protected:
    void SetUp() override
    {
        zv::DisplayTimerService::Instance().SetManual(true);
        window.resize(200, 40);
        level = new TMMLevel(&window);
        level->setGeometry(10, 10, 158, 18);
        level->Bevel().SetBevelOuter(bvNone);
        level->Bevel().SetBevelInner(bvNone);
        level->SetBar1Color(clLime);
        level->SetBar2Color(clYellow);
        level->SetInactive1Color(clGray);
        level->SetInactive2Color(clGray);
        level->SetInactiveDoted(true);
        level->SetActiveDoted(true);
        level->SetPoint2(80);
        const TWaveFormatEx format = Pcm(16, 2, 44100);
        level->SetPCMFormat(&format);
        level->SetSamples(99);
        level->SetNumPeaks(2);
        level->SetDecayMode(dmStepUp);
        level->SetDecay(8);
        level->SetChannel(chLeft);
        window.show();
        QApplication::processEvents();
    }
    void Feed(int left, int right = 0)
    {
        const auto block = Block(left, right);
        level->ProcessData(block.data());
    }
    static void Tick(int n)
    {
        for (int i = 0; i < n; ++i)
            zv::DisplayTimerService::Instance().Tick();
    }
    // What the window shows once the last frame was copied to it (not a fresh repaint).
    QImage Shown()
    {
        zv::test::PumpUntil([&] { return !level->DirectCopyPending(); });
        return window.screen()->grabWindow(window.winId()).toImage();
    }
    // The colour of segment n on the window: the pixel of its top dot.
    QRgb Segment(int n) { return Shown().pixel(10 + 2 * (n - 1), 10); }

    QWidget window;
    TMMLevel* level = nullptr;
};

constexpr QRgb kLime = 0xFF00FF00u;
constexpr QRgb kYellow = 0xFFFFFF00u;
constexpr QRgb kRed = 0xFFFF0000u;
constexpr QRgb kGray = 0xFF808080u;
constexpr QRgb kMaroon = 0xFF800000u;

TEST_F(MainWindowBar, LightsSegmentsForTheBlockPeak)
{
    EXPECT_EQ(level->BytesNeeded(), 396);
    EXPECT_EQ(level->NumSpots(), 79);
    const std::pair<int, int> cases[]
        = { { 32767, 79 }, { 16384, 65 }, { 10362, 56 }, { 1000, 11 }, { 583, 0 } };
    for (const auto& [raw, spots] : cases) {
        level->ResetData();
        Feed(raw, 30000);
        EXPECT_EQ(level->Shown(), spots) << raw;
    }
    // The right bar of the pair reads the other channel.
    level->SetChannel(chRight);
    level->ResetData();
    Feed(30000, 10362);
    EXPECT_EQ(level->Shown(), 56);
}

TEST_F(MainWindowBar, FrameShowsZoneColoursOverTheInactiveImage)
{
    Feed(10362);
    EXPECT_EQ(Segment(1), kLime);
    EXPECT_EQ(Segment(39), kLime);
    EXPECT_EQ(Segment(40), kYellow);
    EXPECT_EQ(Segment(56), kYellow);
    EXPECT_EQ(Segment(57), kGray) << "unlit";
    EXPECT_EQ(Segment(64), kMaroon) << "unlit, high zone";
    const QImage shot = Shown();
    EXPECT_EQ(shot.pixel(11, 10), 0xFF000000u) << "gap column";
    EXPECT_EQ(shot.pixel(10, 11), 0xFF000000u) << "gap row between dots";
    EXPECT_EQ(shot.pixel(10, 26), kLime) << "ninth dot on row 16";

    Feed(32767);
    EXPECT_EQ(Segment(79), kRed);
    EXPECT_EQ(level->Value(), 100);
}

TEST_F(MainWindowBar, ASteadyLevelDrawsNothingNew)
{
    int frames = 0;
    level->OnPaint = [&](QObject*) { ++frames; };
    Feed(10362);
    Shown();
    EXPECT_EQ(frames, 1);
    for (int i = 0; i < 5; ++i)
        Feed(10362); // the same segments and the marker where it was
    EXPECT_FALSE(level->DirectCopyPending());
    Shown();
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(level->Peak(), 56);
    Feed(16384);
    Shown();
    EXPECT_EQ(frames, 2);
}

TEST_F(MainWindowBar, GainAndInputOverflowAreReported)
{
    int gainOverflows = 0;
    int pcmOverflows = 0;
    level->OnGainOverflow = [&](QObject*) { ++gainOverflows; };
    level->OnPcmOverflow = [&](QObject*) { ++pcmOverflows; };
    level->SetGain(32);
    Feed(10362);
    EXPECT_EQ(gainOverflows, 1);
    EXPECT_EQ(level->Shown(), 79);
    EXPECT_EQ(pcmOverflows, 0);
    Feed(-32768);
    EXPECT_EQ(pcmOverflows, 1);
    level->SetGain(100);
    EXPECT_EQ(level->Gain(), 32);

    // 8-bit mono: 255 is one step short of full scale, 0 reaches it.
    const TWaveFormatEx format = Pcm(8, 1, 22050);
    level->SetPCMFormat(&format);
    EXPECT_EQ(level->BytesNeeded(), 99);
    std::vector<std::uint8_t> bytes(99, 128);
    bytes[5] = 255;
    level->ProcessData(bytes.data());
    EXPECT_EQ(pcmOverflows, 1);
    bytes[6] = 0;
    level->ProcessData(bytes.data());
    EXPECT_EQ(pcmOverflows, 2);
}

TEST_F(MainWindowBar, StepUpDecayLetsTheBarFallAfterAPeak)
{
    level->SetNumPeaks(0);
    Feed(32767);
    EXPECT_EQ(level->RawLevel(), 32767);
    std::vector<int> shown { level->Shown() };
    for (int i = 0; i < 3; ++i) {
        Feed(0);
        shown.push_back(level->Shown());
    }
    std::vector<int> expected;
    for (const int raw : { 32767, 31609, 30492, 29414 })
        expected.push_back(zv::LevelToSpots(raw, 0, -35, true, 79));
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(level->RawLevel(), 0) << "the block's own level, before the decay";
}

TEST_F(MainWindowBar, PeakMarkerHoldsFortyOneTicksThenVanishesWithTheNextBlock)
{
    level->SetDecayMode(dmNone);
    Feed(32767);
    Feed(1000);
    EXPECT_EQ(level->Shown(), 11);
    EXPECT_EQ(level->Peak(), 79);
    EXPECT_EQ(Segment(79), kRed);
    EXPECT_EQ(Segment(78), kRed) << "two marker segments";
    EXPECT_EQ(Segment(77), kMaroon);
    Tick(40);
    EXPECT_EQ(level->Peak(), 79);
    Tick(1);
    EXPECT_EQ(level->Peak(), 0);
    EXPECT_EQ(Segment(79), kRed) << "drawn with the next block, not by the timer";
    Feed(1000);
    EXPECT_EQ(Segment(79), kMaroon);

    // With a fall speed the marker steps down one segment every PeakSpeed ticks.
    level->SetPeakSpeed(2);
    level->SetPeakDelay(0);
    Feed(32767);
    Feed(1000);
    Tick(1);
    EXPECT_EQ(level->Peak(), 78);
    Tick(2);
    EXPECT_EQ(level->Peak(), 77);
}

TEST_F(MainWindowBar, UnsupportedFormatsAreRefusedAndChangeNothing)
{
    TWaveFormatEx compressed = Pcm(16, 2, 44100);
    compressed.wFormatTag = 2;
    const TWaveFormatEx formats[]
        = { compressed, Pcm(24, 2, 44100), Pcm(16, 3, 44100), Pcm(16, 2, 3999), Pcm(8, 1, 100001) };
    for (const auto& format : formats) {
        try {
            level->SetPCMFormat(&format);
            ADD_FAILURE() << "accepted";
        } catch (const EMMLevelError& e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
        EXPECT_EQ(level->BitLength(), b16Bit);
        EXPECT_EQ(level->Mode(), mStereo);
    }
    EXPECT_THROW(level->SetPCMFormat(nullptr), EMMLevelError);
}

TEST_F(MainWindowBar, DisabledBarShowsOnlyItsInactiveImage)
{
    Feed(16384);
    level->setEnabled(false);
    EXPECT_EQ(level->Shown(), 0);
    Feed(32767);
    EXPECT_EQ(level->Shown(), 0);
    EXPECT_EQ(Segment(1), kGray);
    level->setEnabled(true);
    Feed(32767);
    EXPECT_EQ(level->Shown(), 79);
}

TEST_F(MainWindowBar, DataFramesShareACopyButClearingAndDisablingShowAtOnce)
{
    const std::pair<const char*, std::function<void()>> stops[] = {
        { "cleared", [this] { level->ResetData(); } },
        { "disabled", [this] { level->setEnabled(false); } },
    };
    for (const auto& [what, stop] : stops) {
        level->setEnabled(true);
        Feed(16384);
        Feed(32767); // the lit bar waits for its copy to the window
        ASSERT_TRUE(level->DirectCopyPending()) << what;
        stop();
        // No event runs in between: the window already shows the bar at rest.
        EXPECT_FALSE(level->DirectCopyPending()) << what;
        const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
        EXPECT_EQ(shown.pixel(10, 10), kGray) << what;
        EXPECT_EQ(shown.pixel(10 + 2 * 78, 10), kMaroon) << what;
    }
}

// Blocks of one refresh are drawn once, for their copy to the window, from the last block's state.
TEST_F(MainWindowBar, DeferredFramesShowWhatDrawingEveryBlockShowed)
{
    zv::test::DeferredFrameProbe probe;
    probe.feed = [this](int raw) { Feed(raw); };
    probe.tick = [] { Tick(1); };
    probe.grab
        = [this] { return window.screen()->grabWindow(window.winId()).toImage().copy(10, 10, 158, 18); };
    zv::test::ExpectDeferredFramesShowWhatEveryBlockShowed(*level, level->OnPaint, probe);
}

TEST_F(MainWindowBar, OutOfRangeSettingsAreClamped)
{
    level->SetSpotWidth(100);
    EXPECT_EQ(level->SpotWidth(), 52);
    level->SetSpotSpace(-1);
    EXPECT_EQ(level->SpotSpace(), 0);
    level->SetSensitivy(-200);
    EXPECT_EQ(level->Sensitivy(), -90);
    level->SetSamples(0);
    EXPECT_EQ(level->Samples(), 1);
    level->SetPoint1(0);
    EXPECT_EQ(level->Point1(), 1);
    level->SetNumPeaks(9);
    EXPECT_EQ(level->NumPeaks(), 5);
    level->SetDecay(40);
    EXPECT_EQ(level->Decay(), 16);
    level->SetValue(250);
    EXPECT_EQ(level->Value(), 100);
}

TEST_F(MainWindowBar, DrawBarHandlerReplacesTheSegments)
{
    int calls = 0;
    QRect seenRect;
    int seenSpots = -1;
    level->SetOnDrawBar([&](QObject*, TMMDIBCanvas& dib, const QRect& rect, int spots, int) {
        ++calls;
        seenRect = rect;
        seenSpots = spots;
        dib.SetDrawColor(clBlue);
        dib.Clear();
    });
    Feed(32767);
    Shown(); // drawn for its copy to the window
    EXPECT_GE(calls, 1);
    EXPECT_EQ(seenRect, QRect(0, 0, 158, 18));
    EXPECT_EQ(seenSpots, 79);
    EXPECT_EQ(Segment(1), 0xFF0000FFu);
    level->SetOnDrawBar(nullptr);
    Feed(1000);
    EXPECT_EQ(Segment(1), kLime);
}

TEST_F(MainWindowBar, KindSwapsAnUnfittingShape)
{
    level->SetKind(lkVertical);
    EXPECT_EQ(level->size(), QSize(18, 158));
    EXPECT_EQ(level->NumSpots(), 79);
}

TEST(LevelScale, MainWindowLabelsReadZeroToMinusThirtyFromRightToLeft)
{
    TMMLevelScale scale;
    scale.resize(275, 7);
    scale.setFont(zv::MakePixelFont(QStringLiteral("Small Fonts"), 9));
    scale.SetPoint2(80);
    scale.Scale().SetTickCount(11);
    const auto labels = scale.Labels();
    QStringList texts;
    int lastRight = 276;
    for (const auto& label : labels) {
        texts << label.text;
        EXPECT_LT(label.rect.right(), lastRight) << "right to left";
        lastRight = label.rect.left();
        EXPECT_GE(label.rect.left(), 0);
        EXPECT_LE(label.rect.right(), 274);
    }
    EXPECT_EQ(texts, (QStringList { "0", "-5", "-10", "-15", "-20", "-25", "-30" }));
    EXPECT_EQ(labels.first().rect.right(), 273) << "the 0 dB label ends at the right edge";
    EXPECT_EQ(labels[0].color, clRed);
    EXPECT_EQ(labels[1].color, clRed);
    EXPECT_EQ(labels[2].color, clWhite);

    // Reversed: 0 dB on the left, labels starting at their position.
    scale.SetDirection(dirReversed);
    EXPECT_EQ(scale.Labels().first().rect.left(), 0);
    EXPECT_EQ(scale.Labels().first().text, "0");

    // Tick bands above and below leave the labels the middle.
    scale.resize(275, 7 + 2 * scale.Scale().BandSize());
    scale.Scale().SetVisible(true);
    for (const auto& label : scale.Labels()) {
        EXPECT_GE(label.rect.top(), 7 - 1) << label.text.toStdString();
        EXPECT_LE(label.rect.bottom(), 7 + 7 + 1) << label.text.toStdString();
    }
    EXPECT_EQ(scale.Labels().size(), 7);
    scale.grab(); // paints bands and labels
    scale.Scale().SetVisible(false);
    scale.resize(275, 7);

    // No room for every label: every second one.
    scale.SetDirection(dirNormal);
    scale.resize(60, 7);
    EXPECT_LT(scale.Labels().size(), 7);
    scale.resize(3, 7);
    EXPECT_TRUE(scale.Labels().isEmpty()) << "nothing fits";
}

} // namespace
