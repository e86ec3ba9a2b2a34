#pragma once

// The displays as the main window shows them: size, frame, colours, fonts and data settings of each
// kind. The window sets its displays up with these, and so do the screenshot tests and benchmarks
// that stand for it, so their pictures and figures are the program's. Where a display stands, its
// name and its hint stay with the window.

#include "displays/MMLevelMath.h"

class TMMLevel;
class TMMLevelScale;
class TMMMeter;
class TMMOscope;
class TMMSpectrum;

namespace zv {

// 158 x 18, no frame, lime to 50 % and yellow to 80 % of the segments over dotted grey, peak of
// 99 frames, two-segment marker, step-up decay 8.
void SetUpMainLevel(TMMLevel& level, TMMChannel channel);
// 158 x 10, the decibel labels over the bars; its ticks are not drawn.
void SetUpMainLevelScale(TMMLevelScale& scale);
// 85 x 57, a 2-pixel border, caption "dB" in silver, lime scale, peak of 20 frames.
void SetUpMainMeter(TMMMeter& meter, TMMChannel channel);
// 170 x 56, no frame, lime curves; both channels averaged.
void SetUpMainOscope(TMMOscope& scope);
// 170 x 56, no frame, bars of a 64-point FFT with the Hamming window over both channels, lime,
// yellow from 75 %, red at the top, no info box.
void SetUpMainSpectrum(TMMSpectrum& spectrum);

} // namespace zv
