#pragma once

// Helpers of the capture tests: the Qt application the component posts to, a bounded event pump,
// and a WAV file with a known signal.

#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace test {

inline QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "zoveva-unit-audio";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    return app;
}

// The shared bounded waits, run on the owner's event loop.
using zv::test::Pump;
using zv::test::PumpUntil;

// Frame i of the test signal: left counts up, right counts down, both wrapping; no two frames in
// a second are alike, so a lost, repeated or shifted frame shows.
inline std::vector<char> SignalBytes(int frames)
{
    std::vector<char> bytes(std::size_t(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        const auto left = std::int16_t(i % 30011 - 15000);
        const auto right = std::int16_t(-(i % 29989) + 14000);
        std::memcpy(&bytes[std::size_t(i) * 4], &left, 2);
        std::memcpy(&bytes[std::size_t(i) * 4 + 2], &right, 2);
    }
    return bytes;
}

inline void PutU32(std::string& s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}

inline void PutU16(std::string& s, std::uint16_t v)
{
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}

// A RIFF WAVE image of 16-bit PCM data.
inline std::string WavImage(const std::vector<char>& pcm, int channels = 2, int rate = 44100, int bits = 16)
{
    std::string s = "RIFF";
    PutU32(s, std::uint32_t(36 + pcm.size()));
    s += "WAVEfmt ";
    PutU32(s, 16);
    PutU16(s, 1);
    PutU16(s, std::uint16_t(channels));
    PutU32(s, std::uint32_t(rate));
    PutU32(s, std::uint32_t(rate * channels * bits / 8));
    PutU16(s, std::uint16_t(channels * bits / 8));
    PutU16(s, std::uint16_t(bits));
    s += "data";
    PutU32(s, std::uint32_t(pcm.size()));
    s.append(pcm.data(), pcm.size());
    return s;
}

inline std::string WriteFile(const QTemporaryDir& dir, const char* name, const std::string& bytes)
{
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

} // namespace test
