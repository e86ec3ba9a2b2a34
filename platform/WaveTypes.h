#pragma once

// The records the wave input service exchanges with its users: the wave format record, the
// buffer header, the device capability record and the position record, plus the service's
// error codes. They carry no behaviour; audio/ builds its stream model on them.

#include <cstddef>
#include <cstdint>

// Format tag of linear PCM; any other tag names a compressed format.
inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// 18 bytes, packed, little-endian: the layout of a RIFF "fmt " chunk.
#pragma pack(push, 1)
struct TWaveFormatEx {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);
using PWaveFormatEx = TWaveFormatEx*;

// dwFlags bits of a buffer header.
inline constexpr std::uint32_t WHDR_DONE = 0x1; // the device has returned the buffer
inline constexpr std::uint32_t WHDR_PREPARED = 0x2; // prepared with the device

// The service's part of a buffer header. Field order and meaning as the service defines them;
// pointers take the machine's width, so the record is larger than on 32-bit systems.
struct TWaveHdr {
    char* lpData; // the data bytes
    std::uint32_t dwBufferLength; // capacity of the data area
    std::uint32_t dwBytesRecorded; // valid bytes
    std::uint32_t dwUser;
    std::uint32_t dwFlags; // WHDR_*
    std::uint32_t dwLoops;
    TWaveHdr* lpNext; // the binding chains its queue through it
    std::uintptr_t reserved; // the binding's own use
};

// Standard-format bits of a capability record: rate band x channels x bits.
inline constexpr std::uint32_t WAVE_FORMAT_1M08 = 0x0001; // 11025 Hz mono 8-bit
inline constexpr std::uint32_t WAVE_FORMAT_1S08 = 0x0002;
inline constexpr std::uint32_t WAVE_FORMAT_1M16 = 0x0004;
inline constexpr std::uint32_t WAVE_FORMAT_1S16 = 0x0008;
inline constexpr std::uint32_t WAVE_FORMAT_2M08 = 0x0010; // 22050 Hz
inline constexpr std::uint32_t WAVE_FORMAT_2S08 = 0x0020;
inline constexpr std::uint32_t WAVE_FORMAT_2M16 = 0x0040;
inline constexpr std::uint32_t WAVE_FORMAT_2S16 = 0x0080;
inline constexpr std::uint32_t WAVE_FORMAT_4M08 = 0x0100; // 44100 Hz
inline constexpr std::uint32_t WAVE_FORMAT_4S08 = 0x0200;
inline constexpr std::uint32_t WAVE_FORMAT_4M16 = 0x0400;
inline constexpr std::uint32_t WAVE_FORMAT_4S16 = 0x0800;

// Capabilities of one input device. szPname holds at most 31 characters and a terminating zero.
struct TWaveInCaps {
    std::uint16_t wMid;
    std::uint16_t wPid;
    std::uint32_t vDriverVersion;
    char szPname[32];
    std::uint32_t dwFormats; // WAVE_FORMAT_* bits
    std::uint16_t wChannels;
};

// A device position; the caller names the unit it wants, the device may answer in another.
struct TMMTime {
    enum Type : std::uint32_t { Ms = 1, Samples = 2, Bytes = 4 };
    std::uint32_t wType;
    std::uint32_t value;
};

// Error codes of the service. 0 is success; positive codes are the service's own; a binding may
// also return negative codes of its back end (for ALSA, a negative errno), which its error-text
// operation knows.
namespace zv::wave {
enum ErrorCode : int {
    NoError = 0,
    Error = 1, // unspecified
    BadDeviceId = 2, // device id out of range
    NotEnabled = 3, // driver failed enable
    Allocated = 4, // device already allocated
    InvalidHandle = 5, // handle is not a device of this binding
    NoDriver = 6, // no device driver present
    NoMem = 7, // memory allocation error
    NotSupported = 8, // function not supported
    BadErrNum = 9, // error value out of range
    InvalidFlag = 10, // invalid flag passed
    InvalidParam = 11, // invalid parameter passed
    BadFormat = 32, // format not supported
    StillRecording = 33, // buffers still queued
    Unprepared = 34, // header not prepared
    BadFile = 35, // a source file cannot be read
};
} // namespace zv::wave
