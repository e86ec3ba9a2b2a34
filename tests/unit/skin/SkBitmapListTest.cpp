#include "skin/skcont.h"

#include <QBuffer>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

constexpr QRgb kNavy = qRgb(0, 0, 128);

// w x h navy picture with an opaque block from (1, 1) to (w-2, h-2), its top-left pixel red.
QImage Face(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kNavy);
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            img.setPixel(x, y, qRgb(200, 200, 200));
    img.setPixel(1, 1, qRgb(255, 0, 0));
    return img;
}

QByteArray Bmp(const QImage& img)
{
    QByteArray b;
    QBuffer buf(&b);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "BMP");
    return b;
}

QByteArray Le32(quint32 v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

} // namespace

TEST(SkBitmapListItem, ReadsEveryFieldOfTheStoredValue)
{
    const QByteArray bmp = Bmp(Face(5, 4));
    // flags: description, ident, bitmap, save as 8-bit.
    const QByteArray internal = QByteArray(1, char(2 | 4 | 8 | 64)) + QByteArray(1, 3) + "abc"
        + Le32(0x00070011u) + Le32(quint32(bmp.size())) + bmp;
    const TSkBitmapListItem item = zv::ReadBitmapListItem(internal);
    EXPECT_EQ(item.Description, "abc");
    EXPECT_EQ(item.Ident, 0x11) << "the ident keeps its low 16 bits";
    EXPECT_EQ(item.PixelFormat, spf8bit);
    EXPECT_EQ(item.Bitmap.size(), QSize(5, 4));
    EXPECT_EQ(item.Bitmap.pixel(1, 1) & 0xFFFFFF, 0xFF0000u);
}

TEST(SkBitmapListItem, WriterSetsFlagsOnlyForWhatIsPresentAndRoundTrips)
{
    EXPECT_EQ(zv::WriteBitmapListItem({}), QByteArray(1, '\0'));
    TSkBitmapListItem item;
    item.Bitmap = Face(7, 3);
    item.Ident = 11;
    item.Description = "quit, up";
    const QByteArray stored = zv::WriteBitmapListItem(item);
    EXPECT_EQ(quint8(stored[0]), 2 | 4 | 8);
    const TSkBitmapListItem back = zv::ReadBitmapListItem(stored);
    EXPECT_EQ(back.Ident, 11);
    EXPECT_EQ(back.Description, "quit, up");
    EXPECT_EQ(back.Bitmap.convertToFormat(QImage::Format_RGB32), item.Bitmap);
    // The stored picture is a complete 24-bit BMP file.
    const QByteArray bmp = stored.mid(1 + 1 + 8 + 4 + 4);
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_EQ(quint16(uchar(bmp[28]) | uchar(bmp[29]) << 8), 24);
}

TEST(SkBitmapListItem, DamagedOrCompressedValuesAreRefused)
{
    const QByteArray bmp = Bmp(Face(5, 4));
    const QByteArray good = QByteArray(1, 8) + Le32(quint32(bmp.size())) + bmp;
    QByteArray notBmp = good;
    notBmp[5] = 'X';
    const QByteArray cases[] = {
        {}, // no flags
        QByteArray(1, 1), // compressed
        QByteArray(1, 2) + QByteArray(1, 9) + "short", // description past the end
        QByteArray(1, 4) + "\x01\x02", // ident cut
        QByteArray(1, 8) + Le32(0x7FFFFFFF) + "BM", // length past the end
        notBmp, // not "BM"
        QByteArray(1, 8) + Le32(6) + "BMxxxx", // "BM" but no picture
    };
    for (const QByteArray& c : cases)
        EXPECT_THROW(zv::ReadBitmapListItem(c), ESkBitmapListError) << c.toHex().toStdString();
    for (qsizetype n = 1; n < good.size(); ++n)
        EXPECT_THROW(zv::ReadBitmapListItem(good.left(n)), ESkBitmapListError) << "length " << n;
}

TEST(SkBitmapListItem, KeyColourIsExplicitThenWhiteForMonochromeThenBottomLeft)
{
    TSkBitmapListItem item;
    item.Bitmap = Face(5, 4);
    item.Bitmap.setPixel(0, 3, qRgb(1, 2, 3));
    EXPECT_EQ(item.KeyColor() & 0xFFFFFF, qRgb(1, 2, 3) & 0xFFFFFF);
    item.TransparentColor = qRgb(9, 9, 9);
    EXPECT_EQ(item.KeyColor() & 0xFFFFFF, qRgb(9, 9, 9) & 0xFFFFFF);
    TSkBitmapListItem mono;
    mono.Bitmap = QImage(8, 2, QImage::Format_Mono);
    mono.Bitmap.fill(0);
    EXPECT_EQ(mono.KeyColor() & 0xFFFFFF, 0xFFFFFFu);
}

TEST(SkBitmapList, IndexesPastTheEndOrEmptyBitmapsNameNoImage)
{
    TSkBitmapList list;
    QSignalSpy changed(&list, &TSkCustomImageList::Changed);
    list.Add({ Face(25, 24), 0, {}, false, spfDefault, {} });
    list.Add({});
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(list.HasImage(0, 5)); // the image number is not used by a bitmap list
    for (int i : { -1, 1, 2 }) {
        EXPECT_FALSE(list.HasImage(i, 0)) << i;
        EXPECT_EQ(list.ImageDimension(i, 0), 0) << i;
        EXPECT_EQ(list.ImageTransparentColor(i, 0) & 0xFFFFFF, 0xFFFFFFu) << i;
    }
    EXPECT_EQ(list.ImageDimension(0, 0), 25);
    EXPECT_EQ(list.ImageDimension(0, 1), 24);
    EXPECT_EQ(list.ImageDimension(0, 2), 0);
    EXPECT_EQ(list.ImageTransparentColor(0, 0) & 0xFFFFFF, kNavy & 0xFFFFFF);
    EXPECT_EQ(list.ImagePixel({ 1, 1 }, 0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(list.ImagePixel({ 1, 1 }, 7, 0) & 0xFFFFFF, 0xFFFFFFu);
    list.Clear();
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(list.Count(), 0);
}

TEST(SkBitmapList, DamagedItemLeavesTheListAsItWas)
{
    TSkBitmapList source;
    source.Add({ Face(4, 4), 1, {}, false, spfDefault, {} });
    source.Add({ Face(6, 4), 2, {}, false, spfDefault, {} });
    zv::SkStoredObject stored = source.StoreAs("L");
    TSkBitmapList list;
    list.LoadFrom(stored);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1).Ident, 2);
    stored.Children[1].Values[0].Data = QByteArray(1, 1);
    EXPECT_THROW(list.LoadFrom(stored), ESkBitmapListError);
    EXPECT_EQ(list.Count(), 2);
}

// Face placement: face 10 x 4 into the 21 x 8 rectangle at (3, 5), or as given.
struct PlaceCase {
    TSkBitmapStyle Style;
    QSize Face;
    QRect Target;
    QRect Placed;
};

TEST(SkPlaceFace, EveryStylePlacesAsDefined)
{
    const QRect t(3, 5, 21, 8);
    const PlaceCase cases[] = {
        { sbNone, { 10, 4 }, t, { 3, 5, 10, 4 } },
        { sbAutosize, { 10, 4 }, t, { 3, 5, 10, 4 } },
        { sbCenter, { 10, 4 }, t, { 3 + 5, 5 + 2, 10, 4 } },
        { sbCenter, { 30, 11 }, t, { 3 - 4, 5 - 1, 30, 11 } }, // larger face: division truncates toward zero
        { sbStretch, { 10, 4 }, t, t },
        { sbTile, { 10, 4 }, t, t },
        { sbKeepAspRatio, { 10, 4 }, t, { 3, 5, 20, 8 } }, // c = min(2.1, 2) = 2
        { sbKeepAspRatio, { 10, 4 }, { 0, 0, 15, 40 }, { 0, 0, 15, 6 } }, // c = 1.5, 4 x 1.5 = 6
        { sbKeepAspRatio, { 3, 3 }, { 0, 0, 10, 10 }, { 0, 0, 10, 10 } }, // exact, no 9.999 truncated to 9
        { sbKeepWidth, { 10, 4 }, { 0, 0, 50, 6 }, { 0, 0, 15, 6 } }, // 6 / 4 x 10 = 15
        { sbKeepWidth, { 4, 8 }, { 0, 0, 50, 5 }, { 0, 0, 2, 5 } }, // 2.5 rounds to even 2
        { sbKeepWidth, { 4, 8 }, { 0, 0, 50, 7 }, { 0, 0, 4, 7 } }, // 3.5 rounds to even 4
        { sbKeepHeight, { 8, 4 }, { 0, 0, 5, 50 }, { 0, 0, 5, 2 } }, // 5 / 8 x 4 = 2.5 -> 2
        { sbNone, { 0, 4 }, t, {} },
    };
    for (const PlaceCase& c : cases)
        EXPECT_EQ(zv::SkPlaceFace(c.Style, c.Face, c.Target), c.Placed)
            << int(c.Style) << " " << c.Face.width();
}

TEST(SkDrawFace, KeyPixelsLeaveTheTargetAndTheRestIsCutAtItsEdge)
{
    QImage target(4, 3, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    const QImage face = Face(5, 5); // larger than the target in both directions
    const QRect covered = zv::SkDrawFace(target, face, target.rect(), sbNone, kNavy);
    EXPECT_EQ(covered, QRect(0, 0, 5, 5)) << "the covered rectangle is the face's, not cut";
    EXPECT_EQ(target.pixel(0, 0), 0u) << "navy is see-through";
    EXPECT_EQ(target.pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(3, 2), qRgb(200, 200, 200));
    // Without a key every pixel is copied.
    zv::SkDrawFace(target, face, target.rect(), sbNone, std::nullopt);
    EXPECT_EQ(target.pixel(0, 0), kNavy);
}

TEST(SkDrawFace, StretchedFaceAndItsHitPointAgree)
{
    QImage target(20, 10, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    const QImage face = Face(5, 5);
    const QRect placed = zv::SkDrawFace(target, face, target.rect(), sbStretch, kNavy);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const QPoint f = zv::SkFacePixelAt(sbStretch, face.size(), placed, { x, y });
            const bool key = face.pixel(f) == kNavy;
            ASSERT_EQ(target.pixel(x, y) == 0u, key) << x << "," << y;
        }
}
