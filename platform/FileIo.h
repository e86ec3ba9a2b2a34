#pragma once

// Whole-file writes with every system call checked: a short or failed write is reported, never taken
// for success.

#include <QByteArrayView>
#include <filesystem>

namespace zv {

// Permissions of a file that anyone on the machine may read, and of one that holds a secret.
inline constexpr unsigned kSharedFileMode = 0644;
inline constexpr unsigned kPrivateFileMode = 0600;

// Replaces the file at path with bytes: a temporary file in the same folder is written, flushed to the
// disk and renamed over path, so a failure at any point leaves the old file whole. The new file keeps
// the old one's permissions; a file that did not exist gets newFileMode. The bytes are never readable
// by others on the way: the temporary file is the owner's only until it has its final mode. Returns 0,
// or the errno of the failing call.
int ReplaceFile(
    const std::filesystem::path& path, QByteArrayView bytes, unsigned newFileMode = kSharedFileMode);

// Appends bytes to the file at path; creates it when create is set (and fails if it exists then).
// Returns 0, or the errno of the failing call.
int AppendToFile(const std::filesystem::path& path, QByteArrayView bytes, bool create);

} // namespace zv
