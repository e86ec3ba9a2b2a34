#include "skin/SkRegion.h"

#include <gtest/gtest.h>

namespace {

constexpr QRgb kNavy = qRgb(0, 0, 128);

// A picture of navy with the listed pixels opaque (grey).
QImage Picture(int w, int h, const std::vector<QRect>& opaque, const std::vector<QPoint>& holes = {})
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kNavy);
    for (const QRect& r : opaque)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                img.setPixel(x, y, qRgb(60, 60, 60));
    for (QPoint p : holes)
        img.setPixel(p, kNavy);
    return img;
}

bool SameArea(const QRegion& a, const QRegion& b)
{
    return a.subtracted(b).isEmpty() && b.subtracted(a).isEmpty();
}

} // namespace

TEST(SkShapeRuns, OpaqueRectangleGivesOneRunPerRowAndThatRectangle)
{
    const std::vector<QRect> runs = zv::SkShapeRuns(Picture(10, 8, { QRect(2, 3, 5, 4) }));
    ASSERT_EQ(runs.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(runs[std::size_t(i)], QRect(2, 3 + i, 5, 1));
    const QRegion region = zv::SkShapeRegion(runs, QPoint(2, 2));
    EXPECT_TRUE(SameArea(region, QRegion(4, 5, 5, 4)));
}

TEST(SkShapeRuns, TransparentPixelInsideSplitsTheRowAndLeavesAHole)
{
    const QImage img = Picture(10, 8, { QRect(2, 3, 5, 4) }, { QPoint(4, 4) });
    const std::vector<QRect> runs = zv::SkShapeRuns(img);
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[1], QRect(2, 4, 2, 1));
    EXPECT_EQ(runs[2], QRect(5, 4, 2, 1));
    const QRegion region = zv::SkShapeRegion(runs, QPoint(0, 0));
    EXPECT_FALSE(region.contains(QPoint(4, 4)));
    EXPECT_TRUE(region.contains(QPoint(3, 4)));
    EXPECT_TRUE(region.contains(QPoint(5, 4)));
    EXPECT_TRUE(SameArea(region, QRegion(2, 3, 5, 4).subtracted(QRegion(4, 4, 1, 1))));
}

TEST(SkShapeRuns, AllTransparentOrEmptyPictureGivesNoRuns)
{
    EXPECT_TRUE(zv::SkShapeRuns(Picture(6, 6, {})).empty());
    EXPECT_TRUE(zv::SkShapeRuns(QImage()).empty());
    EXPECT_TRUE(zv::SkShapeRegion({}, QPoint(2, 2)).isEmpty());
}

TEST(SkShapeRuns, KeyIsTheTopLeftPixelAndComparedExactly)
{
    // Top-left is grey here: navy pixels are opaque, and a near-grey pixel is not grey.
    QImage img(4, 1, QImage::Format_RGB32);
    img.setPixel(0, 0, qRgb(60, 60, 60));
    img.setPixel(1, 0, qRgb(60, 60, 61));
    img.setPixel(2, 0, qRgb(60, 60, 60));
    img.setPixel(3, 0, kNavy);
    const std::vector<QRect> runs = zv::SkShapeRuns(img);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], QRect(1, 0, 1, 1));
    EXPECT_EQ(runs[1], QRect(3, 0, 1, 1));
}

TEST(SkShapeRuns, RunReachingTheRightEdgeEndsThere)
{
    const std::vector<QRect> runs = zv::SkShapeRuns(Picture(6, 3, { QRect(3, 1, 3, 1) }));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], QRect(3, 1, 3, 1));
}

TEST(SkShapeRuns, ManyRowsMakeAValidRegion)
{
    // A disc: rows of different widths, the kind of shape a skin has.
    QImage img(64, 64, QImage::Format_RGB32);
    img.fill(kNavy);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            if ((x - 32) * (x - 32) + (y - 32) * (y - 32) < 30 * 30)
                img.setPixel(x, y, qRgb(1, 2, 3));
    const QRegion region = zv::SkShapeRegion(zv::SkShapeRuns(img), QPoint(0, 0));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(region.contains(QPoint(x, y)), img.pixel(x, y) != kNavy) << x << "," << y;
}
