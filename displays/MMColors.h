#pragma once

#include <QColor>
#include <QRgb>
#include <cstdint>

// Colours as the components store them: 0x00BBGGRR, or a reference to a system colour
// (high byte 0xFF, low byte the system colour index) that ColorToRGB resolves.
using TColor = std::int32_t;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clBtnHighlight = clSystemColor | 20;

namespace zv {

// The colour as 0x00BBGGRR. System colours resolve to the classic grey scheme, so every frame
// colour of the forms is one of the static palette colours and looks the same on any desktop theme.
constexpr std::uint32_t ColorToRGB(TColor color)
{
    if ((static_cast<std::uint32_t>(color) & 0xFF000000u) == 0xFF000000u) {
        switch (color & 0xFF) {
        case 6: // window frame
            return 0x000000;
        case 15: // button face
            return 0xC0C0C0;
        case 16: // button shadow
            return 0x808080;
        case 20: // button highlight
            return 0xFFFFFF;
        case 5: // window
            return 0xFFFFFF;
        case 8: // window text
        case 18: // button text
            return 0x000000;
        default:
            return 0xC0C0C0;
        }
    }
    return static_cast<std::uint32_t>(color) & 0x00FFFFFFu;
}

constexpr QRgb ColorToQRgb(TColor color)
{
    const std::uint32_t bgr = ColorToRGB(color);
    return qRgb(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
        static_cast<int>((bgr >> 16) & 0xFF));
}

inline QColor ColorToQColor(TColor color)
{
    return QColor(ColorToQRgb(color));
}

} // namespace zv
