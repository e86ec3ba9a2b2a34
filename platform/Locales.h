#pragma once

// Windows locale ids (LCID) as the language files name their languages: the locale behind an id,
// its display name, its ANSI code page, and text converted through a code page. The locale data is
// ICU's.

#include <QString>
#include <cstdint>
#include <optional>

namespace zv {

// The ICU locale of an id ("pt_BR" for 1046), or nothing when ICU does not know the id.
std::optional<QString> LocaleForLcid(std::uint32_t lcid);

// The id of an ICU or POSIX locale name ("pt_BR", "es_ES"); 0 when it has none.
std::uint32_t LcidForLocale(const QString& locale);

// The locale's name in its own language, capitalised as a list entry ("Português (Brasil)"), or
// nothing when ICU does not know the id. A language is picked by people who read it.
std::optional<QString> LocaleDisplayName(std::uint32_t lcid);

// The default ANSI code page of the locale's language (1252 for the Western languages), 0 for a
// language that has none (Unicode only) or an unknown one.
std::uint32_t DefaultAnsiCodePage(std::uint32_t lcid);

// The text as the code page holds it: characters it has no byte for become '?'. Code page 0, or one
// ICU has no converter for, leaves the text as it is.
QString ThroughCodePage(const QString& text, std::uint32_t codePage);

} // namespace zv
