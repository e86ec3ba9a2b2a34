#pragma once

// Whole-file writes with every system call checked: a short or failed write is reported, never taken
// for success.

#include <QByteArrayView>
#include <filesystem>

namespace zv {

// Replaces the file at path with bytes: a temporary file in the same folder is written, flushed to the
// disk and renamed over path, so a failure at any point leaves the old file whole. The new file keeps
// the old one's permissions (0644 for a new file). Returns 0, or the errno of the failing call.
int ReplaceFile(const std::filesystem::path& path, QByteArrayView bytes);

// Appends bytes to the file at path; creates it when create is set (and fails if it exists then).
// Returns 0, or the errno of the failing call.
int AppendToFile(const std::filesystem::path& path, QByteArrayView bytes, bool create);

} // namespace zv
