#include "platform/ProgramFolder.h"

#include <sys/auxv.h>
#include <system_error>

namespace zv {

namespace {

// The path the program was started by. A per-user folder holds a symbolic link to the installed
// program, and that folder, not the installation's, is where the program's files live: /proc/self/exe
// names the link's target, the exec path the link itself.
std::filesystem::path StartedAs(const std::filesystem::path& exe)
{
    const auto* execfn = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (!execfn || !*execfn) {
        return {};
    }
    std::error_code ec;
    std::filesystem::path started = std::filesystem::absolute(execfn, ec);
    // Run through the dynamic loader (ld.so ZoVeva) the exec path is the loader's: not ours.
    if (ec || !std::filesystem::equivalent(started, exe, ec) || ec) {
        return {};
    }
    return started;
}

std::filesystem::path FindProgramFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return std::filesystem::current_path();
    }
    const std::filesystem::path started = StartedAs(exe);
    if (started.empty()) {
        return exe.parent_path();
    }
    // The folder itself may be reached through links; only the program's own name may not be followed.
    const auto folder = std::filesystem::canonical(started.parent_path(), ec);
    return ec ? exe.parent_path() : folder;
}

} // namespace

std::filesystem::path ProgramFolder()
{
    // Found once: an upgrade that replaces the running file makes /proc/self/exe name a deleted file.
    static const std::filesystem::path folder = FindProgramFolder();
    return folder;
}

} // namespace zv
