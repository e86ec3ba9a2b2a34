#pragma once

#include "platform/Exception.h"
#include "skin/SkWindowData.h"

#include <QColor>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// A button's stored face data that cannot be read.
ZV_DECLARE_EXCEPTION(ESkFaceTableError, Exception);

// Which face a button state shows: entry ListIndex of the face list, image ImageIndex within it.
struct FaceEntry {
    std::int32_t ListIndex = 0;
    std::int32_t ImageIndex = 0;
    friend bool operator==(const FaceEntry&, const FaceEntry&) = default;
};

// One entry per button state 0 ... 8.
using TSkFaceTable = std::array<FaceEntry, 9>;

namespace zv {

// Button states; the number indexes the face table. States 5 and 8 are never entered.
inline constexpr std::uint8_t bsUp = 0;
inline constexpr std::uint8_t bsDisabled = 1;
inline constexpr std::uint8_t bsHot = 2;
inline constexpr std::uint8_t bsLatched = 3;
inline constexpr std::uint8_t bsPressed = 4;
inline constexpr std::uint8_t bsUnused5 = 5;
inline constexpr std::uint8_t bsMenuOpen = 6;
inline constexpr std::uint8_t bsDisabledLatched = 7;
inline constexpr std::uint8_t bsUnused8 = 8;

// The face table entry a state draws: its own when it has an image, else hot, disabled and 5 fall back
// to the up face, latched, pressed, menu open and disabled latched to the pressed face, or the up face
// when that is missing too; -1 (up and 8 without a face): nothing is drawn. The entry returned may
// itself lack an image: then no face is drawn but the button's background and caption are.
int SkFaceEntryFor(
    int state, const TSkFaceTable& table, const std::function<bool(const FaceEntry&)>& hasImage);

// Applies a button's stored face values in load order: "ButtonFaceIndicesNew2" (72 bytes) and
// "ButtonFaceTransColNew" (4 bytes), and the older "ButtonFaceIndices", "ButtonFaceIndicesNew" and
// "ButtonFaceTransCol", which leave state 8 as it is. Other values are not face data and are skipped.
// A face value of the wrong size is an error and changes nothing.
void ReadStoredFaces(const SkStoredObject& button, TSkFaceTable& table, QRgb& hitColor);
// The two values a button stores, in this order.
std::vector<SkStoredValue> WriteStoredFaces(const TSkFaceTable& table, QRgb hitColor);

} // namespace zv
