#include "displays/MMScale.h"

#include "displays/MMSetter.h"
#include "platform/ResStrings.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace zv {

void PlatformLine(QPainter& canvas, QPoint a, QPoint b, TColor color)
{
    const QColor c = ColorToQColor(color);
    int dx = b.x() - a.x();
    int dy = b.y() - a.y();
    if (dx == 0 && dy == 0) {
        return;
    }
    if (dy == 0) {
        canvas.fillRect(QRect(dx > 0 ? a.x() : b.x() + 1, a.y(), std::abs(dx), 1), c);
        return;
    }
    if (dx == 0) {
        canvas.fillRect(QRect(a.x(), dy > 0 ? a.y() : b.y() + 1, 1, std::abs(dy)), c);
        return;
    }
    canvas.save();
    canvas.setPen(QPen(c, 1));
    canvas.setRenderHint(QPainter::Antialiasing, false);
    ForEachLinePoint(a, b, [&canvas](QPoint p) { canvas.drawPoint(p); });
    canvas.restore();
}

} // namespace zv

void TMMCustomScale::Changed()
{
    if (OnChange) {
        OnChange();
    }
}

#define ZV_SCALE_SETTER(Name, Type, member, expr)                                                            \
    ZV_DEFINE_SETTER(TMMCustomScale, Name, Type, member, expr, Changed)

ZV_SCALE_SETTER(Visible, bool, m_visible, value)
ZV_SCALE_SETTER(StartAngle, int, m_startAngle, value)
ZV_SCALE_SETTER(EndAngle, int, m_endAngle, value)
ZV_SCALE_SETTER(Color, TColor, m_color, value)
ZV_SCALE_SETTER(Zone2Color, TColor, m_zone2Color, value)
ZV_SCALE_SETTER(Zone3Color, TColor, m_zone3Color, value)
ZV_SCALE_SETTER(Zone1End, int, m_zone1End, value)
ZV_SCALE_SETTER(Zone2End, int, m_zone2End, value)
ZV_SCALE_SETTER(Style, TMMScaleStyle, m_style, value)
// Upper bounds keep a repaint finite; no screen shows more ticks or longer ones.
ZV_SCALE_SETTER(TickCount, int, m_tickCount, std::clamp(value, 2, 10000))
ZV_SCALE_SETTER(EnlargeEvery, int, m_enlargeEvery, std::max(value, 1))
ZV_SCALE_SETTER(Size, int, m_size, std::clamp(value, 1, 10000))
ZV_SCALE_SETTER(Origin, TMMScaleOrigin, m_origin, value)
ZV_SCALE_SETTER(Connect, bool, m_connect, value)
#undef ZV_SCALE_SETTER

void TMMScale::SetColor(TColor value)
{
    // One colour for every zone.
    const bool changed = value != m_color || value != m_zone2Color || value != m_zone3Color;
    m_color = m_zone2Color = m_zone3Color = value;
    if (changed) {
        Changed();
    }
}

void TMMCustomScale::Assign(const TMMCustomScale& source)
{
    if (&source == this) {
        return;
    }
    m_visible = source.m_visible;
    m_color = source.m_color;
    if (dynamic_cast<TMMScale*>(this)) {
        m_zone2Color = m_zone3Color = m_color;
    }
    m_style = source.m_style;
    m_tickCount = source.m_tickCount;
    m_enlargeEvery = source.m_enlargeEvery;
    m_size = source.m_size;
    m_origin = source.m_origin;
    m_connect = source.m_connect;
    Changed();
}

int TMMCustomScale::BandSize() const
{
    int size = m_size;
    if (m_connect) {
        ++size;
        if (m_style != stColor) {
            ++size;
        }
    }
    return size;
}

void TMMCustomScale::DrawTick(int x1, int y1, int x2, int y2, TColor color)
{
    if (!m_canvas) {
        throw EMMScaleError(zv::LoadResString(zv::SCanvasNeeded));
    }
    QPainter& canvas = *m_canvas;
    if (m_style == stColor) {
        zv::PlatformLine(canvas, { x1, y1 }, { x2, y2 }, color);
        return;
    }
    const TColor first = m_style == stLowered ? clBlack : clWhite;
    const TColor second = m_style == stLowered ? clWhite : clBlack;
    zv::PlatformLine(canvas, { x1, y1 }, { x2, y2 }, first);
    const int dy = y1 - y2;
    int dx = x2 - x1;
    if (dx == 0) {
        dx = dy;
    }
    QPoint shift(0, 1);
    if (std::abs(dy) >= std::abs(dx)) {
        shift = dx != 0 && static_cast<double>(dy) / dx < 0 ? QPoint(-1, 0) : QPoint(1, 0);
    }
    zv::PlatformLine(canvas, QPoint(x1, y1) + shift, QPoint(x2, y2) + shift, second);
}

QPoint TMMCustomScale::RingPoint(QPointF centre, double r, double degrees)
{
    const float radians = static_cast<float>(degrees) / 180.0f * 3.14159265358979f;
    const double x = centre.x() + std::cos(radians) * r;
    const double y = centre.y() - std::sin(radians) * r;
    // Truncated on the far side of the centre, rounded on the near side: points mirror evenly.
    const auto fix
        = [](double v, double c) { return static_cast<int>(v >= c ? std::trunc(v) : std::nearbyint(v)); };
    return { fix(x, centre.x()), fix(y, centre.y()) };
}

void TMMCustomScale::DrawRing(QPainter& canvas, const QRect& rect)
{
    QPainter* lent = m_canvas;
    m_canvas = &canvas;
    const double w = rect.width();
    const double h = rect.height();
    const QPointF centre(rect.x() + w / 2, rect.y() + h / 2);
    const double r = std::min(w / 2, h / 2);
    const float step
        = static_cast<float>(m_startAngle - m_endAngle + 360) / static_cast<float>(m_tickCount - 1);
    const double half = m_size / 2.0;
    for (int i = 0; i < m_tickCount; ++i) {
        const double angle = m_startAngle - static_cast<float>(i) * step;
        double from = r - m_size;
        double to = r;
        if (i % m_enlargeEvery != 0) {
            if (m_origin == soInner) {
                to = r - half + 1;
            } else {
                from = r - half;
            }
        }
        const QPoint a = RingPoint(centre, from, angle);
        const QPoint b = RingPoint(centre, to, angle);
        DrawTick(a.x(), a.y(), b.x(), b.y(), m_color);
    }
    if (m_connect) {
        const double radius = m_origin == soInner ? r - m_size : r;
        const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        const int span = ((m_startAngle - m_endAngle) % 360 + 360) % 360;
        canvas.save();
        canvas.setBrush(Qt::NoBrush);
        if (m_style == stColor) {
            canvas.setPen(QPen(zv::ColorToQColor(m_color), 1));
            canvas.drawArc(circle, m_endAngle * 16, span * 16);
        } else {
            canvas.setPen(QPen(zv::ColorToQColor(m_style == stLowered ? clBlack : clWhite), 1));
            canvas.drawArc(circle, m_endAngle * 16, span * 16);
            canvas.setPen(QPen(zv::ColorToQColor(m_style == stLowered ? clWhite : clBlack), 1));
            canvas.drawArc(circle.translated(1, 1), m_endAngle * 16, span * 16);
        }
        canvas.restore();
    }
    m_canvas = lent;
}

void TMMCustomScale::DrawStraight(QPainter& canvas, const QRect& rect, bool firstBand)
{
    QPainter* lent = m_canvas;
    m_canvas = &canvas;
    const bool vertical = rect.height() >= rect.width();
    const double length = vertical ? rect.height() : rect.width();
    const bool zones = m_style == stColor && !(m_color == m_zone2Color && m_color == m_zone3Color)
        && 0 <= m_zone1End && m_zone1End <= m_zone2End && m_zone2End <= m_tickCount;
    const double z1 = zones ? static_cast<double>(m_zone1End) / m_tickCount * length : 0;
    const double z2 = zones ? static_cast<double>(m_zone2End) / m_tickCount * length : 0;
    // Hanging from the start edge (left of a vertical band, top of a horizontal one), or the other.
    const bool fromStart = (!firstBand && m_origin == soInner) || (firstBand && m_origin == soOuter);
    const int across = vertical ? rect.width() : rect.height();
    const int edge = fromStart ? 0 : across - 1; // offset of the hanging edge across the band
    const int inward = fromStart ? 1 : -1;
    const auto colourAt = [&](double p) {
        if (zones && p > z2) {
            return m_zone3Color;
        }
        if (zones && p > z1) {
            return m_zone2Color;
        }
        return m_color;
    };
    auto line = [&](int along1, int along2, int acrossPos, TColor color) {
        if (vertical) {
            DrawTick(rect.x() + acrossPos, rect.y() + along1, rect.x() + acrossPos, rect.y() + along2, color);
        } else {
            DrawTick(rect.x() + along1, rect.y() + acrossPos, rect.x() + along2, rect.y() + acrossPos, color);
        }
    };
    int tickStart = edge;
    if (m_connect) {
        const int len = static_cast<int>(length);
        if (zones) {
            const int a = static_cast<int>(z1);
            const int b = static_cast<int>(z2);
            line(0, a, edge, m_color);
            line(a, b, edge, m_zone2Color);
            line(b, len, edge, m_zone3Color);
        } else {
            line(0, len, edge, m_color);
        }
        if (m_style != stColor) {
            tickStart += inward;
        }
    }
    const float step = static_cast<float>(length) / static_cast<float>(m_tickCount - 1);
    for (int i = 0; i < m_tickCount; ++i) {
        const float p = step * static_cast<float>(i);
        const int m = i % m_enlargeEvery == 0 ? m_size : m_size / 2;
        const TColor color = colourAt(p);
        const int pos
            = vertical ? static_cast<int>(std::nearbyint(rect.y() + p)) : static_cast<int>(rect.x() + p);
        const int from = tickStart;
        const int to = tickStart + inward * m;
        if (vertical) {
            DrawTick(rect.x() + from, pos, rect.x() + to, pos, color);
        } else {
            DrawTick(pos, rect.y() + from, pos, rect.y() + to, color);
        }
    }
    m_canvas = lent;
}
