#include "platform/SoundServer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits.h>
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

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The first line of a file, blanks around it dropped; empty when it cannot be read.
std::string FirstLine(const char* path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    const auto begin = line.find_first_not_of(" \t\r");
    const auto end = line.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : line.substr(begin, end - begin + 1);
}

// Calls visit with each entry of a server list meant for this machine ("{machine-id}" taken off; an
// entry for another machine names a socket that means nothing here) until it answers true.
template <class Visit> bool AnyEntry(std::string_view list, std::string_view machineId, Visit visit)
{
    constexpr std::string_view blanks = " \t\n\r\f\v";
    for (std::size_t at = list.find_first_not_of(blanks); at != std::string_view::npos;
         at = list.find_first_not_of(blanks, at)) {
        const std::size_t end = std::min(list.find_first_of(blanks, at), list.size());
        std::string_view entry = list.substr(at, end - at);
        at = end;
        if (StartsWith(entry, "{")) {
            const std::size_t close = entry.find('}');
            if (close == std::string_view::npos || machineId.empty()
                || entry.substr(1, close - 1) != machineId) {
                continue;
            }
            entry.remove_prefix(close + 1);
        }
        if (!entry.empty() && visit(entry)) {
            return true;
        }
    }
    return false;
}

std::filesystem::path RuntimeDir()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        return runtime;
    }
    return std::filesystem::path("/run/user") / std::to_string(::getuid());
}

} // namespace

std::string LocalMachineId()
{
    for (const char* path : { "/etc/machine-id", "/var/lib/dbus/machine-id" }) {
        if (std::string id = FirstLine(path); !id.empty()) {
            return id;
        }
    }
    char host[HOST_NAME_MAX + 1] {};
    return ::gethostname(host, sizeof host - 1) == 0 ? std::string(host) : std::string();
}

bool PulseServerListNamesServer(std::string_view list, std::string_view machineId)
{
    return AnyEntry(list, machineId, [](std::string_view entry) {
        if (StartsWith(entry, "unix:")) {
            entry.remove_prefix(5);
        } else if (entry.front() != '/') {
            // tcp:, tcp4:, tcp6: or a bare host: a server over the network, when a host is named.
            for (std::string_view prefix : { "tcp:", "tcp4:", "tcp6:" }) {
                if (StartsWith(entry, prefix)) {
                    entry.remove_prefix(prefix.size());
                    break;
                }
            }
            return !entry.empty() && entry.front() != ':';
        }
        return !entry.empty() && Answers(std::filesystem::path(std::string(entry)));
    });
}

bool SoundServerOwnsDevices(const std::filesystem::path& runtimeDir)
{
    return Answers(runtimeDir / "pipewire-0") || Answers(runtimeDir / "pulse" / "native");
}

namespace {

bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// Unix sockets of a server list: only those can be found away (a network server is not tried).
bool ListNamesUnixSocket(std::string_view list, std::string_view machineId)
{
    return AnyEntry(list, machineId,
        [](std::string_view entry) { return StartsWith(entry, "unix:") || StartsWith(entry, "/"); });
}

} // namespace

bool SoundServerAway(const std::filesystem::path& runtimeDir, std::string_view pulseServer)
{
    // PulseAudio removes its socket when it ends but keeps its folder; PipeWire keeps its lock file.
    const std::string machineId = LocalMachineId();
    const bool traces = Exists(runtimeDir / "pulse") || Exists(runtimeDir / "pipewire-0")
        || Exists(runtimeDir / "pipewire-0.lock") || ListNamesUnixSocket(pulseServer, machineId);
    if (!traces || SoundServerOwnsDevices(runtimeDir)) {
        return false;
    }
    return pulseServer.empty() || !PulseServerListNamesServer(pulseServer, machineId);
}

bool SoundServerAway()
{
    const char* servers = std::getenv("PULSE_SERVER");
    const std::string_view list = servers ? std::string_view(servers) : std::string_view();
    if (const char* pulse = std::getenv("PULSE_RUNTIME_PATH"); pulse && *pulse) {
        if (Answers(std::filesystem::path(pulse) / "native")) {
            return false;
        }
    }
    return SoundServerAway(RuntimeDir(), list);
}

bool SoundServerOwnsDevices()
{
    // The server ALSA's pulse plug-in and every other client of this session are sent to.
    if (const char* servers = std::getenv("PULSE_SERVER"); servers && *servers) {
        if (PulseServerListNamesServer(servers, LocalMachineId())) {
            return true;
        }
    }
    if (const char* pulse = std::getenv("PULSE_RUNTIME_PATH"); pulse && *pulse) {
        if (Answers(std::filesystem::path(pulse) / "native")) {
            return true;
        }
    }
    return SoundServerOwnsDevices(RuntimeDir());
}

} // namespace zv
