#include "displays/MMDIBCv.h"

#include "displays/MMSetter.h"
#include "platform/ResStrings.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

// ---------------------------------------------------------------------------------------------
// TMMBevel

#define ZV_BEVEL_SETTER(Name, Type, member, expr)                                                            \
    ZV_DEFINE_SETTER(TMMBevel, Name, Type, member, expr, Changed)

ZV_BEVEL_SETTER(BevelInner, TBevelCut, m_bevelInner, value)
ZV_BEVEL_SETTER(BevelOuter, TBevelCut, m_bevelOuter, value)
ZV_BEVEL_SETTER(BevelInnerWidth, int, m_bevelInnerWidth, std::max(value, 1))
ZV_BEVEL_SETTER(BevelOuterWidth, int, m_bevelOuterWidth, std::max(value, 1))
ZV_BEVEL_SETTER(BorderStyle, TBorderStyle, m_borderStyle, value)
ZV_BEVEL_SETTER(BorderWidth, int, m_borderWidth, std::max(value, 0))
ZV_BEVEL_SETTER(BorderSpace, int, m_borderSpace, std::max(value, 0))
#undef ZV_BEVEL_SETTER

TColor TMMBevel::Color(int index) const
{
    return index >= 0 && index < 6 ? m_colors[static_cast<std::size_t>(index)] : clBlack;
}

void TMMBevel::SetColor(int index, TColor value)
{
    if (index < 0 || index >= 6) {
        return;
    }
    auto& slot = m_colors[static_cast<std::size_t>(index)];
    if (slot != value) {
        slot = value;
        Changed();
    }
}

void TMMBevel::Assign(const TMMBevel& source)
{
    if (&source == this) {
        return;
    }
    BeginUpdate();
    SetBevelInner(source.m_bevelInner);
    SetBevelOuter(source.m_bevelOuter);
    SetBevelInnerWidth(source.m_bevelInnerWidth);
    SetBevelOuterWidth(source.m_bevelOuterWidth);
    SetBorderStyle(source.m_borderStyle);
    SetBorderWidth(source.m_borderWidth);
    SetBorderSpace(source.m_borderSpace);
    for (int i = 0; i < 6; ++i) {
        SetColor(i, source.m_colors[static_cast<std::size_t>(i)]);
    }
    EndUpdate();
}

int TMMBevel::BevelExtent() const
{
    int extent = m_borderWidth + m_borderSpace;
    if (m_bevelOuter != bvNone) {
        extent += m_bevelOuterWidth;
    }
    if (m_bevelInner != bvNone) {
        extent += m_bevelInnerWidth;
    }
    if (m_borderStyle == bsSingle) {
        ++extent;
    }
    return extent;
}

namespace {
void PaintCut(QPainter& canvas, QRect& rect, TBevelCut cut, int width, TColor light, TColor shadow,
    TColor spaceColor, bool fillBorder)
{
    switch (cut) {
    case bvLowered:
        zv::FrameRing(canvas, rect, width, shadow, light);
        break;
    case bvRaised:
        zv::FrameRing(canvas, rect, width, light, shadow);
        break;
    case bvSpace:
        // A plain band, so that the painted frame is as wide as BevelExtent says.
        if (fillBorder) {
            zv::FrameRing(canvas, rect, width, spaceColor, spaceColor);
        } else {
            rect.adjust(width, width, -width, -width);
        }
        break;
    case bvNone:
        break;
    }
}
} // namespace

QRect TMMBevel::PaintBevel(QPainter& canvas, QRect rect, bool fillBorder) const
{
    if (m_borderStyle == bsSingle) {
        zv::FrameRing(canvas, rect, 1, clWindowFrame, clWindowFrame);
    }
    PaintCut(canvas, rect, m_bevelOuter, m_bevelOuterWidth, OuterLightColor(), OuterShadowColor(),
        BorderColor(), fillBorder);
    if (m_borderWidth > 0) {
        if (fillBorder) {
            zv::FrameRing(canvas, rect, m_borderWidth, BorderColor(), BorderColor());
        } else {
            rect.adjust(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
        }
    }
    PaintCut(canvas, rect, m_bevelInner, m_bevelInnerWidth, InnerLightColor(), InnerShadowColor(),
        BorderColor(), fillBorder);
    if (m_borderSpace != 0) {
        zv::FrameRing(canvas, rect, m_borderSpace, BorderSpaceColor(), BorderSpaceColor());
    }
    return rect;
}

namespace zv {

void FrameRing(QPainter& canvas, QRect& rect, int width, TColor topColor, TColor bottomColor)
{
    const QColor top = ColorToQColor(topColor);
    const QColor bottom = ColorToQColor(bottomColor);
    // Work on the inclusive corners, as a one-pixel polyline sees them.
    int l = rect.left();
    int t = rect.top();
    int r = rect.x() + rect.width() - 1;
    int b = rect.y() + rect.height() - 1;
    for (int i = 0; i < width; ++i) {
        if (r >= l && b >= t) {
            // Up the left edge and across the top, the last point left out.
            canvas.fillRect(QRect(l, t + 1, 1, b - t), top);
            canvas.fillRect(QRect(l, t, r - l, 1), top);
            // Down the right edge and back along the bottom to the left edge.
            canvas.fillRect(QRect(r, t, 1, b - t), bottom);
            canvas.fillRect(QRect(l, b, r - l + 1, 1), bottom);
        }
        ++l;
        ++t;
        --r;
        --b;
    }
    rect = QRect(QPoint(l, t), QPoint(r, b));
}

void InstallFontSubstitutes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Both are small sans-serif faces; the condensed cut keeps tight scale labels legible.
        QFont::insertSubstitution(QStringLiteral("Small Fonts"), QStringLiteral("DejaVu Sans Condensed"));
        QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
    });
}

QFont MakePixelFont(const QString& family, int pixels, bool bold)
{
    InstallFontSubstitutes();
    QFont font(family);
    font.setPixelSize(std::max(pixels, 1));
    font.setBold(bold);
    return font;
}

QFont MakeFont(const QString& family, int points, bool bold)
{
    return MakePixelFont(family, static_cast<int>(std::lround(points * 96.0 / 72.0)), bold);
}

QFont DeviceFont(const QFont& font, qreal ratio)
{
    if (ratio == 1.0) {
        return font;
    }
    QFont scaled(font);
    if (font.pixelSize() > 0) {
        scaled.setPixelSize(std::max(qRound(font.pixelSize() * ratio), 1));
    } else {
        scaled.setPointSizeF(font.pointSizeF() * ratio);
    }
    return scaled;
}

} // namespace zv

// ---------------------------------------------------------------------------------------------
// TMMDIBCanvas

namespace {

// One canvas draws at a time in the whole process.
std::mutex g_drawLock;
thread_local bool t_drawing = false;

constexpr std::array<QRgb, 20> kStaticColors
    = { qRgb(0, 0, 0), qRgb(128, 0, 0), qRgb(0, 128, 0), qRgb(128, 128, 0), qRgb(0, 0, 128),
          qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192), qRgb(192, 220, 192), qRgb(166, 202, 240),
          qRgb(255, 251, 240), qRgb(160, 160, 164), qRgb(128, 128, 128), qRgb(255, 0, 0), qRgb(0, 255, 0),
          qRgb(255, 255, 0), qRgb(0, 0, 255), qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255) };

int NearestIndex(const std::array<QRgb, 256>& palette, QRgb rgb)
{
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < 256; ++i) {
        const QRgb c = palette[static_cast<std::size_t>(i)];
        const long dr = qRed(c) - qRed(rgb);
        const long dg = qGreen(c) - qGreen(rgb);
        const long db = qBlue(c) - qBlue(rgb);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0) {
                break;
            }
        }
    }
    return best;
}

// Keeps a run [a, b) ordered and inside [0, limit).
bool ClipRun(int& a, int& b, int limit)
{
    if (a > b) {
        std::swap(a, b);
    }
    a = std::max(a, 0);
    b = std::min(b, limit);
    return a < b;
}

} // namespace

TMMDIBCanvas::TMMDIBCanvas(QString ownerClassName)
    : m_owner(std::move(ownerClassName))
{
    BuildPalette();
}

TMMDIBCanvas::~TMMDIBCanvas()
{
    if (m_drawing) {
        EndDraw();
    }
}

void TMMDIBCanvas::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == m_width && height == m_height) {
        return;
    }
    m_width = width;
    m_height = height;
    m_rebuildPending = true;
}

void TMMDIBCanvas::SetBitsPerPixel(int bits)
{
    if (bits != 8 && bits != 24) {
        throw EMMDIBError(zv::LoadResString(zv::SBitLengthNotSupported));
    }
    if (bits == m_bitsPerPixel) {
        return;
    }
    const int old = m_bitsPerPixel;
    m_bitsPerPixel = bits;
    try {
        Rebuild();
    } catch (...) {
        m_bitsPerPixel = old;
        throw;
    }
}

void TMMDIBCanvas::SetPaletteRealize(bool value)
{
    if (value == m_paletteRealize) {
        return;
    }
    m_paletteRealize = value;
    try {
        Rebuild();
    } catch (...) {
        m_paletteRealize = !value;
        throw;
    }
}

void TMMDIBCanvas::SetBackGroundBitmap(const QImage& bitmap)
{
    if (bitmap.isNull() && m_backGroundBitmap.isNull()) {
        return;
    }
    const QImage old = m_backGroundBitmap;
    m_backGroundBitmap = bitmap;
    try {
        Rebuild();
    } catch (...) {
        m_backGroundBitmap = old;
        throw;
    }
}

void TMMDIBCanvas::SetStretchBackGround(bool value)
{
    if (value == m_stretchBackGround) {
        return;
    }
    m_stretchBackGround = value;
    if (!m_backGroundBitmap.isNull()) {
        try {
            Rebuild();
        } catch (...) {
            m_stretchBackGround = !value;
            throw;
        }
    }
}

void TMMDIBCanvas::BuildPalette()
{
    m_palette.fill(qRgb(0, 0, 0));
    for (int i = 0; i < 10; ++i) {
        m_palette[static_cast<std::size_t>(i)] = kStaticColors[static_cast<std::size_t>(i)];
        m_palette[static_cast<std::size_t>(246 + i)] = kStaticColors[static_cast<std::size_t>(10 + i)];
    }
    if (!m_backGroundBitmap.isNull()) {
        const QList<QRgb> table = m_backGroundBitmap.colorTable();
        for (int i = 10; i <= 244 && i < table.size(); ++i) {
            m_palette[static_cast<std::size_t>(i)] = table[i] | 0xFF000000u;
        }
    }
    m_colorCacheSize = 0;
}

void TMMDIBCanvas::Rebuild()
{
    if (m_drawing) {
        throw EMMDIBError(zv::LoadResString(zv::SNewDibWhileDrawing).arg(m_owner));
    }
    try {
        m_frame.clear();
        m_background.clear();
        BuildPalette();
        const int bytes = m_bitsPerPixel / 8;
        const int stride = (m_width * bytes + 3) & ~3;
        m_frame.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(m_height), 0);
        m_bufWidth = m_width;
        m_bufHeight = m_height;
        m_bufBytes = bytes;
        m_stride = stride;
        m_deviceImage = QImage(std::max(m_width, 1), std::max(m_height, 1), QImage::Format_RGB32);
        if (m_deviceImage.isNull()) {
            throw std::bad_alloc();
        }
        BuildBackground();
    } catch (const std::bad_alloc&) {
        m_frame.clear();
        m_background.clear();
        m_bufWidth = m_bufHeight = m_stride = 0;
        m_rebuildPending = true;
        throw EMMDIBError(zv::LoadResString(zv::SNoDibDeviceContext));
    }
    m_rebuildPending = false;
}

void TMMDIBCanvas::BuildBackground()
{
    if (m_backGroundBitmap.isNull() || m_width == 0 || m_height == 0) {
        return;
    }
    QImage picture(m_width, m_height, QImage::Format_RGB32);
    if (picture.isNull()) {
        throw std::bad_alloc();
    }
    {
        QPainter painter(&picture);
        if (m_stretchBackGround) {
            painter.drawImage(QRect(0, 0, m_width, m_height), m_backGroundBitmap);
        } else {
            for (int y = 0; y < m_height; y += m_backGroundBitmap.height()) {
                for (int x = 0; x < m_width; x += m_backGroundBitmap.width()) {
                    painter.drawImage(x, y, m_backGroundBitmap);
                }
            }
        }
    }
    m_background.assign(m_frame.size(), 0);
    std::unordered_map<QRgb, std::uint8_t> nearest;
    for (int y = 0; y < m_height; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        std::uint8_t* dst = m_background.data() + static_cast<std::ptrdiff_t>(m_height - 1 - y) * m_stride;
        for (int x = 0; x < m_width; ++x) {
            const QRgb c = src[x] | 0xFF000000u;
            if (m_bufBytes == 1) {
                auto it = nearest.find(c);
                if (it == nearest.end()) {
                    it = nearest.emplace(c, static_cast<std::uint8_t>(NearestIndex(m_palette, c))).first;
                }
                dst[x] = it->second;
            } else {
                dst[3 * x] = static_cast<std::uint8_t>(qBlue(c));
                dst[3 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
                dst[3 * x + 2] = static_cast<std::uint8_t>(qRed(c));
            }
        }
    }
}

void TMMDIBCanvas::BeginDraw()
{
    if (t_drawing) {
        throw EMMDIBError(zv::LoadResString(zv::SDrawWhileAnotherDraws).arg(m_owner));
    }
    g_drawLock.lock();
    t_drawing = true;
    if (m_rebuildPending) {
        try {
            Rebuild();
        } catch (...) {
            t_drawing = false;
            g_drawLock.unlock();
            throw;
        }
    }
    m_bits = m_frame.empty() ? nullptr : m_frame.data();
    m_w = m_bits ? m_bufWidth : 0;
    m_h = m_bits ? m_bufHeight : 0;
    m_penX = m_penY = 0;
    m_drawing = true;
}

void TMMDIBCanvas::EndDraw()
{
    if (!m_drawing) {
        return;
    }
    m_bits = nullptr;
    m_w = m_h = 0;
    m_penX = m_penY = 0;
    m_drawing = false;
    t_drawing = false;
    g_drawLock.unlock();
}

std::uint32_t TMMDIBCanvas::ColorToPixel(TColor color) const
{
    const QRgb rgb = zv::ColorToQRgb(color);
    if (m_bitsPerPixel == 24) {
        return rgb & 0x00FFFFFFu;
    }
    for (int i = 0; i < m_colorCacheSize; ++i) {
        if (m_colorCache[static_cast<std::size_t>(i)].first == rgb) {
            return m_colorCache[static_cast<std::size_t>(i)].second;
        }
    }
    const auto index = static_cast<std::uint32_t>(NearestIndex(m_palette, rgb));
    m_colorCache[static_cast<std::size_t>(m_colorCacheNext)] = { rgb, index };
    m_colorCacheNext = (m_colorCacheNext + 1) % static_cast<int>(m_colorCache.size());
    m_colorCacheSize = std::min(m_colorCacheSize + 1, static_cast<int>(m_colorCache.size()));
    return index;
}

void TMMDIBCanvas::SetDrawColor(TColor color)
{
    SetDrawValue(ColorToPixel(color));
}

void TMMDIBCanvas::SetDrawValue(std::uint32_t pixel)
{
    m_value = m_bitsPerPixel == 8 ? (pixel & 0xFFu) * 0x01010101u : (pixel & 0x00FFFFFFu);
}

void TMMDIBCanvas::Run(std::uint8_t* p, int count)
{
    if (m_bufBytes == 1) {
        std::memset(p, static_cast<int>(m_value & 0xFF), static_cast<std::size_t>(count));
        return;
    }
    const auto b = static_cast<std::uint8_t>(m_value & 0xFF);
    const auto g = static_cast<std::uint8_t>((m_value >> 8) & 0xFF);
    const auto r = static_cast<std::uint8_t>((m_value >> 16) & 0xFF);
    for (int i = 0; i < count; ++i, p += 3) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
}

void TMMDIBCanvas::SetPixelRaw(int x, int y)
{
    std::uint8_t* p = Row(y) + static_cast<std::ptrdiff_t>(x) * m_bufBytes;
    if (m_bufBytes == 1) {
        *p = static_cast<std::uint8_t>(m_value);
    } else {
        p[0] = static_cast<std::uint8_t>(m_value);
        p[1] = static_cast<std::uint8_t>(m_value >> 8);
        p[2] = static_cast<std::uint8_t>(m_value >> 16);
    }
}

void TMMDIBCanvas::PutPixel(int x, int y, std::uint32_t pixel)
{
    if (x < 0 || y < 0 || x >= m_w || y >= m_h) {
        return;
    }
    const std::uint32_t saved = m_value;
    SetDrawValue(pixel);
    SetPixelRaw(x, y);
    m_value = saved;
}

int TMMDIBCanvas::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_w || y >= m_h) {
        return -1;
    }
    const std::uint8_t* p = Row(y) + static_cast<std::ptrdiff_t>(x) * m_bufBytes;
    if (m_bufBytes == 1) {
        return *p;
    }
    return p[0] | (p[1] << 8) | (p[2] << 16);
}

void TMMDIBCanvas::MoveTo(int x, int y)
{
    m_penX = x;
    m_penY = y;
}

void TMMDIBCanvas::LineTo(int x, int y)
{
    int x0 = m_penX;
    int y0 = m_penY;
    int x1 = x;
    int y1 = y;
    m_penX = x;
    m_penY = y;
    if (!m_bits) {
        return;
    }

    // Cohen-Sutherland against (0, 0, width, height).
    const int left = 0;
    const int top = 0;
    const int right = m_w;
    const int bottom = m_h;
    enum { kLeft = 1, kRight = 2, kTop = 4, kBottom = 8 };
    auto outcode = [&](int px, int py) {
        int code = 0;
        if (px < left) {
            code |= kLeft;
        } else if (px > right) {
            code |= kRight;
        }
        if (py < top) {
            code |= kTop;
        } else if (py >= bottom) {
            code |= kBottom;
        }
        return code;
    };
    int c0 = outcode(x0, y0);
    int c1 = outcode(x1, y1);
    while (c0 | c1) {
        if (c0 & c1) {
            return;
        }
        const int c = c0 ? c0 : c1;
        const std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
        const std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
        std::int64_t nx = 0;
        std::int64_t ny = 0;
        if (c & kBottom) {
            ny = bottom - 1;
            nx = x0 + dx * (ny - y0) / dy;
        } else if (c & kTop) {
            ny = top;
            nx = x0 + dx * (ny - y0) / dy;
        } else if (c & kRight) {
            nx = right;
            ny = y0 + dy * (nx - x0) / dx;
        } else {
            nx = left;
            ny = y0 + dy * (nx - x0) / dx;
        }
        if (c == c0) {
            x0 = static_cast<int>(nx);
            y0 = static_cast<int>(ny);
            c0 = outcode(x0, y0);
        } else {
            x1 = static_cast<int>(nx);
            y1 = static_cast<int>(ny);
            c1 = outcode(x1, y1);
        }
    }

    // Normalise: from the end with the smaller x (the smaller y for a vertical line).
    if (x1 < x0 || (x1 == x0 && y1 < y0)) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    if (dy == 0) {
        HLine(x0, x1, y0);
        return;
    }
    if (dx == 0) {
        VLine(x0, y0, y1);
        return;
    }
    const int ady = dy < 0 ? -dy : dy;
    const int sy = dy < 0 ? -1 : 1;
    const bool xMajor = dx >= ady;
    const int major = xMajor ? dx : ady;
    const int minor = xMajor ? ady : dx;
    int err = 2 * minor - major;
    int px = x0;
    int py = y0;
    for (int i = 0; i < major; ++i) {
        // The clip lets an end sit on x = width; such a pixel is never written.
        if (px < m_w) {
            SetPixelRaw(px, py);
        }
        if (err >= 0) {
            if (xMajor) {
                py += sy;
            } else {
                ++px;
            }
            err += 2 * minor - 2 * major;
        } else {
            err += 2 * minor;
        }
        if (xMajor) {
            ++px;
        } else {
            py += sy;
        }
    }
}

void TMMDIBCanvas::HLine(int x1, int x2, int y)
{
    if (y < 0 || y >= m_h || !ClipRun(x1, x2, m_w)) {
        return;
    }
    Run(Row(y) + static_cast<std::ptrdiff_t>(x1) * m_bufBytes, x2 - x1);
}

void TMMDIBCanvas::VLine(int x, int y1, int y2)
{
    if (x < 0 || x >= m_w || !ClipRun(y1, y2, m_h)) {
        return;
    }
    for (int y = y1; y < y2; ++y) {
        SetPixelRaw(x, y);
    }
}

void TMMDIBCanvas::HLineDashed(int x1, int x2, int y)
{
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    const int start = x1;
    if (y < 0 || y >= m_h || !ClipRun(x1, x2, m_w) || x2 - x1 < 4) {
        return;
    }
    std::uint8_t* row = Row(y);
    // The pattern is anchored at the run's start, so clipping does not shift it.
    int x = x1;
    while (x < x2) {
        const int phase = (x - start) & 7;
        const int end = std::min(x2, x + (8 - phase));
        if (phase < 4) {
            const int onEnd = std::min(end, x + (4 - phase));
            Run(row + static_cast<std::ptrdiff_t>(x) * m_bufBytes, onEnd - x);
        }
        x = end;
    }
}

void TMMDIBCanvas::VLineDashed(int x, int y1, int y2)
{
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    const int start = y1;
    if (x < 0 || x >= m_w || !ClipRun(y1, y2, m_h)) {
        return;
    }
    for (int y = y1; y < y2; ++y) {
        if (((y - start) & 7) < 4) {
            SetPixelRaw(x, y);
        }
    }
}

void TMMDIBCanvas::HLineDotted(int x1, int x2, int y, int space)
{
    const int step = std::max(space, 1) + 1;
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    const int start = x1;
    if (y < 0 || y >= m_h || !ClipRun(x1, x2, m_w)) {
        return;
    }
    int x = x1 + (step - (x1 - start) % step) % step;
    for (; x < x2; x += step) {
        SetPixelRaw(x, y);
    }
}

void TMMDIBCanvas::VLineDotted(int x, int y1, int y2, int space)
{
    const int step = std::max(space, 1) + 1;
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    const int start = y1;
    if (x < 0 || x >= m_w || !ClipRun(y1, y2, m_h)) {
        return;
    }
    int y = y1 + (step - (y1 - start) % step) % step;
    for (; y < y2; y += step) {
        SetPixelRaw(x, y);
    }
}

void TMMDIBCanvas::FillRect(const QRect& rect)
{
    int l = rect.x();
    int r = rect.x() + rect.width();
    int t = rect.y();
    int b = rect.y() + rect.height();
    if (rect.width() <= 0 || rect.height() <= 0 || !ClipRun(l, r, m_w) || !ClipRun(t, b, m_h)) {
        return;
    }
    for (int y = t; y < b; ++y) {
        Run(Row(y) + static_cast<std::ptrdiff_t>(l) * m_bufBytes, r - l);
    }
}

void TMMDIBCanvas::FillRectDotted(const QRect& rect, bool dotted)
{
    if (!dotted) {
        FillRect(rect);
        return;
    }
    int l = rect.x();
    int r = rect.x() + rect.width();
    int t = rect.y();
    int b = rect.y() + rect.height();
    if (rect.width() <= 0 || rect.height() <= 0 || !ClipRun(l, r, m_w) || !ClipRun(t, b, m_h)) {
        return;
    }
    if (m_bufBytes == 1) {
        const auto v = static_cast<std::uint8_t>(m_value);
        for (int y = t; y < b; y += 2) {
            std::uint8_t* p = Row(y);
            for (int x = l; x < r; x += 2) {
                p[x] = v;
            }
        }
        return;
    }
    for (int y = t; y < b; y += 2) {
        for (int x = l; x < r; x += 2) {
            SetPixelRaw(x, y);
        }
    }
}

void TMMDIBCanvas::Clear()
{
    if (!m_bits) {
        return;
    }
    for (int y = 0; y < m_h; ++y) {
        Run(Row(y), m_w);
    }
}

namespace {
// Clips a copy of a width x height block between two buffers of the given sizes.
bool ClipCopy(int& dstX, int& dstY, int& width, int& height, int& srcX, int& srcY, int dstW, int dstH,
    int srcW, int srcH)
{
    if (dstX < 0) {
        width += dstX;
        srcX -= dstX;
        dstX = 0;
    }
    if (dstY < 0) {
        height += dstY;
        srcY -= dstY;
        dstY = 0;
    }
    if (srcX < 0) {
        width += srcX;
        dstX -= srcX;
        srcX = 0;
    }
    if (srcY < 0) {
        height += srcY;
        dstY -= srcY;
        srcY = 0;
    }
    width = std::min({ width, dstW - dstX, srcW - srcX });
    height = std::min({ height, dstH - dstY, srcH - srcY });
    return width > 0 && height > 0;
}
} // namespace

void TMMDIBCanvas::CopyBits(
    const TMMDIBCanvas& source, int dstX, int dstY, int width, int height, int srcX, int srcY)
{
    if (!m_bits || source.m_frame.empty() || source.m_bufBytes != m_bufBytes) {
        return;
    }
    if (!ClipCopy(dstX, dstY, width, height, srcX, srcY, m_w, m_h, source.m_bufWidth, source.m_bufHeight)) {
        return;
    }
    const auto bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(m_bufBytes);
    // Overlapping copies inside one buffer: walk rows away from the side being written.
    const bool upward = &source == this && dstY > srcY;
    for (int i = 0; i < height; ++i) {
        const int row = upward ? height - 1 - i : i;
        const std::uint8_t* s = source.Row(srcY + row) + static_cast<std::ptrdiff_t>(srcX) * m_bufBytes;
        std::uint8_t* d = Row(dstY + row) + static_cast<std::ptrdiff_t>(dstX) * m_bufBytes;
        std::memmove(d, s, bytes);
    }
}

void TMMDIBCanvas::CopyBackground(int dstX, int dstY, int width, int height, int srcX, int srcY)
{
    if (!m_bits || m_background.size() != m_frame.size() || m_background.empty()) {
        return;
    }
    if (!ClipCopy(dstX, dstY, width, height, srcX, srcY, m_w, m_h, m_bufWidth, m_bufHeight)) {
        return;
    }
    const auto bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(m_bufBytes);
    for (int i = 0; i < height; ++i) {
        const std::ptrdiff_t srcRow = static_cast<std::ptrdiff_t>(m_bufHeight - 1 - (srcY + i)) * m_stride;
        const std::uint8_t* s = m_background.data() + srcRow + static_cast<std::ptrdiff_t>(srcX) * m_bufBytes;
        std::memcpy(Row(dstY + i) + static_cast<std::ptrdiff_t>(dstX) * m_bufBytes, s, bytes);
    }
}

void TMMDIBCanvas::TextOut(const QFont& font, int x, int y, const QString& text)
{
    if (!m_bits || text.isEmpty()) {
        return;
    }
    const QFontMetrics metrics(font);
    const int w = metrics.horizontalAdvance(text) + 2;
    const int h = metrics.height();
    if (x >= m_w || y >= m_h || x + w <= 0 || y + h <= 0) {
        return;
    }
    QImage mask(w, h, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter painter(&mask);
        painter.setFont(font);
        painter.setPen(QColor(0, 0, 0, 255));
        painter.drawText(0, metrics.ascent(), text);
    }
    for (int row = 0; row < h; ++row) {
        const int py = y + row;
        if (py < 0 || py >= m_h) {
            continue;
        }
        const std::uint8_t* coverage = mask.constScanLine(row);
        for (int col = 0; col < w; ++col) {
            const int px = x + col;
            if (px >= 0 && px < m_w && coverage[col] >= 128) {
                SetPixelRaw(px, py);
            }
        }
    }
}

void TMMDIBCanvas::CopyToDevice(QPainter& device, const QRect& rect, int srcX, int srcY)
{
    int dstX = 0;
    int dstY = 0;
    int width = m_ratio == 1.0 ? rect.width() : qRound(rect.width() * m_ratio);
    int height = m_ratio == 1.0 ? rect.height() : qRound(rect.height() * m_ratio);
    if (m_frame.empty() || m_deviceImage.isNull()) {
        return;
    }
    if (!ClipCopy(dstX, dstY, width, height, srcX, srcY, m_deviceImage.width(), m_deviceImage.height(),
            m_bufWidth, m_bufHeight)) {
        return;
    }
    // The window takes colour pixels; translate just the region being shown.
    for (int i = 0; i < height; ++i) {
        const std::uint8_t* s = Row(srcY + i) + static_cast<std::ptrdiff_t>(srcX) * m_bufBytes;
        auto* d = reinterpret_cast<QRgb*>(m_deviceImage.scanLine(i));
        if (m_bufBytes == 1) {
            for (int x = 0; x < width; ++x) {
                d[x] = m_palette[s[x]];
            }
        } else {
            for (int x = 0; x < width; ++x, s += 3) {
                d[x] = qRgb(s[2], s[1], s[0]);
            }
        }
    }
    if (m_ratio == 1.0) {
        device.drawImage(QPoint(rect.x() + dstX, rect.y() + dstY), m_deviceImage, QRect(0, 0, width, height));
        return;
    }
    // Drawn at its own ratio, one canvas pixel lands on one screen pixel: nothing is resampled.
    if (m_deviceImage.devicePixelRatio() != m_ratio) {
        m_deviceImage.setDevicePixelRatio(m_ratio);
    }
    device.drawImage(QPointF(rect.x() + dstX / m_ratio, rect.y() + dstY / m_ratio), m_deviceImage,
        QRectF(0, 0, width, height));
}

QImage TMMDIBCanvas::ToImage() const
{
    if (m_frame.empty()) {
        return QImage();
    }
    QImage image(m_bufWidth, m_bufHeight, QImage::Format_RGB32);
    for (int y = 0; y < m_bufHeight; ++y) {
        const std::uint8_t* s = Row(y);
        auto* d = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < m_bufWidth; ++x) {
            d[x] = m_bufBytes == 1 ? m_palette[s[x]] : qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
        }
    }
    return image;
}
