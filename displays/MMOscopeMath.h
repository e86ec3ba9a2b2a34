#pragma once

// The oscilloscope without its window: settings, layout, the samples of a block (one per column,
// time zoom, channel choice, smoothing, or the block's minimum and maximum in scroll mode), the
// level arithmetic, the selection bounds and the drawing of a frame into a pixel canvas in the five
// styles with their effects, grid, middle line and scroll chart. TMMOscope (MMOscope.h) puts it on
// the screen. Everything runs on the user-interface thread.

#include "audio/MMObj.h"
#include "displays/MMDIBCv.h"
#include "displays/MMLevelMath.h"
#include "platform/Exception.h"

#include <QRect>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

enum TMMOscopeKind : std::uint8_t { okDots, okCzoVevas, okVertLines, okMirLines, okSpikes };
enum TMMOscopeEffect : std::uint8_t { efNone, efPeak, efSplit };

ZV_DECLARE_EXCEPTION(EMMOscopeError, Exception);

namespace zv {

class OscopeCore {
public:
    // Colour indexes of SetColor (9 is not used).
    enum ColorIndex {
        ForegroundColor = 0,
        InactiveColor = 1,
        EffectColor = 2,
        DisabledColor = 3,
        ScaleTextColor = 4,
        ScaleLineColor = 5,
        GridColor = 6,
        BarColor = 7,
        BarTickColor = 8,
        SelectionColor = 10,
        SelectionDotColor = 11,
        LocatorColor = 12,
        ColorCount = 13
    };

    OscopeCore();

    // ---- events ----
    std::function<void()> PcmOverflow;
    std::function<void()> GainOverflow;
    // Replaces all drawing of a frame: (DIB, (0, 0, W, H), the W samples).
    std::function<void(TMMDIBCanvas& dib, const QRect& rect, const std::int16_t* data)> DrawLine;

    // ---- settings: each setter stores a real change only and returns whether it did ----
    TMMOscopeKind Kind() const { return m_kind; }
    bool SetKind(TMMOscopeKind kind);
    bool Enabled() const { return m_enabled; }
    bool SetEnabled(bool enabled);
    TMMMode Mode() const { return m_mode; }
    bool SetMode(TMMMode mode);
    TMMBits BitLength() const { return m_bits; }
    bool SetBitLength(TMMBits bits);
    TMMChannel Channel() const { return m_channel; }
    bool SetChannel(TMMChannel channel);
    int SampleRate() const { return m_sampleRate; }
    bool SetSampleRate(int rate); // 8000 ... 88200
    int Zoom() const { return m_zoom; }
    bool SetZoom(int zoom); // -9 ... 9; 0 ignored
    int Steps() const { return m_steps; }
    bool SetSteps(int steps); // 1 ... 9
    int Gain() const { return m_gain - 8; }
    bool SetGain(int gain); // -8 ... 32, others ignored
    TMMOscopeEffect Effect() const { return m_effect; }
    void SetEffect(TMMOscopeEffect effect); // always applied
    bool LowPass() const { return m_lowPass; }
    void SetLowPass(bool value) { m_lowPass = value; }
    bool DrawMidLine() const { return m_drawMidLine; }
    bool SetDrawMidLine(bool value);
    bool DrawGrid() const { return m_drawGrid; }
    bool SetDrawGrid(bool value);
    bool Scroll() const { return m_scroll; }
    bool SetScroll(bool value);
    bool Accelerate() const { return m_accelerate; }
    bool SetAccelerate(bool value);
    int FFTLength() const { return m_fftLength; }
    bool SetFFTLength(int length); // 1 ... 4096, rounded down to a power of two
    int BarWidth() const { return m_barWidth; }
    bool SetBarWidth(int width); // at least 1
    TColor Color(int index) const;
    bool SetColor(int index, TColor color);
    TColor BackColor() const { return m_backColor; }
    bool SetBackColor(TColor color);

    // PCM, 8 or 16 bits, 1 or 2 channels, 4000 ... 100000 Hz; anything else raises "Invalid
    // WaveFormat" and changes nothing.
    void SetPCMFormat(const TWaveFormatEx* format);
    int BytesNeeded() const { return m_bytesNeeded; }
    // The bytes the connector advances after a block: a quarter of a scroll block while scrolling
    // fast, else 0 (the whole block).
    int ScrollStep() const;
    // Duration of a block in whole milliseconds.
    int BlockMs() const;

    // ---- layout ----
    // The drawing area (each side at least 4): samples reallocated and cleared, selection and
    // locator removed, effect limits, BytesNeeded and grid divisions.
    // The canvas is in device pixels at this ratio (set before SetArea): a block covers as many
    // samples as the logical width shows, spread over the device columns.
    void SetPixelRatio(qreal ratio) { m_ratio = ratio > 0 ? ratio : 1.0; }
    qreal PixelRatio() const { return m_ratio; }
    void SetArea(int width, int height);
    int W() const { return m_w; }
    int H() const { return m_h; }
    int MidRow() const { return m_h / 2; }
    int GridDivisions() const { return m_gridDivisions; }
    int EffectLow() const { return m_effectLow; }
    int EffectHigh() const { return m_effectHigh; }
    const std::vector<std::int16_t>& ScopeData() const { return m_data; }

    // ---- data ----
    // Fills the samples from a block of BytesNeeded bytes (with LowPass smoothed). Draws nothing.
    void Take(const void* data);
    // Samples to 0, selection and locator removed.
    void ClearData();
    // Level 0 ... H - 1 of a sample for the current gain and style (not clamped).
    int Level(int sample) const;

    // ---- selection ----
    int SelStart() const { return m_selStart; }
    int SelEnd() const { return m_selEnd; }
    // Negative bounds become -1, others are limited to W, reversed bounds are swapped and an
    // empty selection becomes (-1, -1). Returns whether it changed.
    bool SetSelection(int a, int b);
    int Locator() const { return m_locator; }
    void SetLocator(int column) { m_locator = column < 0 ? -1 : column; }

    // ---- drawing (the caller holds dib's drawing bracket; dib is W x H) ----
    // A frame outside scroll mode: FrameEvents, then PaintFrame.
    void DrawFrame(TMMDIBCanvas& dib);
    // The overflow events of the frame the samples taken last make (a full-scale sample, a
    // column above the height), as drawing it fires them. Draws nothing.
    void FrameEvents();
    // The pixels of that frame; fires nothing, so the frame may be drawn only when it is shown.
    void PaintFrame(TMMDIBCanvas& dib);
    // Scroll mode: a full frame starts the chart again.
    void ScrollStart(TMMDIBCanvas& dib);
    // Scroll mode: one block's column. Returns the column drawn.
    int ScrollBlock(TMMDIBCanvas& dib);
    int ScrollPos() const { return m_scrollPos; }
    int SweepCount() const { return m_sweepCount; }
    // The grid rows, top to bottom order not guaranteed: H - Trunc(d x 32760 / n / (32768 / H)) - 1.
    int GridRow(int d) const;

private:
    void ComputeBytesNeeded();
    void ComputeEffectLimits();
    void DrawBackground(TMMDIBCanvas& dib) const;
    void DrawGridLines(TMMDIBCanvas& dib) const;
    void DrawColumn(TMMDIBCanvas& dib, int x, int sample, std::uint32_t fg, std::uint32_t fx) const;
    void Mark(TMMDIBCanvas& dib, int x, int fromRow, int toRow, std::uint32_t pixel) const;
    bool PointEffect(int h) const;

    TMMOscopeKind m_kind = okDots;
    bool m_enabled = true;
    TMMMode m_mode = mMono;
    TMMBits m_bits = b8Bit;
    TMMChannel m_channel = chBoth;
    int m_sampleRate = 11025;
    int m_zoom = 1;
    int m_steps = 1;
    int m_gain = 8; // stored as Gain + 8
    TMMOscopeEffect m_effect = efNone;
    bool m_lowPass = false;
    bool m_drawMidLine = false;
    bool m_drawGrid = false;
    bool m_scroll = false;
    bool m_accelerate = true;
    int m_fftLength = 128;
    int m_barWidth = 5;
    std::array<TColor, ColorCount> m_colors { clAqua, clTeal, clRed, clGray, clBlack, clBlack, clGray, clGray,
        clWhite, clBlack, clRed, clRed, clYellow };
    TColor m_backColor = clBlack;

    int m_w = 4;
    int m_h = 4;
    qreal m_ratio = 1.0;
    void TakeBetweenSamples(const std::uint8_t* block, int frames);
    int m_bytesNeeded = 4;
    int m_span = 65535;
    int m_offset = 32767;
    int m_effectLow = 0;
    int m_effectHigh = 0;
    int m_gridDivisions = 2;
    std::vector<std::int16_t> m_data; // W + 40 samples
    int m_selStart = -1;
    int m_selEnd = -1;
    int m_locator = -1;
    int m_scrollPos = 0;
    int m_sweepCount = 0;
    QPoint m_pen;
};

} // namespace zv
