#pragma once

// The spectrum analyser without its window: settings and their tables (spot layout, column
// mapping, amplitude tables), the analysis of a block (channel selection, pre-emphasis, integer
// windowing, FFT, bin levels with decay) and the bar list with its peak markers in MMSpectrMath.cpp;
// the drawing of a frame into a pixel canvas in every style in MMSpectrDraw.cpp. TMMSpectrum
// (MMSpectr.h) puts it on the screen.

#include "audio/MMObj.h"
#include "displays/MMDIBCv.h"
#include "displays/MMFFT.h"
#include "displays/MMLevelMath.h"
#include "displays/MMTimer.h"
#include "platform/Exception.h"

#include <QRect>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

enum TMMSpectrumKind : std::uint8_t { skDots, skLines, skVLines, skBars, skPeaks, skScroll };
enum TMMSpectrumGain : std::uint8_t { sgNone, sg3db, sg6db, sg9db, sg12db };

ZV_DECLARE_EXCEPTION(EMMSpectrumError, Exception);

namespace zv {

namespace spectrum {
// Nearest integer (halves to even) and truncation, as the analysis and the drawing both convert;
// both saturate at the int range and give 0 for not a number.
int RoundEven(double v);
int TruncInt(double v);
} // namespace spectrum

constexpr int kSpectrumMaxFFT = 4096;
constexpr int kSpectrumMaxRings = 32;

// One bar: the columns X1 up to X2 and its value in pixels. Peak and PeakTimer are also counted
// down by the display timer's thread; X1 ends the list there, so the three are atomics.
struct SpectrumBar {
    std::atomic<int> X1 { 0 };
    int X2 = 0;
    int Value = 0;
    std::atomic<int> Peak { 0 };
    std::atomic<int> PeakTimer { 0 };
};

// The highest bar of the last frame.
struct SpectrumPeakInfo {
    int Value = 0;
    int Bin = 0;
    int Column = 0;
};

class SpectrumCore {
public:
    // Colour indexes of SetColor.
    enum ColorIndex {
        Bar1,
        Bar2,
        Bar3,
        Inactive1,
        Inactive2,
        Inactive3,
        ScaleText,
        ScaleLine,
        Grid,
        ColorCount
    };

    // Subscribes to the display timer (running unless disabled or without peaks).
    SpectrumCore();
    ~SpectrumCore();
    SpectrumCore(const SpectrumCore&) = delete;
    SpectrumCore& operator=(const SpectrumCore&) = delete;

    // ---- events (handlers of the control) ----
    std::function<void()> NeedData;
    std::function<void()> PcmOverflow;
    std::function<void()> GainOverflow;
    std::function<void(TMMDIBCanvas& dib, const QRect& rect)> ClearBackground;

    // Replaces the drawing of one bar; clearing it rebuilds the inactive image.
    using DrawBarHandler = std::function<void(TMMDIBCanvas& dib, const QRect& rect, int nSpots, int peak)>;
    void SetDrawBar(DrawBarHandler handler);
    bool HasDrawBar() const { return bool(m_drawBar); }
    // Replaces the column-to-bin mapping: fills FirstBin and EndBin (W + 10 entries each).
    using GetXScaleHandler = std::function<void(int* firstBin, int* endBin)>;
    void SetGetXScale(GetXScaleHandler handler);

    // ---- settings: each setter stores a real change only and returns whether it did ----
    TMMSpectrumKind Kind() const { return m_kind; }
    bool SetKind(TMMSpectrumKind kind);
    bool Enabled() const { return m_enabled; }
    bool SetEnabled(bool enabled);
    TMMMode Mode() const { return m_mode; }
    bool SetMode(TMMMode mode);
    TMMBits BitLength() const { return m_bits; }
    bool SetBitLength(TMMBits bits);
    TMMChannel Channel() const { return m_channel; }
    bool SetChannel(TMMChannel channel);
    int SampleRate() const { return m_sampleRate; }
    bool SetSampleRate(int rate); // 8000 ... 100000
    int FFTLength() const { return m_fftLength; }
    bool SetFFTLength(int length); // 8 ... 4096, rounded down to a power of two
    TMMFFTWindow Window() const { return m_window; }
    bool SetWindow(TMMFFTWindow window);
    TMMSpectrumGain Gain() const { return m_gain; }
    bool SetGain(TMMSpectrumGain gain);
    int RefFreq() const { return m_refFreq; }
    bool SetRefFreq(int hz); // 1 ... 44100
    int VerticalScale() const; // percent, Round(VS / 0.01)
    bool SetVerticalScale(int percent); // 1 ... 500
    int FrequencyScale() const { return int(m_freqScale); }
    bool SetFrequencyScale(int scale); // 1 ... 16, rounded down to a power of two
    bool LogFreq() const { return m_logFreq; }
    bool SetLogFreq(bool value);
    bool LogAmp() const { return m_logAmp; }
    bool SetLogAmp(bool value);
    TMMDecayMode DecayMode() const { return m_decayMode; }
    bool SetDecayMode(TMMDecayMode mode);
    int Decay() const { return m_decay; }
    bool SetDecay(int decay); // 1 ... 16
    int Point(int index) const { return index == 0 ? m_point1 : m_point2; }
    bool SetPoint(int index, int percent); // 1 ... 100, others ignored
    TColor Color(int index) const { return m_colors[std::size_t(index)]; }
    bool SetColor(int index, TColor color);
    TColor BackColor() const { return m_backColor; }
    bool SetBackColor(TColor color);
    bool InactiveDoted() const { return m_inactiveDoted; }
    bool SetInactiveDoted(bool value);
    bool ActiveDoted() const { return m_activeDoted; }
    bool SetActiveDoted(bool value);
    bool DrawInactive() const { return m_drawInactive; }
    bool SetDrawInactive(bool value);
    bool DrawGrid() const { return m_drawGrid; }
    bool SetDrawGrid(bool value);
    int Space() const { return m_space; }
    bool SetSpace(int pixels); // 0 ... 5, others ignored
    int SpotHeight() const { return m_spotHeight; }
    bool SetSpotHeight(int pixels); // 1 ... H / 3, others ignored
    int SpotSpace() const { return m_spotSpace; }
    bool SetSpotSpace(int pixels); // 0 ... 10, others ignored
    int NumPeaks() const { return m_numPeaks; }
    bool SetNumPeaks(int count); // 0 ... 5, others ignored
    int PeakDelay() const { return m_peakDelay; }
    bool SetPeakDelay(int delay); // 0 ... 50, others ignored
    int PeakSpeed() const { return m_peakSpeed; }
    bool SetPeakSpeed(int speed); // 0 ... 50, others ignored

    // The data's format: PCM, 8 or 16 bits, 1 or 2 channels, 4000 ... 100000 Hz; anything else
    // raises "Invalid WaveFormat" and changes nothing.
    void SetPCMFormat(const TWaveFormatEx* format);
    int BytesNeeded() const { return m_bytesNeeded; }

    // ---- layout ----
    // The drawing area, each side raised to at least 4: reallocates the column arrays (timer
    // paused), sizes the inactive image, then spot layout, column mapping and a data reset.
    // The canvas is in device pixels at this ratio (set before SetArea): the bar gap and the spot
    // sizes, given in logical pixels, are scaled by it.
    void SetPixelRatio(qreal ratio) { m_ratio = ratio > 0 ? ratio : 1.0; }
    qreal PixelRatio() const { return m_ratio; }
    void SetArea(int width, int height);
    int W() const { return m_w; }
    int H() const { return m_h; }
    int NumSpots() const { return m_numSpots; }
    int SpotOffset() const { return m_spotOffset; }
    int P1() const { return m_p1; }
    int P2() const { return m_p2; }
    int ScaleShift() const { return m_scaleShift; }
    float LowFreq() const { return m_lowFreq; }
    float DecayFactor() const { return m_decayFactor; }
    float LogPixelFactor() const { return m_logPixelFactor; }
    const std::vector<int>& FirstBin() const { return m_firstBin; }
    const std::vector<int>& EndBin() const { return m_endBin; }
    const std::vector<int>& ColumnFactor() const { return m_columnFactor; }
    const std::vector<int>& LogOffset() const { return m_logOffset; }
    // The bar list: records up to the first whose X1 is -1.
    const SpectrumBar* Bars() const { return m_bars.get(); }
    SpectrumBar* Bars() { return m_bars.get(); }
    const SpectrumPeakInfo& PeakInfo() const { return m_peakInfo; }
    const std::vector<std::int16_t>& Spectrum16() const { return m_spectrum16; }
    const std::vector<int>& BinLevel() const { return m_binLevel; }
    int RingCount() const { return int(m_rings.size()); }
    int RingLength() const { return m_ringLength; }
    TMMDIBCanvas& InactiveImage() { return m_inactive; }

    // ---- data ----
    // Analyses FFTLength frames at data: overflow events, pre-emphasis, window, FFT, Spectrum16,
    // bin levels. Draws nothing.
    void Analyse(const void* data);
    // Clears bin levels, Spectrum16, bars, peak info and decay state; raises NeedData when
    // enabled. Does nothing when called from inside a data reset.
    void DataReset();
    // Values, peaks and peak timers of every bar, and the peak info, to 0.
    void ClearBars();
    // Builds the bar list from the bin levels (start of every frame).
    void BarsFromBins();

    // ---- drawing ----
    // Draws a frame into dib, whose drawing bracket the caller holds: AdvanceFrame, then
    // PaintFrame. dib is W x H.
    void DrawFrame(TMMDIBCanvas& dib, bool fullFrame);
    // The data side of a frame: bars from bins (with the gain overflow event), the peak info and
    // the bars' peaks the style shows (a bar at or above its peak restarts the hold). Draws nothing.
    void AdvanceFrame();
    // The pixels of the frame AdvanceFrame left: background (or for a new skScroll frame the
    // picture moved down), grid and style; moves no peak. Drawn again, the same frame gives the
    // same picture, so a display may draw only the frames that reach the screen.
    void PaintFrame(TMMDIBCanvas& dib, bool fullFrame);
    // Whether PaintFrame would now draw the picture it drew last: the same bars, peaks and peak
    // info, with no scrolling and no drawing handlers (they may draw anything). A steady signal
    // then costs no copy to the window.
    bool SameAsPainted() const;
    void DrawGridLines(TMMDIBCanvas& dib);
    void RebuildInactive();
    // Bars or peaks style for one bar record of value count c (of steps) with its peak, in the
    // three zone pixel values, or for the inactive image (all spots, no peak).
    void DrawSpots(TMMDIBCanvas& dib, int x1, int x2, int lit, int peak, const std::uint32_t (&pixels)[3],
        bool dotted, bool onlyTop) const;

    // Spots lit for a bar value: Round(value x steps / H + 0.5), halves to even, within 0 ... steps.
    static int LitSpots(int value, int steps, int h);

    // ---- peak timer ----
    // One 25 ms tick (display timer thread): moves the peak counters only.
    void PeakTick();
    // Info mode freezes the peaks (written on the user-interface thread).
    void SetFrozen(bool frozen) { m_frozen = frozen; }
    bool Frozen() const { return m_frozen; }
    TMMTimerHandle TimerHandle() const { return m_timer; }
    bool TimerRunning() const { return m_timerRunning; }

    // The vertical scale factor VS, in single precision.
    float VS() const { return m_vs; }

    static constexpr double LogUnits = 11818.710273352318; // U = 8192 / ln 2

private:
    void RebuildPlan();
    void ComputeBytesNeeded();
    void ComputeDecay();
    void ClearDecayState();
    void SpotLayout();
    void ColumnMapping();
    void AmplitudeTables();
    void BinLevels();
    int BarValue(int column) const;
    void UpdateTimer();
    void DrawLineStyle(TMMDIBCanvas& dib, bool peakLine);
    void DrawDots(TMMDIBCanvas& dib);
    void DrawVLines(TMMDIBCanvas& dib);
    void NarrowBar(int& left, int& right) const;
    static void TimerCallback(TMMTimerHandle handle, void* data);

    // settings
    TMMSpectrumKind m_kind = skBars;
    bool m_enabled = true;
    TMMMode m_mode = mMono;
    TMMBits m_bits = b8Bit;
    TMMChannel m_channel = chBoth;
    int m_sampleRate = 11025;
    int m_fftLength = 128;
    TMMFFTWindow m_window = fwHamming;
    TMMSpectrumGain m_gain = sgNone;
    int m_refFreq = 1000;
    float m_vs = 1.0f;
    float m_freqScale = 1.0f;
    bool m_logFreq = false;
    bool m_logAmp = false;
    TMMDecayMode m_decayMode = dmNone;
    int m_decay = 1;
    int m_point1 = 50;
    int m_point2 = 85;
    std::array<TColor, ColorCount> m_colors { clAqua, clAqua, clRed, clTeal, clTeal, clMaroon, clBlack,
        clBlack, clGray };
    TColor m_backColor = clBlack;
    bool m_inactiveDoted = false;
    bool m_activeDoted = false;
    bool m_drawInactive = true;
    bool m_drawGrid = false;
    int m_space = 1;
    int m_spotHeight = 1;
    int m_spotSpace = 1;
    // Read by the display timer's thread, written on the user-interface thread.
    std::atomic<int> m_numPeaks { 1 };
    int m_peakDelay = 20;
    std::atomic<int> m_peakSpeed { 0 };
    std::atomic<bool> m_frozen { false };

    DrawBarHandler m_drawBar;
    GetXScaleHandler m_getXScale;

    // derived
    int m_bytesNeeded = 128;
    float m_decayFactor = 0.01f;
    int m_ringLength = 1;
    int m_ringPos = 0;
    int m_fill = 0;
    int m_scaleShift = 4;
    float m_logPixelFactor = 0.0f;
    float m_lowFreq = 1.0f;
    int m_numSpots = 1;
    int m_spotOffset = 0;
    int m_p1 = 0;
    int m_p2 = 0;
    int m_w = 4;
    int m_h = 4;
    qreal m_ratio = 1.0;
    int Px(int logical) const { return zv::DevicePixels(logical, m_ratio); }
    SpectrumPeakInfo m_peakInfo;
    bool m_inDataReset = false;
    // What the last PaintFrame drew from, taken before it drew: X1, X2, Value and Peak of each bar
    // (the timer may lower a peak meanwhile; a lowered one then differs and is drawn again).
    void KeepPainted();
    std::vector<int> m_painted;
    SpectrumPeakInfo m_paintedPeak;
    bool m_paintedValid = false;

    // arrays sized once for the largest transform
    TMMFFTPlan* m_plan = nullptr;
    std::vector<std::int16_t> m_spectrum16;
    std::vector<std::int32_t> m_windowTable;
    std::vector<float> m_work;
    std::vector<int> m_frames;
    std::vector<std::vector<int>> m_rings;
    std::vector<int> m_logOffset;
    std::vector<float> m_decayState;
    std::vector<std::int64_t> m_uniformSum;
    std::vector<int> m_binLevel;

    // per column
    std::vector<int> m_firstBin;
    std::vector<int> m_endBin;
    std::vector<int> m_columnFactor;
    std::unique_ptr<SpectrumBar[]> m_bars;

    TMMDIBCanvas m_inactive;
    TMMTimerHandle m_timer = 0;
    bool m_timerRunning = false;
};

} // namespace zv
