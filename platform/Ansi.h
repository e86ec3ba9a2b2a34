#pragma once

// The system's files are single-byte ANSI text, Windows-1252.

#include <QByteArray>
#include <QString>
#include <optional>

namespace zv {

QString FromAnsi(const QByteArray& bytes);

// The text as Windows-1252 bytes; characters it has no byte for become '?'.
QByteArray ToAnsi(const QString& text);

// The text as Windows-1252 bytes, or nothing when a character has no byte.
std::optional<QByteArray> ToAnsiExact(const QString& text);

} // namespace zv
