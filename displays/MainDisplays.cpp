#include "displays/MainDisplays.h"

#include "displays/MMLevel.h"
#include "displays/MMMeter.h"
#include "displays/MMOscope.h"
#include "displays/MMSpectr.h"

namespace zv {

namespace {

// What the capture delivers: 16-bit stereo at 44100 Hz.
const TWaveFormatEx* CaptureFormat()
{
    static const TWaveFormatEx format = [] {
        TWaveFormatEx f {};
        MakePCMFormat(f, 16, 2, 44100);
        return f;
    }();
    return &format;
}

} // namespace

void SetUpMainLevel(TMMLevel& level, TMMChannel channel)
{
    level.resize(158, 18);
    level.Bevel().SetBevelOuter(bvNone);
    level.Bevel().SetBevelInner(bvNone);
    level.Bevel().SetBorderWidth(0);
    level.SetBar1Color(clLime);
    level.SetBar2Color(clYellow);
    level.SetInactive1Color(clGray);
    level.SetInactive2Color(clGray);
    level.SetInactiveDoted(true);
    level.SetActiveDoted(true);
    level.SetPoint2(80);
    level.SetPCMFormat(CaptureFormat());
    level.SetSamples(99);
    level.SetNumPeaks(2);
    level.SetDecayMode(dmStepUp);
    level.SetDecay(8);
    level.SetTag2(0);
    level.SetChannel(channel);
}

void SetUpMainLevelScale(TMMLevelScale& scale)
{
    // Exactly as wide as the bars, so that each label stands over its level.
    scale.resize(158, 10);
    scale.setFont(MakePixelFont(QStringLiteral("Small Fonts"), 9));
    scale.SetPoint2(80);
    scale.Scale().SetTickCount(11);
    scale.Scale().SetEnlargeEvery(5);
    scale.Scale().SetSize(7);
    scale.Scale().SetOrigin(soInner);
    scale.Scale().SetConnect(false);
    scale.Scale().SetVisible(false);
}

void SetUpMainMeter(TMMMeter& meter, TMMChannel channel)
{
    meter.resize(85, 57);
    meter.Bevel().SetBevelOuter(bvNone);
    meter.Bevel().SetBevelInner(bvNone);
    meter.Bevel().SetBorderWidth(2);
    meter.SetCaption(QStringLiteral("dB"));
    meter.setFont(MakePixelFont(QStringLiteral("MS Sans Serif"), 11, true));
    meter.SetFontColor(clSilver);
    meter.SetScale1Color(clLime);
    meter.SetNeedleOffset(50);
    meter.SetScaleHeight1(3);
    meter.SetScaleAngle(45);
    meter.SetTopSpace(12);
    meter.SetPCMFormat(CaptureFormat());
    meter.SetSamples(20);
    meter.SetDecayMode(dmStepUp);
    meter.SetDecay(8);
    meter.SetPeakSpeed(2);
    meter.SetChannel(channel);
}

void SetUpMainOscope(TMMOscope& scope)
{
    // Its own defaults otherwise: both channels averaged, info under the mouse.
    scope.Bevel().SetBevelOuter(bvNone);
    scope.Bevel().SetBevelInner(bvNone);
    scope.resize(170, 56);
    scope.SetKind(okCzoVevas);
    scope.SetForegroundColor(clLime);
    scope.SetPCMFormat(CaptureFormat());
    scope.SetBitLength(b16Bit);
    scope.SetSampleRate(44100);
    scope.SetMode(mStereo);
}

void SetUpMainSpectrum(TMMSpectrum& spectrum)
{
    spectrum.Bevel().SetBevelOuter(bvNone);
    spectrum.Bevel().SetBevelInner(bvNone);
    spectrum.resize(170, 56);
    spectrum.SetKind(skBars);
    spectrum.SetPCMFormat(CaptureFormat());
    spectrum.SetMode(mStereo);
    spectrum.SetChannel(chBoth);
    spectrum.SetBitLength(b16Bit);
    spectrum.SetSampleRate(44100);
    spectrum.SetFFTLength(64);
    spectrum.SetWindow(fwHamming);
    spectrum.SetGain(sg3db);
    spectrum.SetDecayMode(dmStepUp);
    spectrum.SetDecay(8);
    spectrum.SetVerticalScale(20);
    spectrum.SetPoint2(75);
    spectrum.SetBar1Color(clLime);
    spectrum.SetBar2Color(clYellow);
    spectrum.SetBar3Color(clRed);
    spectrum.SetInactive1Color(clBlack);
    spectrum.SetInactive2Color(clBlack);
    spectrum.SetInactive3Color(clBlack);
    spectrum.SetInactiveDoted(true);
    spectrum.SetShowInfo(false);
    spectrum.setCursor(Qt::ArrowCursor);
}

} // namespace zv
