#include "platform/SoundServer.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Binds a unix socket at path; listening makes it answer, otherwise it is a stale socket file.
int BindSocket(const std::filesystem::path& path, bool listening)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    if (listening) {
        EXPECT_EQ(::listen(fd, 4), 0);
    }
    return fd;
}

} // namespace

TEST(SoundServer, OwnsTheDevicesOnlyWhenItsSocketAnswers)
{
    QTemporaryDir dir;
    const std::filesystem::path runtime = dir.path().toStdString();
    EXPECT_FALSE(zv::SoundServerOwnsDevices(runtime));

    std::filesystem::create_directory(runtime / "pulse");
    const int stale = BindSocket(runtime / "pulse" / "native", false);
    EXPECT_FALSE(zv::SoundServerOwnsDevices(runtime)) << "a socket nobody listens on";

    const int pipewire = BindSocket(runtime / "pipewire-0", true);
    EXPECT_TRUE(zv::SoundServerOwnsDevices(runtime));
    ::close(pipewire);
    ::close(stale);
}

// A server list as PULSE_SERVER holds it: an answering unix socket or a server over the network
// counts; stale or missing sockets, empty or malformed entries and entries for another machine do not.
TEST(SoundServer, PulseServerListCountsAnsweringSocketsAndNetworkServersOfThisMachine)
{
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    const std::string live = (folder / "native").string();
    const std::string stale = (folder / "stale").string();
    const std::string missing = (folder / "missing").string();
    const int liveFd = BindSocket(live, true);
    const int staleFd = BindSocket(stale, false);

    const struct {
        std::string list;
        bool server;
    } cases[] = {
        { "", false },
        { " \t ", false },
        { "unix:" + live, true },
        { live, true },
        { "unix:" + stale, false },
        { missing, false },
        { "unix:" + missing + "  unix:" + live, true }, // any entry of the list
        { "unix:" + stale + "\t" + missing, false },
        { "tcp:studio.example:4713", true },
        { "tcp4:192.0.2.7", true },
        { "tcp6:[::1]:4713", true },
        { "studio.example", true },
        { "192.0.2.7:4713", true },
        { "tcp:", false },
        { "unix:", false },
        { ":4713", false },
        { "{0123abcd}unix:" + live, true },
        { "{0123abcd}tcp:studio.example", true },
        { "{0123abcd}", false },
        { "{ffff0000}unix:" + live, false }, // another machine's socket
        { "{ffff0000}tcp:studio.example", false },
        { "{ffff0000}unix:" + live + " " + live, true },
        { "{0123abcd" + live, false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::PulseServerListNamesServer(c.list, "0123abcd"), c.server) << "\"" << c.list << '"';
    }
    EXPECT_FALSE(zv::PulseServerListNamesServer("{0123abcd}unix:" + live, ""))
        << "without a machine id, no prefixed entry is this machine's";
    ::close(liveFd);
    ::close(staleFd);
}

// The session's check takes PULSE_SERVER first, with this machine's id, then the runtime folders.
TEST(SoundServer, PulseServerInTheEnvironmentMakesASoundServer)
{
    QTemporaryDir runtime;
    QTemporaryDir elsewhere;
    const std::string socket = (std::filesystem::path(elsewhere.path().toStdString()) / "native").string();
    const int fd = BindSocket(socket, true);
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto pulseServer = saved("PULSE_SERVER");
    const auto runtimePath = saved("PULSE_RUNTIME_PATH");
    const auto xdgRuntime = saved("XDG_RUNTIME_DIR");
    ::unsetenv("PULSE_RUNTIME_PATH");
    ::setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);

    ::unsetenv("PULSE_SERVER");
    EXPECT_FALSE(zv::SoundServerOwnsDevices());
    ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    EXPECT_TRUE(zv::SoundServerOwnsDevices());
    ::setenv("PULSE_SERVER", ("{not-this-machine}unix:" + socket).c_str(), 1);
    EXPECT_FALSE(zv::SoundServerOwnsDevices());
    if (const std::string id = zv::LocalMachineId(); !id.empty()) {
        ::setenv("PULSE_SERVER", ("{" + id + "}unix:" + socket).c_str(), 1);
        EXPECT_TRUE(zv::SoundServerOwnsDevices());
    }

    const auto restore = [](const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    };
    restore("PULSE_SERVER", pulseServer);
    restore("PULSE_RUNTIME_PATH", runtimePath);
    restore("XDG_RUNTIME_DIR", xdgRuntime);
    ::close(fd);
}

// Away: the session's sound server left its traces (PulseAudio's folder, PipeWire's lock, a unix
// socket PULSE_SERVER names) and nothing answers. No traces at all is a machine without one; an
// answering socket, or a server over the network, is a server that is there.
TEST(SoundServer, AwayWhenItsTracesRemainButNothingAnswers)
{
    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    const auto folder = [&](const char* name) {
        std::filesystem::create_directories(root / name);
        return root / name;
    };
    const std::filesystem::path empty = folder("empty");
    const std::filesystem::path pulseGone = folder("pulse-gone");
    std::filesystem::create_directory(pulseGone / "pulse");
    const std::filesystem::path pipewireGone = folder("pipewire-gone");
    std::ofstream(pipewireGone / "pipewire-0.lock").put('\n');
    const std::filesystem::path pulseHere = folder("pulse-here");
    std::filesystem::create_directory(pulseHere / "pulse");
    const int live = BindSocket(pulseHere / "pulse" / "native", true);
    const std::string liveList = "unix:" + (pulseHere / "pulse" / "native").string();
    const std::string goneList = "unix:" + (root / "nothing" / "native").string();

    const struct {
        const std::filesystem::path& runtime;
        std::string pulseServer;
        bool away;
    } cases[] = {
        { empty, "", false },
        { pulseGone, "", true },
        { pipewireGone, "", true },
        { pulseHere, "", false },
        { empty, goneList, true },
        { empty, "{" + zv::LocalMachineId() + "}" + goneList.substr(5), true },
        { empty, "{another-machine}" + goneList.substr(5), false },
        { empty, liveList, false },
        { pulseGone, liveList, false },
        { pulseGone, "tcp:studio.example:4713", false },
        { empty, "tcp:studio.example:4713", false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::SoundServerAway(c.runtime, c.pulseServer), c.away)
            << c.runtime.filename() << " PULSE_SERVER=" << c.pulseServer;
    }
    ::close(live);
}
