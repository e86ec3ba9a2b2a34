#include "skin/skcont.h"

#include "platform/ResStrings.h"

#include <QBuffer>
#include <QtEndian>
#include <algorithm>

namespace zv {

namespace {

// Round a / b (both positive) to the nearest integer, halves to even.
int RoundHalfEven(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    const qint64 twice = 2 * (a % b);
    if (twice > b || (twice == b && (q % 2) != 0)) {
        return int(q + 1);
    }
    return int(q);
}

int FloorMod(int a, int m)
{
    const int r = a % m;
    return r < 0 ? r + m : r;
}

} // namespace

QRect SkPlaceFace(TSkBitmapStyle style, QSize face, const QRect& target)
{
    const int w = face.width(), h = face.height();
    const int W = target.width(), H = target.height();
    const int L = target.left(), T = target.top();
    if (w <= 0 || h <= 0) {
        return {};
    }
    switch (style) {
    case sbCenter:
        return { L + (W - w) / 2, T + (H - h) / 2, w, h };
    case sbStretch:
        return target;
    case sbTile:
        return target;
    case sbKeepAspRatio:
        // c = min(W / w, H / h), sizes truncated; done in integers so w * (W / w) gives W exactly.
        if (qint64(W) * h <= qint64(H) * w) {
            return { L, T, W, int(qint64(h) * W / w) };
        }
        return { L, T, int(qint64(w) * H / h), H };
    case sbKeepWidth:
        return { L, T, RoundHalfEven(qint64(H) * w, h), H };
    case sbKeepHeight:
        return { L, T, W, RoundHalfEven(qint64(W) * h, w) };
    case sbNone:
    case sbAutosize:
        break;
    }
    return { L, T, w, h };
}

QPoint SkFacePixelAt(TSkBitmapStyle style, QSize face, const QRect& placed, QPoint p)
{
    const int dx = p.x() - placed.left(), dy = p.y() - placed.top();
    switch (style) {
    case sbTile:
        return { FloorMod(dx, face.width()), FloorMod(dy, face.height()) };
    case sbStretch:
    case sbKeepAspRatio:
    case sbKeepWidth:
    case sbKeepHeight:
        if (placed.width() <= 0 || placed.height() <= 0) {
            return { -1, -1 };
        }
        return { int(qint64(dx) * face.width() / placed.width()),
            int(qint64(dy) * face.height() / placed.height()) };
    default:
        return { dx, dy };
    }
}

QRect SkDrawFace(
    QImage& target, const QImage& face, const QRect& rect, TSkBitmapStyle style, std::optional<QRgb> key)
{
    if (face.isNull() || target.isNull()) {
        return {};
    }
    const QImage src = face.format() == QImage::Format_RGB32 || face.format() == QImage::Format_ARGB32
        ? face
        : face.convertToFormat(QImage::Format_RGB32);
    const QRect placed = SkPlaceFace(style, src.size(), rect);
    // Parts outside the target picture are cut off; tiles stay inside the rectangle.
    QRect area = placed & target.rect();
    if (style == sbTile) {
        area &= rect;
    }
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const QPoint s = SkFacePixelAt(style, src.size(), placed, { x, y });
            if (!src.rect().contains(s)) {
                continue;
            }
            const QRgb px = reinterpret_cast<const QRgb*>(src.constScanLine(s.y()))[s.x()];
            if (key && SameColor(px, *key)) {
                continue;
            }
            out[x] = px | 0xFF000000u;
        }
    }
    return placed;
}

TSkBitmapListItem ReadBitmapListItem(const QByteArray& internal)
{
    enum : quint8 {
        fCompressed = 1,
        fDescription = 2,
        fIdent = 4,
        fBitmap = 8,
        fMono = 16,
        f4bit = 32,
        f8bit = 64
    };
    const auto* p = reinterpret_cast<const uchar*>(internal.constData());
    const qsizetype n = internal.size();
    qsizetype pos = 0;
    auto need = [&](qsizetype k, const char* what) {
        if (n - pos < k) {
            throw ESkBitmapListError(zv::LoadResString(zv::SBitmapItemTruncated).arg(QLatin1String(what)));
        }
    };
    need(1, "flags");
    const quint8 flags = p[pos++];
    if (flags & fCompressed) {
        throw ESkBitmapListError(zv::LoadResString(zv::SBitmapItemCompressed));
    }

    TSkBitmapListItem item;
    item.PixelFormat = (flags & fMono) ? spfMono
        : (flags & f4bit)              ? spf4bit
        : (flags & f8bit)              ? spf8bit
                                       : spfDefault;
    if (flags & fDescription) {
        need(1, "description");
        const int len = p[pos++];
        need(len, "description");
        item.Description = internal.mid(pos, len);
        pos += len;
    }
    if (flags & fIdent) {
        need(4, "ident");
        item.Ident = std::uint16_t(qFromLittleEndian<qint32>(p + pos));
        pos += 4;
    }
    if (flags & fBitmap) {
        need(4, "bitmap length");
        const quint32 len = qFromLittleEndian<quint32>(p + pos);
        pos += 4;
        need(qsizetype(len), "bitmap");
        const QByteArray bmp = internal.mid(pos, qsizetype(len));
        if (!bmp.startsWith("BM")) {
            throw ESkBitmapListError(zv::LoadResString(zv::SBitmapItemNoBmp));
        }
        if (!item.Bitmap.loadFromData(bmp, "BMP")) {
            throw ESkBitmapListError(zv::LoadResString(zv::SBitmapItemDamagedBmp));
        }
    }
    return item;
}

QByteArray WriteBitmapListItem(const TSkBitmapListItem& item)
{
    if (item.Description.size() > 255) {
        throw ESkBitmapListError(zv::LoadResString(zv::SBitmapItemDescriptionTooLong));
    }
    QByteArray bmp;
    if (!item.Bitmap.isNull()) {
        QBuffer buf(&bmp);
        buf.open(QIODevice::WriteOnly);
        if (!item.Bitmap.save(&buf, "BMP")) {
            throw ESkBitmapListError(zv::LoadResString(zv::SBitmapItemCannotWriteBmp));
        }
    }
    quint8 flags = 0;
    if (!item.Description.isEmpty()) {
        flags |= 2;
    }
    if (item.Ident != 0) {
        flags |= 4;
    }
    if (!bmp.isEmpty()) {
        flags |= 8;
    }
    static constexpr quint8 formatBits[] = { 0, 16, 32, 64 };
    flags |= formatBits[item.PixelFormat & 3];

    QByteArray out;
    out.append(char(flags));
    if (flags & 2) {
        out.append(char(item.Description.size()));
        out.append(item.Description);
    }
    char b[4];
    if (flags & 4) {
        qToLittleEndian<qint32>(item.Ident, b);
        out.append(b, 4);
    }
    if (flags & 8) {
        qToLittleEndian<quint32>(quint32(bmp.size()), b);
        out.append(b, 4);
        out.append(bmp);
    }
    return out;
}

} // namespace zv

QRgb TSkBitmapListItem::KeyColor() const
{
    if (TransparentColor) {
        return *TransparentColor | 0xFF000000u;
    }
    if (Bitmap.isNull()) {
        return qRgb(255, 255, 255);
    }
    if (Bitmap.depth() == 1) {
        return qRgb(255, 255, 255);
    }
    return Bitmap.pixel(0, Bitmap.height() - 1) | 0xFF000000u;
}

void TSkBitmapList::Add(TSkBitmapListItem item)
{
    FItems.push_back(std::move(item));
    emit Changed();
}

void TSkBitmapList::SetBitmap(int i, const QImage& bitmap)
{
    FItems.at(std::size_t(i)).Bitmap = bitmap;
    emit Changed();
}

void TSkBitmapList::Clear()
{
    FItems.clear();
    emit Changed();
}

void TSkBitmapList::LoadFrom(const zv::SkStoredObject& list)
{
    // Read every item first so that damaged data leaves the list as it was.
    std::vector<TSkBitmapListItem> loaded;
    for (const zv::SkStoredObject& child : list.Children) {
        const QByteArray* internal = child.Value("Internal");
        if (!internal) {
            throw ESkBitmapListError(
                zv::LoadResString(zv::SBitmapItemNoPicture)
                    .arg(QString::number(loaded.size()), QString::fromLatin1(list.Name)));
        }
        try {
            loaded.push_back(zv::ReadBitmapListItem(*internal));
        } catch (const ESkBitmapListError& e) {
            throw ESkBitmapListError(
                zv::LoadResString(zv::SBitmapItemError)
                    .arg(QString::number(loaded.size()), QString::fromLatin1(list.Name), e.Message()));
        }
    }
    for (TSkBitmapListItem& item : loaded) {
        Add(std::move(item));
    }
}

zv::SkStoredObject TSkBitmapList::StoreAs(const QByteArray& name) const
{
    zv::SkStoredObject list { name, "TSkBitmapList", {}, {} };
    for (const TSkBitmapListItem& item : FItems) {
        list.Children.push_back(
            { {}, "TSkBitmapListItem", { { "Internal", zv::WriteBitmapListItem(item) } }, {} });
    }
    return list;
}

const TSkBitmapListItem* TSkBitmapList::Find(int i) const
{
    if (i < 0 || i >= Count()) {
        return nullptr;
    }
    return &FItems[std::size_t(i)];
}

QRect TSkBitmapList::ImageRect(int i) const
{
    const TSkBitmapListItem* item = Find(i);
    return item ? item->Bitmap.rect() : QRect();
}

int TSkBitmapList::ImageDimension(int i, int which) const
{
    const TSkBitmapListItem* item = Find(i);
    if (!item) {
        return 0;
    }
    return which == 0 ? item->Bitmap.width() : which == 1 ? item->Bitmap.height() : 0;
}

int TSkBitmapList::ImageCount(int i) const
{
    const TSkBitmapListItem* item = Find(i);
    return item && !item->Bitmap.isNull() ? 1 : 0;
}

bool TSkBitmapList::HasImage(int i, int) const
{
    return ImageCount(i) == 1;
}

QImage TSkBitmapList::CopyImage(int i, int) const
{
    const TSkBitmapListItem* item = Find(i);
    return item ? item->Bitmap.copy() : QImage();
}

bool TSkBitmapList::IsMasked(int) const
{
    return false;
}

QRgb TSkBitmapList::ImageTransparentColor(int i, int) const
{
    const TSkBitmapListItem* item = Find(i);
    return item ? item->KeyColor() : qRgb(255, 255, 255);
}

QRgb TSkBitmapList::ImagePixel(QPoint p, int i, int) const
{
    const TSkBitmapListItem* item = Find(i);
    if (!item || !item->Bitmap.valid(p)) {
        return qRgb(255, 255, 255);
    }
    return item->Bitmap.pixel(p) | 0xFF000000u;
}

void TSkBitmapList::DrawImageAt(QImage& target, int x, int y, int i, int) const
{
    if (const TSkBitmapListItem* item = Find(i)) {
        zv::SkDrawFace(target, item->Bitmap, QRect(QPoint(x, y), item->Bitmap.size()), sbNone, std::nullopt);
    }
}

void TSkBitmapList::DrawImageInRect(
    QImage& target, const QRect& rect, QRect* drawn, int, int i, unsigned flags, TSkBitmapStyle style) const
{
    const TSkBitmapListItem* item = Find(i);
    QRect covered;
    if (item && !item->Bitmap.isNull()) {
        std::optional<QRgb> key;
        if (flags & zv::sdfTransparent) {
            key = item->KeyColor();
        }
        covered = zv::SkDrawFace(target, item->Bitmap, rect, style, key);
    }
    if (drawn) {
        *drawn = covered;
    }
}
