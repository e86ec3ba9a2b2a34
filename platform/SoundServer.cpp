#include "platform/SoundServer.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zv {

namespace {

// A connection attempt, closed at once: a leftover socket file of a server that died does not count.
bool Answers(const std::filesystem::path& socketPath)
{
    const std::string name = socketPath.string();
    sockaddr_un address {};
    if (name.size() >= sizeof(address.sun_path)) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

} // namespace

bool SoundServerOwnsDevices(const std::filesystem::path& runtimeDir)
{
    return Answers(runtimeDir / "pipewire-0") || Answers(runtimeDir / "pulse" / "native");
}

bool SoundServerOwnsDevices()
{
    if (const char* pulse = std::getenv("PULSE_RUNTIME_PATH"); pulse && *pulse) {
        if (Answers(std::filesystem::path(pulse) / "native")) {
            return true;
        }
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        return SoundServerOwnsDevices(runtime);
    }
    return SoundServerOwnsDevices(std::filesystem::path("/run/user") / std::to_string(::getuid()));
}

} // namespace zv
