#pragma once

// Reading a display's picture by what it shows rather than pixel for pixel, so that a check holds
// with any font and any anti-aliasing: where pixels of a colour lie, within a tolerance.

#include <QImage>
#include <QRect>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace zv::test {

// Where the pixels near one colour lie in an area.
struct Ink {
    int pixels = 0;
    int columns = 0; // columns with at least one
    QRect bounds; // the smallest rectangle around them; empty when there are none
};

inline bool NearColour(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

inline Ink InkOf(const QImage& picture, const QRect& area, QRgb colour, int tolerance = 40)
{
    Ink ink;
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    const QRect inside = area & picture.rect();
    for (int x = inside.left(); x <= inside.right(); ++x) {
        bool any = false;
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            if (NearColour(picture.pixel(x, y), colour, tolerance)) {
                ++ink.pixels;
                any = true;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        if (any) {
            ++ink.columns;
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    if (ink.pixels > 0) {
        ink.bounds = QRect(QPoint(left, top), QPoint(right, bottom));
    }
    return ink;
}

// Where `rect` of `widget` lies in a picture of `window`, at the picture's own pixel ratio.
inline QRect InPicture(const QWidget& widget, const QWidget& window, const QRect& rect, const QImage& picture)
{
    const QRect logical(widget.mapTo(&window, rect.topLeft()), rect.size());
    const qreal ratio = picture.devicePixelRatio();
    return QRect(int(std::lround(logical.left() * ratio)), int(std::lround(logical.top() * ratio)),
        int(std::lround(logical.width() * ratio)), int(std::lround(logical.height() * ratio)));
}

} // namespace zv::test
