#include "DisplayInput.h"
#include "displays/MMOscope.h"

#include <QApplication>
#include <QScreen>
#include <cmath>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

using zv::test::Mouse;
using zv::test::StereoSine;

// One block: a frame per pixel column of the 170-pixel panel.
constexpr int kFrames = 170;

// The oscilloscope in the main window's 170 x 56 panel, set up as the main window does.
struct Panel {
    QWidget window;
    TMMOscope* scope;

    Panel()
    {
        window.resize(170, 56);
        scope = new TMMOscope(&window);
        scope->Bevel().SetBevelOuter(bvNone);
        scope->setGeometry(0, 0, 170, 56);
        scope->SetKind(okCzoVevas);
        scope->SetForegroundColor(clLime);
        TWaveFormatEx format {};
        MakePCMFormat(format, 16, 2, 44100);
        scope->SetPCMFormat(&format);
        window.show();
        QApplication::processEvents();
    }

    QImage Shot() { return window.grab().toImage(); }
    // What the window shows now, without painting anything anew.
    QImage Shown() { return window.screen()->grabWindow(window.winId()).toImage(); }
};

TEST(OscopeWidget, MainWindowPanel)
{
    Panel panel;
    EXPECT_EQ(panel.scope->DrawRect(), QRect(0, 0, 170, 56));
    EXPECT_EQ(panel.scope->BytesNeeded(), 680);
    EXPECT_EQ(panel.scope->ScrollStep(), 0);
    const auto tone = StereoSine(441, 30000, kFrames);
    panel.scope->ProcessData(tone.data());
    const QImage shot = panel.Shot();
    EXPECT_EQ(shot.pixel(0, 28), qRgb(0, 255, 0)) << "the sine starts at the middle";
    int lit = 0;
    for (int y = 0; y < 56; ++y)
        lit += shot.pixel(25, y) == qRgb(0, 255, 0); // a quarter period: near the top
    EXPECT_GT(lit, 0);
    EXPECT_EQ(shot.pixel(25, 55), qRgb(0, 0, 0));
}

TEST(OscopeWidget, DrawLineHandlerReplacesTheFrame)
{
    Panel panel;
    int calls = 0, posts = 0;
    panel.scope->OnPostPaint = [&](QObject*) { ++posts; };
    panel.scope->SetOnDrawLine(
        [&](QObject* sender, TMMDIBCanvas& dib, const QRect& rect, const std::int16_t* data) {
            EXPECT_EQ(sender, panel.scope);
            EXPECT_EQ(rect, QRect(0, 0, 170, 56));
            EXPECT_EQ(data[25], panel.scope->Core().ScopeData()[25]);
            dib.SetDrawColor(clNavy);
            dib.Clear();
            ++calls;
        });
    const auto tone = StereoSine(441, 30000, kFrames);
    panel.scope->ProcessData(tone.data());
    panel.scope->FlushDirect(); // the frame is drawn when it goes to the window
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(panel.Shot().pixel(0, 28), qRgb(0, 0, 128));
}

// The blocks of one display refresh draw one frame, the last block's, just before it goes to the
// window: the window shows what drawing every block showed, and the overflow events still come per
// block. Scrolling takes a column per block and is drawn per block.
TEST(OscopeWidget, OneFrameForManyBlocksShowsWhatDrawingEveryBlockShowed)
{
    const std::vector<std::int16_t> blocks[] = { StereoSine(441, 32767, kFrames),
        StereoSine(882, 9000, kFrames), StereoSine(300, 20000, kFrames) };
    for (const bool scroll : { false, true }) {
        for (const TMMOscopeKind kind : { okDots, okCzoVevas, okVertLines, okMirLines, okSpikes }) {
            SCOPED_TRACE(testing::Message() << "kind " << int(kind) << (scroll ? ", scrolling" : ""));
            const auto run = [&](bool copyEveryBlock) {
                Panel panel;
                TMMOscope& o = *panel.scope;
                o.SetKind(kind);
                o.SetScroll(scroll);
                o.SetGain(2);
                o.SetDrawGrid(true);
                QApplication::processEvents();
                int pcm = 0, gain = 0, frames = 0;
                o.OnPcmOverflow = [&](QObject*) { ++pcm; };
                o.OnGainOverflow = [&](QObject*) { ++gain; };
                o.OnPostPaint = [&](QObject*) { ++frames; };
                for (int i = 0; i < 7; ++i) {
                    o.ProcessData(blocks[i % std::size(blocks)].data());
                    if (copyEveryBlock)
                        o.FlushDirect();
                }
                o.FlushDirect();
                return std::make_tuple(panel.Shown(), pcm, gain, frames);
            };
            const auto [eager, eagerPcm, eagerGain, eagerFrames] = run(true);
            const auto [deferred, pcm, gain, frames] = run(false);
            EXPECT_EQ(deferred, eager);
            EXPECT_EQ(pcm, eagerPcm);
            EXPECT_GT(pcm, 0) << "the full-scale blocks";
            EXPECT_EQ(gain, eagerGain);
            EXPECT_GT(gain, 0);
            if (!scroll) {
                EXPECT_EQ(eagerFrames, 7);
                EXPECT_EQ(frames, 1) << "one frame for the whole refresh";
            }
        }
    }
}

// A press starts info mode on the last block's frame even when that frame still waits for its copy.
TEST(OscopeWidget, InfoBoxGoesOntoTheFrameWaitingForItsCopy)
{
    Panel panel;
    const auto tone = StereoSine(441, 30000, kFrames);
    panel.scope->ProcessData(tone.data());
    Mouse(panel.scope, QEvent::MouseButtonPress, QPoint(120, 10));
    ASSERT_TRUE(panel.scope->InfoMode());
    panel.scope->FlushDirect();
    const QImage shown = panel.Shown();
    EXPECT_EQ(shown.pixel(0, 28), qRgb(0, 255, 0)) << "the sine starts at the middle";
    int white = 0;
    for (int y = 0; y < 56; ++y)
        for (int x = 0; x < 170; ++x)
            white += shown.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_GT(white, 100) << "the info box stays on top";
    Mouse(panel.scope, QEvent::MouseButtonRelease, QPoint(120, 10));
}

TEST(OscopeWidget, InfoTextsAtTheMainWindowSettings)
{
    Panel panel;
    const TMMOscope& s = *panel.scope;
    EXPECT_EQ(s.InfoText(QPoint(84, 0)), QStringLiteral(" 2.0 ms 1.00 V"));
    EXPECT_EQ(s.InfoText(QPoint(169, 55)), QStringLiteral(" 4.0 ms -1.00 V"));
    EXPECT_EQ(s.InfoText(QPoint(0, 28)), QStringLiteral(" 0.0 ms 0.00 V"));
    EXPECT_EQ(s.InfoText(QPoint(0, 56)), QString());
}

TEST(OscopeWidget, HoldingTheLeftButtonFreezesThePicture)
{
    Panel panel;
    const auto a = StereoSine(441, 20000, kFrames), b = StereoSine(1500, 20000, kFrames);
    panel.scope->ProcessData(a.data());
    const QImage before = panel.Shot();
    Mouse(panel.scope, QEvent::MouseButtonPress, QPoint(84, 5));
    ASSERT_TRUE(panel.scope->InfoMode());
    panel.scope->ProcessData(b.data());
    const QImage frozen = panel.Shot();
    EXPECT_EQ(frozen.pixel(150, 40), before.pixel(150, 40)) << "data is ignored";
    int white = 0;
    for (int y = 0; y < 56; ++y)
        for (int x = 0; x < 170; ++x)
            white += frozen.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_GT(white, 100) << "the info box";
    Mouse(panel.scope, QEvent::MouseButtonRelease, QPoint(84, 5));
    EXPECT_FALSE(panel.scope->InfoMode());
    EXPECT_EQ(panel.Shot(), before);
    panel.scope->ProcessData(b.data());
    EXPECT_NE(panel.Shot(), before);
}

TEST(OscopeWidget, RightButtonSelectsARange)
{
    Panel panel;
    panel.scope->SetUseSelection(true);
    panel.scope->SetIndexedColor(10, clNavy); // selection fill; the outline stays red
    std::vector<std::pair<int, int>> selecting, ends;
    panel.scope->OnSelecting = [&](QObject*, int a, int b) { selecting.emplace_back(a, b); };
    panel.scope->OnSelectEnd = [&](QObject*, int a, int b) { ends.emplace_back(a, b); };
    Mouse(panel.scope, QEvent::MouseButtonPress, QPoint(40, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseMove, QPoint(90, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseButtonRelease, QPoint(90, 20), Qt::RightButton);
    EXPECT_EQ(panel.scope->SelStart(), 40);
    EXPECT_EQ(panel.scope->SelEnd(), 90);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], (std::pair { 40, 90 }));
    EXPECT_EQ(selecting.back(), (std::pair { 40, 90 }));
    const QImage shot = panel.Shot();
    EXPECT_EQ(shot.pixel(60, 10), qRgb(0, 0, 128)) << "the selection fill";
    EXPECT_EQ(shot.pixel(40, 1), qRgb(255, 0, 0)) << "dashed outline";

    // Dragging the end edge back, then moving the whole selection.
    Mouse(panel.scope, QEvent::MouseButtonPress, QPoint(91, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseMove, QPoint(70, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseButtonRelease, QPoint(70, 20), Qt::RightButton);
    EXPECT_EQ(ends.back(), (std::pair { 40, 70 }));
    Mouse(panel.scope, QEvent::MouseButtonPress, QPoint(55, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseMove, QPoint(300, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseButtonRelease, QPoint(300, 20), Qt::RightButton);
    EXPECT_EQ(ends.back(), (std::pair { 139, 169 })) << "moved as a whole, kept inside";

    // A click without a drag clears it; a locked selection stays.
    Mouse(panel.scope, QEvent::MouseButtonPress, QPoint(10, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseButtonRelease, QPoint(10, 20), Qt::RightButton);
    EXPECT_EQ(ends.back(), (std::pair { -1, -1 }));
    panel.scope->SetSelection(5, 50);
    panel.scope->SetLocked(true);
    Mouse(panel.scope, QEvent::MouseButtonPress, QPoint(100, 20), Qt::RightButton);
    Mouse(panel.scope, QEvent::MouseButtonRelease, QPoint(100, 20), Qt::RightButton);
    EXPECT_EQ(panel.scope->SelStart(), 5);
    EXPECT_EQ(panel.scope->SelEnd(), 50);
}

TEST(OscopeWidget, ScrollingScopesRestartTogether)
{
    QWidget window;
    window.resize(400, 100);
    auto* a = new TMMOscope(&window);
    auto* b = new TMMOscope(&window);
    a->setGeometry(0, 0, 194, 90);
    b->setGeometry(200, 0, 194, 90);
    for (TMMOscope* s : { a, b }) {
        s->SetScroll(true);
        s->SetKind(okVertLines);
        s->SetBitLength(b16Bit);
        s->SetMode(mStereo);
    }
    EXPECT_EQ(TMMOscope::Instances().size(), 2u);
    EXPECT_EQ(a->ScrollStep(), 128) << "a quarter of 128 frames of 4 bytes";
    window.show();
    QApplication::processEvents();
    const auto tone = StereoSine(200, 20000, 128);
    for (int i = 0; i < 20; ++i) {
        a->ProcessData(tone.data());
        b->ProcessData(tone.data());
    }
    EXPECT_EQ(a->Core().SweepCount(), 20);
    a->repaint(); // a full frame of one restarts the other at its next block
    EXPECT_EQ(a->Core().SweepCount(), 0);
    EXPECT_EQ(b->Core().SweepCount(), 20);
    b->ProcessData(tone.data());
    EXPECT_EQ(b->Core().SweepCount(), 1);
    delete b;
    EXPECT_EQ(TMMOscope::Instances().size(), 1u);
}

TEST(OscopeWidget, SmallestSizeAndDisabledLine)
{
    Panel panel;
    TMMOscope& s = *panel.scope;
    s.SetBounds(0, 0, 1, 1);
    EXPECT_EQ(s.width(), 2);
    EXPECT_EQ(s.height(), 2);
    s.SetDrawAmpScale(true);
    s.SetDrawTimeScale(true);
    s.SetBounds(0, 0, 1, 1);
    EXPECT_EQ(s.width(), 66);
    EXPECT_EQ(s.height(), 42);
    s.SetDrawAmpScale(false);
    s.SetDrawTimeScale(false);
    s.SetBounds(0, 0, 170, 56);
    s.SetEnabled(false);
    QApplication::processEvents();
    const QImage shot = panel.Shot();
    EXPECT_EQ(shot.pixel(4, 28), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(5, 28), qRgb(128, 128, 128));
    EXPECT_EQ(shot.pixel(164, 28), qRgb(128, 128, 128));
    EXPECT_EQ(shot.pixel(165, 28), qRgb(0, 0, 0));
}

} // namespace
