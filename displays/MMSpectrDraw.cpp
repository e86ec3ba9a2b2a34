#include "displays/MMSpectrMath.h"

#include <algorithm>
#include <cmath>

// The spectrum's frames: unlit bars, grid and every drawing style into the pixel canvas, and the
// deferred frame that is drawn only when it goes to the window. The analysis is in MMSpectrMath.cpp.

namespace zv {

using spectrum::RoundEven;
using spectrum::TruncInt;

// ---- drawing -------------------------------------------------------------------------------

void SpectrumCore::NarrowBar(int& left, int& right) const
{
    right = std::max(right, left + 1);
    const int space = Px(m_space);
    if (space < right - left) {
        left += space / 2;
        right -= space - space / 2;
    }
}

void SpectrumCore::DrawSpots(TMMDIBCanvas& dib, int x1, int x2, int lit, int peak,
    const std::uint32_t (&pixels)[3], bool dotted, bool onlyTop) const
{
    int left = x1, right = x2;
    NarrowBar(left, right);
    const int spotHeight = Px(m_spotHeight);
    const int pitch = spotHeight + Px(m_spotSpace);
    const auto spot = [&](int n) {
        const int bottom = m_h - m_spotOffset - (n - 1) * pitch;
        dib.SetDrawValue(pixels[n > m_p2 ? 2 : (n > m_p1 ? 1 : 0)]);
        dib.FillRectDotted(QRect(left, bottom - spotHeight, right - left, spotHeight), dotted);
    };
    if (onlyTop) {
        if (lit > 0) {
            spot(lit);
        }
    } else {
        for (int n = 1; n <= lit; ++n) {
            spot(n);
        }
    }
    if (m_numPeaks > 0 && peak > lit) {
        const int count = std::min<int>(m_numPeaks, peak);
        for (int n = peak; n > peak - count; --n) {
            spot(n);
        }
    }
}

void SpectrumCore::RebuildInactive()
{
    if ((m_kind != skBars && m_kind != skPeaks) || m_drawBar || !m_bars) {
        return;
    }
    TMMDIBDrawScope scope(m_inactive);
    m_inactive.SetDrawColor(m_backColor);
    m_inactive.Clear();
    const std::uint32_t pixels[3] = { m_inactive.ColorToPixel(m_colors[Inactive1]),
        m_inactive.ColorToPixel(m_colors[Inactive2]), m_inactive.ColorToPixel(m_colors[Inactive3]) };
    int start = -1;
    for (int i = 0; i <= m_w; ++i) {
        if (i < m_w && m_firstBin[std::size_t(i)] == -1) {
            continue;
        }
        if (start >= 0) {
            DrawSpots(m_inactive, start, i, m_numSpots, 0, pixels, m_inactiveDoted, false);
        }
        start = i;
    }
}

void SpectrumCore::DrawGridLines(TMMDIBCanvas& dib)
{
    dib.SetDrawColor(m_colors[Grid]);
    int n = m_logAmp ? 6 : 10;
    while (m_h / n < 10 && n > 1) {
        --n;
    }
    for (int d = 0; d <= n; ++d) {
        int y;
        if (m_logAmp) {
            y = TruncInt(double(d) * (m_h - 1) / n);
        } else {
            y = m_h - TruncInt(d * double(m_vs) * 32760.0 / n / (double(m_vs) * 32768.0 / m_h)) - 1;
        }
        dib.HLineDotted(0, m_w, y, 1);
    }
    int c = 32;
    while (m_w / c < 10 && c > 1) {
        c /= 2;
    }
    for (int k = 0; k <= c; ++k) {
        dib.VLineDotted(k * (m_w - 1) / c, 0, m_h, 1);
    }
}

void SpectrumCore::DrawDots(TMMDIBCanvas& dib)
{
    const std::uint32_t pixels[4] = { dib.ColorToPixel(m_colors[Bar1]), dib.ColorToPixel(m_colors[Bar2]),
        dib.ColorToPixel(m_colors[Bar3]), dib.ColorToPixel(m_colors[Inactive1]) };
    for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r) {
        const SpectrumBar& bar = m_bars[std::size_t(r)];
        const int y = std::clamp(m_h - bar.Value - 1, 0, m_h - 1);
        int zone = 3;
        if (m_enabled) {
            zone = y <= m_p2 ? 2 : (y > m_p1 ? 0 : 1);
        }
        dib.SetDrawValue(pixels[zone]);
        dib.HLine(bar.X1, bar.X2, y);
    }
}

void SpectrumCore::DrawVLines(TMMDIBCanvas& dib)
{
    const std::uint32_t pixels[4] = { dib.ColorToPixel(m_colors[Bar1]), dib.ColorToPixel(m_colors[Bar2]),
        dib.ColorToPixel(m_colors[Bar3]), dib.ColorToPixel(m_colors[Inactive1]) };
    for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r) {
        SpectrumBar& bar = m_bars[std::size_t(r)];
        bar.Value = std::clamp(bar.Value, 0, m_h - 1);
        int value = bar.Value;
        const int half = (m_h + value) / 2;
        int left = bar.X1, right = bar.X2;
        NarrowBar(left, right);
        int top = m_h - half - 1, bottom = half + 1;
        const auto fill = [&](int zone) {
            dib.SetDrawValue(pixels[zone]);
            dib.FillRect(QRect(left, top, right - left, bottom - top));
        };
        if (!m_enabled) {
            fill(3);
            continue;
        }
        if (value > m_p2) {
            fill(2);
            const int shrink = (value - m_p2) / 2;
            top += shrink;
            bottom -= shrink;
            value = m_p2;
        }
        if (value > m_p1) {
            fill(1);
            const int shrink = (value - m_p1) / 2;
            top += shrink;
            bottom -= shrink;
        }
        fill(0);
    }
}

// The line styles colour each pixel by its height above the base line, so the line is drawn
// here pixel by pixel with the canvas's own stepping (the end point of a segment is left out).
void SpectrumCore::DrawLineStyle(TMMDIBCanvas& dib, bool peakLine)
{
    const bool scroll = m_kind == skScroll;
    const int base = scroll ? m_h - m_h / 3 : 1;
    const std::uint32_t pixels[4] = { dib.ColorToPixel(m_colors[Bar1]), dib.ColorToPixel(m_colors[Bar2]),
        dib.ColorToPixel(m_colors[Bar3]), dib.ColorToPixel(m_colors[Inactive1]) };
    const auto rowOf = [&](int value) {
        return peakLine ? std::clamp(m_h - value - 1, 0, m_h - 1)
                        : std::clamp(m_h - value - base, 0, m_h - 1);
    };
    const auto pixelAt = [&](int x, int y) {
        if (!m_enabled) {
            dib.PutPixel(x, y, pixels[3]);
            return;
        }
        const int height = m_h - (peakLine ? 1 : base) - y;
        dib.PutPixel(x, y, pixels[height > m_p2 ? 2 : (height > m_p1 ? 1 : 0)]);
    };
    const auto segment = [&](int x0, int y0, int x1, int y1) {
        const int dx = x1 - x0, dy = y1 - y0;
        if (dx == 0 && dy == 0) {
            return;
        }
        if (scroll && dx > 0) {
            // One pixel per column, however steep.
            for (int x = x0; x < x1; ++x) {
                pixelAt(x, y0 + dy * (x - x0) / dx);
            }
            return;
        }
        const int ax = std::abs(dx), ay = std::abs(dy);
        const int steps = std::max(ax, ay);
        const int sx = dx > 0 ? 1 : (dx < 0 ? -1 : 0), sy = dy > 0 ? 1 : (dy < 0 ? -1 : 0);
        const int major = steps, minor = std::min(ax, ay);
        int error = 2 * minor - major;
        int x = x0, y = y0;
        for (int i = 0; i < steps; ++i) {
            pixelAt(x, y);
            if (error >= 0) {
                x += sx;
                y += sy;
                error += 2 * minor - 2 * major;
            } else {
                if (ax >= ay) {
                    x += sx;
                } else {
                    y += sy;
                }
                error += 2 * minor;
            }
        }
    };
    if (m_bars[0].X1 == -1) {
        return;
    }
    const auto valueOf = [&](const SpectrumBar& bar) { return peakLine ? bar.Peak.load() : bar.Value; };
    int px = 0, py = rowOf(valueOf(m_bars[0]));
    for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r) {
        const SpectrumBar& bar = m_bars[std::size_t(r)];
        const int x = bar.X1 + (bar.X2 - bar.X1) / 2;
        const int y = rowOf(valueOf(bar));
        segment(px, py, x, y);
        px = x;
        py = y;
    }
    // On to the right edge in the lowest zone colour, the last point included.
    dib.SetDrawValue(pixels[m_enabled ? 0 : 3]);
    dib.HLine(px, m_w, py);
}

int SpectrumCore::LitSpots(int value, int steps, int h)
{
    return std::clamp(RoundEven(double(value) * steps / h + 0.5), 0, steps);
}

void SpectrumCore::DrawFrame(TMMDIBCanvas& dib, bool fullFrame)
{
    AdvanceFrame();
    PaintFrame(dib, fullFrame);
}

void SpectrumCore::AdvanceFrame()
{
    m_peakInfo.Value = 0;
    m_peakInfo.Bin = 0;
    BarsFromBins();
    if (m_numPeaks < 1) {
        return;
    }
    if (m_kind == skBars || m_kind == skPeaks) {
        const int steps = m_drawBar ? m_h : m_numSpots;
        for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r) {
            SpectrumBar& bar = m_bars[std::size_t(r)];
            const int lit = LitSpots(bar.Value, steps, m_h);
            if (lit >= bar.Peak && lit > 0) {
                bar.Peak = lit;
                bar.PeakTimer = m_peakDelay * 2 + 1;
            }
        }
    } else if (m_kind == skLines) {
        for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r) {
            SpectrumBar& bar = m_bars[std::size_t(r)];
            if (bar.Value >= bar.Peak && bar.Value > 0) {
                bar.Peak = bar.Value;
                bar.PeakTimer = m_peakDelay * 2 + 1;
            }
        }
    }
}

void SpectrumCore::KeepPainted()
{
    m_painted.clear();
    for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r) {
        const SpectrumBar& bar = m_bars[std::size_t(r)];
        m_painted.insert(m_painted.end(), { bar.X1.load(), bar.X2, bar.Value, bar.Peak.load() });
    }
    m_paintedPeak = m_peakInfo;
    m_paintedValid = true;
}

bool SpectrumCore::SameAsPainted() const
{
    if (!m_paintedValid || m_kind == skScroll || m_drawBar || ClearBackground) {
        return false;
    }
    if (m_paintedPeak.Value != m_peakInfo.Value || m_paintedPeak.Bin != m_peakInfo.Bin
        || m_paintedPeak.Column != m_peakInfo.Column) {
        return false;
    }
    std::size_t i = 0;
    for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r, i += 4) {
        const SpectrumBar& bar = m_bars[std::size_t(r)];
        if (i + 4 > m_painted.size() || m_painted[i] != bar.X1 || m_painted[i + 1] != bar.X2
            || m_painted[i + 2] != bar.Value || m_painted[i + 3] != bar.Peak) {
            return false;
        }
    }
    return i == m_painted.size();
}

void SpectrumCore::PaintFrame(TMMDIBCanvas& dib, bool fullFrame)
{
    KeepPainted();
    const QRect area(0, 0, m_w, m_h);
    const bool barsKind = m_kind == skBars || m_kind == skPeaks;
    if (fullFrame || m_kind != skScroll) {
        if (m_drawBar || m_kind == skScroll) {
            if (ClearBackground) {
                ClearBackground(dib, area);
            } else {
                dib.SetDrawColor(m_backColor);
                dib.Clear();
            }
        } else if (barsKind && m_drawInactive) {
            dib.CopyBits(m_inactive, 0, 0, m_w, m_h, 0, 0);
        } else if (ClearBackground) {
            ClearBackground(dib, area);
        } else if (dib.HasBackground()) {
            dib.CopyBackground(0, 0, m_w, m_h, 0, 0);
        } else {
            dib.SetDrawColor(m_backColor);
            dib.Clear();
        }
    } else {
        // Scrolling: older lines move down two rows, the newest goes on top.
        dib.CopyBits(dib, 0, 2, m_w, m_h - 2, 0, 0);
        dib.SetDrawColor(m_backColor);
        dib.FillRect(QRect(0, 0, m_w, 2));
    }

    if (m_drawGrid && m_kind != skScroll) {
        DrawGridLines(dib);
    }

    switch (m_kind) {
    case skBars:
    case skPeaks: {
        const int steps = m_drawBar ? m_h : m_numSpots;
        const std::uint32_t pixels[3] = { dib.ColorToPixel(m_colors[Bar1]), dib.ColorToPixel(m_colors[Bar2]),
            dib.ColorToPixel(m_colors[Bar3]) };
        for (int r = 0; r < m_w && m_bars[std::size_t(r)].X1 != -1; ++r) {
            SpectrumBar& bar = m_bars[std::size_t(r)];
            const int lit = LitSpots(bar.Value, steps, m_h);
            if (m_drawBar) {
                m_drawBar(dib, QRect(bar.X1, 0, bar.X2 - bar.X1, m_h), lit, bar.Peak);
            } else {
                DrawSpots(dib, bar.X1, bar.X2, lit, bar.Peak, pixels, m_activeDoted, m_kind == skPeaks);
            }
        }
        break;
    }
    case skDots:
        DrawDots(dib);
        break;
    case skVLines:
        DrawVLines(dib);
        break;
    case skLines:
        DrawLineStyle(dib, false);
        if (m_numPeaks >= 1) {
            DrawLineStyle(dib, true);
        }
        break;
    case skScroll:
        DrawLineStyle(dib, false);
        break;
    }
}

} // namespace zv
