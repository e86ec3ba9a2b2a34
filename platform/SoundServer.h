#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zv {

// Whether a sound server (PipeWire or PulseAudio) owns the sound devices of this session: a server
// that $PULSE_SERVER names (see PulseServerListNamesServer), or one of their sockets in the session's
// runtime folder ($XDG_RUNTIME_DIR, else /run/user/UID; PulseAudio's $PULSE_RUNTIME_PATH too) accepts
// a connection. Then capture goes through the default device and the card's own mixer is left to the
// server.
bool SoundServerOwnsDevices();

// The same check against one runtime folder: runtimeDir/pipewire-0 or runtimeDir/pulse/native.
bool SoundServerOwnsDevices(const std::filesystem::path& runtimeDir);

// Whether a server list in the form of $PULSE_SERVER (entries separated by blanks, each
// "unix:/path", a bare "/path", "tcp:host:port", "tcp4:", "tcp6:" or a bare host, optionally behind
// "{machine-id}") names a sound server this client would use: one of its unix sockets accepts a
// connection, or it names a server over the network (not tried: a remote host may take long to
// answer, and whoever set the variable meant the devices to be that server's). An entry for another
// machine id is left out, as the sound server's clients leave it out.
bool PulseServerListNamesServer(std::string_view list, std::string_view machineId);

// Whether this session's sound server is away: it has left its traces (PulseAudio's folder in the
// runtime folder, PipeWire's socket or lock file, a unix socket $PULSE_SERVER names) but none of them
// accepts a connection. Then the default device, which goes through it, is missing until it returns.
bool SoundServerAway();

// The same against one runtime folder and a server list in the form of $PULSE_SERVER (may be empty).
bool SoundServerAway(const std::filesystem::path& runtimeDir, std::string_view pulseServer);

// This machine's id as the sound server's clients compare it: /etc/machine-id, else D-Bus's copy,
// else the host name; empty when none can be read.
std::string LocalMachineId();

} // namespace zv
