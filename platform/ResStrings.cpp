#include "platform/ResStrings.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace zv {
namespace {

using Row = ResStringRow;

// The built-in texts of this layer and the components, by id. Keep the ids stable: language files name their
// strings by them.
constexpr Row kBuiltIn[] = {
    { SNoWaveInDevice, "No wave audio recording device found" },
    { SUnknownWaveError, "Specified error number is out of range (unknown error)" },
    { SInvalidDeviceId, "Invalid DeviceID" },
    { SInvalidWaveInFormat, "Invalid wave format" },
    { SCannotRecordFormat, "The actual device can''t record this format" },
    { SUnableToOpenDevice, "Unable to open device" },
    { SNoMemoryForWaveHeader, "Unable to allocate memory for wave header" },
    { SCouldNotCreateThread, "Could not create thread" },
    { SCouldNotEndThread, "Could not end thread" },
    { SUnableToCloseDevice, "Unable to close device" },
    { SInvalidPcmFormat, "Invalid WaveFormat" },
    { SCanvasNeeded, "Canvas needed for this operation" },
    { SBitLengthNotSupported, "Bitlength not supported yet" },
    { SNoDibDeviceContext, "Unable to access DIB device context" },
    { SNewDibWhileDrawing, "%1: Attempt to create new DIB while initialized for drawing" },
    { SDrawWhileAnotherDraws, "%1: Attempt to draw while another canvas is drawing" },
    { SPropertyWhileOpen, "Change to property while device was open" },

    { SNotPng, "Not a PNG picture" },
    { SDamagedPng, "Damaged PNG picture: %1" },
    { SWindowDataTruncated, "Window data is truncated (%1 at byte %2)" },
    { SWindowDataTooDeep, "Window data nests its components too deeply" },
    { SWindowDataNameTooLong, "The %1 \"%2\" is longer than 255 bytes" },
    { SWindowDataNoComponent, "Window data of %1 has no component %2" },
    { SNotWindowData, "Not window data (no ZVWD signature)" },
    { SWindowDataVersion, "Window data version %1 is not supported" },
    { SWindowDataStrayBytes, "Window data has %1 stray bytes after its last component" },
    { SCannotReadWindowData, "Cannot read window data %1: %2" },
    { SButtonFaceSize, "Button %1: \"%2\" holds %3 bytes instead of %4" },
    { SSkinWithoutWindow, "A window skin must belong to a window" },
    { SSkinOutsideWindow, "A window skin must be placed inside its window" },
    { SBitmapItemTruncated, "Bitmap list item is truncated in its %1" },
    { SBitmapItemCompressed, "Compressed bitmap list items are not supported" },
    { SBitmapItemNoBmp, "Bitmap list item holds no BMP picture" },
    { SBitmapItemDamagedBmp, "Bitmap list item holds a damaged BMP picture" },
    { SBitmapItemDescriptionTooLong, "A bitmap list item's description is longer than 255 bytes" },
    { SBitmapItemCannotWriteBmp, "A bitmap list item's picture cannot be written as BMP" },
    { SBitmapItemNoPicture, "Item %1 of bitmap list %2 has no stored picture value" },
    { SBitmapItemError, "Item %1 of bitmap list %2: %3" },

    { SWaveNoError, "The operation completed successfully" },
    { SWaveError, "Unspecified error" },
    { SWaveBadDeviceId, "The device identifier is out of range" },
    { SWaveNotEnabled, "The driver failed to enable" },
    { SWaveAllocated, "The device is already in use" },
    { SWaveInvalidHandle, "The device handle is invalid" },
    { SWaveNoDriver, "No device driver is present" },
    { SWaveNoMem, "Unable to allocate memory" },
    { SWaveNotSupported, "The function is not supported" },
    { SWaveBadErrNum, "The error value is out of range" },
    { SWaveInvalidFlag, "An invalid flag was passed" },
    { SWaveInvalidParam, "An invalid parameter was passed" },
    { SWaveBadFormat, "The wave format is not supported" },
    { SWaveStillRecording, "Buffers are still queued" },
    { SWaveUnprepared, "The buffer is not prepared" },
    { SWaveBadFile, "The source file cannot be read" },
    { SUnableToWrite, "Unable to write to %1" },
    { SOutOfTimers, "Not enough timers available" },
    { SUnknownError, "Unknown error" },
    { SInvalidInteger, "'%1' is not a valid integer value" },

    { SDeviceIdOutOfRange, "Device id is out of range" },
    { SDeviceNotValid, "Device not valid" },
    { SMixerReferencesMixer, "Mixer can't reference mixer" },
    { STargetIsMixer, "Can't target to mixer" },
    { SDestLineNotLine, "DestLine should be TMMAudioLine" },
    { SMixerRequired, "Mixer required for this operation" },
    { SControlNotValid, "Control not valid" },
    { SItemOutOfRange, "Item index out of range" },
    { SItemInfoNotMultiple, "Item info requested from non-multiple control" },
    { SUndefinedComponentType, "Undefined API component type" },
    { SUndefinedControlClass, "Undefined API control class" },
    { SMMSystemError, "MMSystem error: %d" },
    { SInvalidControlClass, "Invalid control class" },
    { SParameterNotPositive, "This parameter should be greater then 0" },
    { SDestLineLoop, "DestLine can't lead back to this line" },
    { SCannotReadFile, "Cannot read %1: %2" },
};

static_assert(ResStringIdsAreUnique(kBuiltIn), "two built-in resource strings share an id");

std::mutex gLookupLock;
std::shared_ptr<const ResStringLookup> gLookup; // guarded by gLookupLock

// The registered tables, this layer's first. Built on first use: folders register theirs during static
// initialisation, in an order the language does not fix.
struct Tables {
    std::mutex lock;
    std::vector<std::span<const Row>> tables { std::span<const Row>(kBuiltIn) }; // guarded by lock
};

Tables& Registered()
{
    static Tables tables;
    return tables;
}

std::vector<std::span<const Row>> RegisteredTables()
{
    Tables& registered = Registered();
    std::lock_guard guard(registered.lock);
    return registered.tables;
}

} // namespace

void RegisterResStrings(std::span<const ResStringRow> rows)
{
    Tables& registered = Registered();
    std::lock_guard guard(registered.lock);
    for (const std::span<const Row>& table : registered.tables) {
        if (table.data() == rows.data()) {
            return;
        }
    }
    for (const std::span<const Row>& table : registered.tables) {
        for (const Row& row : table) {
            for (const Row& added : rows) {
                if (row.id == added.id) {
                    throw std::logic_error(
                        "two built-in resource strings share the id " + std::to_string(row.id));
                }
            }
        }
    }
    registered.tables.push_back(rows);
}

QString BuiltInResString(int id)
{
    for (const std::span<const Row>& table : RegisteredTables()) {
        for (const Row& row : table) {
            if (row.id == id) {
                return QString::fromUtf8(row.text);
            }
        }
    }
    return {};
}

std::vector<int> BuiltInResStringIds()
{
    std::vector<int> ids;
    for (const std::span<const Row>& table : RegisteredTables()) {
        for (const Row& row : table) {
            ids.push_back(row.id);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString LoadResString(int id)
{
    std::shared_ptr<const ResStringLookup> lookup;
    {
        std::lock_guard guard(gLookupLock);
        lookup = gLookup;
    }
    if (lookup) {
        QString text = (*lookup)(id);
        if (!text.isNull()) {
            return text;
        }
    }
    return BuiltInResString(id);
}

void SetResStringLookup(ResStringLookup lookup)
{
    auto next = lookup ? std::make_shared<const ResStringLookup>(std::move(lookup)) : nullptr;
    std::lock_guard guard(gLookupLock);
    gLookup = std::move(next);
}

} // namespace zv
