#pragma once

#include <filesystem>

namespace zv {

// Folder of the running program file, as it was started (a symbolic link to the program counts as
// the program: its folder is the one); every file of the system lies there.
std::filesystem::path ProgramFolder();

} // namespace zv
