#include "skin/SkPng.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

QByteArray Encode(const QImage& img)
{
    QByteArray b;
    QBuffer buf(&b);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return b;
}

quint32 Crc32(const QByteArray& data)
{
    quint32 c = 0xFFFFFFFFu;
    for (char ch : data) {
        c ^= uchar(ch);
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

QString SourceFile(const char* relative)
{
    return QStringLiteral(ZOVEVA_SOURCE_ROOT "/") + relative;
}

} // namespace

TEST(SkPng, DecodesEveryColourTypeToTheSamePixels)
{
    QImage rgba(3, 2, QImage::Format_ARGB32);
    rgba.setPixel(0, 0, qRgba(255, 0, 0, 255));
    rgba.setPixel(1, 0, qRgba(0, 255, 0, 128));
    rgba.setPixel(2, 0, qRgba(0, 0, 255, 0));
    rgba.setPixel(0, 1, qRgba(10, 20, 30, 255));
    rgba.setPixel(1, 1, qRgba(200, 100, 50, 255));
    rgba.setPixel(2, 1, qRgba(1, 2, 3, 255));
    const QImage cases[] = {
        rgba,
        rgba.convertToFormat(QImage::Format_RGB32),
        rgba.convertToFormat(QImage::Format_Grayscale8),
        rgba.convertToFormat(QImage::Format_Indexed8),
        rgba.convertToFormat(QImage::Format_RGBA64),
    };
    for (const QImage& c : cases) {
        const QImage decoded = zv::LoadPngImage(Encode(c));
        ASSERT_EQ(decoded.format(), QImage::Format_ARGB32);
        const QImage expect = c.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const QRgb a = decoded.pixel(x, y), b = expect.pixel(x, y);
                EXPECT_EQ(qAlpha(a), qAlpha(b)) << c.format() << " " << x << "," << y;
                if (qAlpha(b) == 255) {
                    EXPECT_EQ(a, b) << c.format() << " " << x << "," << y;
                }
            }
    }
}

TEST(SkPng, TheLogoHasItsSizeAndClearCorners)
{
    const QImage logo = zv::LoadPngFile(SourceFile("resources/images/logo.png"));
    EXPECT_EQ(logo.size(), QSize(138, 39));
    EXPECT_EQ(qAlpha(logo.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(logo.pixel(69, 20)), 255);
}

TEST(SkPng, DamagedInputIsAnErrorNotACrash)
{
    const QByteArray good = Encode(QImage(40, 30, QImage::Format_RGB32));
    // A damaged byte in the picture data (a damaged ancillary chunk is only skipped).
    QByteArray flipped = good;
    const qsizetype idat = good.indexOf("IDAT") + 6;
    flipped[idat] = char(flipped[idat] ^ 0x55);
    // A well-formed header claiming 65536 x 65536 pixels.
    QByteArray huge = good;
    huge.replace(16, 8, QByteArray("\x00\x01\x00\x00\x00\x01\x00\x00", 8));
    const quint32 crc = Crc32(huge.mid(12, 17));
    const char crcBytes[4] = { char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc) };
    huge.replace(29, 4, QByteArray(crcBytes, 4));
    for (const QByteArray& bytes :
        { QByteArray(), QByteArray("not a png"), good.left(good.size() / 2), flipped, huge })
        EXPECT_THROW(zv::LoadPngImage(bytes), EPngError);
    EXPECT_THROW(zv::LoadPngFile("/nonexistent.png"), EPngError);
}
