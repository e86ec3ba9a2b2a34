#pragma once

#include "platform/Exception.h"
#include "skin/SkWindowData.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <cstdint>
#include <optional>
#include <vector>

// A bitmap list or a list item that cannot be read or stored.
ZV_DECLARE_EXCEPTION(ESkBitmapListError, Exception);

// How a face is placed in the button's rectangle.
enum TSkBitmapStyle : std::uint8_t {
    sbNone,
    sbAutosize,
    sbCenter,
    sbStretch,
    sbTile,
    sbKeepAspRatio,
    sbKeepWidth,
    sbKeepHeight
};

// Pixel format a list item asks for when it is saved; kept for the round trip.
enum TSkSavePixelFormat : std::uint8_t { spfDefault, spfMono, spf4bit, spf8bit };

namespace zv {

// Drawing flags of DrawImageInRect.
enum SkDrawFlag : unsigned {
    sdfTransparent = 1, // pixels of the key colour leave the target unchanged
    sdfPalette = 2, // select the face's palette; without effect on true-colour displays
};

// Colours are compared by red, green and blue only, exactly.
inline bool SameColor(QRgb a, QRgb b)
{
    return ((a ^ b) & 0x00FFFFFFu) == 0;
}
// Stored colours are 0x00BBGGRR values.
inline QRgb ColorFromBgr(std::uint32_t bgr)
{
    return qRgb(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}
inline std::uint32_t ColorToBgr(QRgb c)
{
    return std::uint32_t(qRed(c)) | (std::uint32_t(qGreen(c)) << 8) | (std::uint32_t(qBlue(c)) << 16);
}

// Where a face of size `face` lands in `target` for a placement style (for sbTile: the target).
QRect SkPlaceFace(TSkBitmapStyle style, QSize face, const QRect& target);
// The face pixel shown at `p` (target coordinates) of a face placed at `placed`; scaled and tiled
// placements map back through the same nearest-pixel rule the drawing uses.
QPoint SkFacePixelAt(TSkBitmapStyle style, QSize face, const QRect& placed, QPoint p);
// Draws `face` into `target` (32-bit) at `rect` by `style`; with a key, pixels of exactly that colour
// are skipped. Returns the rectangle the face covered.
QRect SkDrawFace(
    QImage& target, const QImage& face, const QRect& rect, TSkBitmapStyle style, std::optional<QRgb> key);

} // namespace zv

// Source of button faces: a list of entries, each holding one or more images.
// Changed() is the change link: every client repaints when the content changes.
class TSkCustomImageList : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QRect ImageRect(int i) const = 0;
    virtual int ImageDimension(int i, int which) const = 0;
    virtual int ImageCount(int i) const = 0;
    virtual bool HasImage(int i, int image) const = 0;
    virtual QImage CopyImage(int i, int image) const = 0;
    virtual bool IsMasked(int i) const = 0;
    virtual QRgb ImageTransparentColor(int i, int image) const = 0;
    virtual QRgb ImagePixel(QPoint p, int i, int image) const = 0;
    virtual void DrawImageAt(QImage& target, int x, int y, int i, int image) const = 0;
    virtual void DrawImageInRect(QImage& target, const QRect& rect, QRect* drawn, int image, int i,
        unsigned flags, TSkBitmapStyle style) const = 0;

signals:
    void Changed();
};

// One picture of a bitmap list.
struct TSkBitmapListItem {
    QImage Bitmap;
    std::uint16_t Ident = 0;
    QByteArray Description; // raw ANSI bytes, kept as stored
    bool Compressed = false;
    TSkSavePixelFormat PixelFormat = spfDefault;
    // Set explicitly; otherwise the key colour follows from the picture (KeyColor).
    std::optional<QRgb> TransparentColor;

    // Explicit colour, else white for a monochrome picture, else its bottom-left pixel.
    QRgb KeyColor() const;
};

namespace zv {
// The item's stored value "Internal": flags, description, ident and a BMP file. Compressed items
// are refused: no stored list uses them.
TSkBitmapListItem ReadBitmapListItem(const QByteArray& internal);
QByteArray WriteBitmapListItem(const TSkBitmapListItem& item);
} // namespace zv

// Ordered list of bitmaps, one image per entry; an entry's index is its position.
class TSkBitmapList : public TSkCustomImageList {
    Q_OBJECT
public:
    using TSkCustomImageList::TSkCustomImageList;

    bool DefaultCompressed = false;
    TSkSavePixelFormat DefaultPixelFormat = spfDefault;

    int Count() const { return int(FItems.size()); }
    const TSkBitmapListItem& Item(int i) const { return FItems.at(std::size_t(i)); }
    void Add(TSkBitmapListItem item);
    void SetBitmap(int i, const QImage& bitmap);
    void Clear();

    // Appends the items stored as the components of `list` (each with its "Internal" value).
    void LoadFrom(const zv::SkStoredObject& list);
    zv::SkStoredObject StoreAs(const QByteArray& name) const;

    QRect ImageRect(int i) const override;
    int ImageDimension(int i, int which) const override;
    int ImageCount(int i) const override;
    bool HasImage(int i, int image) const override;
    QImage CopyImage(int i, int image) const override;
    bool IsMasked(int i) const override;
    QRgb ImageTransparentColor(int i, int image) const override;
    QRgb ImagePixel(QPoint p, int i, int image) const override;
    void DrawImageAt(QImage& target, int x, int y, int i, int image) const override;
    void DrawImageInRect(QImage& target, const QRect& rect, QRect* drawn, int image, int i, unsigned flags,
        TSkBitmapStyle style) const override;

private:
    const TSkBitmapListItem* Find(int i) const;

    std::vector<TSkBitmapListItem> FItems;
};
