// The wave-in bindings below the component: the queue of buffers, stop and reset, refusals, the
// WAV reader and the synthetic device list.

#include "WaveInSupport.h"
#include "platform/WaveFile.h"
#include "platform/WaveIn.h"

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using namespace std::chrono_literals;

// Records every notification; the data ones come from the binding's thread.
struct Recorder {
    static void Callback(
        zv::WaveInHandle, zv::WaveInNotification message, void* instance, std::uintptr_t p1, std::uintptr_t)
    {
        auto* self = static_cast<Recorder*>(instance);
        std::lock_guard lock(self->m);
        if (message == zv::WaveInNotification::Data)
            self->returned.push_back(reinterpret_cast<TWaveHdr*>(p1));
        else
            self->other.push_back(message);
        self->cv.notify_all();
    }
    bool WaitFor(std::size_t count)
    {
        std::unique_lock lock(m);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return returned.size() >= count; });
    }
    std::mutex m;
    std::condition_variable cv;
    std::vector<TWaveHdr*> returned;
    std::vector<zv::WaveInNotification> other;
};

struct Buffer {
    explicit Buffer(std::uint32_t bytes)
        : data(bytes)
    {
        header.lpData = data.data();
        header.dwBufferLength = bytes;
    }
    std::vector<char> data;
    TWaveHdr header {};
};

TWaveFormatEx Stereo16()
{
    TWaveFormatEx f {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = 176400;
    return f;
}

TEST(WaveInBinding, QueueRefusesDoubleQueueingAndReturnsEverythingOnReset)
{
    auto ops = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::Tone, "Tone", {}, -1, true } });
    Recorder rec;
    zv::WaveInHandle h = 0;
    ASSERT_EQ(ops->Open(&h, 0, Stereo16(), &Recorder::Callback, &rec, 0), 0);
    EXPECT_EQ(rec.other, std::vector { zv::WaveInNotification::OpenDone });

    Buffer a(4096), b(4096), c(4096);
    EXPECT_EQ(ops->AddBuffer(h, &a.header), zv::wave::Unprepared);
    for (Buffer* x : { &a, &b, &c })
        ASSERT_EQ(ops->PrepareHeader(h, &x->header), 0);
    ASSERT_EQ(ops->AddBuffer(h, &a.header), 0);
    ASSERT_EQ(ops->AddBuffer(h, &b.header), 0);
    EXPECT_EQ(ops->AddBuffer(h, &a.header), zv::wave::StillRecording); // never twice in the ring
    EXPECT_EQ(ops->UnprepareHeader(h, &a.header), zv::wave::StillRecording);
    EXPECT_EQ(ops->Close(h), zv::wave::StillRecording);

    ASSERT_EQ(ops->Start(h), 0);
    ASSERT_TRUE(rec.WaitFor(1)); // about 23 ms of tone
    EXPECT_EQ(rec.returned[0], &a.header);
    EXPECT_EQ(a.header.dwBytesRecorded, 4096u);
    EXPECT_TRUE(a.header.dwFlags & WHDR_DONE);
    TMMTime t { TMMTime::Samples, 0 };
    ASSERT_EQ(ops->GetPosition(h, t), 0);
    EXPECT_GE(t.value, 1024u);

    ASSERT_EQ(ops->AddBuffer(h, &c.header), 0);
    ASSERT_EQ(ops->Reset(h), 0);
    ASSERT_TRUE(rec.WaitFor(3));
    {
        std::lock_guard lock(rec.m);
        EXPECT_EQ(rec.returned, (std::vector<TWaveHdr*> { &a.header, &b.header, &c.header }));
    }
    EXPECT_TRUE(c.header.dwFlags & WHDR_DONE);
    ASSERT_EQ(ops->GetPosition(h, t), 0);
    EXPECT_EQ(t.value, 0u);
    EXPECT_EQ(ops->UnprepareHeader(h, &a.header), 0);
    EXPECT_FALSE(a.header.dwFlags & WHDR_PREPARED);
    ASSERT_EQ(ops->Close(h), 0);
    EXPECT_EQ(rec.other.back(), zv::WaveInNotification::CloseDone);
}

TEST(WaveInBinding, StopReturnsThePartlyFilledBufferOnly)
{
    auto ops = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::Silence, "Silence", {}, -1, true } });
    Recorder rec;
    zv::WaveInHandle h = 0;
    ASSERT_EQ(ops->Open(&h, 0, Stereo16(), &Recorder::Callback, &rec, 0), 0);
    Buffer big(176400), next(4096); // one second, then more room
    for (Buffer* x : { &big, &next }) {
        ASSERT_EQ(ops->PrepareHeader(h, &x->header), 0);
        ASSERT_EQ(ops->AddBuffer(h, &x->header), 0);
    }
    ASSERT_EQ(ops->Start(h), 0);
    // A paced device fills the big buffer a piece at a time: wait until some of it is there.
    test::PumpUntil(
        [&] {
            TMMTime t { TMMTime::Samples, 0 };
            return ops->GetPosition(h, t) == 0 && t.value > 0;
        },
        2s);
    ASSERT_EQ(ops->Stop(h), 0);
    ASSERT_TRUE(rec.WaitFor(1));
    EXPECT_EQ(rec.returned.size(), 1u);
    EXPECT_EQ(rec.returned[0], &big.header);
    EXPECT_GT(big.header.dwBytesRecorded, 0u);
    EXPECT_LT(big.header.dwBytesRecorded, 176400u);
    EXPECT_EQ(big.header.dwBytesRecorded % 4, 0u);
    EXPECT_FALSE(next.header.dwFlags & WHDR_DONE);
    ASSERT_EQ(ops->Reset(h), 0);
    ASSERT_EQ(ops->Close(h), 0);
}

TEST(WaveInBinding, WavLoopIsConvertedToTheRequestedFormat)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 8-bit mono at 22050 Hz: 0, 64, 128, 192, 255.
    const std::vector<char> mono8 = { 0, 64, char(128), char(192), char(255) };
    std::string wav = test::WavImage(mono8, 1, 22050, 8);
    const std::string path = test::WriteFile(dir, "ramp.wav", wav);
    auto ops = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::WavFile, "Ramp", path, -1, false } });
    Recorder rec;
    zv::WaveInHandle h = 0;
    ASSERT_EQ(ops->Open(&h, 0, Stereo16(), &Recorder::Callback, &rec, 0), 0);
    Buffer b(4 * 12);
    ASSERT_EQ(ops->PrepareHeader(h, &b.header), 0);
    ASSERT_EQ(ops->AddBuffer(h, &b.header), 0);
    ASSERT_EQ(ops->Start(h), 0);
    ASSERT_TRUE(rec.WaitFor(1));
    std::vector<std::int16_t> s(24);
    std::memcpy(s.data(), b.data.data(), 48);
    // Each source frame twice (twice the rate), in both channels, scaled to 16 bits, looped.
    const std::int16_t expect[] = { -32768, -16384, 0, 16384, 32512 };
    for (int frame = 0; frame < 12; ++frame) {
        EXPECT_EQ(s[std::size_t(frame) * 2], expect[(frame / 2) % 5]) << frame;
        EXPECT_EQ(s[std::size_t(frame) * 2 + 1], expect[(frame / 2) % 5]) << frame;
    }
    ops->Reset(h);
    ASSERT_EQ(ops->Close(h), 0);
}

// The tone is the exact sine in every format, and goes on without a seam from one read to the next
// (reads of 1000 frames end at odd points of the tone's turn and of the device's own copy of it).
TEST(WaveInBinding, SyntheticToneIsTheExactSineAcrossReads)
{
    struct Case {
        std::uint32_t rate;
        int channels;
        int bits;
    };
    for (const Case c : { Case { 44100, 2, 16 }, Case { 48000, 1, 16 }, Case { 32000, 2, 8 } }) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, " << c.bits << " bit");
        TWaveFormatEx f {};
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.nChannels = std::uint16_t(c.channels);
        f.nSamplesPerSec = c.rate;
        f.wBitsPerSample = std::uint16_t(c.bits);
        f.nBlockAlign = std::uint16_t(c.channels * c.bits / 8);
        f.nAvgBytesPerSec = c.rate * f.nBlockAlign;
        auto ops = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::Tone, "Tone", {}, -1, false } });
        Recorder rec;
        zv::WaveInHandle h = 0;
        ASSERT_EQ(ops->Open(&h, 0, f, &Recorder::Callback, &rec, 0), 0);
        constexpr int kFrames = 1000;
        std::vector<Buffer> buffers;
        buffers.reserve(3);
        for (int i = 0; i < 3; ++i)
            buffers.emplace_back(std::uint32_t(kFrames * f.nBlockAlign));
        ASSERT_EQ(ops->Start(h), 0);
        for (std::size_t i = 0; i < buffers.size(); ++i) { // one at a time: one read each
            ASSERT_EQ(ops->PrepareHeader(h, &buffers[i].header), 0);
            ASSERT_EQ(ops->AddBuffer(h, &buffers[i].header), 0);
            ASSERT_TRUE(rec.WaitFor(i + 1));
        }
        for (int n = 0; n < 3 * kFrames; ++n) {
            const double v = std::sin(2 * M_PI * 1000.0 * n / c.rate);
            const char* frame = buffers[std::size_t(n / kFrames)].data.data() + (n % kFrames) * f.nBlockAlign;
            for (int ch = 0; ch < c.channels; ++ch) {
                const double scale = ch == 0 ? 16383 : 8191;
                if (c.bits == 16) {
                    std::int16_t got = 0;
                    std::memcpy(&got, frame + 2 * ch, 2);
                    ASSERT_NEAR(got, v * scale, 0.5 + 1e-6) << "frame " << n << ", channel " << ch;
                } else {
                    ASSERT_NEAR(std::uint8_t(frame[ch]) - 128, std::floor(std::lround(v * scale) / 256.0), 0)
                        << "frame " << n << ", channel " << ch;
                }
            }
        }
        ops->Reset(h);
        ASSERT_EQ(ops->Close(h), 0);
    }
    // The fewest frames that make whole turns: what a caller repeats to get the same tone.
    EXPECT_EQ(zv::SyntheticToneFrames(48000).size(), 2u * 48);
    EXPECT_EQ(zv::SyntheticToneFrames(44100).size(), 2u * 441);
}

TEST(WaveInBinding, UnreadableWavFileFailsToOpenWithText)
{
    auto ops = zv::MakeSyntheticWaveIn(
        { { zv::SyntheticDevice::WavFile, "Missing", "/nonexistent.wav", -1, true } });
    zv::WaveInHandle h = 0;
    const int code = ops->Open(&h, 0, Stereo16(), &Recorder::Callback, nullptr, 0);
    EXPECT_EQ(code, zv::wave::BadFile);
    char text[256];
    EXPECT_EQ(ops->GetErrorText(code, text, sizeof text), 0);
    EXPECT_STREQ(text, "The source file cannot be read");
    EXPECT_NE(ops->GetErrorText(12345, text, sizeof text), 0);
}

TEST(WaveFile, ParserAcceptsOnlyWholePcmFrames)
{
    const std::vector<char> pcm = test::SignalBytes(3);
    const std::string good = test::WavImage(pcm);
    struct Case {
        const char* what;
        std::string bytes;
        bool ok;
        std::size_t frames;
    };
    std::string odd = good;
    odd.insert(12,
        std::string("LIST\x03\x00\x00\x00"
                    "abc\x00",
            12)); // odd chunk, padded
    std::string shortData = good.substr(0, good.size() - 3); // last frame cut
    std::string lying = good;
    lying[32] = 9; // stated block align wrong: recomputed from channels and bits
    std::string tag = good;
    tag[20] = 3; // float
    std::string bits = good;
    bits[34] = 24;
    std::string huge = good;
    huge[40] = char(0xFF);
    huge[41] = char(0xFF);
    huge[42] = char(0xFF);
    huge[43] = char(0x7F); // data size beyond the file: what is there is taken
    const Case cases[] = {
        { "good", good, true, 3 },
        { "odd chunk", odd, true, 3 },
        { "short data", shortData, true, 2 },
        { "wrong block align", lying, true, 3 },
        { "huge data size", huge, true, 3 },
        { "not riff", "RIFX" + good.substr(4), false, 0 },
        { "float", tag, false, 0 },
        { "24 bits", bits, false, 0 },
        { "no data chunk", good.substr(0, 36), false, 0 },
        { "nothing", std::string(), false, 0 },
        { "one byte of data", test::WavImage({ 'x' }), false, 0 },
    };
    for (const Case& c : cases) {
        zv::WaveFileData out;
        std::string error;
        EXPECT_EQ(zv::ParseWaveFile(c.bytes.data(), c.bytes.size(), out, &error), c.ok)
            << c.what << ": " << error;
        if (c.ok) {
            EXPECT_EQ(out.data.size(), c.frames * 4) << c.what;
            EXPECT_EQ(out.format.nBlockAlign, 4) << c.what;
            EXPECT_TRUE(std::equal(out.data.begin(), out.data.end(), pcm.begin())) << c.what;
        } else {
            EXPECT_FALSE(error.empty()) << c.what;
        }
    }
}

TEST(WaveInBinding, SyntheticDeviceNamesAreStable)
{
    setenv("ZOVEVA_WAVEIN_WAV", "/music/jingle.wav::/a/b/ident.wav", 1);
    const auto devices = zv::SyntheticDevicesFromEnvironment();
    unsetenv("ZOVEVA_WAVEIN_WAV");
    std::vector<std::string> names;
    for (const auto& d : devices)
        names.push_back(d.name);
    EXPECT_EQ(names,
        (std::vector<std::string> {
            "Synthetic tone 1 kHz", "Synthetic silence", "WAV jingle.wav", "WAV ident.wav" }));
    EXPECT_EQ(devices[3].path, "/a/b/ident.wav");
}

} // namespace
