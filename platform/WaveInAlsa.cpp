// ALSA wave input: capture-capable PCMs from the device hints, read with snd_pcm_readi on the
// shared capture engine's thread. Devices with a clock pace themselves; the clockless types
// (file, null) are paced by the engine.
//
// Listing and naming devices read the hints only. Opening a PCM can be costly and noisy: a plug-in
// PCM (PulseAudio, PipeWire, JACK) connects to its sound server, and the JACK client library prints
// to stderr, which is the encoder's log, when that server is absent. So a device is opened only
// when it is used: its formats asked for, a format queried, a capture opened.

#include "platform/AlsaLog.h"
#include "platform/WaveIn.h"
#include "platform/WaveInDevice.h"
#include "platform/WaveInErrors.h"

#include <QLoggingCategory>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <vector>

namespace zv {

namespace {

constexpr unsigned kPeriodUs = 20'000; // wake-ups of about 50 per second
constexpr unsigned kBufferUs = 500'000; // room for half a second of scheduling trouble
const char* const kDefaultPcm = "default";
const char* const kDefaultName = "Default device";

void JackMessage(const char* text)
{
    qCDebug(lcAlsa, "jack: %s", text);
}

// The plug-in type of a PCM's definition ("hw", "plug", "pulse", "jack", ...); empty when the name
// has no definition of its own.
std::string PcmType(const std::string& name)
{
    snd_config_t* top = nullptr;
    if (snd_config_update_ref(&top) < 0) {
        return {};
    }
    std::string type;
    snd_config_t* definition = nullptr;
    if (snd_config_search_definition(top, "pcm", name.c_str(), &definition) >= 0) {
        snd_config_t* node = nullptr;
        const char* value = nullptr;
        if (snd_config_search(definition, "type", &node) >= 0 && snd_config_get_string(node, &value) >= 0
            && value) {
            type = value;
        }
        snd_config_delete(definition);
    }
    snd_config_unref(top);
    return type;
}

// Before a PCM is opened: ALSA's own complaints go to our category (InstallAlsaErrorHandler), and so
// do those of the JACK client library, through its own hooks, set on the library the JACK plug-in
// is about to load (one copy per process, found by its name). Without its server the JACK PCM
// then fails to open quietly, with ALSA's error code.
void PrepareOpen(const std::string& pcm)
{
    InstallAlsaErrorHandler();
    if (PcmType(pcm) != "jack") {
        return;
    }
    static std::once_flag once;
    std::call_once(once, [] {
        void* jack = dlopen("libjack.so.0", RTLD_LAZY | RTLD_LOCAL);
        if (!jack) {
            return; // then the plug-in cannot load either
        }
        using SetHook = void (*)(void (*)(const char*));
        for (const char* setter : { "jack_set_error_function", "jack_set_info_function" }) {
            if (auto set = reinterpret_cast<SetHook>(dlsym(jack, setter))) {
                set(&JackMessage);
            }
        }
        // Kept loaded for the life of the process, hooks and all.
    });
}

struct Entry {
    std::string pcm;
    std::string product; // at most 31 bytes
    std::string whole; // the product name before the cut; entries are one per whole name
    int rank; // among entries of one product name, the lowest rank is kept
    int order = 0; // the kept PCM's place among the hints
    bool plugin = false; // a converter, router or sound-server bridge rather than a card
};

// Cut to at most 31 bytes without splitting a UTF-8 sequence.
std::string ProductName(std::string name)
{
    if (name.size() > 31) {
        std::size_t cut = 31;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return name;
}

// Converters, routers and bridges to sound servers: listed after the cards. A card's own PCMs
// (plughw:CARD=..., a plug over its hw) name the card and stay with the cards.
bool IsPlugin(const std::string& pcm)
{
    if (pcm.find("CARD=") != std::string::npos) {
        return false;
    }
    static const char* const types[] = { "rate", "plug", "route", "linear", "lfloat", "speex", "upmix",
        "vdownmix", "ladspa", "a52", "pulse", "pipewire", "jack", "oss", "usb_stream", "arcam_av" };
    const std::string type = PcmType(pcm);
    return std::find(std::begin(types), std::end(types), type) != std::end(types);
}

int Rank(const std::string& pcm)
{
    // A card appears under several PCMs with one description; the one that converts formats and
    // is shareable where possible stands for it.
    static const char* const order[] = { "default", "sysdefault:", "plughw:", "dsnoop:" };
    for (int i = 0; i < 4; ++i) {
        if (pcm.rfind(order[i], 0) == 0) {
            return i;
        }
    }
    return pcm.rfind("hw:", 0) == 0 ? 6 : 5;
}

std::vector<Entry> Enumerate()
{
    InstallAlsaErrorHandler();
    std::vector<Entry> list;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) {
        return list;
    }
    int order = 0;
    for (void** h = hints; *h; ++h, ++order) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* desc = snd_device_name_get_hint(*h, "DESC");
        char* ioid = snd_device_name_get_hint(*h, "IOID");
        const bool capture = !ioid || std::strcmp(ioid, "Input") == 0;
        if (name && capture && std::strcmp(name, "null") != 0) {
            Entry e { name, {}, {}, Rank(name), order };
            if (e.pcm == kDefaultPcm) {
                e.product = kDefaultName;
            } else if (desc && *desc) {
                const std::string d(desc);
                e.product = d.substr(0, d.find('\n'));
            } else {
                e.product = e.pcm;
            }
            e.whole = e.product;
            e.product = ProductName(e.product);
            bool known = false;
            for (Entry& other : list) {
                if (other.whole == e.whole) {
                    known = true;
                    if (e.rank < other.rank) {
                        other = e;
                    }
                    break;
                }
            }
            if (!known) {
                list.push_back(e);
            }
        }
        std::free(name);
        std::free(desc);
        std::free(ioid);
    }
    snd_device_name_free_hint(hints);
    for (Entry& e : list) {
        e.plugin = e.pcm != kDefaultPcm && IsPlugin(e.pcm);
    }
    // The system default comes first, so that device 0 is the sound server's choice; the plug-ins
    // last, where they do not bury the cards.
    std::stable_partition(list.begin(), list.end(), [](const Entry& e) { return !e.plugin; });
    std::stable_partition(list.begin(), list.end(), [](const Entry& e) { return e.pcm == kDefaultPcm; });
    return list;
}

snd_pcm_format_t SampleFormat(const TWaveFormatEx& f)
{
    if (f.wFormatTag != WAVE_FORMAT_PCM) {
        return SND_PCM_FORMAT_UNKNOWN;
    }
    if (f.wBitsPerSample == 8) {
        return SND_PCM_FORMAT_U8;
    }
    if (f.wBitsPerSample == 16) {
        return SND_PCM_FORMAT_S16_LE;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

// Narrows params to the format; false when the device cannot take it.
bool Restrict(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, const TWaveFormatEx& f)
{
    const snd_pcm_format_t format = SampleFormat(f);
    return format != SND_PCM_FORMAT_UNKNOWN && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8
        && snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) == 0
        && snd_pcm_hw_params_set_format(pcm, params, format) == 0
        && snd_pcm_hw_params_set_channels(pcm, params, f.nChannels) == 0
        && snd_pcm_hw_params_set_rate(pcm, params, f.nSamplesPerSec, 0) == 0;
}

class AlsaCapture final : public detail::CaptureDevice {
public:
    AlsaCapture(std::string pcm, const TWaveFormatEx& format, WaveInCallback callback, void* instance)
        : CaptureDevice(format, callback, instance)
        , FName(std::move(pcm))
    {
    }
    ~AlsaCapture() override
    {
        JoinReader();
        if (FPcm) {
            snd_pcm_close(FPcm);
        }
    }

protected:
    int OpenSource() override
    {
        PrepareOpen(FName);
        int e = snd_pcm_open(&FPcm, FName.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
        if (e < 0) {
            FPcm = nullptr;
            return e;
        }
        snd_pcm_hw_params_t* params;
        snd_pcm_hw_params_alloca(&params);
        snd_pcm_hw_params_any(FPcm, params);
        if (!Restrict(FPcm, params, FFormat)) {
            CloseSource();
            return wave::BadFormat;
        }
        unsigned period = kPeriodUs, buffer = kBufferUs;
        snd_pcm_hw_params_set_buffer_time_near(FPcm, params, &buffer, nullptr);
        snd_pcm_hw_params_set_period_time_near(FPcm, params, &period, nullptr);
        if ((e = snd_pcm_hw_params(FPcm, params)) < 0) {
            CloseSource();
            return e;
        }
        const snd_pcm_type_t type = snd_pcm_type(FPcm);
        FPaced = type == SND_PCM_TYPE_FILE || type == SND_PCM_TYPE_NULL;
        return wave::NoError;
    }

    void CloseSource() override
    {
        if (FPcm) {
            snd_pcm_close(FPcm);
        }
        FPcm = nullptr;
    }

    int StartSource() override
    {
        if (snd_pcm_state(FPcm) != SND_PCM_STATE_PREPARED) {
            if (const int e = snd_pcm_prepare(FPcm); e < 0) {
                return e;
            }
        }
        const int e = snd_pcm_start(FPcm);
        return e < 0 ? e : 0;
    }

    void StopSource() override { snd_pcm_drop(FPcm); }

    long ReadSource(char* data, long frames, int timeoutMs) override
    {
        snd_pcm_sframes_t n = snd_pcm_readi(FPcm, data, snd_pcm_uframes_t(frames));
        if (n == -EAGAIN) {
            const int w = snd_pcm_wait(FPcm, timeoutMs);
            if (w == 0) {
                return 0;
            }
            n = w < 0 ? w : snd_pcm_readi(FPcm, data, snd_pcm_uframes_t(frames));
            if (n == -EAGAIN) {
                return 0;
            }
        }
        if (n == -EPIPE || n == -ESTRPIPE || n == -EINTR) {
            // Overrun or suspend: the device lost frames, the ring of buffers goes on.
            qCDebug(lcAlsa, "%s: recovering from %s", FName.c_str(), snd_strerror(int(n)));
            int e = snd_pcm_recover(FPcm, int(n), 1);
            if (e == 0 && snd_pcm_state(FPcm) != SND_PCM_STATE_RUNNING) {
                e = snd_pcm_start(FPcm);
            }
            return e < 0 ? e : 0;
        }
        return long(n);
    }

    bool Paced() const override { return FPaced; }

private:
    const std::string FName;
    snd_pcm_t* FPcm = nullptr; // reader thread once Begin returned
    bool FPaced = false;
};

class AlsaOps final : public WaveInOps {
public:
    const char* Name() const override { return "alsa"; }

    int GetNumDevs() override
    {
        std::vector<Entry> list = Enumerate();
        std::lock_guard guard(FLock);
        FList = std::move(list);
        FListed = true;
        return int(FList.size());
    }

    int GetDevCapsWithoutFormats(int id, TWaveInCaps& caps) override
    {
        Entry entry;
        if (!Lookup(id, entry)) {
            return wave::BadDeviceId;
        }
        Identify(entry, caps);
        return wave::NoError;
    }

    int GetDevCaps(int id, TWaveInCaps& caps) override
    {
        Entry entry;
        if (!Lookup(id, entry)) {
            return wave::BadDeviceId;
        }
        Identify(entry, caps);
        Probe(entry.pcm, caps);
        return wave::NoError;
    }

    std::string FullName(int id) override
    {
        Entry entry;
        return Lookup(id, entry) ? entry.whole : std::string();
    }

    int DeviceIdOf(const std::string& name) override
    {
        GetNumDevs();
        std::lock_guard guard(FLock);
        int found = -1;
        for (int id = 0; id < int(FList.size()); ++id) {
            if (FList[std::size_t(id)].whole == name) {
                return id;
            }
        }
        // A cut name, as the list had it when entries were one per cut name: the PCM that list kept
        // for it (lowest rank, then first among the hints).
        for (int id = 0; id < int(FList.size()); ++id) {
            const Entry& e = FList[std::size_t(id)];
            if (e.product != name) {
                continue;
            }
            const Entry* best = found < 0 ? nullptr : &FList[std::size_t(found)];
            if (!best || e.rank < best->rank || (e.rank == best->rank && e.order < best->order)) {
                found = id;
            }
        }
        return found;
    }

    int GetErrorText(int code, char* text, std::size_t size) override
    {
        if (code < 0) {
            std::snprintf(text, size, "%s", snd_strerror(code));
            return wave::NoError;
        }
        return detail::StandardWaveErrorText(code, text, size);
    }

    int Open(WaveInHandle* handle, int id, const TWaveFormatEx& format, WaveInCallback callback,
        void* instance, unsigned flags) override
    {
        Entry entry;
        if (!Lookup(id, entry)) {
            return wave::BadDeviceId;
        }
        if (SampleFormat(format) == SND_PCM_FORMAT_UNKNOWN) {
            return wave::BadFormat;
        }
        if (flags & FormatQuery) {
            return Query(entry.pcm, format);
        }
        if (!handle) {
            return wave::InvalidParam;
        }
        auto device = std::make_unique<AlsaCapture>(entry.pcm, format, callback, instance);
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
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? d->Prepare(hdr) : int(wave::InvalidHandle);
    }
    int UnprepareHeader(WaveInHandle h, TWaveHdr* hdr) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? d->Unprepare(hdr) : int(wave::InvalidHandle);
    }
    int AddBuffer(WaveInHandle h, TWaveHdr* hdr) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? d->Add(hdr) : int(wave::InvalidHandle);
    }
    int Start(WaveInHandle h) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? d->Start() : int(wave::InvalidHandle);
    }
    int Stop(WaveInHandle h) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? d->Stop() : int(wave::InvalidHandle);
    }
    int Reset(WaveInHandle h) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? d->Reset() : int(wave::InvalidHandle);
    }
    int GetPosition(WaveInHandle h, TMMTime& t) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        return d ? d->Position(t) : int(wave::InvalidHandle);
    }
    int GetID(WaveInHandle h, int* id) override
    {
        auto* d = detail::CaptureDevice::FromHandle(h);
        if (!d) {
            return wave::InvalidHandle;
        }
        *id = d->DeviceId();
        return wave::NoError;
    }

private:
    bool Lookup(int id, Entry& out)
    {
        if (id == -1) {
            out = { kDefaultPcm, kDefaultName, kDefaultName, 0 };
            return true;
        }
        {
            std::lock_guard guard(FLock);
            if (FListed) {
                if (id < 0 || id >= int(FList.size())) {
                    return false;
                }
                out = FList[std::size_t(id)];
                return true;
            }
        }
        GetNumDevs();
        return Lookup(id, out);
    }

    static void Identify(const Entry& entry, TWaveInCaps& caps)
    {
        caps = {};
        caps.vDriverVersion = SND_LIB_VERSION;
        std::snprintf(caps.szPname, sizeof caps.szPname, "%s", entry.product.c_str());
    }

    static int Query(const std::string& pcmName, const TWaveFormatEx& format)
    {
        PrepareOpen(pcmName);
        snd_pcm_t* pcm;
        const int e = snd_pcm_open(&pcm, pcmName.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
        if (e < 0) {
            return e;
        }
        snd_pcm_hw_params_t* params;
        snd_pcm_hw_params_alloca(&params);
        snd_pcm_hw_params_any(pcm, params);
        const bool ok = Restrict(pcm, params, format);
        snd_pcm_close(pcm);
        return ok ? int(wave::NoError) : int(wave::BadFormat);
    }

    // The standard-format bits from what the device really takes.
    static void Probe(const std::string& pcmName, TWaveInCaps& caps)
    {
        PrepareOpen(pcmName);
        snd_pcm_t* pcm;
        if (snd_pcm_open(&pcm, pcmName.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
            return; // busy or gone: the name stands, the formats stay unknown
        }
        snd_pcm_hw_params_t* any;
        snd_pcm_hw_params_t* trial;
        snd_pcm_hw_params_alloca(&any);
        snd_pcm_hw_params_alloca(&trial);
        snd_pcm_hw_params_any(pcm, any);
        const unsigned rates[] = { 11025, 22050, 44100 };
        for (int band = 0; band < 3; ++band) {
            for (int bits16 = 0; bits16 < 2; ++bits16) {
                for (int stereo = 0; stereo < 2; ++stereo) {
                    TWaveFormatEx f {};
                    f.wFormatTag = WAVE_FORMAT_PCM;
                    f.nChannels = std::uint16_t(stereo + 1);
                    f.wBitsPerSample = std::uint16_t(bits16 ? 16 : 8);
                    f.nBlockAlign = std::uint16_t(f.nChannels * f.wBitsPerSample / 8);
                    f.nSamplesPerSec = rates[band];
                    snd_pcm_hw_params_copy(trial, any);
                    if (Restrict(pcm, trial, f)) {
                        caps.dwFormats |= 1u << (band * 4 + bits16 * 2 + stereo);
                    }
                }
            }
        }
        unsigned maxChannels = 0;
        if (snd_pcm_hw_params_get_channels_max(any, &maxChannels) == 0) {
            caps.wChannels = std::uint16_t(maxChannels >= 2 ? 2 : maxChannels);
        }
        snd_pcm_close(pcm);
    }

    std::mutex FLock;
    std::vector<Entry> FList; // the last enumeration; device ids index it
    bool FListed = false;
};

} // namespace

WaveInOps& AlsaWaveIn()
{
    static AlsaOps ops;
    return ops;
}

} // namespace zv
