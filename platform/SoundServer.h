#pragma once

#include <filesystem>

namespace zv {

// Whether a sound server (PipeWire or PulseAudio) owns the sound devices of this session: one of
// their sockets in the session's runtime folder ($XDG_RUNTIME_DIR, else /run/user/UID; PulseAudio's
// $PULSE_RUNTIME_PATH too) accepts a connection. Then capture goes through the default device and the
// card's own mixer is left to the server.
bool SoundServerOwnsDevices();

// The same check against one runtime folder: runtimeDir/pipewire-0 or runtimeDir/pulse/native.
bool SoundServerOwnsDevices(const std::filesystem::path& runtimeDir);

} // namespace zv
