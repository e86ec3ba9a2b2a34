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

// The text as ISO-8859-1 bytes, for readers that take nothing else: a character that encoding lacks
// becomes its nearest Latin-1 text (typographic quotes plain ones, a dash "-", "€" "EUR", "…" "...",
// other scripts their Latin transliteration), and only what has none becomes '?'.
QByteArray ToLatin1Nearest(const QString& text);

} // namespace zv
