#pragma once

// The live oscilloscope control: zv::OscopeCore (MMOscopeMath.h) on a display control, with the
// amplitude and time scales, the info mode under the left mouse button, the range selection under
// the right one and the scrolling chart kept in step across all oscilloscopes of the process.
// Everything here runs on the user-interface thread.

#include "displays/MMOscopeMath.h"
#include "displays/MMSignalDisplay.h"

#include <functional>

class TMMOscope : public TMMSignalDisplay {
    Q_OBJECT
public:
    using TNotify = std::function<void(QObject* Sender)>;
    using TMMOscopeDrawLine = std::function<void(
        QObject* Sender, TMMDIBCanvas& DIB, const QRect& Rect, const std::int16_t* Data)>;
    using TMMOscopeSelect = std::function<void(QObject* Sender, int Min, int Max)>;

    explicit TMMOscope(QWidget* parent = nullptr);
    ~TMMOscope() override;

    zv::OscopeCore& Core() { return m_core; }
    const zv::OscopeCore& Core() const { return m_core; }

    // ---- properties ----
    TMMOscopeKind Kind() const { return m_core.Kind(); }
    void SetKind(TMMOscopeKind kind) { Repaint(m_core.SetKind(kind)); }
    bool Enabled() const { return m_core.Enabled(); }
    void SetEnabled(bool enabled) { Repaint(m_core.SetEnabled(enabled)); }
    TMMMode Mode() const { return m_core.Mode(); }
    void SetMode(TMMMode mode) { Repaint(m_core.SetMode(mode)); }
    TMMBits BitLength() const { return m_core.BitLength(); }
    void SetBitLength(TMMBits bits) { Repaint(m_core.SetBitLength(bits)); }
    TMMChannel Channel() const { return m_core.Channel(); }
    void SetChannel(TMMChannel channel) { Repaint(m_core.SetChannel(channel)); }
    int SampleRate() const { return m_core.SampleRate(); }
    void SetSampleRate(int rate) { Repaint(m_core.SetSampleRate(rate)); }
    int Zoom() const { return m_core.Zoom(); }
    void SetZoom(int zoom) { Repaint(m_core.SetZoom(zoom)); }
    int Steps() const { return m_core.Steps(); }
    void SetSteps(int steps) { Repaint(m_core.SetSteps(steps)); }
    int Gain() const { return m_core.Gain(); }
    void SetGain(int gain) { Repaint(m_core.SetGain(gain)); }
    TMMOscopeEffect Effect() const { return m_core.Effect(); }
    void SetEffect(TMMOscopeEffect effect)
    {
        m_core.SetEffect(effect);
        update();
    }
    bool LowPass() const { return m_core.LowPass(); }
    void SetLowPass(bool value) { m_core.SetLowPass(value); }
    bool DrawMidLine() const { return m_core.DrawMidLine(); }
    void SetDrawMidLine(bool value) { Repaint(m_core.SetDrawMidLine(value)); }
    bool DrawGrid() const { return m_core.DrawGrid(); }
    void SetDrawGrid(bool value) { Repaint(m_core.SetDrawGrid(value)); }
    bool DrawTimeScale() const { return DrawBottomScale(); }
    void SetDrawTimeScale(bool value) { SetDrawBottomScale(value); }
    bool Scroll() const { return m_core.Scroll(); }
    void SetScroll(bool value);
    bool Accelerate() const { return m_core.Accelerate(); }
    void SetAccelerate(bool value);
    int FFTLength() const { return m_core.FFTLength(); }
    void SetFFTLength(int length);
    int BarWidth() const { return m_core.BarWidth(); }
    void SetBarWidth(int width) { Repaint(m_core.SetBarWidth(width)); }
    bool UseSelection() const { return m_useSelection; }
    void SetUseSelection(bool value) { m_useSelection = value; }
    bool Locked() const { return m_locked; }
    void SetLocked(bool value) { m_locked = value; }
    // Index order: ForegroundColor 0, InactiveColor 1, EffectColor 2, DisabledColor 3,
    // ScaleTextColor 4, ScaleLineColor 5, GridColor 6, BarColor 7, BarTickColor 8,
    // SelectionColor 10, SelectionDotColor 11, LocatorColor 12.
    TColor IndexedColor(int index) const { return m_core.Color(index); }
    void SetIndexedColor(int index, TColor color) { Repaint(m_core.SetColor(index, color)); }
    TColor ForegroundColor() const { return IndexedColor(0); }
    void SetForegroundColor(TColor c) { SetIndexedColor(0, c); }
    TColor EffectColor() const { return IndexedColor(2); }
    void SetEffectColor(TColor c) { SetIndexedColor(2, c); }
    TColor DisabledColor() const { return IndexedColor(3); }
    void SetDisabledColor(TColor c) { SetIndexedColor(3, c); }
    TColor GridColor() const { return IndexedColor(6); }
    void SetGridColor(TColor c) { SetIndexedColor(6, c); }
    void SetColor(TColor color);

    // The selection, see zv::OscopeCore::SetSelection.
    int SelStart() const { return m_core.SelStart(); }
    int SelEnd() const { return m_core.SelEnd(); }
    void SetSelection(int a, int b);
    void SetLocator(int column);

    // ---- events ----
    // Replaces all drawing of a frame outside scroll mode.
    void SetOnDrawLine(TMMOscopeDrawLine handler);
    TNotify OnPostPaint;
    TMMOscopeSelect OnSelecting;
    TMMOscopeSelect OnSelectEnd;
    TNotify OnGainOverflow;
    TNotify OnPcmOverflow;

    // ---- display entry points (connector) ----
    void SetPCMFormat(const TWaveFormatEx* format) override;
    int BytesNeeded() const override { return m_core.BytesNeeded(); }
    void ProcessData(const void* data) override;
    int ScrollStep() const override { return m_core.ScrollStep(); }

    double TimeAt(int x) const; // milliseconds
    double ValueAt(int y) const; // volts, full scale 1
    QString InfoText(QPoint p) const override;

    // Every oscilloscope of the process (the scrolling ones keep each other in step).
    static const std::vector<TMMOscope*>& Instances();

private:
    enum class Drag { None, Start, End, Move };

    bool DataEnabled() const override { return m_core.Enabled(); }
    QSize PictureSize() const override { return { m_core.W(), m_core.H() }; }
    void SetPicture(qreal ratio, int width, int height) override;
    // A frame (or a scroll step) into DIB; CopyFrame brings it to the window.
    void DrawFrame(bool full) override;
    void ClearData() override { m_core.ClearData(); }
    // Outside scroll mode: the frame of the samples the last block left, drawn just before its copy.
    bool RenderFrame(bool shown) override;
    void CopyFrame(QPainter& device) override;
    void MousePressed(QMouseEvent* event) override;
    void MouseMoved(QMouseEvent* event) override;
    void MouseReleased(QMouseEvent* event) override;
    TColor ScaleTextColor() const override { return m_core.Color(zv::OscopeCore::ScaleTextColor); }
    TColor ScaleLineColor() const override { return m_core.Color(zv::OscopeCore::ScaleLineColor); }
    QList<ScaleMark> AmpMarks() const override;
    QList<ScaleMark> BottomMarks(int divisions) const override;
    QString AmpUnit() const override { return QStringLiteral("V"); }
    QString BottomUnit() const override { return QStringLiteral("mS"); }
    void ChangeSelection(int a, int b);

    zv::OscopeCore m_core;
    // A window x as the x of the canvas column under it, counted from the picture's left edge
    // (selections and the locator are canvas columns).
    int ColumnX(int x) const
    {
        return m_ratio == 1.0 ? x : m_drawRect.left() + qRound((x - m_drawRect.left()) * m_ratio);
    }
    bool m_useSelection = false;
    bool m_locked = false;
    bool m_redrawRequest = false; // another scrolling oscilloscope restarted its chart
    Drag m_drag = Drag::None;
    int m_dragX = 0;
};
