#include "displays/MMSpectrMath.h"

#include "platform/ResStrings.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

namespace zv {

namespace spectrum {

// Nearest integer, halves to even (the default rounding mode); saturates at the int range.
int RoundEven(double v)
{
    if (!(v < double(INT_MAX))) {
        return v != v ? 0 : INT_MAX;
    }
    if (!(v > double(INT_MIN))) {
        return INT_MIN;
    }
    return int(std::nearbyint(v));
}

int TruncInt(double v)
{
    if (!(v < double(INT_MAX))) {
        return v != v ? 0 : INT_MAX;
    }
    if (!(v > double(INT_MIN))) {
        return INT_MIN;
    }
    return int(v);
}

} // namespace spectrum

namespace {

using spectrum::RoundEven;
using spectrum::TruncInt;

constexpr double Pi = 3.141592653589793238462643383280;
// Log units per decibel: 8192 per octave of power.
constexpr double LogUnitsPerDb = 819.2 * 3.321928094887362347870319429489; // 819.2 * ln 10 / ln 2
constexpr int DecibelRange = 6; // decades
constexpr int DecibelTop = 0;

int FloorInt(double v)
{
    return TruncInt(std::floor(v));
}

int PowerOfTwoBelow(int v)
{
    return int(std::bit_floor(unsigned(v)));
}

} // namespace

SpectrumCore::SpectrumCore()
    : m_inactive(QStringLiteral("TMMSpectrum"))
{
    m_spectrum16.assign(kSpectrumMaxFFT, 0);
    m_windowTable.assign(kSpectrumMaxFFT, 0);
    m_work.assign(kSpectrumMaxFFT, 0.0f);
    m_frames.assign(kSpectrumMaxFFT, 0);
    m_logOffset.assign(kSpectrumMaxFFT / 2, 0);
    m_decayState.assign(kSpectrumMaxFFT / 2, 0.0f);
    m_uniformSum.assign(kSpectrumMaxFFT / 2, 0);
    m_binLevel.assign(kSpectrumMaxFFT / 2, 0);
    // As many history rings as memory allows; without a single one the control cannot work.
    m_rings.reserve(kSpectrumMaxRings);
    for (int i = 0; i < kSpectrumMaxRings; ++i) {
        try {
            m_rings.emplace_back(std::size_t(kSpectrumMaxFFT / 2), 0);
        } catch (const std::bad_alloc&) {
            if (m_rings.empty()) {
                throw;
            }
            break;
        }
    }
    RebuildPlan();
    MakeWindowTable(m_windowTable.data(), m_window, std::countr_zero(unsigned(m_fftLength)));
    ComputeDecay();
    ComputeBytesNeeded();
    SetArea(4, 4);
    m_timer = TimerSubscribe(kDisplayTimerTick, true, &SpectrumCore::TimerCallback, this);
    UpdateTimer();
}

SpectrumCore::~SpectrumCore()
{
    TimerUnsubscribe(m_timer);
    FreeFFTPlan(m_plan);
}

void SpectrumCore::TimerCallback(TMMTimerHandle, void* data)
{
    static_cast<SpectrumCore*>(data)->PeakTick();
}

// The peaks fall while the control is enabled and has peak markers. A pause count of the timer
// service would get stuck when both conditions change, so the wanted state is tracked here.
void SpectrumCore::UpdateTimer()
{
    const bool want = m_enabled && m_numPeaks > 0;
    if (want == m_timerRunning) {
        return;
    }
    m_timerRunning = want;
    if (want) {
        TimerResume(m_timer);
    } else {
        TimerPause(m_timer);
    }
}

// ---- settings ------------------------------------------------------------------------------

void SpectrumCore::SetDrawBar(DrawBarHandler handler)
{
    const bool cleared = m_drawBar && !handler;
    m_drawBar = std::move(handler);
    if (cleared) {
        RebuildInactive();
    }
}

void SpectrumCore::SetGetXScale(GetXScaleHandler handler)
{
    m_getXScale = std::move(handler);
    ColumnMapping();
}

bool SpectrumCore::SetKind(TMMSpectrumKind kind)
{
    if (kind == m_kind) {
        return false;
    }
    m_kind = kind;
    SpotLayout();
    ClearBars();
    return true;
}

bool SpectrumCore::SetEnabled(bool enabled)
{
    if (enabled == m_enabled) {
        return false;
    }
    m_enabled = enabled;
    DataReset();
    UpdateTimer();
    return true;
}

bool SpectrumCore::SetMode(TMMMode mode)
{
    if (mode == m_mode) {
        return false;
    }
    m_mode = mode;
    ComputeBytesNeeded();
    return true;
}

bool SpectrumCore::SetBitLength(TMMBits bits)
{
    if (bits == m_bits) {
        return false;
    }
    m_bits = bits;
    ComputeBytesNeeded();
    return true;
}

bool SpectrumCore::SetChannel(TMMChannel channel)
{
    if (channel == m_channel) {
        return false;
    }
    m_channel = channel;
    ComputeBytesNeeded();
    return true;
}

bool SpectrumCore::SetSampleRate(int rate)
{
    rate = std::clamp(rate, 8000, 100000);
    if (rate == m_sampleRate) {
        return false;
    }
    m_sampleRate = rate;
    ColumnMapping();
    DataReset();
    return true;
}

bool SpectrumCore::SetFFTLength(int length)
{
    length = PowerOfTwoBelow(std::clamp(length, 8, kSpectrumMaxFFT));
    if (length == m_fftLength) {
        return false;
    }
    m_fftLength = length;
    RebuildPlan();
    MakeWindowTable(m_windowTable.data(), m_window, std::countr_zero(unsigned(length)));
    ColumnMapping();
    ComputeBytesNeeded();
    DataReset();
    return true;
}

bool SpectrumCore::SetWindow(TMMFFTWindow window)
{
    if (window == m_window) {
        return false;
    }
    m_window = window;
    MakeWindowTable(m_windowTable.data(), m_window, std::countr_zero(unsigned(m_fftLength)));
    return true;
}

bool SpectrumCore::SetGain(TMMSpectrumGain gain)
{
    if (gain > sg12db) {
        gain = sg12db;
    }
    if (gain == m_gain) {
        return false;
    }
    m_gain = gain;
    AmplitudeTables();
    ClearBars();
    return true;
}

bool SpectrumCore::SetRefFreq(int hz)
{
    hz = std::clamp(hz, 1, 44100);
    if (hz == m_refFreq) {
        return false;
    }
    m_refFreq = hz;
    AmplitudeTables();
    ClearBars();
    return true;
}

int SpectrumCore::VerticalScale() const
{
    return RoundEven(double(m_vs) / 0.01);
}

bool SpectrumCore::SetVerticalScale(int percent)
{
    const float vs = float(std::clamp(percent, 1, 500)) * 0.01f;
    if (vs == m_vs) {
        return false;
    }
    m_vs = vs;
    AmplitudeTables();
    ClearBars();
    return true;
}

bool SpectrumCore::SetFrequencyScale(int scale)
{
    const float fs = float(PowerOfTwoBelow(std::clamp(scale, 1, 16)));
    if (fs == m_freqScale) {
        return false;
    }
    m_freqScale = fs;
    ColumnMapping();
    DataReset();
    return true;
}

bool SpectrumCore::SetLogFreq(bool value)
{
    if (value == m_logFreq) {
        return false;
    }
    m_logFreq = value;
    ColumnMapping();
    DataReset();
    return true;
}

bool SpectrumCore::SetLogAmp(bool value)
{
    if (value == m_logAmp) {
        return false;
    }
    m_logAmp = value;
    AmplitudeTables();
    DataReset();
    return true;
}

bool SpectrumCore::SetDecayMode(TMMDecayMode mode)
{
    if (mode == m_decayMode) {
        return false;
    }
    m_decayMode = mode;
    ClearDecayState();
    return true;
}

bool SpectrumCore::SetDecay(int decay)
{
    decay = std::clamp(decay, 1, 16);
    if (decay == m_decay) {
        return false;
    }
    m_decay = decay;
    ComputeDecay();
    if (m_decayMode == dmUniform) {
        ClearDecayState();
    }
    return true;
}

bool SpectrumCore::SetPoint(int index, int percent)
{
    if (percent < 1 || percent > 100 || (index != 0 && index != 1)) {
        return false;
    }
    int& point = index == 0 ? m_point1 : m_point2;
    if (percent == point) {
        return false;
    }
    point = percent;
    SpotLayout();
    return true;
}

bool SpectrumCore::SetColor(int index, TColor color)
{
    if (index < 0 || index >= ColorCount || m_colors[std::size_t(index)] == color) {
        return false;
    }
    m_colors[std::size_t(index)] = color;
    RebuildInactive();
    return true;
}

bool SpectrumCore::SetBackColor(TColor color)
{
    if (color == m_backColor) {
        return false;
    }
    m_backColor = color;
    RebuildInactive();
    return true;
}

bool SpectrumCore::SetInactiveDoted(bool value)
{
    if (value == m_inactiveDoted) {
        return false;
    }
    m_inactiveDoted = value;
    RebuildInactive();
    return true;
}

bool SpectrumCore::SetActiveDoted(bool value)
{
    if (value == m_activeDoted) {
        return false;
    }
    m_activeDoted = value;
    return true;
}

bool SpectrumCore::SetDrawInactive(bool value)
{
    if (value == m_drawInactive) {
        return false;
    }
    m_drawInactive = value;
    return true;
}

bool SpectrumCore::SetDrawGrid(bool value)
{
    if (value == m_drawGrid) {
        return false;
    }
    m_drawGrid = value;
    return true;
}

bool SpectrumCore::SetSpace(int pixels)
{
    if (pixels < 0 || pixels > 5 || pixels == m_space) {
        return false;
    }
    m_space = pixels;
    ClearBars();
    RebuildInactive();
    return true;
}

bool SpectrumCore::SetSpotHeight(int pixels)
{
    if (pixels < 1 || Px(pixels) > m_h / 3 || pixels == m_spotHeight) {
        return false;
    }
    m_spotHeight = pixels;
    SpotLayout();
    ClearBars();
    return true;
}

bool SpectrumCore::SetSpotSpace(int pixels)
{
    if (pixels < 0 || pixels > 10 || pixels == m_spotSpace) {
        return false;
    }
    m_spotSpace = pixels;
    SpotLayout();
    ClearBars();
    return true;
}

bool SpectrumCore::SetNumPeaks(int count)
{
    if (count < 0 || count > 5 || count == m_numPeaks) {
        return false;
    }
    m_numPeaks = count;
    ClearBars();
    UpdateTimer();
    return true;
}

bool SpectrumCore::SetPeakDelay(int delay)
{
    if (delay < 0 || delay > 50 || delay == m_peakDelay) {
        return false;
    }
    m_peakDelay = delay;
    ClearBars();
    return true;
}

bool SpectrumCore::SetPeakSpeed(int speed)
{
    if (speed < 0 || speed > 50 || speed == m_peakSpeed) {
        return false;
    }
    m_peakSpeed = speed;
    ClearBars();
    return true;
}

void SpectrumCore::SetPCMFormat(const TWaveFormatEx* format)
{
    if (!IsPCMFormat(format)) {
        throw EMMSpectrumError(zv::LoadResString(zv::SInvalidPcmFormat));
    }
    SetSampleRate(int(format->nSamplesPerSec));
    SetBitLength(TMMBits(format->wBitsPerSample / 8 - 1));
    SetMode(TMMMode(format->nChannels - 1));
}

// ---- derived values ------------------------------------------------------------------------

void SpectrumCore::RebuildPlan()
{
    TMMFFTPlan* plan = CreateFFTPlan(std::countr_zero(unsigned(m_fftLength)));
    FreeFFTPlan(m_plan);
    m_plan = plan;
}

void SpectrumCore::ComputeBytesNeeded()
{
    m_bytesNeeded = (int(m_bits) + 1) * (int(m_mode) + 1) * m_fftLength;
}

void SpectrumCore::ComputeDecay()
{
    // 0.0001 ^ (1 / 2^Decay), one single-precision square root at a time, as the level bar.
    float factor = 0.0001f;
    for (int i = 0; i < m_decay; ++i) {
        factor = std::sqrt(factor);
    }
    m_decayFactor = factor;
    m_ringLength = std::min(std::clamp(m_decay * 2 - 2, 1, kSpectrumMaxRings), int(m_rings.size()));
}

void SpectrumCore::ClearDecayState()
{
    for (auto& ring : m_rings) {
        std::fill(ring.begin(), ring.end(), 0);
    }
    m_ringPos = 0;
    m_fill = 0;
    std::fill(m_uniformSum.begin(), m_uniformSum.end(), 0);
    std::fill(m_decayState.begin(), m_decayState.end(), 0.0f);
}

void SpectrumCore::SetArea(int width, int height)
{
    const int w = std::max(width, 4);
    const int h = std::max(height, 4);
    if (w != m_w || !m_bars) {
        // The timer walks the bar list: keep it away while the list is replaced.
        TimerPause(m_timer);
        m_firstBin.assign(std::size_t(w) + 10, 0);
        m_endBin.assign(std::size_t(w) + 10, 0);
        m_columnFactor.assign(std::size_t(w), 0);
        m_bars = std::make_unique<SpectrumBar[]>(std::size_t(w) + 1);
        m_bars[std::size_t(w)].X1 = -1;
        m_w = w;
        m_h = h;
        TimerResume(m_timer);
    }
    m_w = w;
    m_h = h;
    m_inactive.SetSize(w, h);
    SpotLayout();
    ComputeBytesNeeded();
    ColumnMapping();
    DataReset();
}

void SpectrumCore::SpotLayout()
{
    m_spotHeight = std::max(m_spotHeight, 1);
    const int spotSpace = Px(m_spotSpace);
    const int pitch = Px(m_spotHeight) + spotSpace;
    m_numSpots = std::max((m_h + spotSpace) / pitch, 1);
    m_spotOffset = (m_h - (pitch * m_numSpots - spotSpace)) / 2;
    const auto limit = [this](int p) {
        switch (m_kind) {
        case skBars:
        case skPeaks:
            return RoundEven(double(p) * m_numSpots / 100.0);
        case skLines:
        case skVLines:
            return RoundEven(double(p) * m_h / 100.0);
        case skScroll:
            return RoundEven(double(p) * m_h / 3.0 / 100.0);
        case skDots:
        default:
            return RoundEven(m_h - double(p) * m_h / 100.0);
        }
    };
    m_p1 = limit(m_point1);
    m_p2 = limit(m_point2);
    RebuildInactive();
    DataReset();
}

void SpectrumCore::ColumnMapping()
{
    if (!m_bars) {
        return;
    }
    const double N = m_fftLength;
    const double SR = m_sampleRate;
    const double FS = m_freqScale;
    const int bins = m_fftLength / 2;
    if (m_logFreq) {
        const float lo = float(SR / N);
        const float hi = float((SR / 2.0) / std::pow(N / 2.0, 1.0 / FS));
        m_lowFreq = std::clamp(m_lowFreq, lo, std::max(lo, hi));
    } else {
        m_lowFreq = std::max(m_lowFreq, 0.0f);
        const float top = float(SR / 2.0 - SR / (2.0 * FS));
        if (m_lowFreq > top) {
            m_lowFreq = top;
        }
    }

    int* first = m_firstBin.data();
    int* end = m_endBin.data();
    if (m_getXScale) {
        m_getXScale(first, end);
        // The handler's numbers index the bin arrays: keep them inside.
        for (int i = 0; i < m_w; ++i) {
            first[i] = std::clamp(first[i], -1, bins - 1);
            end[i] = std::clamp(end[i], 0, bins);
        }
    } else {
        const double low = m_lowFreq;
        const double logTop = std::log((N + 1.0) / 2.0);
        for (int i = 0; i < m_w; ++i) {
            double k;
            if (m_logFreq) {
                k = std::floor(std::exp(logTop * (i - 0.45) / m_w / FS) * N * low / SR + 0.51) - 1.0;
            } else {
                k = std::floor(double(i) / m_w * N / 2.0 / FS + low / SR * N + 0.01);
            }
            const int bin = int(std::clamp(k, 0.0, double(bins - 1)));
            first[i] = bin;
            if (i > 0) {
                end[i - 1] = bin;
            }
        }
        for (int i = 0; i < m_w; ++i) {
            if (end[i] <= first[i] + 1) {
                end[i] = 0;
            }
        }
        for (int i = m_w - 1; i >= 1; --i) {
            if (first[i] == first[i - 1]) {
                first[i] = -1;
                end[i] = 0;
            }
        }
    }
    AmplitudeTables();
    RebuildInactive();
}

void SpectrumCore::AmplitudeTables()
{
    if (!m_bars) {
        return;
    }
    const double SR = m_sampleRate;
    const double N = m_fftLength;
    const double ref = m_refFreq;
    const int tilt = int(m_gain) / 2; // pre-emphasis order
    const bool halfTilt = int(m_gain) % 2 == 1; // 3 dB per octave from the columns
    const int bins = m_fftLength / 2;
    if (!m_logAmp) {
        float K = float(m_h) / (std::sqrt(float(ref)) * m_vs * 32768.0f);
        m_scaleShift = 4;
        if (tilt == 1) {
            K = float(double(K) * SR / (2.0 * Pi * ref));
        } else if (tilt == 2) {
            K = float(double(K) * SR * SR / (4.0 * Pi * Pi * ref * ref));
        }
        if (halfTilt) {
            const float top = std::sqrt(float(SR / 2.0));
            while (top * K < 4096.0f && m_scaleShift < 62) {
                K *= 2.0f;
                ++m_scaleShift;
            }
            for (int i = 0; i < m_w; ++i) {
                const int b = m_firstBin[std::size_t(i)];
                m_columnFactor[std::size_t(i)]
                    = b == -1 ? 0 : RoundEven(std::sqrt((b + 1) * SR / N) * double(K) + 0.5);
            }
        } else {
            K *= std::sqrt(float(ref));
            while (K < 4096.0f && m_scaleShift < 62) {
                K *= 2.0f;
                ++m_scaleShift;
            }
            const int factor = FloorInt(double(K) + 0.5);
            for (int i = 0; i < m_w; ++i) {
                m_columnFactor[std::size_t(i)] = m_firstBin[std::size_t(i)] == -1 ? 0 : factor;
            }
        }
        return;
    }

    const double A = LogUnitsPerDb;
    m_logPixelFactor = float(m_h / (10.0 * (DecibelRange - DecibelTop) * A));
    const double full = 20.0 * std::log10(32768.0);
    double G = full - 60.0;
    if (tilt == 1) {
        G = full - 20.0 * std::log10(2.0 * Pi * ref / SR) - 60.0;
    } else if (tilt == 2) {
        G = full - 40.0 * std::log10(2.0 * Pi * ref / SR) - 60.0;
    }
    G *= A;
    m_scaleShift = 0;
    double scaled = m_logPixelFactor;
    while (scaled < 4096.0 && m_scaleShift < 62) {
        scaled *= 2.0;
        ++m_scaleShift;
    }
    std::fill(m_columnFactor.begin(), m_columnFactor.end(), FloorInt(scaled + 0.5));
    for (int j = 0; j < bins; ++j) {
        m_logOffset[std::size_t(j)] = halfTilt
            ? FloorInt(G + 0.5 - std::log10((j + 1) * SR / N / ref) * A * 10.0)
            : FloorInt(G + 0.5);
    }
}

// ---- data ----------------------------------------------------------------------------------

void SpectrumCore::DataReset()
{
    if (m_inDataReset) {
        return;
    }
    m_inDataReset = true;
    std::fill(m_binLevel.begin(), m_binLevel.end(), 0);
    std::fill(m_spectrum16.begin(), m_spectrum16.end(), std::int16_t(0));
    ClearBars();
    ClearDecayState();
    try {
        if (m_enabled && NeedData) {
            NeedData();
        }
    } catch (...) {
        m_inDataReset = false;
        throw;
    }
    m_inDataReset = false;
}

void SpectrumCore::ClearBars()
{
    if (m_bars) {
        for (int i = 0; i <= m_w; ++i) {
            SpectrumBar& bar = m_bars[std::size_t(i)];
            bar.Value = 0;
            bar.Peak = 0;
            bar.PeakTimer = 0;
        }
    }
    m_peakInfo = {};
}

namespace {

// The value of each frame: one channel, or the two averaged (toward zero for 16 bits, shifted for
// 8 bits). Samples are read byte-wise, so the block needs no alignment.
template <bool Bits16, bool Stereo, bool Both>
void TakeFrames(const std::uint8_t* p, int pick, int n, int* out)
{
    for (int i = 0; i < n; ++i) {
        if constexpr (Bits16) {
            const std::uint8_t* f = p + std::size_t(i) * (Stereo ? 4 : 2);
            const auto l = std::int16_t(f[0] | f[1] << 8);
            if constexpr (Stereo) {
                const auto r = std::int16_t(f[2] | f[3] << 8);
                out[i] = Both ? (l + r) / 2 : (pick ? r : l);
            } else {
                out[i] = l;
            }
        } else {
            const std::uint8_t* f = p + std::size_t(i) * (Stereo ? 2 : 1);
            if constexpr (Stereo) {
                out[i] = Both ? (f[0] + f[1]) >> 1 : f[pick];
            } else {
                out[i] = f[0];
            }
        }
    }
}

// Truncating division by 2^shift (toward zero, as an integer division would).
inline std::int64_t DivPow2(std::int64_t v, int shift)
{
    return (v + ((v >> 63) & ((std::int64_t(1) << shift) - 1))) >> shift;
}

} // namespace

void SpectrumCore::Analyse(const void* data)
{
    if (!data || !m_plan) {
        return;
    }
    const int N = m_fftLength;
    const bool stereo = m_mode != mMono;
    const bool both = stereo && m_channel == chBoth;
    const int pick = stereo && m_channel == chRight ? 1 : 0;
    const int tilt = int(m_gain) / 2;
    const bool bits16 = m_bits == b16Bit;
    const int clip = bits16 ? (both && m_gain != sg12db ? 32766 : 32767) : 255;
    const int shift = bits16 ? 15 : 7; // MulDiv by 32768 or 128
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    float* buffer = m_work.data();
    int* x = m_frames.data();

    if (bits16) {
        stereo ? (both ? TakeFrames<true, true, true>(bytes, pick, N, x)
                       : TakeFrames<true, true, false>(bytes, pick, N, x))
               : TakeFrames<true, false, false>(bytes, pick, N, x);
    } else {
        stereo ? (both ? TakeFrames<false, true, true>(bytes, pick, N, x)
                       : TakeFrames<false, true, false>(bytes, pick, N, x))
               : TakeFrames<false, false, false>(bytes, pick, N, x);
    }

    if (PcmOverflow) {
        for (int i = 0; i < N; ++i) {
            if (x[i] >= clip) {
                PcmOverflow();
            }
        }
    }

    const std::int32_t* window = m_windowTable.data();
    if (tilt == 0) {
        const int offset = bits16 ? 0 : 128;
        for (int i = 0; i < N; ++i) {
            buffer[i] = float(DivPow2(std::int64_t(x[i] - offset) * window[i], shift));
        }
    } else {
        int prev = x[0], prev2 = x[0];
        for (int i = 0; i < N; ++i) {
            const std::int64_t y
                = tilt == 1 ? std::int64_t(x[i]) - prev : std::int64_t(x[i]) + prev2 - 2 * std::int64_t(prev);
            prev2 = prev;
            prev = x[i];
            buffer[i] = float(DivPow2(y * window[i], shift));
        }
    }

    RealFFT(m_plan, buffer, 1);

    // Scaled by 2/N (N/2 is a power of two, so the division is exact) and kept in 16 bits; a
    // component beyond that range saturates rather than wrapping to the other sign.
    const float half = float(N) / 2;
    for (int i = 0; i < N; ++i) {
        const float v = std::trunc(buffer[i] / half);
        m_spectrum16[std::size_t(i)] = std::int16_t(std::clamp(v, -32768.0f, 32767.0f));
    }
    BinLevels();
}

void SpectrumCore::BinLevels()
{
    const int bins = m_fftLength / 2;
    const std::int16_t* s = m_spectrum16.data();
    // The power is formed in 64 bits: two components of -32768 would wrap a 32-bit sum.
    const auto power = [s](int j) {
        const std::int64_t re = s[2 * j], im = s[2 * j + 1];
        return re * re + im * im;
    };
    if (m_logAmp && m_decayMode == dmNone) {
        for (int j = 0; j < bins; ++j) {
            const std::int64_t p = power(j);
            int level = 0;
            if (p > 0) {
                const double v = std::log(double(p)) * LogUnits - m_logOffset[std::size_t(j)];
                level = v > 0 ? TruncInt(v) : 0;
            }
            m_binLevel[std::size_t(j)] = level;
        }
        return;
    }

    m_ringPos = (m_ringPos + 1) % m_ringLength;
    m_fill = std::min(m_fill + 1, m_ringLength);
    const float factor = m_decayFactor;
    int* ring = m_rings[std::size_t(m_ringPos)].data();
    for (int j = 0; j < bins; ++j) {
        int m = int(std::sqrt(double(power(j))) * 16.0);
        float& state = m_decayState[std::size_t(j)];
        switch (m_decayMode) {
        case dmStepUp:
            state *= factor;
            if (float(m) >= state) {
                state = float(m);
            } else {
                m = int(state);
            }
            break;
        case dmExponential:
            state = state * factor + (1.0f - factor) * float(m);
            m = int(std::floor(state));
            break;
        case dmUniform: {
            std::int64_t& sum = m_uniformSum[std::size_t(j)];
            sum += m - ring[j];
            ring[j] = m;
            m = int(sum / m_fill);
            break;
        }
        case dmNone:
            break;
        }
        m_binLevel[std::size_t(j)] = m;
    }
}

int SpectrumCore::BarValue(int column) const
{
    const int first = m_firstBin[std::size_t(column)];
    const int end = m_endBin[std::size_t(column)];
    int b = first;
    int a = m_binLevel[std::size_t(first)];
    for (int k = first + 1; k < end; ++k) {
        if (m_binLevel[std::size_t(k)] > a) {
            a = m_binLevel[std::size_t(k)];
            b = k;
        }
    }
    if (a <= 0) {
        return 0;
    }
    if (m_logAmp && m_decayMode != dmNone) {
        return TruncInt(
            (std::log(a / 16.0) * 2.0 * LogUnits - m_logOffset[std::size_t(b)]) * double(m_logPixelFactor));
    }
    const std::int64_t v = (std::int64_t(a) * m_columnFactor[std::size_t(column)]) >> m_scaleShift;
    return int(std::min<std::int64_t>(v, INT_MAX));
}

void SpectrumCore::BarsFromBins()
{
    int record = -1;
    for (int i = 0; i < m_w; ++i) {
        if (m_firstBin[std::size_t(i)] == -1) {
            continue;
        }
        if (record >= 0) {
            m_bars[std::size_t(record)].X2 = i;
        }
        ++record;
        SpectrumBar& bar = m_bars[std::size_t(record)];
        bar.X1 = i;
        const int v = BarValue(i);
        bar.Value = v;
        if (v > m_peakInfo.Value) {
            m_peakInfo.Value = v;
            m_peakInfo.Bin = m_firstBin[std::size_t(i)];
            m_peakInfo.Column = i;
        }
        if (v >= m_h && GainOverflow) {
            GainOverflow();
        }
    }
    if (record >= 0) {
        m_bars[std::size_t(record)].X2 = m_w;
    }
    m_bars[std::size_t(record + 1)].X1 = -1;
}

// ---- peak timer ----------------------------------------------------------------------------

void SpectrumCore::PeakTick()
{
    if (m_numPeaks < 1 || !m_bars || m_frozen) {
        return;
    }
    const int speed = m_peakSpeed;
    for (int i = 0; i < m_w; ++i) {
        SpectrumBar& bar = m_bars[std::size_t(i)];
        if (bar.X1 == -1) {
            break;
        }
        if (bar.Peak <= 0) {
            continue;
        }
        if (--bar.PeakTimer > 0) {
            continue;
        }
        if (speed == 0) {
            bar.Peak = 0;
            bar.PeakTimer = 0;
        } else {
            --bar.Peak;
            bar.PeakTimer = speed;
        }
    }
}

} // namespace zv
