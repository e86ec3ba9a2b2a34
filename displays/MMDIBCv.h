#pragma once

#include "audio/MMObj.h"
#include "displays/MMColors.h"
#include "platform/Exception.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QFont;
class QPainter;

ZV_DECLARE_EXCEPTION(EMMDIBError, Exception);

// ---------------------------------------------------------------------------------------------
// Frame model: a stack of bevels and bands around a control and the rectangle left inside.

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBorderStyle { bsNone, bsSingle };

class TMMBevel : public TMMObject {
public:
    TMMBevel() = default;
    TMMBevel(const TMMBevel&) = delete;
    TMMBevel& operator=(const TMMBevel&) = delete;

    TBevelCut BevelInner() const { return m_bevelInner; }
    void SetBevelInner(TBevelCut value);
    TBevelCut BevelOuter() const { return m_bevelOuter; }
    void SetBevelOuter(TBevelCut value);
    int BevelInnerWidth() const { return m_bevelInnerWidth; }
    void SetBevelInnerWidth(int value); // 1 or more
    int BevelOuterWidth() const { return m_bevelOuterWidth; }
    void SetBevelOuterWidth(int value); // 1 or more
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle value);
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int value); // 0 or more
    int BorderSpace() const { return m_borderSpace; }
    void SetBorderSpace(int value); // 0 or more

    // Index order: BorderColor 0, BorderSpaceColor 1, InnerLightColor 2, InnerShadowColor 3,
    // OuterLightColor 4, OuterShadowColor 5. Other indexes are ignored.
    TColor Color(int index) const;
    void SetColor(int index, TColor value);
    TColor BorderColor() const { return m_colors[0]; }
    void SetBorderColor(TColor value) { SetColor(0, value); }
    TColor BorderSpaceColor() const { return m_colors[1]; }
    void SetBorderSpaceColor(TColor value) { SetColor(1, value); }
    TColor InnerLightColor() const { return m_colors[2]; }
    void SetInnerLightColor(TColor value) { SetColor(2, value); }
    TColor InnerShadowColor() const { return m_colors[3]; }
    void SetInnerShadowColor(TColor value) { SetColor(3, value); }
    TColor OuterLightColor() const { return m_colors[4]; }
    void SetOuterLightColor(TColor value) { SetColor(4, value); }
    TColor OuterShadowColor() const { return m_colors[5]; }
    void SetOuterShadowColor(TColor value) { SetColor(5, value); }

    // Copies every setting inside one update bracket: the owner hears of it once.
    void Assign(const TMMBevel& source);

    int BevelExtent() const;
    // Draws the frame into rect on the painter and returns the rectangle left inside it.
    QRect PaintBevel(QPainter& canvas, QRect rect, bool fillBorder) const;

private:
    TBevelCut m_bevelInner = bvNone;
    TBevelCut m_bevelOuter = bvLowered;
    int m_bevelInnerWidth = 1;
    int m_bevelOuterWidth = 1;
    TBorderStyle m_borderStyle = bsNone;
    int m_borderWidth = 0;
    int m_borderSpace = 0;
    std::array<TColor, 6> m_colors { clBtnFace, clBlack, clBtnHighlight, clBtnShadow, clBtnHighlight,
        clBtnShadow };
};

namespace zv {
// A ring of the given width inside rect: top and left edges in topColor, bottom and right in
// bottomColor, one pixel at a time; rect shrinks by width on every side.
void FrameRing(QPainter& canvas, QRect& rect, int width, TColor topColor, TColor bottomColor);

// The fonts the forms name, mapped once onto fonts a Debian desktop has.
void InstallFontSubstitutes();
// A font of the given family at a point size as the forms mean it (96 dots per inch).
QFont MakeFont(const QString& family, int points, bool bold = false);
// A font whose characters are pixels high, as the forms give heights.
QFont MakePixelFont(const QString& family, int pixels, bool bold = false);

// A length in logical pixels as device pixels at the given ratio; exact at ratio 1.
inline int DevicePixels(int logical, qreal ratio)
{
    return ratio == 1.0 ? logical : qRound(logical * ratio);
}
// The same font for a picture drawn in device pixels at the given ratio.
QFont DeviceFont(const QFont& font, qreal ratio);
} // namespace zv

// ---------------------------------------------------------------------------------------------
// Off-screen pixel canvas: a frame buffer of palette indices (8 bits per pixel) or blue-green-red
// triples (24 bits per pixel), rows padded to 4 bytes and stored bottom row first, and a prepared
// background buffer. Pixel operations work only between BeginDraw and EndDraw and clip silently.

class TMMDIBCanvas {
public:
    // ownerClassName names the control in the message of a refused rebuild.
    explicit TMMDIBCanvas(QString ownerClassName = QStringLiteral("TMMDIBCanvas"));
    ~TMMDIBCanvas();
    TMMDIBCanvas(const TMMDIBCanvas&) = delete;
    TMMDIBCanvas& operator=(const TMMDIBCanvas&) = delete;

    void SetOwnerClassName(const QString& name) { m_owner = name; }

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Stores the size and defers the rebuild to the next BeginDraw.
    void SetSize(int width, int height);
    int BitsPerPixel() const { return m_bitsPerPixel; }
    // 8 or 24; anything else raises "Bitlength not supported yet".
    void SetBitsPerPixel(int bits);
    bool PaletteRealize() const { return m_paletteRealize; }
    void SetPaletteRealize(bool value);
    bool PaletteMapped() const { return m_paletteMapped; }
    void SetPaletteMapped(bool value) { m_paletteMapped = value; }
    const QImage& BackGroundBitmap() const { return m_backGroundBitmap; }
    void SetBackGroundBitmap(const QImage& bitmap);
    bool StretchBackGround() const { return m_stretchBackGround; }
    void SetStretchBackGround(bool value);

    bool Drawing() const { return m_drawing; }
    bool RebuildPending() const { return m_rebuildPending; }
    bool HasBackground() const { return !m_background.empty(); }
    const std::array<QRgb, 256>& Palette() const { return m_palette; }

    // The drawing bracket: one canvas of the process at a time, whatever thread draws.
    void BeginDraw();
    void EndDraw();

    void SetDrawColor(TColor color);
    void SetDrawValue(std::uint32_t pixel);
    std::uint32_t DrawValue() const { return m_value; }
    // Palette index at 8 bits per pixel, 0x00RRGGBB at 24 bits per pixel.
    std::uint32_t ColorToPixel(TColor color) const;

    void PutPixel(int x, int y, std::uint32_t pixel);
    // The pixel value, or -1 outside the canvas.
    int GetPixel(int x, int y) const;
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    QPoint PenPos() const { return { m_penX, m_penY }; }
    void HLine(int x1, int x2, int y);
    void VLine(int x, int y1, int y2);
    void HLineDashed(int x1, int x2, int y);
    void VLineDashed(int x, int y1, int y2);
    void HLineDotted(int x1, int x2, int y, int space);
    void VLineDotted(int x, int y1, int y2, int space);
    void FillRect(const QRect& rect);
    void FillRectDotted(const QRect& rect, bool dotted);
    void Clear();
    // Copies a rectangle from another canvas's frame buffer (or from this one; overlap is allowed).
    void CopyBits(const TMMDIBCanvas& source, int dstX, int dstY, int width, int height, int srcX, int srcY);
    // The same from this canvas's background buffer; nothing without one.
    void CopyBackground(int dstX, int dstY, int width, int height, int srcX, int srcY);
    // Text in the current colour, top-left corner at (x, y); at 8 bits per pixel a pixel is set
    // where the glyph covers at least half of it.
    void TextOut(const QFont& font, int x, int y, const QString& text);
    // Device pixels per logical pixel of the window the canvas is shown in (1 by default). The
    // owner sizes the canvas in device pixels; CopyToDevice then draws it 1:1 on the screen.
    qreal DevicePixelRatio() const { return m_ratio; }
    void SetDevicePixelRatio(qreal ratio) { m_ratio = ratio > 0 ? ratio : 1.0; }
    // Copies the canvas region at (srcX, srcY) (device pixels) to rect's position on the device;
    // rect is in the device's logical pixels and covers round(size * ratio) canvas pixels.
    void CopyToDevice(QPainter& device, const QRect& rect, int srcX, int srcY);

    // A top-down colour picture of the frame buffer as it is now, for screenshots and tests.
    QImage ToImage() const;

private:
    void Rebuild();
    void BuildPalette();
    void BuildBackground();
    std::uint8_t* Row(int y) const
    {
        return const_cast<std::uint8_t*>(m_frame.data())
            + static_cast<std::ptrdiff_t>(m_bufHeight - 1 - y) * m_stride;
    }
    void Run(std::uint8_t* p, int count);
    void SetPixelRaw(int x, int y);

    QString m_owner;
    int m_width = 1;
    int m_height = 1;
    int m_bitsPerPixel = 8;
    bool m_paletteRealize = false;
    bool m_paletteMapped = false;
    bool m_stretchBackGround = true;
    QImage m_backGroundBitmap;
    bool m_rebuildPending = true;
    bool m_drawing = false;

    // Buffers as last rebuilt; the pixel operations clip to these, not to a pending new size.
    std::vector<std::uint8_t> m_frame;
    std::vector<std::uint8_t> m_background;
    int m_bufWidth = 0;
    int m_bufHeight = 0;
    int m_bufBytes = 1;
    int m_stride = 0;
    std::array<QRgb, 256> m_palette {};
    qreal m_ratio = 1.0;
    QImage m_deviceImage; // colour copy handed to the window; kept to avoid allocating per frame

    // Drawing state, valid between BeginDraw and EndDraw.
    std::uint8_t* m_bits = nullptr;
    int m_w = 0;
    int m_h = 0;
    std::uint32_t m_value = 0;
    int m_penX = 0;
    int m_penY = 0;

    // Nearest-entry lookups are slow enough to matter per frame; remember recent ones.
    mutable std::array<std::pair<std::uint32_t, std::uint32_t>, 8> m_colorCache {};
    mutable int m_colorCacheNext = 0;
    mutable int m_colorCacheSize = 0;
};

// Holds a canvas's drawing bracket for a scope, so an exception cannot leave the lock taken.
class TMMDIBDrawScope {
public:
    explicit TMMDIBDrawScope(TMMDIBCanvas& canvas)
        : m_canvas(canvas)
    {
        m_canvas.BeginDraw();
    }
    ~TMMDIBDrawScope() { m_canvas.EndDraw(); }
    TMMDIBDrawScope(const TMMDIBDrawScope&) = delete;
    TMMDIBDrawScope& operator=(const TMMDIBDrawScope&) = delete;

private:
    TMMDIBCanvas& m_canvas;
};
