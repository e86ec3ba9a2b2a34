#include "displays/MMLevelMath.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace zv {

int SampleLayout::BytesNeeded() const
{
    return (static_cast<int>(bits) + 1) * (static_cast<int>(mode) + 1) * samples;
}

namespace {

std::int16_t Read16(const std::uint8_t* p)
{
    std::int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Truncating halving, as an integer div does it.
std::int64_t Half(std::int64_t v)
{
    return v / 2;
}

std::int64_t Abs64(std::int64_t v)
{
    return v < 0 ? -v : v;
}

} // namespace

int BlockPeak(const void* data, const SampleLayout& layout)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::int64_t oL = layout.offsetL;
    const std::int64_t oR = layout.offsetR;
    const bool stereo = layout.mode != mMono;
    std::int64_t peak = 0;
    if (layout.bits == b16Bit) {
        if (!stereo) {
            for (int i = 0; i < layout.samples; ++i) {
                peak = std::max(peak, Abs64(Read16(p + 2 * i) + oL));
            }
        } else {
            for (int i = 0; i < layout.samples; ++i) {
                const std::int64_t l = Read16(p + 4 * i) + oL;
                const std::int64_t r = Read16(p + 4 * i + 2) + oR;
                const std::int64_t s
                    = layout.channel == chLeft ? l : (layout.channel == chRight ? r : Half(l + r));
                peak = std::max(peak, Abs64(s));
            }
        }
    } else {
        if (!stereo) {
            for (int i = 0; i < layout.samples; ++i) {
                peak = std::max(peak, Abs64((p[i] + oL - 128) * 256));
            }
        } else {
            for (int i = 0; i < layout.samples; ++i) {
                const std::int64_t l = p[2 * i] + oL;
                const std::int64_t r = p[2 * i + 1] + oR;
                const std::int64_t s
                    = layout.channel == chLeft ? l : (layout.channel == chRight ? r : Half(l + r));
                peak = std::max(peak, Abs64((s - 128) * 256));
            }
        }
    }
    return static_cast<int>(std::min<std::int64_t>(peak, INT_MAX));
}

void LevelDecay::SetMode(TMMDecayMode mode)
{
    if (mode == m_mode) {
        return;
    }
    m_mode = mode;
    Reset();
}

void LevelDecay::SetDecay(int decay)
{
    decay = std::clamp(decay, 1, 16);
    // 0.0001 ^ (1 / 2^decay), one single-precision square root at a time.
    float factor = 0.0001f;
    for (int i = 0; i < decay; ++i) {
        factor = std::sqrt(factor);
    }
    m_factor = factor;
    m_length = std::clamp(decay * 2 - 2, 1, 32);
    const bool changed = decay != m_decay;
    m_decay = decay;
    if (changed && m_mode == dmUniform) {
        Reset();
    }
    m_position = std::min(m_position, m_length - 1);
    m_fill = std::min(m_fill, m_length);
}

void LevelDecay::Reset()
{
    m_ring.fill(0);
    m_position = 0;
    m_fill = 0;
    m_sum = 0;
    m_last = 0.0f;
}

int LevelDecay::Apply(int v, bool risesOnEqual)
{
    if (m_mode == dmNone) {
        return v;
    }
    m_position = (m_position + 1) % m_length;
    m_fill = std::min(m_fill + 1, m_length);
    switch (m_mode) {
    case dmStepUp: {
        m_last = m_last * m_factor;
        const bool rise = risesOnEqual ? static_cast<float>(v) >= m_last : static_cast<float>(v) > m_last;
        if (rise) {
            m_last = static_cast<float>(v);
        } else {
            v = static_cast<int>(m_last);
        }
        break;
    }
    case dmExponential:
        m_last = m_last * m_factor + (1.0f - m_factor) * static_cast<float>(v);
        v = static_cast<int>(std::floor(m_last));
        break;
    case dmUniform: {
        auto& slot = m_ring[static_cast<std::size_t>(m_position)];
        m_sum += v - slot;
        slot = v;
        v = static_cast<int>(m_sum / m_fill);
        break;
    }
    case dmNone:
        break;
    }
    return v;
}

float LinearFloor(int sensitivity)
{
    return static_cast<float>(kFullScale / std::pow(10.0, -sensitivity / 20.0));
}

namespace {

// Halves to even, as the default floating-point rounding does.
int RoundEven(double v)
{
    if (!(v < static_cast<double>(INT_MAX))) {
        return INT_MAX;
    }
    if (!(v > static_cast<double>(INT_MIN))) {
        return INT_MIN;
    }
    return static_cast<int>(std::nearbyint(v));
}

std::int64_t Gained(int v, int gain)
{
    return static_cast<std::int64_t>(v) * (gain + 8) / 8;
}

float Decibels(std::int64_t g, double floor)
{
    return static_cast<float>(20.0 * std::log10(std::max(static_cast<double>(g) / kFullScale, floor)));
}

int Map(int v, int gain, int sensitivity, bool logAmp, int range, double floor)
{
    const std::int64_t g = Gained(v, gain);
    const double s = sensitivity;
    double c = 0;
    if (logAmp) {
        c = (static_cast<double>(Decibels(g, floor)) - s) * range / -s;
    } else {
        const double t = LinearFloor(sensitivity);
        c = (static_cast<double>(g) - t) * range / (kFullScale - t);
    }
    return std::max(RoundEven(c), 0);
}

} // namespace

int LevelToSpots(int v, int gain, int sensitivity, bool logAmp, int numSpots)
{
    return Map(v, gain, sensitivity, logAmp, numSpots, 0.000001);
}

int LevelToNeedle(int v, int gain, int sensitivity, bool logAmp)
{
    return Map(v, gain, sensitivity, logAmp, kFullScale, 0.00001);
}

int ShownToPercent(int shown, int range, int gain, int sensitivity, bool logAmp)
{
    if (shown <= 0 || range <= 0) {
        return 0;
    }
    if (!logAmp) {
        return RoundEven(shown * 100.0 / range);
    }
    const double s = sensitivity;
    const double level = std::pow(10.0, (s - s * shown / range) / 20.0);
    return RoundEven(level * 8.0 / (gain + 8) * 100.0);
}

int PercentToLevel(int percent)
{
    return RoundEven(std::clamp(percent, 0, 100) * 32767.0 / 100.0);
}

LevelGeometry LevelGeometry::Compute(int width, int height, TMMLevelKind kind, TMMLevelDirection direction,
    int spotWidth, int spotSpace, int point1, int point2)
{
    LevelGeometry g;
    g.width = std::max(width, 1);
    g.height = std::max(height, 1);
    g.kind = kind;
    g.direction = direction;
    const int extent = kind == lkHorizontal ? g.width : g.height;
    g.spotSpace = std::clamp(spotSpace, 0, 10);
    g.spotWidth = std::clamp(spotWidth, 1, std::max(extent / 3, 1));
    const int step = g.spotWidth + g.spotSpace;
    g.numSpots = std::max((extent + g.spotSpace) / step, 1);
    g.margin = (g.spotSpace + extent - g.numSpots * step) / 2;
    g.p1 = std::clamp(point1, 1, 100) * g.numSpots / 100;
    g.p2 = std::clamp(point2, 1, 100) * g.numSpots / 100;
    return g;
}

QRect LevelGeometry::Segment(int n) const
{
    const int offset = margin + (n - 1) * (spotWidth + spotSpace);
    const bool fromEnd = direction != dirNormal;
    if (kind == lkHorizontal) {
        const int x = fromEnd ? width - offset - spotWidth : offset;
        return QRect(x, 0, spotWidth, height);
    }
    // Vertical bars grow upwards unless reversed.
    const int y = fromEnd ? offset : height - offset - spotWidth;
    return QRect(0, y, width, spotWidth);
}

void DrawLevelSegments(TMMDIBCanvas& canvas, const LevelGeometry& geometry,
    const std::array<std::uint32_t, 3>& pixels, bool dotted, int count, int peak, int numPeaks)
{
    const int n = geometry.numSpots;
    count = std::clamp(count, 0, n);
    int zone = -1;
    auto draw = [&](int segment) {
        const int z = geometry.Zone(segment);
        if (z != zone) {
            zone = z;
            canvas.SetDrawValue(pixels[static_cast<std::size_t>(z)]);
        }
        canvas.FillRectDotted(geometry.Segment(segment), dotted);
    };
    if (geometry.direction == dirSymetric) {
        // A block of five segments centred on the level, in the level's own zone colour.
        if (count > 0) {
            canvas.SetDrawValue(pixels[static_cast<std::size_t>(geometry.Zone(count))]);
            for (int s = std::max(count - 2, 1); s <= std::min(count + 2, n); ++s) {
                canvas.FillRectDotted(geometry.Segment(s), dotted);
            }
        }
    } else {
        for (int s = 1; s <= count; ++s) {
            draw(s);
        }
    }
    if (numPeaks > 0 && count < peak) {
        peak = std::min(peak, n);
        for (int s = peak; s > peak - numPeaks && s >= 1; --s) {
            draw(s);
        }
    }
}

QPoint NeedlePoint(int x, int r, int w, int h, int needleOffset, int scaleAngle)
{
    constexpr float pi = 3.14159265358979f;
    const float a0 = static_cast<float>(180 - scaleAngle) * pi / 360.0f;
    const float a1 = pi - a0;
    const float angle = a0 + (a1 - a0) * static_cast<float>(x) / 32767.0f;
    const int px = w / 2 - RoundEven(std::cos(angle) * static_cast<float>(r));
    const int py = h + needleOffset - RoundEven(std::sin(angle) * static_cast<float>(r));
    return { px, py };
}

} // namespace zv
