#pragma once

// Profile files (INI): sections of key=value lines, kept as raw bytes so that ANSI text and scrambled
// values pass through untouched.
//
// Reading: lines end at LF, CR LF or CR; "[name]" opens a section; a line with "=" holds a key (text
// before the first "=", blanks trimmed) and its value (the rest). Section and key names match without
// regard to ASCII case; the first match wins; other lines are ignored. A value loses its surrounding
// blanks (space, tab), then one pair of matching surrounding quotes (" or '), then is cut to
// MaxValueBytes.
//
// Writing: a key is updated in place and every other byte of the file is kept; a missing key is added
// at the end of its section, a missing section at the end of the file. A value that reading would alter
// (surrounding blanks or quotes) is written between double quotes, so what is written reads back the
// same. The new file replaces the old one atomically: a failed write leaves the old file whole.

#include "platform/Exception.h"
#include "platform/FileIo.h"

#include <QByteArray>
#include <QByteArrayView>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

ZV_DECLARE_EXCEPTION(EProfileWriteError, Exception);
ZV_DECLARE_EXCEPTION(EProfileReadError, Exception);

namespace zv {

class ProfileFile {
public:
    // Values longer than this are cut on read.
    static constexpr qsizetype MaxValueBytes = 2047;

    using Values = std::vector<std::pair<QByteArray, QByteArray>>;

    ProfileFile() = default;
    explicit ProfileFile(QByteArray bytes)
        : bytes_(std::move(bytes))
    {
    }

    // The file's content; a missing or unreadable file reads as empty.
    static ProfileFile Read(const std::filesystem::path& path);
    // The file's content; a missing file reads as empty. Raises EProfileReadError ("Cannot read
    // <path>: <why>") for one that exists and cannot be read, such as a folder or a file without read
    // permission: taking it for empty would lose its settings at the next save.
    static ProfileFile Load(const std::filesystem::path& path);

    const QByteArray& Bytes() const { return bytes_; }

    // The value of key in section, or nothing when the key is absent.
    std::optional<QByteArray> Value(QByteArrayView section, QByteArrayView key) const;
    QByteArray ReadString(QByteArrayView section, QByteArrayView key, const QByteArray& fallback = {}) const;
    // Decimal, or hexadecimal after "0x"; an optional sign; fallback when absent, not a number, or
    // outside the 32-bit signed range.
    int ReadInteger(QByteArrayView section, QByteArrayView key, int fallback) const;

    // Sets the keys of section in memory, in order. Raises EProfileWriteError (naming path) for a
    // name or value that a line cannot carry (NUL, CR, LF; "=" or "[" in key names).
    void SetValues(QByteArrayView section, const Values& values, const std::filesystem::path& path = {});

    // Writes the content to path through a temporary file and a rename; an existing file keeps its
    // permissions, a new one gets newFileMode. Raises EProfileWriteError.
    void Save(const std::filesystem::path& path, unsigned newFileMode = kSharedFileMode) const;

private:
    QByteArray bytes_;
};

// Loads path, sets values in section and saves: one atomic replace for the whole batch. A file that
// exists and cannot be read raises EProfileReadError and stays as it is.
void WriteProfileStrings(const std::filesystem::path& path, QByteArrayView section,
    const ProfileFile::Values& values, unsigned newFileMode = kSharedFileMode);

// Parses a 32-bit signed integer as ReadInteger does.
std::optional<int> ParseProfileInteger(QByteArrayView text);

} // namespace zv
