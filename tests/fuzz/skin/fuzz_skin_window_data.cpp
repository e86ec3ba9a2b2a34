// Window data, bitmap list items, button face tables and PNG pictures from arbitrary bytes: errors
// are fine, crashes and hangs are not.
#include "skin/SkFaceTable.h"
#include "skin/SkPng.h"
#include "skin/SkWindowData.h"
#include "skin/skcont.h"

#include <cstddef>
#include <cstdint>

namespace {

void Walk(const zv::SkStoredObject& o)
{
    for (const zv::SkStoredValue& v : o.Values)
        if (v.Name == "Internal") {
            try {
                const TSkBitmapListItem item = zv::ReadBitmapListItem(v.Data);
                (void)item.KeyColor();
            } catch (const Exception&) {
            }
        }
    try {
        TSkFaceTable table {};
        QRgb hit = 0;
        zv::ReadStoredFaces(o, table, hit);
    } catch (const Exception&) {
    }
    for (const zv::SkStoredObject& c : o.Children)
        Walk(c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        Walk(zv::ReadWindowData(bytes));
    } catch (const Exception&) {
    }
    try {
        zv::ReadBitmapListItem(bytes);
    } catch (const Exception&) {
    }
    try {
        zv::LoadPngImage(bytes);
    } catch (const Exception&) {
    }
    return 0;
}
