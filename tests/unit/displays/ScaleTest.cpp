#include "displays/MMScale.h"

#include <QImage>
#include <QList>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

constexpr QRgb kBlank = 0xFF000000u;

QImage Blank(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kBlank);
    return image;
}

TEST(TickScale, SettersClampAndTellTheOwnerOfRealChanges)
{
    TMMScale scale;
    int changes = 0;
    scale.OnChange = [&] { ++changes; };
    scale.SetTickCount(1);
    scale.SetEnlargeEvery(0);
    scale.SetSize(-2);
    EXPECT_EQ(scale.TickCount(), 2);
    EXPECT_EQ(scale.EnlargeEvery(), 1);
    EXPECT_EQ(scale.Size(), 1);
    EXPECT_EQ(changes, 3);
    scale.SetTickCount(2);
    EXPECT_EQ(changes, 3);
    scale.SetTickCount(1 << 30);
    EXPECT_EQ(scale.TickCount(), 10000);

    TMMLevScale band;
    EXPECT_FALSE(band.Visible());
    int bandChanges = 0;
    band.OnChange = [&] { ++bandChanges; };
    band.Assign(scale);
    EXPECT_EQ(bandChanges, 1);
    EXPECT_TRUE(band.Visible());
    EXPECT_EQ(band.TickCount(), 10000);
}

TEST(TickScale, BandSizeReservesRoomForTheConnectingLine)
{
    TMMLevScale band;
    EXPECT_EQ(band.BandSize(), 7);
    band.SetConnect(true);
    EXPECT_EQ(band.BandSize(), 8);
    band.SetStyle(stRaised);
    EXPECT_EQ(band.BandSize(), 9);
}

TEST(TickScale, DrawingNeedsACanvas)
{
    TMMScale scale;
    try {
        scale.DrawTick(0, 0, 5, 5, clWhite);
        FAIL();
    } catch (const EMMScaleError& e) {
        EXPECT_STREQ(e.what(), "Canvas needed for this operation");
    }
}

TEST(TickScale, RingRunsClockwiseWithLongTicksEveryFifth)
{
    // The knob's ring: 225 to 315 degrees, 11 ticks 27 degrees apart, long ones at 0, 5 and 10.
    TMMScale scale;
    scale.SetColor(clWhite);
    scale.SetStartAngle(225);
    scale.SetEndAngle(315);
    QImage image = Blank(52, 52);
    {
        QPainter painter(&image);
        scale.DrawRing(painter, QRect(0, 0, 52, 52));
    }
    const QPointF centre(26, 26);
    // Tick 0 at 225 degrees, from radius 19 out to 26 (its outer end left out).
    EXPECT_EQ(TMMCustomScale::RingPoint(centre, 19, 225), QPoint(13, 39));
    EXPECT_EQ(TMMCustomScale::RingPoint(centre, 26, 225), QPoint(8, 44));
    EXPECT_EQ(image.pixel(13, 39), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(9, 43), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(8, 44), kBlank);
    // Tick 5 straight up: long, 7 pixels from radius 19 to 26.
    for (int y = 1; y <= 7; ++y)
        EXPECT_EQ(image.pixel(26, y), qRgb(255, 255, 255)) << y;
    EXPECT_EQ(image.pixel(26, 0), kBlank);
    // Tick 10 mirrors tick 0.
    EXPECT_EQ(TMMCustomScale::RingPoint(centre, 19, -45), QPoint(39, 39));
    EXPECT_EQ(image.pixel(39, 39), qRgb(255, 255, 255));
    // Tick 4 at 117 degrees is short: from radius 19 to 23.5 only.
    const QPoint inner = TMMCustomScale::RingPoint(centre, 19, 117);
    const QPoint farEnd = TMMCustomScale::RingPoint(centre, 26, 117);
    EXPECT_EQ(image.pixel(inner), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(farEnd), kBlank);
}

TEST(TickScale, StraightBandHangsTicksFromTheInnerEdgeInZoneColours)
{
    TMMLevScale band;
    band.SetColor(clWhite);
    band.SetZone2Color(clYellow);
    band.SetZone3Color(clRed);
    band.SetZone1End(5);
    band.SetZone2End(8);
    QImage image = Blank(101, 7);
    {
        QPainter painter(&image);
        // The band below the labels (not first): its inner edge is the top one.
        band.DrawStraight(painter, QRect(0, 0, 100, 7), false);
    }
    const QRgb white = qRgb(255, 255, 255);
    const QRgb yellow = qRgb(255, 255, 0);
    const QRgb red = qRgb(255, 0, 0);
    EXPECT_EQ(image.pixel(0, 6), white) << "long tick, 7 pixels";
    EXPECT_EQ(image.pixel(10, 2), white) << "short tick, 3 pixels";
    EXPECT_EQ(image.pixel(10, 3), kBlank);
    EXPECT_EQ(image.pixel(40, 0), white);
    EXPECT_EQ(image.pixel(50, 6), yellow);
    EXPECT_EQ(image.pixel(80, 0), red);
    EXPECT_EQ(image.pixel(100, 0), red) << "the last tick lies on the band's far end";

    // First band: ticks hang from the bottom edge; a one-colour scale ignores zones.
    TMMScale plain;
    plain.SetColor(clLime);
    plain.SetZone1End(1);
    image = Blank(101, 7);
    {
        QPainter painter(&image);
        plain.DrawStraight(painter, QRect(0, 0, 100, 7), true);
    }
    EXPECT_EQ(image.pixel(80, 6), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(80, 3), kBlank);
    EXPECT_EQ(image.pixel(90, 4), qRgb(0, 255, 0));
}

TEST(TickScale, SquareBandIsVertical)
{
    TMMScale band;
    band.SetColor(clWhite);
    band.SetTickCount(3);
    band.SetSize(4);
    band.SetEnlargeEvery(1);
    QImage image = Blank(9, 9);
    {
        QPainter painter(&image);
        band.DrawStraight(painter, QRect(0, 0, 8, 8), false);
    }
    // Ticks across, from the left edge, at rows 0, 4 and 8.
    EXPECT_EQ(image.pixel(3, 4), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(4, 4), kBlank);
    EXPECT_EQ(image.pixel(0, 2), kBlank);
}

TEST(TickScale, EngravedTickIsALinePairShiftedAcross)
{
    TMMScale scale;
    scale.SetStyle(stLowered);
    QImage image = Blank(6, 6);
    QPainter painter(&image);
    scale.SetCanvas(&painter);
    scale.DrawTick(0, 1, 5, 1, clRed); // horizontal: the white line lies one below
    scale.DrawTick(4, 0, 4, 3, clRed); // vertical: one to the right
    painter.end();
    EXPECT_EQ(image.pixel(2, 1), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(2, 2), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(5, 0), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(4, 2), qRgb(0, 0, 0));
}

// The needle bitmap and the tick scale both walk their lines here: every slope and direction
// steps one pixel at a time from a, stops short of b, and a painter's line shows the same pixels.
TEST(LineWalk, StepsOnePixelAtATimeUpToButNotIncludingTheEnd)
{
    const QPoint ends[][2] = { { { 1, 1 }, { 7, 3 } }, { { 7, 3 }, { 1, 1 } }, { { 2, 8 }, { 4, 0 } },
        { { 0, 0 }, { 5, 5 } }, { { 5, 2 }, { 0, 2 } }, { { 3, 3 }, { 3, 3 } } };
    for (const auto& e : ends) {
        const QPoint a = e[0], b = e[1];
        SCOPED_TRACE(
            QStringLiteral("(%1,%2)-(%3,%4)").arg(a.x()).arg(a.y()).arg(b.x()).arg(b.y()).toStdString());
        QList<QPoint> points;
        zv::ForEachLinePoint(a, b, [&points](QPoint p) { points.append(p); });
        ASSERT_EQ(points.size(), std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y())));
        QPoint last = b;
        if (!points.isEmpty()) {
            EXPECT_EQ(points.front(), a);
            last = points.back();
        }
        for (int i = 1; i < points.size(); ++i) {
            const QPoint step = points[i] - points[i - 1];
            EXPECT_LE(std::max(std::abs(step.x()), std::abs(step.y())), 1);
        }
        const QPoint toEnd = b - last;
        EXPECT_LE(std::max(std::abs(toEnd.x()), std::abs(toEnd.y())), 1);

        QImage walked = Blank(10, 10);
        for (const QPoint& p : points)
            walked.setPixel(p, qRgb(255, 0, 0));
        QImage painted = Blank(10, 10);
        QPainter painter(&painted);
        zv::PlatformLine(painter, a, b, clRed);
        painter.end();
        EXPECT_EQ(painted, walked);
    }
}

} // namespace
