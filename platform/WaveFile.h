#pragma once

// Reader of RIFF WAVE files with 8- or 16-bit PCM in one or two channels: the synthetic input
// plays such a file in a loop.

#include "platform/WaveTypes.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zv {

struct WaveFileData {
    TWaveFormatEx format {};
    std::vector<char> data; // whole frames only
};

// False with a reason in Error when the bytes are not such a file or hold no whole frame.
bool ParseWaveFile(const char* Bytes, std::size_t Size, WaveFileData& Out, std::string* Error = nullptr);
bool ReadWaveFile(const std::string& Path, WaveFileData& Out, std::string* Error = nullptr);

} // namespace zv
