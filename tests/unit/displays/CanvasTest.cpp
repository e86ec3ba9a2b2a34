#include "displays/MMDIBCv.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <utility>

namespace {

using Pixels = std::set<std::pair<int, int>>;

// Canvas with a black frame, drawn on in colour index 250 (lime).
class Canvas : public ::testing::Test {
protected:
    void Open(int w, int h, int bits = 8)
    {
        dib.SetSize(w, h);
        dib.SetBitsPerPixel(bits);
        dib.BeginDraw();
        dib.SetDrawColor(clBlack);
        dib.Clear();
        dib.SetDrawColor(clLime);
        open = true;
    }
    void TearDown() override
    {
        if (open)
            dib.EndDraw();
    }
    // Back to a black canvas, drawing in lime.
    void Wipe()
    {
        dib.SetDrawColor(clBlack);
        dib.Clear();
        dib.SetDrawColor(clLime);
    }
    Pixels Lit() const
    {
        Pixels lit;
        for (int y = 0; y < dib.Height(); ++y)
            for (int x = 0; x < dib.Width(); ++x)
                if (dib.GetPixel(x, y) != 0)
                    lit.insert({ x, y });
        return lit;
    }
    TMMDIBCanvas dib { QStringLiteral("TMMTestControl") };
    bool open = false;
};

TEST_F(Canvas, HorizontalRunsCoverMinUpToMaxAndClip)
{
    Open(20, 3);
    struct Case {
        int x1, x2, y;
        Pixels expected;
    };
    const Case cases[] = {
        { 10, 10, 1, {} },
        { 12, 10, 1, { { 10, 1 }, { 11, 1 } } },
        { -5, 2, 0, { { 0, 0 }, { 1, 0 } } },
        { 18, 40, 2, { { 18, 2 }, { 19, 2 } } },
        { 0, 20, 3, {} },
        { 0, 20, -1, {} },
    };
    for (const auto& c : cases) {
        Wipe();
        dib.HLine(c.x1, c.x2, c.y);
        EXPECT_EQ(Lit(), c.expected) << c.x1 << ".." << c.x2 << " row " << c.y;
    }
}

TEST_F(Canvas, LineLeavesOutItsEndAndClipsToTheCanvas)
{
    Open(12, 12);
    dib.MoveTo(0, 0);
    dib.LineTo(3, 1);
    EXPECT_EQ(Lit(), (Pixels { { 0, 0 }, { 1, 0 }, { 2, 1 } }));
    EXPECT_EQ(dib.PenPos(), QPoint(3, 1));

    // Drawn from either end, the same pixels.
    Wipe();
    dib.MoveTo(3, 1);
    dib.LineTo(0, 0);
    EXPECT_EQ(Lit(), (Pixels { { 0, 0 }, { 1, 0 }, { 2, 1 } }));

    Wipe();
    dib.MoveTo(-10, -3);
    dib.LineTo(-1, 20);
    dib.MoveTo(20, 5);
    dib.LineTo(30, 8);
    EXPECT_TRUE(Lit().empty());

    // Clipped at the bottom, the end moves onto the last row and, being the end, is left out.
    dib.MoveTo(5, 5);
    dib.LineTo(5, 100);
    Pixels column;
    for (int y = 5; y < 11; ++y)
        column.insert({ 5, y });
    EXPECT_EQ(Lit(), column);
}

TEST_F(Canvas, SteepLineEndingOnTheRightEdgeWritesNothingPastTheLastColumn)
{
    // Width 12 has no row padding: a pixel at x = 12 would land in the neighbouring row.
    Open(12, 12);
    dib.MoveTo(11, 0);
    dib.LineTo(12, 11);
    for (const auto& [x, y] : Lit())
        EXPECT_EQ(x, 11) << "stray pixel at " << x << "," << y;
    EXPECT_FALSE(Lit().empty());
}

TEST_F(Canvas, DashedAndDottedRuns)
{
    Open(16, 16);
    dib.HLineDashed(0, 3, 0);
    EXPECT_TRUE(Lit().empty()) << "a dashed run under 4 pixels draws nothing";

    dib.HLineDashed(10, 0, 1);
    EXPECT_EQ(Lit(), (Pixels { { 0, 1 }, { 1, 1 }, { 2, 1 }, { 3, 1 }, { 8, 1 }, { 9, 1 } }));

    Wipe();
    dib.VLineDashed(2, 0, 10);
    EXPECT_EQ(Lit(), (Pixels { { 2, 0 }, { 2, 1 }, { 2, 2 }, { 2, 3 }, { 2, 8 }, { 2, 9 } }));

    Wipe();
    dib.HLineDotted(0, 10, 0, 2);
    dib.HLineDotted(0, 7, 1, 0); // a space below 1 counts as 1
    dib.VLineDotted(15, 2, 9, 3);
    EXPECT_EQ(Lit(),
        (Pixels { { 0, 0 }, { 3, 0 }, { 6, 0 }, { 9, 0 }, { 0, 1 }, { 2, 1 }, { 4, 1 }, { 6, 1 }, { 15, 2 },
            { 15, 6 } }));

    // Clipping does not shift the pattern: dots stay on the run's grid.
    Wipe();
    dib.HLineDotted(-3, 6, 4, 2);
    EXPECT_EQ(Lit(), (Pixels { { 0, 4 }, { 3, 4 } }));
}

TEST_F(Canvas, DottedFillSetsEveryOtherPixelOfEveryOtherRow)
{
    Open(8, 6);
    dib.FillRectDotted(QRect(1, 1, 5, 3), true);
    EXPECT_EQ(Lit(), (Pixels { { 1, 1 }, { 3, 1 }, { 5, 1 }, { 1, 3 }, { 3, 3 }, { 5, 3 } }));

    dib.FillRectDotted(QRect(0, 0, 2, 2), false);
    EXPECT_EQ(dib.GetPixel(1, 0), 250);
    EXPECT_EQ(dib.GetPixel(0, 1), 250);

    // Clipped first, then the grid starts at the clipped corner.
    Wipe();
    dib.FillRectDotted(QRect(-1, -1, 4, 3), true);
    EXPECT_EQ(Lit(), (Pixels { { 0, 0 }, { 2, 0 } }));
}

TEST_F(Canvas, PixelsOutsideTheCanvasReadMinusOneAndIgnoreWrites)
{
    Open(4, 3);
    for (const QPoint p : { QPoint(-1, 0), QPoint(4, 0), QPoint(0, 3), QPoint(0, -1) }) {
        dib.PutPixel(p.x(), p.y(), 250);
        EXPECT_EQ(dib.GetPixel(p.x(), p.y()), -1);
    }
    EXPECT_TRUE(Lit().empty());
    dib.PutPixel(3, 2, 9);
    EXPECT_EQ(dib.GetPixel(3, 2), 9);
    EXPECT_EQ(dib.DrawValue(), 250u * 0x01010101u) << "PutPixel keeps the current colour";
}

TEST_F(Canvas, StaticColoursMapToTheirOwnPaletteEntries)
{
    Open(1, 1);
    const std::pair<TColor, int> cases[] = { { clBlack, 0 }, { clMaroon, 1 }, { clGreen, 2 }, { clOlive, 3 },
        { clNavy, 4 }, { clPurple, 5 }, { clTeal, 6 }, { clSilver, 7 }, { clGray, 248 }, { clRed, 249 },
        { clLime, 250 }, { clYellow, 251 }, { clBlue, 252 }, { clFuchsia, 253 }, { clAqua, 254 },
        { clWhite, 255 }, { clBtnFace, 7 }, { clBtnShadow, 248 } };
    for (const auto& [color, index] : cases) {
        EXPECT_EQ(dib.ColorToPixel(color), static_cast<std::uint32_t>(index)) << std::hex << color;
        EXPECT_EQ(dib.Palette()[static_cast<std::size_t>(index)], zv::ColorToQRgb(color));
    }
    // Near colours find the nearest entry.
    EXPECT_EQ(dib.ColorToPixel(0x0000F0), 249u);
}

TEST_F(Canvas, TrueColourPixelsHoldRedGreenBlue)
{
    Open(5, 2, 24);
    dib.SetDrawColor(clRed);
    dib.HLine(0, 5, 1);
    EXPECT_EQ(dib.GetPixel(4, 1), 0xFF0000);
    EXPECT_EQ(dib.GetPixel(4, 0), 0);
    dib.SetDrawColor(0x123456); // 0x00BBGGRR
    dib.FillRectDotted(QRect(0, 0, 5, 1), true);
    EXPECT_EQ(dib.GetPixel(2, 0), 0x563412);
    EXPECT_EQ(dib.GetPixel(1, 0), 0);
    dib.EndDraw();
    open = false;
    EXPECT_EQ(dib.ToImage().pixel(4, 1), qRgb(255, 0, 0));
}

TEST_F(Canvas, CopyBitsClipsAndHandlesOverlap)
{
    Open(6, 6);
    dib.FillRect(QRect(0, 0, 6, 1));
    // Shift the picture two rows down within itself.
    dib.CopyBits(dib, 0, 2, 6, 4, 0, 0);
    EXPECT_EQ(dib.GetPixel(3, 0), 250);
    EXPECT_EQ(dib.GetPixel(3, 1), 0);
    EXPECT_EQ(dib.GetPixel(3, 2), 250);
    EXPECT_EQ(dib.GetPixel(3, 3), 0);

    TMMDIBCanvas other;
    other.SetSize(6, 6);
    dib.EndDraw();
    open = false;
    other.BeginDraw();
    other.SetDrawColor(clRed);
    other.Clear();
    other.EndDraw();
    dib.BeginDraw();
    open = true;
    // Partly outside on both sides: only the overlapping part arrives.
    dib.CopyBits(other, 4, -1, 10, 3, 0, 0);
    Pixels red;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            if (dib.GetPixel(x, y) == 249)
                red.insert({ x, y });
    EXPECT_EQ(red, (Pixels { { 4, 0 }, { 5, 0 }, { 4, 1 }, { 5, 1 } }));
}

TEST_F(Canvas, ResizeWhileDrawingWaitsForTheNextBracket)
{
    Open(4, 4);
    dib.SetSize(10, 2);
    EXPECT_TRUE(dib.RebuildPending());
    dib.PutPixel(3, 3, 250); // still the old buffer
    EXPECT_EQ(dib.GetPixel(3, 3), 250);
    EXPECT_EQ(dib.GetPixel(8, 0), -1);
    dib.EndDraw();
    dib.BeginDraw();
    EXPECT_FALSE(dib.RebuildPending());
    EXPECT_EQ(dib.GetPixel(8, 1), 0);
    EXPECT_EQ(dib.GetPixel(3, 3), -1);
}

TEST_F(Canvas, UnsupportedOrUntimelyFormatChangesAreRefusedAndKeepTheOldValue)
{
    try {
        dib.SetBitsPerPixel(16);
        FAIL() << "16 bits accepted";
    } catch (const EMMDIBError& e) {
        EXPECT_STREQ(e.what(), "Bitlength not supported yet");
    }
    EXPECT_EQ(dib.BitsPerPixel(), 8);

    Open(4, 4);
    try {
        dib.SetBitsPerPixel(24);
        FAIL() << "rebuilt while drawing";
    } catch (const EMMDIBError& e) {
        EXPECT_STREQ(e.what(), "TMMTestControl: Attempt to create new DIB while initialized for drawing");
    }
    EXPECT_EQ(dib.BitsPerPixel(), 8);
    EXPECT_EQ(dib.GetPixel(0, 0), 0);
}

// Every operation, with shapes that lie wholly outside the canvas (to the right and below counts
// from the first column and row past the edge), changes no pixel: a stray write into a row's
// padding or the neighbouring row would show up here. Run under the address sanitizer, the same
// operations anywhere must never leave the buffer either.
TEST_F(Canvas, NoOperationDrawsOutsideTheCanvas)
{
    for (const int bits : { 8, 24 }) {
        for (const QSize size : { QSize(7, 5), QSize(8, 3), QSize(1, 1) }) {
            if (open)
                dib.EndDraw();
            Open(size.width(), size.height(), bits);
            const int w = size.width();
            const int h = size.height();
            std::mt19937 random(12345);
            auto coordinate
                = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
            // A point outside: left of, right of, above or below the canvas.
            auto outside = [&](int side, int& x, int& y) {
                x = coordinate(-40, w + 40);
                y = coordinate(-40, h + 40);
                switch (side) {
                case 0:
                    x = coordinate(-40, -1);
                    break;
                case 1:
                    x = coordinate(w, w + 40);
                    break;
                case 2:
                    y = coordinate(-40, -1);
                    break;
                default:
                    y = coordinate(h, h + 40);
                    break;
                }
            };
            for (int i = 0; i < 3000; ++i) {
                const int side = coordinate(0, 3);
                int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
                outside(side, x1, y1);
                outside(side, x2, y2);
                // Keep both ends on the same outer side, so the whole shape stays outside.
                switch (coordinate(0, 8)) {
                case 0:
                    dib.MoveTo(x1, y1);
                    dib.LineTo(x2, y2);
                    break;
                case 1:
                    dib.HLine(x1, x2, side >= 2 ? y1 : coordinate(-5, h + 5));
                    break;
                case 2:
                    dib.VLine(side < 2 ? x1 : coordinate(-5, w + 5), y1, y2);
                    break;
                case 3:
                    dib.HLineDashed(x1, x2, side >= 2 ? y1 : coordinate(-5, h + 5));
                    break;
                case 4:
                    dib.VLineDotted(side < 2 ? x1 : coordinate(-5, w + 5), y1, y2, coordinate(-2, 4));
                    break;
                case 5:
                    dib.PutPixel(x1, y1, 9);
                    break;
                case 6: {
                    const QRect r(QPoint(std::min(x1, x2), std::min(y1, y2)),
                        QPoint(std::max(x1, x2), std::max(y1, y2)));
                    // A rectangle only counts when it lies wholly on one side.
                    if ((side == 0 && r.right() < 0) || (side == 1 && r.left() >= w)
                        || (side == 2 && r.bottom() < 0) || (side == 3 && r.top() >= h))
                        dib.FillRectDotted(r, coordinate(0, 1) == 1);
                    break;
                }
                case 7:
                    dib.HLineDotted(x1, x2, side >= 2 ? y1 : coordinate(-5, h + 5), coordinate(0, 3));
                    break;
                default:
                    dib.VLineDashed(side < 2 ? x1 : coordinate(-5, w + 5), y1, y2);
                    break;
                }
                // count.
                ASSERT_TRUE(Lit().empty()) << "op " << i << " bits " << bits << " size " << w << "x" << h;
            }
            // Anywhere at all: no crash, no write past the buffer (address sanitizer).
            for (int i = 0; i < 3000; ++i) {
                const int x1 = coordinate(-40, w + 40), y1 = coordinate(-40, h + 40);
                const int x2 = coordinate(-40, w + 40), y2 = coordinate(-40, h + 40);
                dib.MoveTo(x1, y1);
                dib.LineTo(x2, y2);
                dib.FillRectDotted(QRect(x1, y1, x2 - x1, y2 - y1), i % 2 == 0);
                dib.HLineDotted(x1, x2, y1, i % 3);
                dib.CopyBits(dib, x1, y1, x2, y2, x2, y1);
            }
        }
    }
}

TEST_F(Canvas, OperationsOutsideTheBracketDoNothing)
{
    dib.SetSize(4, 4);
    dib.SetDrawColor(clLime);
    dib.Clear();
    dib.HLine(0, 4, 0);
    dib.LineTo(3, 3);
    EXPECT_EQ(dib.GetPixel(0, 0), -1);
    dib.BeginDraw();
    EXPECT_EQ(dib.GetPixel(0, 0), 0);
    dib.EndDraw();
}

TEST_F(Canvas, SecondBracketOnTheSameThreadIsAnErrorNotADeadlock)
{
    Open(2, 2);
    TMMDIBCanvas other;
    EXPECT_THROW(other.BeginDraw(), EMMDIBError);
    dib.EndDraw();
    other.BeginDraw(); // the lock is free again
    other.EndDraw();
    dib.BeginDraw();
}

TEST_F(Canvas, BackgroundIsStretchedOrTiledIntoItsOwnBuffer)
{
    QImage tile(2, 1, QImage::Format_RGB32);
    tile.setPixel(0, 0, qRgb(255, 0, 0));
    tile.setPixel(1, 0, qRgb(0, 0, 255));
    dib.SetSize(4, 2);
    dib.SetBackGroundBitmap(tile);
    dib.SetStretchBackGround(false);
    Open(4, 2);
    dib.CopyBackground(0, 0, 4, 2, 0, 0);
    EXPECT_EQ(dib.GetPixel(0, 1), 249);
    EXPECT_EQ(dib.GetPixel(1, 1), 252);
    EXPECT_EQ(dib.GetPixel(2, 0), 249);
    EXPECT_EQ(dib.GetPixel(3, 0), 252);
    dib.EndDraw();
    dib.SetStretchBackGround(true);
    dib.BeginDraw();
    dib.CopyBackground(0, 0, 4, 2, 0, 0);
    EXPECT_EQ(dib.GetPixel(1, 0), 249);
    EXPECT_EQ(dib.GetPixel(2, 0), 252);
}

TEST(Bevel, ExtentCountsEveryBandAndBevelWidth)
{
    struct Case {
        TBevelCut outer, inner;
        int outerWidth, innerWidth, borderWidth, borderSpace;
        TBorderStyle style;
        int expected;
    };
    const Case cases[] = {
        { bvLowered, bvNone, 1, 1, 0, 0, bsNone, 1 }, // defaults
        { bvNone, bvNone, 1, 1, 2, 0, bsNone, 2 }, // the forms' meters
        { bvRaised, bvLowered, 3, 2, 1, 1, bsSingle, 8 },
        { bvSpace, bvNone, 4, 1, 0, 0, bsNone, 4 },
        { bvNone, bvSpace, 1, 5, 0, 0, bsNone, 5 },
    };
    for (const auto& c : cases) {
        TMMBevel bevel;
        bevel.SetBevelOuter(c.outer);
        bevel.SetBevelInner(c.inner);
        bevel.SetBevelOuterWidth(c.outerWidth);
        bevel.SetBevelInnerWidth(c.innerWidth);
        bevel.SetBorderWidth(c.borderWidth);
        bevel.SetBorderSpace(c.borderSpace);
        bevel.SetBorderStyle(c.style);
        EXPECT_EQ(bevel.BevelExtent(), c.expected);
    }
    TMMBevel clamped;
    clamped.SetBevelOuterWidth(0);
    clamped.SetBorderWidth(-3);
    EXPECT_EQ(clamped.BevelOuterWidth(), 1);
    EXPECT_EQ(clamped.BorderWidth(), 0);
}

TEST(Bevel, AssignNotifiesOnceAndOnlyOnRealChange)
{
    TMMBevel source;
    source.SetBevelOuter(bvNone);
    source.SetBorderWidth(2);
    source.SetColor(5, clRed);
    TMMBevel target;
    int notified = 0;
    target.OnChange = [&](TMMObject*) { ++notified; };
    target.Assign(source);
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(target.BevelExtent(), 2);
    EXPECT_EQ(target.OuterShadowColor(), clRed);
    target.SetBorderWidth(2);
    EXPECT_EQ(notified, 1) << "no notice without a real change";
}

TEST(Bevel, PaintsTheFormsBandAndALoweredRing)
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    TMMBevel band;
    band.SetBevelOuter(bvNone);
    band.SetBorderWidth(2);
    {
        QPainter painter(&image);
        EXPECT_EQ(band.PaintBevel(painter, image.rect(), true), QRect(2, 2, 4, 2));
    }
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 2 && y < 4;
            EXPECT_EQ(image.pixel(x, y), inside ? qRgb(1, 2, 3) : qRgb(192, 192, 192)) << x << "," << y;
        }

    image.fill(qRgb(1, 2, 3));
    TMMBevel lowered; // defaults: outer lowered, width 1
    {
        QPainter painter(&image);
        EXPECT_EQ(lowered.PaintBevel(painter, image.rect(), true), QRect(1, 1, 6, 4));
    }
    const QRgb shadow = qRgb(128, 128, 128);
    const QRgb light = qRgb(255, 255, 255);
    EXPECT_EQ(image.pixel(0, 0), shadow);
    EXPECT_EQ(image.pixel(6, 0), shadow);
    EXPECT_EQ(image.pixel(7, 0), light) << "top-right corner belongs to the light edge";
    EXPECT_EQ(image.pixel(0, 4), shadow);
    EXPECT_EQ(image.pixel(0, 5), light) << "bottom-left corner belongs to the light edge";
    EXPECT_EQ(image.pixel(7, 5), light);
    EXPECT_EQ(image.pixel(3, 3), qRgb(1, 2, 3));
}

} // namespace
