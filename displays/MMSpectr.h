#pragma once

// The live spectrum analyser control: the arithmetic and frame drawing of zv::SpectrumCore
// (MMSpectrMath.h) on a display control, with the frequency and amplitude scales, the peak
// frequency text and the info mode under the left mouse button. Everything here runs on the
// user-interface thread; the core's peak timer moves only counters.

#include "displays/MMSignalDisplay.h"
#include "displays/MMSpectrMath.h"

#include <QPoint>
#include <functional>

class TMMSpectrum : public TMMSignalDisplay {
    Q_OBJECT
public:
    using TNotify = std::function<void(QObject* Sender)>;
    using TMMSpectrumDrawBar
        = std::function<void(QObject* Sender, TMMDIBCanvas& DIB, const QRect& Rect, int nSpots, int Peak)>;
    using TMMSpectrumClear = std::function<void(QObject* Sender, TMMDIBCanvas& DIB, const QRect& Rect)>;
    using TMMSpectrumGetXScale = std::function<void(QObject* Sender, int* pX1, int* pX2)>;

    explicit TMMSpectrum(QWidget* parent = nullptr);
    ~TMMSpectrum() override;

    zv::SpectrumCore& Core() { return m_core; }
    const zv::SpectrumCore& Core() const { return m_core; }

    // ---- properties ----
    TMMSpectrumKind Kind() const { return m_core.Kind(); }
    void SetKind(TMMSpectrumKind kind);
    bool Enabled() const { return m_core.Enabled(); }
    void SetEnabled(bool enabled);
    TMMMode Mode() const { return m_core.Mode(); }
    void SetMode(TMMMode mode) { m_core.SetMode(mode); }
    TMMBits BitLength() const { return m_core.BitLength(); }
    void SetBitLength(TMMBits bits) { m_core.SetBitLength(bits); }
    TMMChannel Channel() const { return m_core.Channel(); }
    void SetChannel(TMMChannel channel) { m_core.SetChannel(channel); }
    int SampleRate() const { return m_core.SampleRate(); }
    void SetSampleRate(int rate) { Repaint(m_core.SetSampleRate(rate)); }
    int FFTLength() const { return m_core.FFTLength(); }
    void SetFFTLength(int length) { Repaint(m_core.SetFFTLength(length)); }
    TMMFFTWindow Window() const { return m_core.Window(); }
    void SetWindow(TMMFFTWindow window) { m_core.SetWindow(window); }
    TMMSpectrumGain Gain() const { return m_core.Gain(); }
    void SetGain(TMMSpectrumGain gain) { Repaint(m_core.SetGain(gain)); }
    int RefFreq() const { return m_core.RefFreq(); }
    void SetRefFreq(int hz) { Repaint(m_core.SetRefFreq(hz)); }
    int VerticalScale() const { return m_core.VerticalScale(); }
    void SetVerticalScale(int percent) { Repaint(m_core.SetVerticalScale(percent)); }
    int FrequencyScale() const { return m_core.FrequencyScale(); }
    void SetFrequencyScale(int scale) { Repaint(m_core.SetFrequencyScale(scale)); }
    bool LogFreq() const { return m_core.LogFreq(); }
    void SetLogFreq(bool value) { Repaint(m_core.SetLogFreq(value)); }
    bool LogAmp() const { return m_core.LogAmp(); }
    void SetLogAmp(bool value) { Repaint(m_core.SetLogAmp(value)); }
    TMMDecayMode DecayMode() const { return m_core.DecayMode(); }
    void SetDecayMode(TMMDecayMode mode) { m_core.SetDecayMode(mode); }
    int Decay() const { return m_core.Decay(); }
    void SetDecay(int decay) { m_core.SetDecay(decay); }
    int Point1() const { return m_core.Point(0); }
    void SetPoint1(int percent) { Repaint(m_core.SetPoint(0, percent)); }
    int Point2() const { return m_core.Point(1); }
    void SetPoint2(int percent) { Repaint(m_core.SetPoint(1, percent)); }
    // Index order: Bar1Color 0, Bar2Color 1, Bar3Color 2, Inactive1Color 3, Inactive2Color 4,
    // Inactive3Color 5, ScaleTextColor 6, ScaleLineColor 7, GridColor 8.
    TColor IndexedColor(int index) const { return m_core.Color(index); }
    void SetIndexedColor(int index, TColor color) { Repaint(m_core.SetColor(index, color)); }
    TColor Bar1Color() const { return IndexedColor(0); }
    void SetBar1Color(TColor c) { SetIndexedColor(0, c); }
    TColor Bar2Color() const { return IndexedColor(1); }
    void SetBar2Color(TColor c) { SetIndexedColor(1, c); }
    TColor Bar3Color() const { return IndexedColor(2); }
    void SetBar3Color(TColor c) { SetIndexedColor(2, c); }
    TColor Inactive1Color() const { return IndexedColor(3); }
    void SetInactive1Color(TColor c) { SetIndexedColor(3, c); }
    TColor Inactive2Color() const { return IndexedColor(4); }
    void SetInactive2Color(TColor c) { SetIndexedColor(4, c); }
    TColor Inactive3Color() const { return IndexedColor(5); }
    void SetInactive3Color(TColor c) { SetIndexedColor(5, c); }
    TColor ScaleTextColor() const override { return IndexedColor(6); }
    void SetScaleTextColor(TColor c) { SetIndexedColor(6, c); }
    TColor ScaleLineColor() const override { return IndexedColor(7); }
    void SetScaleLineColor(TColor c) { SetIndexedColor(7, c); }
    TColor GridColor() const { return IndexedColor(8); }
    void SetGridColor(TColor c) { SetIndexedColor(8, c); }
    // The background; also rebuilds the unlit bars.
    void SetColor(TColor color);
    bool InactiveDoted() const { return m_core.InactiveDoted(); }
    void SetInactiveDoted(bool value) { Repaint(m_core.SetInactiveDoted(value)); }
    bool ActiveDoted() const { return m_core.ActiveDoted(); }
    void SetActiveDoted(bool value) { Repaint(m_core.SetActiveDoted(value)); }
    bool DrawInactive() const { return m_core.DrawInactive(); }
    void SetDrawInactive(bool value) { Repaint(m_core.SetDrawInactive(value)); }
    int Space() const { return m_core.Space(); }
    void SetSpace(int pixels) { Repaint(m_core.SetSpace(pixels)); }
    int SpotHeight() const { return m_core.SpotHeight(); }
    void SetSpotHeight(int pixels) { Repaint(m_core.SetSpotHeight(pixels)); }
    int SpotSpace() const { return m_core.SpotSpace(); }
    void SetSpotSpace(int pixels) { Repaint(m_core.SetSpotSpace(pixels)); }
    int NumPeaks() const { return m_core.NumPeaks(); }
    void SetNumPeaks(int count) { Repaint(m_core.SetNumPeaks(count)); }
    int PeakDelay() const { return m_core.PeakDelay(); }
    void SetPeakDelay(int delay) { Repaint(m_core.SetPeakDelay(delay)); }
    int PeakSpeed() const { return m_core.PeakSpeed(); }
    void SetPeakSpeed(int speed) { Repaint(m_core.SetPeakSpeed(speed)); }
    bool DrawGrid() const { return m_core.DrawGrid(); }
    void SetDrawGrid(bool value) { Repaint(m_core.SetDrawGrid(value)); }
    bool DisplayPeak() const { return m_displayPeak; }
    void SetDisplayPeak(bool value);
    bool DrawFreqScale() const { return DrawBottomScale(); }
    void SetDrawFreqScale(bool value) { SetDrawBottomScale(value); }
    // 8 or 24 bits per pixel, for DIB and the unlit bars alike; else "Bitlength not supported yet".
    void SetBitsPerPixel(int bits);

    // ---- events ----
    TNotify OnNeedData;
    TNotify OnGainOverflow;
    TNotify OnPcmOverflow;
    void SetOnClearBackground(TMMSpectrumClear handler);
    void SetOnDrawBar(TMMSpectrumDrawBar handler);
    void SetOnGetXScale(TMMSpectrumGetXScale handler);

    // ---- display entry points (connector) ----
    void SetPCMFormat(const TWaveFormatEx* format) override { m_core.SetPCMFormat(format); }
    int BytesNeeded() const override { return m_core.BytesNeeded(); }
    void ProcessData(const void* data) override;

    // The texts info mode shows for a point of the control, and the peak frequency text.
    double FrequencyAt(int x) const;
    double ValueAt(int y) const;
    QString InfoText(QPoint p) const override;
    QString PeakText() const;

private:
    bool DataEnabled() const override { return m_core.Enabled(); }
    QSize PictureSize() const override { return { m_core.W(), m_core.H() }; }
    void SetPicture(qreal ratio, int width, int height) override;
    // A frame into DIB; CopyFrame brings it to the window with the peak text.
    void DrawFrame(bool full) override;
    void ClearData() override { m_core.DataReset(); }
    // The picture stands still while info mode shows a box on it.
    void InfoModeChanged(bool on) override { m_core.SetFrozen(on); }
    // A data frame whose state the last block advanced, drawn just before its copy.
    bool RenderFrame(bool shown) override;
    void CopyFrame(QPainter& device) override;
    QList<ScaleMark> AmpMarks() const override;
    QList<ScaleMark> BottomMarks(int divisions) const override;
    QString AmpUnit() const override { return m_core.LogAmp() ? QStringLiteral("db") : QStringLiteral("V"); }
    QString BottomUnit() const override { return QStringLiteral("Hz"); }
    void DrawPeakText(QPainter& device);

    zv::SpectrumCore m_core;
    bool m_displayPeak = false;
};
