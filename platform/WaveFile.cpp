#include "platform/WaveFile.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zv {

namespace {
std::uint32_t U32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16
        | std::uint32_t(b[3]) << 24;
}

std::uint16_t U16(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint16_t(b[0] | b[1] << 8);
}

bool Fail(std::string* error, const char* why)
{
    if (error) {
        *error = why;
    }
    return false;
}
} // namespace

bool ParseWaveFile(const char* Bytes, std::size_t Size, WaveFileData& Out, std::string* Error)
{
    if (Size < 12 || std::memcmp(Bytes, "RIFF", 4) != 0 || std::memcmp(Bytes + 8, "WAVE", 4) != 0) {
        return Fail(Error, "not a RIFF WAVE file");
    }
    bool haveFormat = false;
    const char* data = nullptr;
    std::size_t dataSize = 0;
    std::size_t pos = 12;
    while (pos + 8 <= Size) {
        const char* chunk = Bytes + pos;
        const std::size_t length = U32(chunk + 4);
        const std::size_t available = Size - pos - 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || length > available) {
                return Fail(Error, "truncated format chunk");
            }
            TWaveFormatEx& f = Out.format;
            f.wFormatTag = U16(chunk + 8);
            f.nChannels = U16(chunk + 10);
            f.nSamplesPerSec = U32(chunk + 12);
            f.nAvgBytesPerSec = U32(chunk + 16);
            f.nBlockAlign = U16(chunk + 20);
            f.wBitsPerSample = U16(chunk + 22);
            f.cbSize = 0;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            data = chunk + 8;
            dataSize = length < available ? length : available; // a short last chunk keeps what is there
            break;
        }
        if (length > available) {
            break;
        }
        pos += 8 + length + (length & 1); // chunks are padded to even sizes
    }
    if (!haveFormat) {
        return Fail(Error, "no format chunk");
    }
    TWaveFormatEx& f = Out.format;
    if (f.wFormatTag != WAVE_FORMAT_PCM || (f.wBitsPerSample != 8 && f.wBitsPerSample != 16)
        || (f.nChannels != 1 && f.nChannels != 2) || f.nSamplesPerSec < 1000 || f.nSamplesPerSec > 200000) {
        return Fail(Error, "not 8- or 16-bit PCM in one or two channels");
    }
    // The derived fields are recomputed: a file that states them wrongly must not break framing.
    f.nBlockAlign = std::uint16_t(f.nChannels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    if (!data) {
        return Fail(Error, "no data chunk");
    }
    const std::size_t whole = dataSize - dataSize % f.nBlockAlign;
    if (whole == 0) {
        return Fail(Error, "no sample frames");
    }
    Out.data.assign(data, data + whole);
    return true;
}

bool ReadWaveFile(const std::string& Path, WaveFileData& Out, std::string* Error)
{
    std::ifstream in(Path, std::ios::binary | std::ios::ate);
    if (!in) {
        return Fail(Error, "cannot open the file");
    }
    // The whole file is held in memory; anything near this size is not a loop to play.
    constexpr std::streamoff kMaxBytes = 256LL << 20;
    if (in.tellg() > kMaxBytes) {
        return Fail(Error, "file too large");
    }
    in.seekg(0);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseWaveFile(bytes.data(), bytes.size(), Out, Error);
}

} // namespace zv
