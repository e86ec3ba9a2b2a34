#include "displays/MMOscopeMath.h"

#include "platform/ResStrings.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace zv {
namespace {

int SampleAt(const std::uint8_t* p, int frame, bool bits16, bool stereo, TMMChannel channel)
{
    const int pick = stereo && channel == chRight ? 1 : 0;
    const bool both = stereo && channel == chBoth;
    if (bits16) {
        const std::uint8_t* f = p + std::size_t(frame) * (stereo ? 4 : 2);
        const auto l = std::int16_t(f[0] | f[1] << 8);
        if (!stereo) {
            return l;
        }
        const auto r = std::int16_t(f[2] | f[3] << 8);
        return both ? (l + r) / 2 : (pick ? r : l);
    }
    const std::uint8_t* f = p + std::size_t(frame) * (stereo ? 2 : 1);
    const int b = both ? (f[0] + f[1]) >> 1 : f[pick];
    return b * 256 - 32768;
}

} // namespace

OscopeCore::OscopeCore()
{
    SetArea(4, 4);
}

// ---- settings ------------------------------------------------------------------------------

bool OscopeCore::SetKind(TMMOscopeKind kind)
{
    if (kind > okSpikes || kind == m_kind) {
        return false;
    }
    m_kind = kind;
    m_span = kind == okSpikes ? 32767 : 65535;
    m_offset = kind == okSpikes ? 0 : 32767;
    return true;
}

bool OscopeCore::SetEnabled(bool enabled)
{
    if (enabled == m_enabled) {
        return false;
    }
    m_enabled = enabled;
    return true;
}

bool OscopeCore::SetMode(TMMMode mode)
{
    if (mode == m_mode) {
        return false;
    }
    m_mode = mode;
    ComputeBytesNeeded();
    return true;
}

bool OscopeCore::SetBitLength(TMMBits bits)
{
    if (bits == m_bits) {
        return false;
    }
    m_bits = bits;
    ComputeBytesNeeded();
    return true;
}

bool OscopeCore::SetChannel(TMMChannel channel)
{
    if (channel == m_channel) {
        return false;
    }
    m_channel = channel;
    ComputeBytesNeeded();
    return true;
}

bool OscopeCore::SetSampleRate(int rate)
{
    rate = std::clamp(rate, 8000, 88200);
    if (rate == m_sampleRate) {
        return false;
    }
    m_sampleRate = rate;
    return true;
}

bool OscopeCore::SetZoom(int zoom)
{
    if (zoom == 0) {
        return false;
    }
    zoom = std::clamp(zoom, -9, 9);
    if (zoom == m_zoom) {
        return false;
    }
    m_zoom = zoom;
    ComputeBytesNeeded();
    return true;
}

bool OscopeCore::SetSteps(int steps)
{
    steps = std::clamp(steps, 1, 9);
    if (steps == m_steps) {
        return false;
    }
    m_steps = steps;
    return true;
}

bool OscopeCore::SetGain(int gain)
{
    if (gain < -8 || gain > 32 || gain + 8 == m_gain) {
        return false;
    }
    m_gain = gain + 8;
    return true;
}

void OscopeCore::SetEffect(TMMOscopeEffect effect)
{
    m_effect = effect > efSplit ? efNone : effect;
    ComputeEffectLimits();
}

bool OscopeCore::SetDrawMidLine(bool value)
{
    if (value == m_drawMidLine) {
        return false;
    }
    m_drawMidLine = value;
    return true;
}

bool OscopeCore::SetDrawGrid(bool value)
{
    if (value == m_drawGrid) {
        return false;
    }
    m_drawGrid = value;
    return true;
}

bool OscopeCore::SetScroll(bool value)
{
    if (value == m_scroll) {
        return false;
    }
    m_scroll = value;
    ComputeBytesNeeded();
    return true;
}

bool OscopeCore::SetAccelerate(bool value)
{
    if (value == m_accelerate) {
        return false;
    }
    m_accelerate = value;
    return true;
}

bool OscopeCore::SetFFTLength(int length)
{
    length = int(std::bit_floor(unsigned(std::clamp(length, 1, 4096))));
    if (length == m_fftLength) {
        return false;
    }
    m_fftLength = length;
    ComputeBytesNeeded();
    return true;
}

bool OscopeCore::SetBarWidth(int width)
{
    width = std::max(width, 1);
    if (width == m_barWidth) {
        return false;
    }
    m_barWidth = width;
    return true;
}

TColor OscopeCore::Color(int index) const
{
    return index >= 0 && index < ColorCount ? m_colors[std::size_t(index)] : clBlack;
}

bool OscopeCore::SetColor(int index, TColor color)
{
    if (index < 0 || index >= ColorCount || index == 9 || m_colors[std::size_t(index)] == color) {
        return false;
    }
    m_colors[std::size_t(index)] = color;
    return true;
}

bool OscopeCore::SetBackColor(TColor color)
{
    if (color == m_backColor) {
        return false;
    }
    m_backColor = color;
    return true;
}

void OscopeCore::SetPCMFormat(const TWaveFormatEx* format)
{
    if (!IsPCMFormat(format)) {
        throw EMMOscopeError(zv::LoadResString(zv::SInvalidPcmFormat));
    }
    SetSampleRate(int(format->nSamplesPerSec));
    SetBitLength(TMMBits(format->wBitsPerSample / 8 - 1));
    SetMode(TMMMode(format->nChannels - 1));
}

void OscopeCore::ComputeBytesNeeded()
{
    const int f = (int(m_bits) + 1) * (int(m_mode) + 1);
    if (m_scroll) {
        m_bytesNeeded = f * m_fftLength;
        return;
    }
    const int b = f * (m_ratio == 1.0 ? m_w : qRound(m_w / m_ratio));
    if (m_zoom > 0) {
        m_bytesNeeded = b * m_zoom;
    } else {
        m_bytesNeeded = (b / (1 - m_zoom) + 5) / 4 * 4;
    }
}

int OscopeCore::ScrollStep() const
{
    if (!m_scroll || !m_accelerate) {
        return 0;
    }
    return m_fftLength / 4 * (int(m_bits) + 1) * (int(m_mode) + 1);
}

int OscopeCore::BlockMs() const
{
    const double perSecond = double(m_sampleRate) * (int(m_bits) + 1) * (int(m_mode) + 1);
    return int(std::nearbyint(m_bytesNeeded * 1000.0 / perSecond));
}

void OscopeCore::ComputeEffectLimits()
{
    switch (m_effect) {
    case efPeak:
        m_effectLow = m_h / 3;
        m_effectHigh = m_h - m_h / 3;
        break;
    case efSplit:
        m_effectLow = 0;
        m_effectHigh = MidRow();
        break;
    default:
        m_effectLow = 0;
        m_effectHigh = m_h;
        break;
    }
}

void OscopeCore::SetArea(int width, int height)
{
    m_w = std::max(width, 4);
    m_h = std::max(height, 4);
    m_data.assign(std::size_t(m_w) + 40, 0);
    ClearData();
    ComputeEffectLimits();
    ComputeBytesNeeded();
    int n = 10;
    while (m_h / n < 10 && n > 2) {
        n -= 2;
    }
    m_gridDivisions = n;
    m_scrollPos = -m_barWidth;
    m_sweepCount = 0;
    m_pen = QPoint(0, MidRow());
}

// ---- data ----------------------------------------------------------------------------------

void OscopeCore::ClearData()
{
    std::fill(m_data.begin(), m_data.end(), std::int16_t(0));
    m_selStart = m_selEnd = -1;
    m_locator = -1;
}

void OscopeCore::Take(const void* data)
{
    if (!data) {
        return;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    const bool bits16 = m_bits == b16Bit;
    const bool stereo = m_mode != mMono;
    int count;
    if (m_scroll) {
        TWaveFormatEx format {};
        MakePCMFormat(format, bits16 ? 16 : 8, stereo ? 2 : 1, m_sampleRate);
        const auto mm = PCMMinMax(&format, p, m_bytesNeeded);
        int first, second;
        if (!stereo || m_channel == chLeft) {
            first = mm[0];
            second = mm[1];
        } else if (m_channel == chRight) {
            first = mm[2];
            second = mm[3];
        } else {
            first = (mm[0] + mm[2]) / 2;
            second = (mm[1] + mm[3]) / 2;
        }
        if (!bits16) {
            first = first * 256 - 32768;
            second = second * 256 - 32768;
        }
        m_data[0] = std::int16_t(first);
        m_data[1] = std::int16_t(second);
        count = 2;
    } else {
        // Never past the block: the last whole frame of BytesNeeded bounds every column.
        const int frames = m_bytesNeeded / ((bits16 ? 2 : 1) * (stereo ? 2 : 1));
        if (m_ratio != 1.0) {
            TakeBetweenSamples(p, frames);
        } else {
            for (int i = 0; i < m_w; ++i) {
                const int j = std::min(m_zoom > 0 ? i * m_zoom : i / (1 - m_zoom), frames - 1);
                m_data[std::size_t(i)] = std::int16_t(SampleAt(p, j, bits16, stereo, m_channel));
            }
        }
        count = m_w;
    }
    if (m_lowPass) {
        int previous = 0;
        for (int i = 0; i < count; ++i) {
            const int s = m_data[std::size_t(i)];
            m_data[std::size_t(i)] = std::int16_t((previous + 3 * s) / 4);
            previous = s;
        }
    }
}

void OscopeCore::TakeBetweenSamples(const std::uint8_t* p, int frames)
{
    // More columns than logical pixels: a column between two samples takes the value between
    // them, so the trace runs smooth instead of in steps of repeated samples.
    const bool bits16 = m_bits == b16Bit;
    const bool stereo = m_mode != mMono;
    const double step = (m_zoom > 0 ? double(m_zoom) : 1.0 / (1 - m_zoom)) / m_ratio;
    for (int i = 0; i < m_w; ++i) {
        const double at = i * step;
        const int j = std::min(int(at), frames - 1);
        const int a = SampleAt(p, j, bits16, stereo, m_channel);
        const int b = SampleAt(p, std::min(j + 1, frames - 1), bits16, stereo, m_channel);
        m_data[std::size_t(i)] = std::int16_t(std::lrint(a + (b - a) * (at - j)));
    }
}

int OscopeCore::Level(int sample) const
{
    std::int64_t v;
    if (m_kind == okSpikes) {
        v = std::int64_t(std::abs(sample)) * m_gain / 8;
    } else {
        v = std::int64_t(sample) * m_gain / 8 + m_offset;
    }
    return int(v * m_h / m_span);
}

bool OscopeCore::SetSelection(int a, int b)
{
    a = a < 0 ? -1 : std::min(a, m_w);
    b = b < 0 ? -1 : std::min(b, m_w);
    if (b < a) {
        std::swap(a, b);
    }
    if (a == b) {
        a = b = -1;
    }
    if (a == m_selStart && b == m_selEnd) {
        return false;
    }
    m_selStart = a;
    m_selEnd = b;
    return true;
}

// ---- drawing -------------------------------------------------------------------------------

int OscopeCore::GridRow(int d) const
{
    return m_h - int(double(d) * 32760.0 / m_gridDivisions / (32768.0 / m_h)) - 1;
}

void OscopeCore::DrawBackground(TMMDIBCanvas& dib) const
{
    if (dib.HasBackground()) {
        dib.CopyBackground(0, 0, m_w, m_h, 0, 0);
    } else {
        dib.SetDrawColor(m_backColor);
        dib.Clear();
    }
}

void OscopeCore::DrawGridLines(TMMDIBCanvas& dib) const
{
    dib.SetDrawColor(m_colors[GridColor]);
    for (int d = 0; d <= m_gridDivisions; ++d) {
        dib.HLineDotted(0, m_w, GridRow(d), 1);
    }
    int c = 32;
    while (m_w / c < 10 && c > 1) {
        c /= 2;
    }
    for (int k = 0; k <= c; ++k) {
        dib.VLineDotted(k * (m_w - 1) / c, 0, m_h, 1);
    }
}

bool OscopeCore::PointEffect(int h) const
{
    return m_effect != efNone && (h < m_effectLow || h > m_effectHigh);
}

// Rows fromRow ... toRow (both included) of column x.
void OscopeCore::Mark(TMMDIBCanvas& dib, int x, int fromRow, int toRow, std::uint32_t pixel) const
{
    dib.SetDrawValue(pixel);
    dib.VLine(x, fromRow, toRow + 1);
}

// One column of the line styles (all but dots and the connected line) for a sample.
void OscopeCore::DrawColumn(TMMDIBCanvas& dib, int x, int sample, std::uint32_t fg, std::uint32_t fx) const
{
    const int H = m_h, mid = MidRow();
    const int h = Level(sample);
    const int r = H - h - 1;
    switch (m_kind) {
    case okVertLines:
        dib.SetDrawValue(m_effect == efSplit && r < mid ? fx : fg);
        dib.VLine(x, r, mid);
        if (m_effect == efPeak) {
            if (r < m_effectLow) {
                Mark(dib, x, r, r + 4, fx);
            } else if (r > m_effectHigh) {
                Mark(dib, x, r - 5, r - 1, fx);
            }
        }
        break;
    case okMirLines:
        if (m_effect == efSplit) {
            const int far = H - h - 1;
            // The half from row h to the middle and the other half, in opposite colours.
            dib.SetDrawValue(h < mid ? fx : fg);
            dib.VLine(x, h, mid);
            dib.SetDrawValue(h < mid ? fg : fx);
            dib.VLine(x, mid, far);
        } else {
            dib.SetDrawValue(fg);
            dib.VLine(x, h, H - h - 1);
        }
        if (m_effect == efPeak) {
            if (h < m_effectLow) {
                Mark(dib, x, h, h + 4, fx);
                Mark(dib, x, H - h - 6, H - h - 2, fx);
            } else if (h > m_effectHigh) {
                Mark(dib, x, h - 5, h - 1, fx);
                Mark(dib, x, H - h - 1, H - h + 3, fx);
            }
        }
        break;
    case okSpikes:
        if (m_effect == efSplit && h > mid) {
            dib.SetDrawValue(fx);
            dib.VLine(x, r, mid);
            dib.SetDrawValue(fg);
            dib.VLine(x, mid, H);
        } else {
            dib.SetDrawValue(fg);
            dib.VLine(x, r, H);
        }
        if (m_effect == efPeak && r < 2 * m_effectLow) {
            Mark(dib, x, r, r + 4, fx);
        }
        break;
    default:
        break;
    }
}

void OscopeCore::DrawFrame(TMMDIBCanvas& dib)
{
    FrameEvents();
    PaintFrame(dib);
}

void OscopeCore::FrameEvents()
{
    if (DrawLine || !m_enabled) {
        return;
    }
    for (int x = 0; x < m_w; x += m_steps) {
        const int s = m_data[std::size_t(x)];
        if (s >= 32767 && PcmOverflow && !(m_kind == okCzoVevas && x == 0)) {
            PcmOverflow();
        }
        if (Level(s) > m_h && GainOverflow) {
            GainOverflow();
        }
    }
}

void OscopeCore::PaintFrame(TMMDIBCanvas& dib)
{
    const int W = m_w, H = m_h, mid = MidRow();
    if (DrawLine) {
        DrawLine(dib, QRect(0, 0, W, H), m_data.data());
        return;
    }
    DrawBackground(dib);
    const bool selection = m_selStart >= 0 && m_selEnd >= 0;
    if (m_enabled) {
        if (selection) {
            dib.SetDrawColor(m_colors[SelectionColor]);
            dib.FillRect(QRect(m_selStart, 0, m_selEnd - m_selStart + 1, H));
        }
        if (m_drawMidLine) {
            dib.SetDrawColor(m_colors[DisabledColor]);
            dib.HLineDashed(0, W, mid);
        }
        if (m_drawGrid) {
            DrawGridLines(dib);
        }

        const std::uint32_t fg = dib.ColorToPixel(m_colors[ForegroundColor]);
        const std::uint32_t fx = dib.ColorToPixel(m_colors[EffectColor]);
        if (m_kind == okVertLines || m_kind == okMirLines) {
            dib.SetDrawValue(fg);
            dib.HLine(0, W, mid - 1);
            dib.HLine(0, W, mid);
        }
        int lastRow = 0, lastX = 0;
        for (int x = 0; x < W; x += m_steps) {
            const int s = m_data[std::size_t(x)];
            const int h = Level(s);
            const int r = H - h - 1;
            switch (m_kind) {
            case okDots:
                dib.PutPixel(x, r, PointEffect(h) ? fx : fg);
                break;
            case okCzoVevas:
                if (x == 0) {
                    dib.MoveTo(0, r);
                } else {
                    dib.SetDrawValue(PointEffect(h) ? fx : fg);
                    dib.LineTo(x, r);
                }
                break;
            default:
                DrawColumn(dib, x, s, fg, fx);
                break;
            }
            lastRow = r;
            lastX = x;
        }
        if (m_kind == okCzoVevas) {
            dib.LineTo(lastX + m_steps, lastRow); // past the edge, so the last point itself is drawn
        }
    } else {
        dib.SetDrawColor(m_colors[DisabledColor]);
        dib.HLine(5, W - 5, mid);
    }
    if (selection) {
        dib.SetDrawColor(m_colors[SelectionDotColor]);
        dib.HLineDashed(m_selStart, m_selEnd + 1, 0);
        dib.HLineDashed(m_selStart, m_selEnd + 1, H - 1);
        dib.VLineDashed(m_selStart, 0, H);
        dib.VLineDashed(m_selEnd, 0, H);
    }
    if (m_locator >= 0) {
        dib.SetDrawColor(m_colors[LocatorColor]);
        dib.VLine(m_locator, 0, H);
    }
}

void OscopeCore::ScrollStart(TMMDIBCanvas& dib)
{
    DrawBackground(dib);
    m_scrollPos = -m_barWidth;
    m_sweepCount = 0;
    m_pen = QPoint(0, MidRow());
}

int OscopeCore::ScrollBlock(TMMDIBCanvas& dib)
{
    const int W = m_w, H = m_h;
    if (m_sweepCount >= W) {
        // The chart is full: everything moves one column to the left.
        dib.CopyBits(dib, 0, 0, W - 1, H, 1, 0);
        m_pen.rx() -= 1;
    }
    const int x = m_scrollPos;
    dib.SetDrawColor(m_backColor);
    dib.VLine(x, 0, H);
    if (m_enabled) {
        const std::uint32_t fg = dib.ColorToPixel(m_colors[ForegroundColor]);
        const std::uint32_t fx = dib.ColorToPixel(m_colors[EffectColor]);
        const int a = m_data[0], b = m_data[1];
        for (const int s : { a, b }) {
            if (s >= 32767 && PcmOverflow) {
                PcmOverflow();
            }
            if (Level(s) > H && GainOverflow) {
                GainOverflow();
            }
        }
        const int ha = Level(a), hb = Level(b);
        switch (m_kind) {
        case okDots:
            dib.PutPixel(x, H - ha - 1, PointEffect(ha) ? fx : fg);
            dib.PutPixel(x, H - hb - 1, PointEffect(hb) ? fx : fg);
            break;
        case okCzoVevas:
            dib.MoveTo(m_pen.x(), m_pen.y());
            dib.SetDrawValue(PointEffect(ha) ? fx : fg);
            dib.LineTo(x, H - ha - 1);
            dib.SetDrawValue(PointEffect(hb) ? fx : fg);
            dib.LineTo(x, H - hb - 1);
            m_pen = QPoint(x, H - hb - 1);
            break;
        default: {
            const int larger = std::abs(a) >= std::abs(b) ? a : b;
            DrawColumn(dib, x, larger, fg, fx);
            break;
        }
        }
    }
    if (m_sweepCount < W) {
        // The sweep bar runs ahead of the trace during the first pass.
        dib.SetDrawColor(m_colors[BarColor]);
        dib.FillRect(QRect(m_scrollPos + 1, 0, m_sweepCount - m_scrollPos, H));
        dib.SetDrawColor(m_colors[BarTickColor]);
        for (int d = 0; d <= m_gridDivisions; ++d) {
            dib.HLine(m_scrollPos + 1, m_sweepCount + 1, GridRow(d));
        }
        ++m_scrollPos;
        ++m_sweepCount;
    }
    return x;
}

} // namespace zv
