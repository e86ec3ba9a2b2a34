#pragma once

#include "platform/Exception.h"

#include <QByteArray>
#include <QString>
#include <vector>

// Damaged or unreadable window data (the stored components of a window).
ZV_DECLARE_EXCEPTION(ESkWindowDataError, Exception);

namespace zv {

// One named binary value of a stored component, e.g. a button's face table or a list item's picture.
struct SkStoredValue {
    QByteArray Name;
    QByteArray Data;
};

// A stored component: its name (empty for unnamed ones such as list items), its class, its binary
// values in load order and the components it owns, in load order.
struct SkStoredObject {
    QByteArray Name;
    QByteArray ClassName;
    std::vector<SkStoredValue> Values;
    std::vector<SkStoredObject> Children;

    // The last value of that name (a later value overrides an earlier one on load), or null.
    const QByteArray* Value(const QByteArray& name) const;
    // The first owned component of that name, or null.
    const SkStoredObject* Child(const QByteArray& name) const;
    // As Child, but a missing component is an error naming it.
    const SkStoredObject& RequireChild(const QByteArray& name) const;
};

// The window data file: "ZVWD", version byte 1, then the root component. A component is its name,
// its class (each a length byte and that many bytes), a 32-bit value count, the values (name, 32-bit
// length, bytes), a 32-bit child count and the children. All numbers little-endian.
SkStoredObject ReadWindowData(const QByteArray& bytes);
QByteArray WriteWindowData(const SkStoredObject& root);
// Reads a file or a compiled-in resource (":/forms/...").
SkStoredObject LoadWindowData(const QString& path);

} // namespace zv
