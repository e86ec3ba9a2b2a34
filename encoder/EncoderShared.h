#pragma once

// What the client and the encoder process must agree on, written once for both sides: the audio
// profile's bitrate rows, the run states, and how large an encoding file may be. Qt-free on purpose,
// like the request format.

#include <array>
#include <cstdint>
#include <string_view>

namespace zv::shared {

// Run states as the encoder reports them and the client reads them.
enum RunState : std::int32_t {
    kStateStarting = 1, // from start until the server accepts the source
    kStateRunning = 2, // publishing
    kStateStopping = 4,
    kStateStopped = 5, // also after a failed connection or a lost one; never reconnects by itself
};

// One row of the bitrate table; the texts are as they stand in the profile.
struct BitrateRow {
    const char* Kbps; // the row text, also the profile's bitrate value
    const char* CompareKey; // the first five characters of Kbps: what identifies the row in a profile
    const char* AvgBytesPerSec;
    const char* SamplesPerSec;
    const char* Block; // lsamplesize and nBlockAlign
    const char* CodecData;
    bool ReplaceEvery; // the client replaces the bitrate at every occurrence, not only the first
    int Mp3Kbps; // the constant MP3 bitrate the encoder publishes for the row
};

inline constexpr std::array<BitrateRow, 4> kBitrateRows { {
    { "32000", "32000", "4000", "32000", "1536", "008800001700001E0000", false, 32 },
    { "64008", "64008", "8001", "48000", "2731", "008800000F00AD2A0000", false, 64 },
    { "96000", "96000", "12000", "48000", "4096", "008800000F0000400000", false, 96 },
    { "128016", "12801", "16002", "48000", "5462", "008800000F0059550000", true, 128 },
} };

// The row whose bitrate is `code` (e.g. 64008), or null.
constexpr const BitrateRow* BitrateRowForCode(long long code)
{
    for (const BitrateRow& row : kBitrateRows) {
        long long value = 0;
        for (const char c : std::string_view(row.Kbps)) {
            value = value * 10 + (c - '0');
        }
        if (value == code) {
            return &row;
        }
    }
    return nullptr;
}

// Encoding files are a few kilobytes; anything far larger is not one. Both sides refuse to load a
// larger file, so the client never writes one the encoder would refuse.
inline constexpr std::int64_t kMaxEncodingFileBytes = 4 * 1024 * 1024;

} // namespace zv::shared
