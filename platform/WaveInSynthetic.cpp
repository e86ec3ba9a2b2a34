// Synthetic wave input: a tone, silence, or WAV files in a loop, delivered in real time by the
// shared capture engine.

#include "platform/WaveFile.h"
#include "platform/WaveIn.h"
#include "platform/WaveInDevice.h"
#include "platform/WaveInErrors.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <numeric>

namespace zv {

namespace {

bool RecordableFormat(const TWaveFormatEx& f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16)
        && (f.nChannels == 1 || f.nChannels == 2) && f.nSamplesPerSec >= 1000 && f.nSamplesPerSec <= 200000
        && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

void CopyName(const std::string& name, char (&out)[32])
{
    std::snprintf(out, sizeof out, "%s", name.c_str());
}

class SyntheticCapture final : public detail::CaptureDevice {
public:
    SyntheticCapture(
        const SyntheticDevice& device, const TWaveFormatEx& format, WaveInCallback callback, void* instance)
        : CaptureDevice(format, callback, instance)
        , FDevice(device)
    {
    }
    ~SyntheticCapture() override { JoinReader(); }

protected:
    int OpenSource() override
    {
        if (FDevice.kind == SyntheticDevice::WavFile) {
            std::string error;
            if (!ReadWaveFile(FDevice.path, FFile, &error)) {
                return wave::BadFile;
            }
            FFileFrames = FFile.data.size() / FFile.format.nBlockAlign;
        }
        if (FDevice.kind == SyntheticDevice::Tone) {
            RenderTone();
        }
        return wave::NoError;
    }
    void CloseSource() override { }
    int StartSource() override { return wave::NoError; }
    void StopSource() override { }
    bool Paced() const override { return FDevice.paced; }

    long ReadSource(char* data, long frames, int /*timeoutMs*/) override
    {
        if (FDevice.failAfterFrames >= 0
            && FGenerated + std::uint64_t(frames) > std::uint64_t(FDevice.failAfterFrames)) {
            return -ENODEV;
        }
        switch (FDevice.kind) {
        case SyntheticDevice::Tone:
            Tone(data, frames);
            break;
        case SyntheticDevice::Silence:
            std::memset(
                data, FFormat.wBitsPerSample == 8 ? 128 : 0, std::size_t(frames) * FFormat.nBlockAlign);
            break;
        case SyntheticDevice::WavFile:
            Loop(data, frames);
            break;
        }
        FGenerated += std::uint64_t(frames);
        return frames;
    }

private:
    static void Put(char*& out, int sample16, bool bits16)
    {
        if (bits16) {
            const auto s = std::int16_t(sample16);
            std::memcpy(out, &s, 2);
            out += 2;
        } else {
            *out++ = char(std::uint8_t((sample16 >> 8) + 128));
        }
    }

    // The tone's whole turns in the device's format, repeated to some thousand frames: a read is then
    // a few copies, with nothing computed per frame.
    void RenderTone()
    {
        const std::vector<std::int16_t> cycle = SyntheticToneFrames(FFormat.nSamplesPerSec);
        const std::size_t cycleFrames = cycle.size() / 2;
        const std::size_t repeats = (1024 + cycleFrames - 1) / cycleFrames;
        const bool bits16 = FFormat.wBitsPerSample == 16;
        const bool stereo = FFormat.nChannels == 2;
        FToneFrames = cycleFrames * repeats;
        FTone.resize(FToneFrames * FFormat.nBlockAlign);
        char* out = FTone.data();
        for (std::size_t r = 0; r < repeats; ++r) {
            for (std::size_t i = 0; i < cycleFrames; ++i) {
                Put(out, cycle[i * 2], bits16);
                if (stereo) {
                    Put(out, cycle[i * 2 + 1], bits16);
                }
            }
        }
    }

    void Tone(char* out, long frames)
    {
        const std::size_t frameBytes = FFormat.nBlockAlign;
        std::size_t at = std::size_t(FGenerated % FToneFrames);
        for (std::size_t left = std::size_t(frames); left > 0;) {
            const std::size_t run = std::min(left, FToneFrames - at);
            std::memcpy(out, FTone.data() + at * frameBytes, run * frameBytes);
            out += run * frameBytes;
            left -= run;
            at = 0;
        }
    }

    // One sample of the file as 16-bit, channel 0 or 1 (a mono file answers both).
    int FileSample(std::uint64_t frame, int channel) const
    {
        const TWaveFormatEx& f = FFile.format;
        if (f.nChannels == 1) {
            channel = 0;
        }
        const char* p = FFile.data.data() + frame * f.nBlockAlign;
        if (f.wBitsPerSample == 16) {
            std::int16_t s;
            std::memcpy(&s, p + channel * 2, 2);
            return s;
        }
        return (int(std::uint8_t(p[channel])) - 128) * 256;
    }

    void Loop(char* out, long frames)
    {
        const TWaveFormatEx& f = FFile.format;
        const bool same = f.nSamplesPerSec == FFormat.nSamplesPerSec && f.nChannels == FFormat.nChannels
            && f.wBitsPerSample == FFormat.wBitsPerSample;
        if (same) {
            // The file as it stands, wrapping at its end.
            long done = 0;
            while (done < frames) {
                const std::uint64_t at = FGenerated + std::uint64_t(done);
                const std::uint64_t start = at % FFileFrames;
                const long run
                    = long(std::min<std::uint64_t>(FFileFrames - start, std::uint64_t(frames - done)));
                std::memcpy(out + std::size_t(done) * f.nBlockAlign,
                    FFile.data.data() + start * f.nBlockAlign, std::size_t(run) * f.nBlockAlign);
                done += run;
            }
            return;
        }
        // Another format: nearest earlier source frame, channels and bits converted.
        const bool bits16 = FFormat.wBitsPerSample == 16;
        for (long i = 0; i < frames; ++i) {
            const std::uint64_t n = FGenerated + std::uint64_t(i);
            const std::uint64_t source = (n * f.nSamplesPerSec / FFormat.nSamplesPerSec) % FFileFrames;
            if (FFormat.nChannels == 2) {
                Put(out, FileSample(source, 0), bits16);
                Put(out, FileSample(source, 1), bits16);
            } else {
                Put(out, (FileSample(source, 0) + FileSample(source, 1)) / 2, bits16);
            }
        }
    }

    const SyntheticDevice FDevice;
    WaveFileData FFile;
    std::uint64_t FFileFrames = 0;
    std::uint64_t FGenerated = 0; // frames made since open; reader thread only
    std::vector<char> FTone; // RenderTone
    std::size_t FToneFrames = 0;
};

class SyntheticOps final : public WaveInOps {
public:
    explicit SyntheticOps(std::vector<SyntheticDevice> devices)
        : FDevices(std::move(devices))
    {
    }

    const char* Name() const override { return "synthetic"; }
    int GetNumDevs() override { return int(FDevices.size()); }
    // Its devices and their in-memory mixers are its own, whatever server runs beside them.
    bool SoundServerOwnsDevices() override { return false; }
    bool SoundServerAway() override { return false; }

    // Whole, as the ALSA binding gives its names: a long WAV file name is not cut to 31 bytes here.
    std::string FullName(int id) override
    {
        const SyntheticDevice* d = Device(id);
        return d ? d->name : std::string();
    }

    int GetDevCaps(int id, TWaveInCaps& caps) override
    {
        const SyntheticDevice* d = Device(id);
        if (!d) {
            return wave::BadDeviceId;
        }
        caps = {};
        caps.vDriverVersion = 0x0100;
        CopyName(d->name, caps.szPname);
        // Every standard format: a file is converted to what is asked, and checked when opened.
        caps.dwFormats = 0x0FFF;
        caps.wChannels = 2;
        return wave::NoError;
    }

    int GetErrorText(int code, char* text, std::size_t size) override
    {
        if (code < 0) {
            std::snprintf(text, size, "%s", std::strerror(-code));
            return wave::NoError;
        }
        return detail::StandardWaveErrorText(code, text, size);
    }

    int Open(WaveInHandle* handle, int id, const TWaveFormatEx& format, WaveInCallback callback,
        void* instance, unsigned flags) override
    {
        const SyntheticDevice* d = Device(id);
        if (!d) {
            return wave::BadDeviceId;
        }
        if (!RecordableFormat(format)) {
            return wave::BadFormat;
        }
        if (flags & FormatQuery) {
            return wave::NoError;
        }
        if (!handle) {
            return wave::InvalidParam;
        }
        auto device = std::make_unique<SyntheticCapture>(*d, format, callback, instance);
        if (const int e = device->Begin(id)) {
            return e;
        }
        *handle = device.release()->Handle();
        return wave::NoError;
    }

    int Close(WaveInHandle h) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        if (!d) {
            return wave::InvalidHandle;
        }
        if (const int e = d->End()) {
            return e;
        }
        delete d;
        return wave::NoError;
    }

    int PrepareHeader(WaveInHandle h, TWaveHdr* hdr) override
    {
        return With(h, [&](auto* d) { return d->Prepare(hdr); });
    }
    int UnprepareHeader(WaveInHandle h, TWaveHdr* hdr) override
    {
        return With(h, [&](auto* d) { return d->Unprepare(hdr); });
    }
    int AddBuffer(WaveInHandle h, TWaveHdr* hdr) override
    {
        return With(h, [&](auto* d) { return d->Add(hdr); });
    }
    int Start(WaveInHandle h) override
    {
        return With(h, [](auto* d) { return d->Start(); });
    }
    int Stop(WaveInHandle h) override
    {
        return With(h, [](auto* d) { return d->Stop(); });
    }
    int Reset(WaveInHandle h) override
    {
        return With(h, [](auto* d) { return d->Reset(); });
    }
    int GetPosition(WaveInHandle h, TMMTime& t) override
    {
        return With(h, [&](auto* d) { return d->Position(t); });
    }
    int GetID(WaveInHandle h, int* id) override
    {
        return With(h, [&](auto* d) {
            *id = d->DeviceId();
            return int(wave::NoError);
        });
    }

private:
    const SyntheticDevice* Device(int id) const
    {
        if (id == -1 && !FDevices.empty()) {
            return &FDevices.front();
        }
        if (id < 0 || id >= int(FDevices.size())) {
            return nullptr;
        }
        return &FDevices[std::size_t(id)];
    }

    template <typename F> static int With(WaveInHandle h, F f)
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? f(d) : int(wave::InvalidHandle);
    }

    const std::vector<SyntheticDevice> FDevices;
};

} // namespace

std::vector<SyntheticDevice> SyntheticDevicesFromEnvironment()
{
    std::vector<SyntheticDevice> devices;
    devices.push_back({ SyntheticDevice::Tone, "Synthetic tone 1 kHz", {}, -1, true });
    devices.push_back({ SyntheticDevice::Silence, "Synthetic silence", {}, -1, true });
    if (const char* list = std::getenv("ZOVEVA_WAVEIN_WAV")) {
        std::string paths(list);
        std::size_t start = 0;
        while (start <= paths.size()) {
            const std::size_t end = std::min(paths.find(':', start), paths.size());
            const std::string path = paths.substr(start, end - start);
            if (!path.empty()) {
                devices.push_back({ SyntheticDevice::WavFile,
                    "WAV " + std::filesystem::path(path).filename().string(), path, -1, true });
            }
            start = end + 1;
        }
    }
    return devices;
}

std::vector<std::int16_t> SyntheticToneFrames(std::uint32_t rate)
{
    // The tone comes back to phase 0 after rate / gcd(rate, 1000) frames: a whole number of turns,
    // so repeating them is the exact sine with nothing to compute per frame. (A coarse sine table
    // stepped by a phase accumulator adds noise some 60 dB down, on which an MP3 encoder spends
    // effort that a clean tone or real sound does not cost it.)
    rate = std::max<std::uint32_t>(rate, 1);
    const auto hz = std::uint32_t(SyntheticToneHz);
    const std::uint32_t frames = rate / std::gcd(rate, hz);
    std::vector<std::int16_t> cycle(std::size_t(frames) * 2);
    for (std::uint32_t i = 0; i < frames; ++i) {
        // Reduced to a whole turn first, so the sine's argument stays small and exact.
        const double turn = double(std::uint64_t(i) * hz % rate) / double(rate);
        const double v = std::sin(2.0 * std::numbers::pi * turn);
        cycle[std::size_t(i) * 2] = std::int16_t(std::lround(v * 16383.0));
        cycle[std::size_t(i) * 2 + 1] = std::int16_t(std::lround(v * 8191.0));
    }
    return cycle;
}

std::unique_ptr<WaveInOps> MakeSyntheticWaveIn(std::vector<SyntheticDevice> Devices)
{
    return std::make_unique<SyntheticOps>(std::move(Devices));
}

WaveInOps& DefaultWaveIn()
{
    static WaveInOps* chosen = [] {
        const char* which = std::getenv("ZOVEVA_WAVEIN");
        if (which && std::strcmp(which, "synthetic") == 0) {
            return MakeSyntheticWaveIn(SyntheticDevicesFromEnvironment()).release();
        }
        if (which && *which && std::strcmp(which, "alsa") != 0) {
            qWarning("ZOVEVA_WAVEIN=%s is neither \"alsa\" nor \"synthetic\"; using ALSA", which);
        }
        return &AlsaWaveIn();
    }();
    return *chosen;
}

} // namespace zv
