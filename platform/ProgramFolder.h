#pragma once

#include <filesystem>

namespace zv {

// Folder of the running program file; every file of the system lies there.
std::filesystem::path ProgramFolder();

} // namespace zv
