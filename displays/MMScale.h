#pragma once

#include "displays/MMColors.h"
#include "platform/Exception.h"

#include <QPointF>
#include <QRect>
#include <functional>

class QPainter;

ZV_DECLARE_EXCEPTION(EMMScaleError, Exception);

enum TMMScaleStyle { stColor, stLowered, stRaised };
enum TMMScaleOrigin { soInner, soOuter };

// A row or ring of tick marks painted on a canvas that the owning control lends it. Every real
// change of a setting calls OnChange (the owner repaints).
class TMMCustomScale {
public:
    TMMCustomScale() = default;
    virtual ~TMMCustomScale() = default;
    TMMCustomScale(const TMMCustomScale&) = delete;
    TMMCustomScale& operator=(const TMMCustomScale&) = delete;

    bool Visible() const { return m_visible; }
    void SetVisible(bool value);
    int StartAngle() const { return m_startAngle; }
    void SetStartAngle(int degrees);
    int EndAngle() const { return m_endAngle; }
    void SetEndAngle(int degrees);
    TColor Color() const { return m_color; }
    virtual void SetColor(TColor value);
    TColor Zone2Color() const { return m_zone2Color; }
    void SetZone2Color(TColor value);
    TColor Zone3Color() const { return m_zone3Color; }
    void SetZone3Color(TColor value);
    int Zone1End() const { return m_zone1End; }
    void SetZone1End(int ticks);
    int Zone2End() const { return m_zone2End; }
    void SetZone2End(int ticks);
    TMMScaleStyle Style() const { return m_style; }
    void SetStyle(TMMScaleStyle value);
    int TickCount() const { return m_tickCount; }
    void SetTickCount(int value); // 2 ... 10000
    int EnlargeEvery() const { return m_enlargeEvery; }
    void SetEnlargeEvery(int value); // 1 or more
    int Size() const { return m_size; }
    void SetSize(int value); // 1 ... 10000
    TMMScaleOrigin Origin() const { return m_origin; }
    void SetOrigin(TMMScaleOrigin value);
    bool Connect() const { return m_connect; }
    void SetConnect(bool value);

    // The canvas the owner lends; DrawStraight and DrawRing lend it for their own duration.
    QPainter* Canvas() const { return m_canvas; }
    void SetCanvas(QPainter* canvas) { m_canvas = canvas; }

    // Copies the published settings, then tells the owner once.
    void Assign(const TMMCustomScale& source);

    // Room a straight band takes across.
    int BandSize() const;
    // A straight band of ticks; firstBand is the band along the owner's top or left edge.
    void DrawStraight(QPainter& canvas, const QRect& rect, bool firstBand);
    // A ring of ticks inside rect, clockwise from the start angle to the end angle.
    void DrawRing(QPainter& canvas, const QRect& rect);
    // One tick line in the style; raises "Canvas needed for this operation" without a canvas.
    void DrawTick(int x1, int y1, int x2, int y2, TColor color);

    std::function<void()> OnChange;

    // Where a ring point at radius r and angle degrees lands, mirrored evenly about centre.
    static QPoint RingPoint(QPointF centre, double r, double degrees);

protected:
    void Changed();

    bool m_visible = true;
    int m_startAngle = 0;
    int m_endAngle = 0;
    TColor m_color = clBlack;
    TColor m_zone2Color = clBlack;
    TColor m_zone3Color = clBlack;
    int m_zone1End = 0;
    int m_zone2End = 0;
    QPainter* m_canvas = nullptr;
    TMMScaleStyle m_style = stColor;
    int m_tickCount = 11;
    int m_enlargeEvery = 5;
    int m_size = 7;
    TMMScaleOrigin m_origin = soInner;
    bool m_connect = false;
};

// The knob's scale: one colour.
class TMMScale : public TMMCustomScale {
public:
    void SetColor(TColor value) override;
};

// The level scale's tick bands; hidden by default, coloured by its owner.
class TMMLevScale : public TMMCustomScale {
public:
    TMMLevScale() { m_visible = false; }
};

namespace zv {
// Steps a one-pixel line from a up to but not including b and hands every point to plot; the one
// line walk of the displays, so a needle drawn into a bitmap and a scale drawn by a painter agree.
template <typename Plot> void ForEachLinePoint(QPoint a, QPoint b, Plot&& plot)
{
    int dx = b.x() - a.x();
    int dy = b.y() - a.y();
    const int sx = dx < 0 ? -1 : 1;
    const int sy = dy < 0 ? -1 : 1;
    dx = dx < 0 ? -dx : dx;
    dy = dy < 0 ? -dy : dy;
    const bool xMajor = dx >= dy;
    const int major = xMajor ? dx : dy;
    const int minor = xMajor ? dy : dx;
    int err = 2 * minor - major;
    QPoint p = a;
    for (int i = 0; i < major; ++i) {
        plot(p);
        if (err >= 0) {
            if (xMajor) {
                {
                    {
                        {
                            {
                                {
                                    {
                                        p.ry() += sy;
                                    }
                                }
                            }
                        }
                    }
                }
            } else {
                {
                    {
                        {
                            {
                                {
                                    {
                                        p.rx() += sx;
                                    }
                                }
                            }
                        }
                    }
                }
            }
            err += 2 * minor - 2 * major;
        } else {
            err += 2 * minor;
        }
        if (xMajor) {
            {
                {
                    {
                        {
                            {
                                {
                                    p.rx() += sx;
                                }
                            }
                        }
                    }
                }
            }
        } else {
            {
                {
                    {
                        {
                            {
                                {
                                    p.ry() += sy;
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}

// A one-pixel line from a up to but not including b, as a platform line draws it.
void PlatformLine(QPainter& canvas, QPoint a, QPoint b, TColor color);
} // namespace zv
