#pragma once

// The measuring half shared by the level bar and the needle meter: block peak, decay, the
// decibel mapping, the falling peak marker; and the level bar's segment layout and drawing.
// No window needed.

#include "audio/MMObj.h"
#include "displays/MMDIBCv.h"
#include "platform/Exception.h"

#include <QRect>
#include <array>
#include <atomic>
#include <cstdint>

enum TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };
enum TMMLevelKind { lkHorizontal, lkVertical };
enum TMMLevelDirection { dirNormal, dirReversed, dirSymetric };

ZV_DECLARE_EXCEPTION(EMMLevelError, Exception);
ZV_DECLARE_EXCEPTION(EMMMeterError, Exception);

namespace zv {

constexpr int kFullScale = 32767;
// The largest sample count a display takes per update; keeps BytesNeeded inside an int.
constexpr int kMaxSamples = 1 << 20;

// How a level display reads its data.
struct SampleLayout {
    TMMBits bits = b8Bit;
    TMMMode mode = mMono;
    TMMChannel channel = chBoth;
    int samples = 50;
    int offsetL = 0; // added to every left (or mono) sample: the negated DC offset
    int offsetR = 0;

    // (BitLength + 1) x (Mode + 1) x Samples.
    int BytesNeeded() const;
};

// The largest magnitude of the measured signal over the first samples frames at data.
int BlockPeak(const void* data, const SampleLayout& layout);

// Smoothing of successive levels.
class LevelDecay {
public:
    LevelDecay() { SetDecay(1); }

    TMMDecayMode Mode() const { return m_mode; }
    // Changing the mode zeroes the state.
    void SetMode(TMMDecayMode mode);
    int Decay() const { return m_decay; }
    // 1 ... 16; in dmUniform a change zeroes the state.
    void SetDecay(int decay);
    void Reset();

    // The smoothed level for v. risesOnEqual: the needle meter's step-up rule (v >= last
    // restarts the fall), the level bar's is v > last.
    int Apply(int v, bool risesOnEqual = false);

    float Factor() const { return m_factor; }
    int RingLength() const { return m_length; }

private:
    TMMDecayMode m_mode = dmNone;
    int m_decay = 1;
    std::array<int, 32> m_ring {};
    int m_position = 0;
    int m_fill = 0;
    std::int64_t m_sum = 0;
    float m_last = 0.0f;
    float m_factor = 0.01f;
    int m_length = 1;
};

// The amplitude of the bottom of a linear scale: 32767 / 10^(-S / 20) in single precision.
float LinearFloor(int sensitivity);
// Segments lit for level v (before the symmetric halving and the overflow clamp); 0 or more.
int LevelToSpots(int v, int gain, int sensitivity, bool logAmp, int numSpots);
// Needle units 0 ... for level v (before the overflow clamp).
int LevelToNeedle(int v, int gain, int sensitivity, bool logAmp);
// Value in percent shown by `shown` out of `range` (segments, or 32767 for the needle).
int ShownToPercent(int shown, int range, int gain, int sensitivity, bool logAmp);
// The level of a percent written to Value: Round(v x 32767 / 100), v clamped to 0 ... 100.
int PercentToLevel(int percent);

// The falling peak marker, moved by the display timer's thread and read by the drawing side.
struct PeakMarker {
    std::atomic<int> peak { 0 };
    std::atomic<int> counter { 0 };
    std::atomic<bool> redraw { false };

    void Reset()
    {
        peak = 0;
        counter = 0;
        redraw = false;
    }
    // A rise to value: holds it for delay x 2 + 1 ticks. A marker that stays where it is needs no
    // redraw, so a steady level does not repaint with every block.
    void Raise(int value, int delay)
    {
        const int old = peak.exchange(value);
        counter = delay * 2 + 1;
        if (old != value) {
            {
                {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                {
                                                    redraw = true;
                                                }
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    // One display-timer tick (timer thread): counts the hold down, then moves the marker to
    // next(peak) and holds it for speed ticks. A rise on the user-interface thread meanwhile wins.
    template <typename Next> void Fall(int speed, Next next)
    {
        int value = peak.load();
        if (value <= 0) {
            {
                {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                {
                                                    return;
                                                }
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
        const int left = counter.load() - 1;
        if (left > 0) {
            counter = left;
            return;
        }
        if (peak.compare_exchange_strong(value, next(value))) {
            counter = speed;
            redraw = true;
        }
    }
};

// Segment layout of a level bar inside its inner rectangle.
struct LevelGeometry {
    int width = 1; // inner size, at least 1 each
    int height = 1;
    TMMLevelKind kind = lkHorizontal;
    TMMLevelDirection direction = dirNormal;
    int spotWidth = 1;
    int spotSpace = 1;
    int numSpots = 1;
    int margin = 0;
    int p1 = 0; // zone limits in segments
    int p2 = 0;

    // spotWidth is clamped to 1 ... a third of the extent along the bar.
    static LevelGeometry Compute(int width, int height, TMMLevelKind kind, TMMLevelDirection direction,
        int spotWidth, int spotSpace, int point1, int point2);
    // Segment n (1 = first) in canvas coordinates.
    QRect Segment(int n) const;
    // Zone 0, 1 or 2 of segment n.
    int Zone(int n) const { return n > p2 ? 2 : (n > p1 ? 1 : 0); }
};

// Draws count lit segments and the peak marker at peak (numPeaks segments, none when 0 or when
// count reaches it) into the canvas's open drawing bracket, in the three zone pixel values.
void DrawLevelSegments(TMMDIBCanvas& canvas, const LevelGeometry& geometry,
    const std::array<std::uint32_t, 3>& pixels, bool dotted, int count, int peak, int numPeaks);

// A point of the needle meter's scale: value x (0 ... 32767) at radius r, for an inner area of
// width w and height h, the pivot needleOffset below it and a scale of scaleAngle degrees.
QPoint NeedlePoint(int x, int r, int w, int h, int needleOffset, int scaleAngle);

} // namespace zv
