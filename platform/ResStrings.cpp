#include "platform/ResStrings.h"

#include <memory>
#include <mutex>

namespace zv {
namespace {

struct Row {
    int id;
    const char* text; // UTF-8
};

// The built-in texts, by id. Keep the ids stable: language files name their strings by them.
constexpr Row kBuiltIn[] = {
    { SPropertyWhileOpen, "Change to property while device was open" },
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
};

std::mutex gLookupLock;
std::shared_ptr<const ResStringLookup> gLookup; // guarded by gLookupLock

} // namespace

QString BuiltInResString(int id)
{
    for (const Row& row : kBuiltIn)
        if (row.id == id)
            return QString::fromUtf8(row.text);
    return {};
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
        if (!text.isNull())
            return text;
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
