#include "DisplayInput.h"
#include "displays/MMSpectr.h"
#include "displays/MMTimer.h"

#include <QApplication>
#include <QScreen>
#include <cmath>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

using zv::test::Mouse;
using zv::test::StereoSine;

// One block of the main window's 64-point FFT.
constexpr int kFrames = 64;

// The spectrum in the main window's 170 x 56 panel, set up as the main window does.
struct Panel {
    QWidget window;
    TMMSpectrum* spectrum;

    Panel()
    {
        zv::DisplayTimerService::Instance().SetManual(true);
        window.resize(170, 56);
        spectrum = new TMMSpectrum(&window);
        spectrum->Bevel().SetBevelOuter(bvNone);
        spectrum->setGeometry(0, 0, 170, 56);
        TWaveFormatEx format {};
        MakePCMFormat(format, 16, 2, 44100);
        spectrum->SetPCMFormat(&format);
        spectrum->SetFFTLength(64);
        spectrum->SetGain(sg3db);
        spectrum->SetDecayMode(dmStepUp);
        spectrum->SetDecay(8);
        spectrum->SetVerticalScale(20);
        spectrum->SetPoint2(75);
        spectrum->SetBar1Color(clLime);
        spectrum->SetBar2Color(clYellow);
        spectrum->SetBar3Color(clRed);
        spectrum->SetInactive1Color(clBlack);
        spectrum->SetInactive2Color(clBlack);
        spectrum->SetInactive3Color(clBlack);
        spectrum->SetInactiveDoted(true);
        spectrum->SetShowInfo(false);
        window.show();
        QApplication::processEvents();
    }

    QImage Shot() { return window.grab().toImage(); }
    // What the window shows now, without painting anything anew.
    QImage Shown() { return window.screen()->grabWindow(window.winId()).toImage(); }
};

TEST(SpectrumWidget, DataReachesTheWindowAtOnce)
{
    Panel panel;
    EXPECT_EQ(panel.spectrum->DrawRect(), QRect(0, 0, 170, 56));
    EXPECT_EQ(panel.spectrum->BytesNeeded(), 256);
    const auto tone = StereoSine(689.0625 * 4, 20000, kFrames);
    panel.spectrum->ProcessData(tone.data());
    const QImage shot = panel.Shot();
    EXPECT_EQ(shot.pixel(22 + 1, 55), qRgb(0, 255, 0)) << "bar 4 lit";
    EXPECT_EQ(shot.pixel(160, 55), qRgb(0, 0, 0)) << "bar 30 dark";
}

TEST(SpectrumWidget, WithoutShowInfoAPressChangesNothing)
{
    Panel panel;
    const auto tone = StereoSine(2000, 20000, kFrames);
    Mouse(panel.spectrum, QEvent::MouseButtonPress, QPoint(50, 20));
    EXPECT_FALSE(panel.spectrum->InfoMode());
    panel.spectrum->ProcessData(tone.data());
    EXPECT_GT(panel.spectrum->Core().PeakInfo().Value, 0) << "data still taken";
    Mouse(panel.spectrum, QEvent::MouseButtonRelease, QPoint(50, 20));
}

TEST(SpectrumWidget, InfoModeFreezesShowsTheBoxAndRestoresThePicture)
{
    Panel panel;
    panel.spectrum->SetShowInfo(true);
    const auto tone = StereoSine(689.0625 * 4, 20000, kFrames);
    const auto other = StereoSine(689.0625 * 20, 20000, kFrames);
    panel.spectrum->ProcessData(tone.data());
    const QImage before = panel.Shot();

    Mouse(panel.spectrum, QEvent::MouseButtonPress, QPoint(40, 10));
    ASSERT_TRUE(panel.spectrum->InfoMode());
    panel.spectrum->ProcessData(other.data());
    zv::DisplayTimerService::Instance().Tick();
    const QImage frozen = panel.Shot();
    int white = 0;
    for (int y = 0; y < 56; ++y)
        for (int x = 0; x < 170; ++x)
            white += frozen.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_GT(white, 100) << "the info box";
    EXPECT_EQ(frozen.pixel(22 + 1, 55), before.pixel(22 + 1, 55)) << "new data is ignored";

    Mouse(panel.spectrum, QEvent::MouseButtonRelease, QPoint(40, 10));
    EXPECT_FALSE(panel.spectrum->InfoMode());
    EXPECT_EQ(panel.Shot(), before) << "the box is gone, the picture as it was";
}

// The blocks of one display refresh draw one frame, just before it goes to the window. It must show
// what drawing every block showed, while the bars' peaks, the peak frequency and the gain overflow
// event still move per block (timer ticks between the blocks make the peaks fall).
TEST(SpectrumWidget, OneFrameForManyBlocksShowsWhatDrawingEveryBlockShowed)
{
    const std::vector<std::int16_t> blocks[] = { StereoSine(689.0625 * 4, 30000, kFrames),
        StereoSine(689.0625 * 20, 6000, kFrames), StereoSine(689.0625 * 9, 15000, kFrames),
        std::vector<std::int16_t>(std::size_t(kFrames) * 2, 0) };
    for (const TMMSpectrumKind kind : { skBars, skPeaks, skDots, skVLines, skLines, skScroll }) {
        SCOPED_TRACE(testing::Message() << "kind " << int(kind));
        const auto run = [&](bool copyEveryBlock) {
            Panel panel;
            TMMSpectrum& s = *panel.spectrum;
            s.SetKind(kind);
            s.SetNumPeaks(1);
            s.SetPeakDelay(1);
            s.SetPeakSpeed(1);
            s.SetGain(sg12db);
            s.SetDecayMode(dmNone); // bars follow each block, so peaks stand above them
            s.SetDisplayPeak(true);
            QApplication::processEvents();
            int overflows = 0;
            s.OnGainOverflow = [&](QObject*) { ++overflows; };
            for (int i = 0; i < 10; ++i) {
                zv::DisplayTimerService::Instance().Tick();
                s.ProcessData(blocks[i % std::size(blocks)].data());
                if (copyEveryBlock)
                    s.FlushDirect();
            }
            s.FlushDirect();
            return std::make_tuple(panel.Shown(), overflows, s.PeakText());
        };
        const auto [eager, eagerOverflows, eagerText] = run(true);
        const auto [deferred, overflows, text] = run(false);
        EXPECT_EQ(deferred, eager);
        EXPECT_EQ(overflows, eagerOverflows);
        EXPECT_GT(overflows, 2) << "an overflow per loud block";
        EXPECT_EQ(text, eagerText);
    }
}

// Counts the paint events of a widget: each copy of a frame to the window is one.
struct PaintCounter : QObject {
    int count = 0;
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

// A picture that stays the same costs no copy to the window; lower bars or a falling peak are
// copied again, and the window always shows the display's state.
TEST(SpectrumWidget, ASteadySpectrumCostsNoCopy)
{
    Panel panel;
    TMMSpectrum& s = *panel.spectrum;
    s.SetDecayMode(dmNone);
    s.SetNumPeaks(1);
    s.SetPeakDelay(0);
    s.SetPeakSpeed(1);
    QApplication::processEvents();
    const PaintCounter paints(&s);
    const auto feed = [&](const std::vector<std::int16_t>& block) {
        s.ProcessData(block.data());
        s.FlushDirect();
    };
    const auto tone = StereoSine(689.0625 * 4, 20000, kFrames);
    const auto quieter = StereoSine(689.0625 * 4, 5000, kFrames);
    feed(tone);
    EXPECT_EQ(paints.count, 1);
    for (int i = 0; i < 4; ++i)
        feed(tone);
    EXPECT_EQ(paints.count, 1) << "the same picture";
    feed(quieter);
    EXPECT_EQ(paints.count, 2) << "lower bars under the held peaks";
    zv::DisplayTimerService::Instance().Tick();
    feed(quieter);
    EXPECT_EQ(paints.count, 3) << "the peaks fell a step";
    EXPECT_EQ(panel.Shown(), panel.Shot()) << "the window shows the state";
}

// A press starts info mode on the last block's frame even when that frame still waits for its copy.
TEST(SpectrumWidget, InfoBoxGoesOntoTheFrameWaitingForItsCopy)
{
    Panel panel;
    panel.spectrum->SetShowInfo(true);
    const auto tone = StereoSine(689.0625 * 4, 20000, kFrames);
    panel.spectrum->ProcessData(tone.data());
    Mouse(panel.spectrum, QEvent::MouseButtonPress, QPoint(120, 10));
    ASSERT_TRUE(panel.spectrum->InfoMode());
    panel.spectrum->FlushDirect();
    const QImage shown = panel.Shown();
    EXPECT_EQ(shown.pixel(22 + 1, 55), qRgb(0, 255, 0)) << "bar 4 lit";
    int white = 0;
    for (int y = 0; y < 56; ++y)
        for (int x = 0; x < 170; ++x)
            white += shown.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_GT(white, 100) << "the info box stays on top";
    Mouse(panel.spectrum, QEvent::MouseButtonRelease, QPoint(120, 10));
}

TEST(SpectrumWidget, InfoTexts)
{
    Panel panel;
    TMMSpectrum& s = *panel.spectrum;
    EXPECT_EQ(s.InfoText(QPoint(0, 0)), QStringLiteral("0.000 KHz 0.20 V"));
    EXPECT_EQ(s.InfoText(QPoint(169, 55)), QStringLiteral("22.050 KHz 0.00 V"));
    EXPECT_EQ(s.InfoText(QPoint(170, 10)), QString()) << "outside the drawing area";
    s.SetVerticalScale(5);
    EXPECT_EQ(s.InfoText(QPoint(0, 0)), QStringLiteral("0.000 KHz 0.050 V"));
    s.SetLogAmp(true);
    EXPECT_EQ(s.InfoText(QPoint(0, 55)), QStringLiteral("0.000 KHz -60.0 dB"));
    s.SetKind(skScroll);
    EXPECT_EQ(s.InfoText(QPoint(0, 55)), QStringLiteral("0.000 KHz"));
}

TEST(SpectrumWidget, PeakFrequencyText)
{
    Panel panel;
    TMMSpectrum& s = *panel.spectrum;
    s.SetDisplayPeak(true);
    EXPECT_EQ(s.PeakText(), QString()) << "nothing while the peak is 5 or less";
    const auto tone = StereoSine(689.0625 * 6, 25000, kFrames);
    s.ProcessData(tone.data());
    EXPECT_EQ(s.Core().PeakInfo().Bin, 6);
    EXPECT_EQ(s.PeakText(), QStringLiteral("4478.9 Hz")) << "(bin + 0.5) x SR / N";
}

TEST(SpectrumWidget, SmallestSizeLeavesRoomForTheScales)
{
    QWidget window;
    auto* s = new TMMSpectrum(&window);
    EXPECT_EQ(s->width(), 194);
    EXPECT_EQ(s->height(), 89);
    const int e = s->Bevel().BevelExtent();
    s->SetBounds(0, 0, 2, 2);
    EXPECT_EQ(s->width(), 2 * e + 5);
    EXPECT_EQ(s->height(), 2 * e + 5);
    s->SetDrawAmpScale(true);
    s->SetDrawFreqScale(true);
    s->SetBounds(0, 0, 2, 2);
    EXPECT_EQ(s->width(), 2 * e + 69);
    EXPECT_EQ(s->height(), 2 * e + 45);
    EXPECT_EQ(s->DrawRect(), QRect(32 + e, e, 5, 5));
    EXPECT_EQ(s->Core().W(), 5);
}

TEST(SpectrumWidget, DisablingClearsAndFreezesTheTimer)
{
    Panel panel;
    int needData = 0;
    panel.spectrum->OnNeedData = [&](QObject* sender) {
        EXPECT_EQ(sender, panel.spectrum);
        ++needData;
    };
    const auto tone = StereoSine(3000, 20000, kFrames);
    panel.spectrum->ProcessData(tone.data());
    panel.spectrum->SetEnabled(false);
    EXPECT_FALSE(panel.spectrum->Core().TimerRunning());
    EXPECT_EQ(needData, 0) << "no data is asked for while disabled";
    panel.spectrum->ProcessData(tone.data());
    EXPECT_EQ(panel.spectrum->Core().PeakInfo().Value, 0);
    panel.spectrum->SetEnabled(true);
    EXPECT_TRUE(panel.spectrum->Core().TimerRunning());
    EXPECT_EQ(needData, 1);
}

TEST(SpectrumWidget, HandlersReplaceBarsAndBackground)
{
    Panel panel;
    int bars = 0, clears = 0, maxSpots = 0;
    panel.spectrum->SetOnClearBackground([&](QObject* sender, TMMDIBCanvas& dib, const QRect& rect) {
        EXPECT_EQ(sender, panel.spectrum);
        EXPECT_EQ(rect, QRect(0, 0, 170, 56));
        dib.SetDrawColor(clNavy);
        dib.Clear();
        ++clears;
    });
    panel.spectrum->SetOnDrawBar([&](QObject*, TMMDIBCanvas&, const QRect& rect, int spots, int) {
        EXPECT_EQ(rect.height(), 56);
        maxSpots = std::max(maxSpots, spots);
        ++bars;
    });
    const auto tone = StereoSine(689.0625 * 4, 30000, kFrames);
    panel.spectrum->ProcessData(tone.data());
    panel.spectrum->FlushDirect(); // the frame is drawn when it goes to the window
    EXPECT_EQ(bars, 32);
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(maxSpots, 56) << "with a handler the steps are pixels";
    EXPECT_EQ(panel.Shot().pixel(23, 50), qRgb(0, 0, 128)) << "nothing drawn but the handler's background";
}

} // namespace
