#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <vector>

namespace zv {

// The opaque runs of a skin picture: every row scanned left to right, a run being pixels whose colour
// differs from the colour of pixel (0, 0), each run a one-pixel-high rectangle, rows top to bottom.
// A run that reaches the right edge ends there, so an opaque edge column belongs to the shape.
std::vector<QRect> SkShapeRuns(const QImage& picture);

// The union of the runs, moved by `offset`; empty for no runs.
QRegion SkShapeRegion(const std::vector<QRect>& runs, QPoint offset);

} // namespace zv
