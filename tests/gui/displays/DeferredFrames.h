#pragma once

// Shared check of the level displays' deferred frames: blocks are drawn once, when they go to the
// window, from the state of the last block. The window must show what drawing and copying every
// block showed, while the data side (overflow events, peak, decay) still moves per block. A timer
// tick after every block moves the peak between the block and its deferred frame.

#include "audio/MMObj.h"
#include "displays/MMControl.h"
#include "displays/MMLevelMath.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QImage>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <tuple>

namespace zv::test {

// The refresh clock the tests step by hand.
inline std::int64_t gRefreshNow = 0;
inline std::int64_t RefreshNow()
{
    return gRefreshNow;
}

struct DeferredFrameProbe {
    std::function<void(int raw)> feed; // one block peaking at raw
    std::function<void()> tick; // one display-timer tick
    std::function<QImage()> grab; // the control's pixels on the window as they are
    bool everyBlockDraws = true; // false: a display may skip a frame the window shows already
};

// Display: TMMLevel or TMMMeter; frameEvent: the event it fires once per drawn frame.
template <typename Display>
void ExpectDeferredFramesShowWhatEveryBlockShowed(
    Display& display, TNotifyEvent& frameEvent, const DeferredFrameProbe& probe)
{
    TMMGraphicControl::SetClock(&RefreshNow);
    gRefreshNow = 1'000'000'000;
    display.SetPeakDelay(0);
    display.SetPeakSpeed(1);
    int frames = 0;
    int pcmOverflows = 0;
    int gainOverflows = 0;
    frameEvent = [&](QObject*) { ++frames; };
    display.OnPcmOverflow = [&](QObject*) { ++pcmOverflows; };
    display.OnGainOverflow = [&](QObject*) { ++gainOverflows; };
    const int levels[] = { 32767, 3000, 16384, 800, 0, 10362, 32767, 20000, 1200, 5000, 400 };
    auto flush = [&] { EXPECT_TRUE(zv::test::PumpUntil([&] { return !display.DirectCopyPending(); })); };
    // The picture after n blocks and the counts of events and frames.
    auto run = [&](int n, bool copyEveryBlock) {
        display.ResetData();
        frames = pcmOverflows = gainOverflows = 0;
        for (int i = 0; i < n; ++i) {
            // Each block in a refresh of its own, or all in one: their copy goes out at once.
            if (copyEveryBlock || i == 0)
                gRefreshNow += TMMGraphicControl::kDirectCopyInterval * 1000;
            probe.feed(levels[i % std::size(levels)]);
            if (copyEveryBlock)
                flush();
            probe.tick();
        }
        flush();
        return std::make_tuple(probe.grab(), pcmOverflows, gainOverflows, frames, display.Peak());
    };
    for (const TMMDecayMode mode : { dmNone, dmStepUp, dmExponential, dmUniform }) {
        for (const int n : { 1, 2, 6, 11, 40 }) {
            SCOPED_TRACE(testing::Message() << "decay " << mode << ", " << n << " blocks");
            display.SetDecayMode(mode);
            display.SetGain(n % 2 == 0 ? 8 : 0); // gain overflows on some blocks
            const auto [eager, eagerPcm, eagerGain, eagerFrames, eagerPeak] = run(n, true);
            const auto [deferred, pcm, gain, deferredFrames, peak] = run(n, false);
            EXPECT_EQ(deferred, eager);
            EXPECT_EQ(pcm, eagerPcm);
            EXPECT_EQ(gain, eagerGain);
            EXPECT_EQ(peak, eagerPeak) << "the peak moved per block and tick as before";
            EXPECT_LE(deferredFrames, 1) << "one frame for the whole run";
            EXPECT_GE(eagerFrames, deferredFrames);
            if (probe.everyBlockDraws && n > 2) {
                EXPECT_GT(eagerFrames, 1);
            }
        }
    }
    frameEvent = nullptr;
    display.OnPcmOverflow = nullptr;
    display.OnGainOverflow = nullptr;
    TMMGraphicControl::SetClock(nullptr);
}

} // namespace zv::test
