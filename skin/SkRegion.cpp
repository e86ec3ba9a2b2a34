#include "skin/SkRegion.h"

#include "skin/skcont.h"

namespace zv {

std::vector<QRect> SkShapeRuns(const QImage& picture)
{
    std::vector<QRect> runs;
    if (picture.isNull()) {
        return runs;
    }
    const QImage img = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
        ? picture
        : picture.convertToFormat(QImage::Format_RGB32);
    const QRgb t = img.pixel(0, 0);
    const int w = img.width();
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int x = 0;
        while (x < w) {
            while (x < w && SameColor(row[x], t)) {
                ++x;
            }
            if (x == w) {
                break;
            }
            const int a = x;
            while (x < w && !SameColor(row[x], t)) {
                ++x;
            }
            runs.emplace_back(a, y, x - a, 1);
        }
    }
    return runs;
}

QRegion SkShapeRegion(const std::vector<QRect>& runs, QPoint offset)
{
    if (runs.empty()) {
        return {};
    }
    // Runs come row by row, left to right, never overlapping: already the banded order QRegion keeps.
    std::vector<QRect> moved;
    moved.reserve(runs.size());
    for (const QRect& r : runs) {
        moved.push_back(r.translated(offset));
    }
    QRegion region;
    region.setRects(moved.data(), int(moved.size()));
    return region;
}

} // namespace zv
