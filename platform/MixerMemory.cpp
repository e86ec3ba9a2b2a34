// The in-memory mixer: lines, controls and values from a table. Changes reach the open handles as
// they do from a card: posted to the thread that opened them, after the call that made them.

#include "platform/Mixer.h"
#include "platform/MixerStructure.h"
#include "platform/WaveIn.h"

#include <QObject>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zv {

namespace {

using detail::MixerStructure;

class MemoryOps final : public MemoryMixerOps {
public:
    MemoryOps(const std::vector<MemoryMixerTable>& tables, bool hasMapper)
        : m_hasMapper(hasMapper)
    {
        for (const MemoryMixerTable& t : tables) {
            m_mixers.push_back(Build(t));
        }
    }

    const char* Name() const override { return "memory"; }
    int GetNumDevs() override { return int(m_mixers.size()); }

    int GetDevCaps(int id, TMixerCaps& caps) override
    {
        const int d = DeviceOf(id);
        if (d < 0) {
            return mixer::BadDeviceId;
        }
        caps = m_mixers[std::size_t(d)].structure.Caps();
        return mixer::NoError;
    }

    int GetErrorText(int code, char* text, std::size_t size) override
    {
        return detail::StandardMixerErrorText(code, text, size);
    }

    int Open(MixerHandle* handle, int id, MixerCallback callback, void* instance) override
    {
        const int d = DeviceOf(id);
        if (d < 0) {
            return mixer::BadDeviceId;
        }
        if (!handle) {
            return mixer::InvalidParam;
        }
        if (!m_mixers[std::size_t(d)].connected) {
            return mixer::NoDriver;
        }
        auto h = std::make_unique<Handle>();
        h->id = id;
        h->device = d;
        h->callback = callback;
        h->instance = instance;
        h->receiver = std::make_unique<QObject>();
        *handle = reinterpret_cast<MixerHandle>(h.get());
        m_handles.push_back(std::move(h));
        return mixer::NoError;
    }

    int Close(MixerHandle handle) override
    {
        const auto it = std::find_if(m_handles.begin(), m_handles.end(),
            [&](const auto& h) { return reinterpret_cast<MixerHandle>(h.get()) == handle; });
        if (it == m_handles.end()) {
            return mixer::InvalidHandle;
        }
        // Reports still on their way find the handle closed. The receiver may be delivering one of
        // them right now, so it goes once control is back in the event loop.
        *(*it)->alive = false;
        (*it)->receiver.release()->deleteLater();
        m_handles.erase(it);
        return mixer::NoError;
    }

    int GetID(MixerHandle handle, int* id) override
    {
        const Handle* h = Find(handle);
        if (!h) {
            return mixer::InvalidHandle;
        }
        *id = h->id;
        return mixer::NoError;
    }

    int GetIdOf(mixer::TargetType, const char* productName, int* id) override
    {
        *id = -1;
        for (std::size_t d = 0; d < m_mixers.size(); ++d) {
            if (productName
                && std::strncmp(
                       m_mixers[d].structure.Caps().szPname, productName, mixer::ProductNameChars - 1)
                    == 0) {
                *id = int(d);
                break;
            }
        }
        return mixer::NoError;
    }

    int GetLineInfo(MixerObject obj, TMixerLine& line, MixerLineQuery query) override
    {
        Mixer* m = nullptr;
        if (const int e = Resolve(obj, &m)) {
            return e;
        }
        return m->structure.LineInfo(line, query);
    }

    int GetLineControl(
        MixerObject obj, std::uint32_t lineId, std::uint32_t type, TMixerControl& control) override
    {
        Mixer* m = nullptr;
        if (const int e = Resolve(obj, &m)) {
            return e;
        }
        return m->structure.LineControl(lineId, type, control);
    }

    int GetControl(
        MixerObject obj, std::uint32_t controlId, TMixerControl& control, std::uint32_t* lineId) override
    {
        Mixer* m = nullptr;
        if (const int e = Resolve(obj, &m)) {
            return e;
        }
        return m->structure.ControlById(controlId, control, lineId);
    }

    int GetControlValues(
        MixerObject obj, std::uint32_t controlId, int channels, int items, std::int32_t* values) override
    {
        Mixer* m = nullptr;
        if (const int e = Resolve(obj, &m)) {
            return e;
        }
        if (const int e = m->structure.CheckShape(controlId, channels, items)) {
            return e;
        }
        const auto* c = m->structure.FindControl(controlId);
        detail::ReadValues(m->values[controlId], c->channels, channels, items, values);
        return mixer::NoError;
    }

    int SetControlValues(MixerObject obj, std::uint32_t controlId, int channels, int items,
        const std::int32_t* values) override
    {
        Mixer* m = nullptr;
        if (const int e = Resolve(obj, &m)) {
            return e;
        }
        if (const int e = m->structure.CheckShape(controlId, channels, items)) {
            return e;
        }
        const auto* c = m->structure.FindControl(controlId);
        detail::WriteValues(m->values[controlId], c->channels, channels, items, values);
        ++m_writes;
        Tell(int(m - m_mixers.data()), MixerNotification::ControlChange, controlId);
        return mixer::NoError;
    }

    int GetListTexts(MixerObject obj, std::uint32_t controlId, int items, TMixerListText* texts) override
    {
        Mixer* m = nullptr;
        if (const int e = Resolve(obj, &m)) {
            return e;
        }
        return m->structure.ListTexts(controlId, items, texts);
    }

    int SetValuesFromOutside(
        int id, std::uint32_t controlId, const std::vector<std::int32_t>& values) override
    {
        const int d = DeviceOf(id);
        if (d < 0) {
            return mixer::BadDeviceId;
        }
        Mixer& m = m_mixers[std::size_t(d)];
        const auto* c = m.structure.FindControl(controlId);
        if (!c) {
            return mixer::InvalidControl;
        }
        const std::size_t items = std::max<std::size_t>(c->info.cMultipleItems, 1);
        if (values.size() != items * c->channels) {
            return mixer::InvalidParam;
        }
        detail::WriteValues(
            m.values[controlId], c->channels, int(c->channels), int(c->info.cMultipleItems), values.data());
        ++m_writes;
        Tell(d, MixerNotification::ControlChange, controlId);
        return mixer::NoError;
    }

    void Disconnect(int id) override
    {
        const int d = DeviceOf(id);
        if (d < 0 || !m_mixers[std::size_t(d)].connected) {
            return;
        }
        m_mixers[std::size_t(d)].connected = false;
        for (const auto& h : m_handles) {
            if (h->device == d && !h->failed) {
                h->failed = true;
                Post(*h, MixerNotification::Failed, mixer::DeviceLost);
            }
        }
    }

    void Reconnect(int id) override
    {
        const int d = DeviceOf(id);
        if (d >= 0) {
            m_mixers[std::size_t(d)].connected = true;
        }
    }

    std::uint64_t WriteCount() const override { return m_writes; }

private:
    struct Mixer {
        MixerStructure structure;
        std::vector<std::vector<std::int32_t>> values; // by control id
        bool connected = true;
    };
    struct Handle {
        int id = 0;
        int device = 0;
        MixerCallback callback = nullptr;
        void* instance = nullptr;
        bool failed = false;
        std::shared_ptr<bool> alive = std::make_shared<bool>(true);
        std::unique_ptr<QObject> receiver; // lives on the opening thread; reports are posted to it
    };

    static Mixer Build(const MemoryMixerTable& t)
    {
        Mixer m;
        MixerStructure& s = m.structure;
        s.Caps().wMid = t.mid;
        s.Caps().wPid = t.pid;
        s.Caps().vDriverVersion = t.version;
        CopyMixerName(t.name, s.Caps().szPname, sizeof s.Caps().szPname);
        auto addControls
            = [&](std::uint32_t lineId, const MemoryLine& line, const MemoryLine& dest, std::uint32_t d) {
                  for (const MemoryControl& c : line.controls) {
                      std::uint32_t steps = c.steps;
                      if (steps == 0 && (c.type >> 28) == 5) {
                          steps = std::uint32_t(c.maximum - c.minimum);
                      }
                      const std::uint32_t id = s.AddControl(
                          lineId, c.type, c.name, c.shortName, c.flags, c.minimum, c.maximum, steps);
                      if (mixer::IsListControl(c.type) || (c.flags & mixer::ControlMultiple)) {
                          std::vector<TMixerListText> items;
                          if (c.items.empty()) {
                              for (std::uint32_t i = 0; i < dest.sources.size(); ++i) {
                                  TMixerListText text {};
                                  text.dwParam1 = detail::SourceLineId(d, i);
                                  CopyMixerName(dest.sources[i].name, text.szName, sizeof text.szName);
                                  items.push_back(text);
                              }
                          } else {
                              for (const std::string& name : c.items) {
                                  TMixerListText text {};
                                  CopyMixerName(name, text.szName, sizeof text.szName);
                                  items.push_back(text);
                              }
                          }
                          s.SetItems(id, items);
                      }
                      const auto* built = s.FindControl(id);
                      std::vector<std::int32_t> values(
                          built->channels * std::max<std::size_t>(built->info.cMultipleItems, 1), 0);
                      std::copy_n(c.values.begin(), std::min(c.values.size(), values.size()), values.begin());
                      m.values.push_back(values);
                  }
              };
        for (std::uint32_t d = 0; d < t.destinations.size(); ++d) {
            const MemoryLine& dest = t.destinations[d];
            const std::uint32_t destId = s.AddDestination(
                dest.componentType, dest.name, dest.shortName, dest.channels, dest.flags, dest.target);
            // Sources first, so that the destination's selector can name their lines; controls are
            // numbered as the table lists them either way.
            addControls(destId, dest, dest, d);
            for (const MemoryLine& src : dest.sources) {
                const std::uint32_t srcId = s.AddSource(
                    src.componentType, src.name, src.shortName, src.channels, src.flags, src.target);
                addControls(srcId, src, dest, d);
            }
        }
        return m;
    }

    int DeviceOf(int id) const
    {
        if (id == -1 && m_hasMapper && !m_mixers.empty()) {
            return 0;
        }
        return id >= 0 && id < int(m_mixers.size()) ? id : -1;
    }

    Handle* Find(MixerHandle handle) const
    {
        for (const auto& h : m_handles) {
            if (reinterpret_cast<MixerHandle>(h.get()) == handle) {
                return h.get();
            }
        }
        return nullptr;
    }

    int Resolve(MixerObject obj, Mixer** out)
    {
        int d;
        if (obj.handle) {
            const Handle* h = Find(obj.handle);
            if (!h) {
                return mixer::InvalidHandle;
            }
            if (h->failed) {
                return mixer::NoDriver;
            }
            d = h->device;
        } else {
            d = DeviceOf(obj.id);
            if (d < 0) {
                return mixer::BadDeviceId;
            }
        }
        if (!m_mixers[std::size_t(d)].connected) {
            return mixer::NoDriver;
        }
        *out = &m_mixers[std::size_t(d)];
        return mixer::NoError;
    }

    void Tell(int device, MixerNotification message, std::int64_t param)
    {
        for (const auto& h : m_handles) {
            if (h->device == device && !h->failed) {
                Post(*h, message, param);
            }
        }
    }

    static void Post(Handle& h, MixerNotification message, std::int64_t param)
    {
        const MixerHandle handle = reinterpret_cast<MixerHandle>(&h);
        const MixerCallback callback = h.callback;
        void* instance = h.instance;
        std::shared_ptr<bool> alive = h.alive;
        if (!callback) {
            return;
        }
        QMetaObject::invokeMethod(
            h.receiver.get(),
            [=] {
                if (*alive) {
                    callback(handle, message, instance, param);
                }
            },
            Qt::QueuedConnection);
    }

    std::vector<Mixer> m_mixers;
    std::vector<std::unique_ptr<Handle>> m_handles;
    const bool m_hasMapper;
    std::uint64_t m_writes = 0;
};

MemoryControl Volume(const std::string& name, std::int32_t value)
{
    MemoryControl c;
    c.type = mixer::CtlVolume;
    c.name = name;
    c.steps = 31; // as coarse as a common sound chip's volume
    c.values = { value, value };
    return c;
}

MemoryControl Mute(const std::string& name, bool muted)
{
    MemoryControl c;
    c.type = mixer::CtlMute;
    c.name = name;
    c.flags = mixer::ControlUniform;
    c.maximum = 1;
    c.values = { muted ? 1 : 0 };
    return c;
}

MemoryLine Source(std::uint32_t type, const std::string& name, std::vector<MemoryControl> controls)
{
    MemoryLine l;
    l.componentType = type;
    l.name = name;
    l.controls = std::move(controls);
    return l;
}

} // namespace

std::unique_ptr<MemoryMixerOps> MakeMemoryMixer(const std::vector<MemoryMixerTable>& mixers, bool hasMapper)
{
    return std::make_unique<MemoryOps>(mixers, hasMapper);
}

MemoryMixerTable SyntheticMixerTable(const std::string& productName)
{
    MemoryMixerTable t;
    t.name = productName;
    auto target = [&](mixer::TargetType type) {
        TMixerLineTarget tg {};
        tg.dwType = type;
        tg.vDriverVersion = t.version; // what the synthetic capture devices report
        CopyMixerName(productName, tg.szPname, sizeof tg.szPname);
        return tg;
    };

    MemoryLine speakers;
    speakers.componentType = mixer::DstSpeakers;
    speakers.name = "Speakers";
    speakers.target = target(mixer::TargetWaveOut);
    speakers.controls = { Volume("Master Volume", 49152), Mute("Master Mute", false) };
    speakers.sources = {
        Source(mixer::SrcLine, "Line In", { Volume("Line In Volume", 32768), Mute("Line In Mute", false) }),
        Source(mixer::SrcMicrophone, "Microphone",
            { Volume("Microphone Volume", 32768), Mute("Microphone Mute", true) }),
        Source(mixer::SrcCompactDisc, "CD Audio",
            { Volume("CD Audio Volume", 32768), Mute("CD Audio Mute", false) }),
    };

    MemoryLine recording;
    recording.componentType = mixer::DstWaveIn;
    recording.name = "Recording";
    recording.target = target(mixer::TargetWaveIn);
    MemoryControl selector;
    selector.type = mixer::CtlMux;
    selector.name = "Recording Source";
    selector.flags = mixer::ControlUniform;
    selector.maximum = 2;
    selector.values = { 1, 0, 0 }; // line input
    recording.controls = { selector, Volume("Recording Volume", 49152) };
    recording.sources = {
        Source(mixer::SrcLine, "Line In", { Volume("Line In Volume", 45000) }),
        Source(mixer::SrcMicrophone, "Microphone", { Volume("Microphone Volume", 40000) }),
        Source(mixer::SrcCompactDisc, "CD Audio", { Volume("CD Audio Volume", 32768) }),
    };
    t.destinations = { speakers, recording };
    return t;
}

MixerOps& DefaultMixer()
{
    static MixerOps* chosen = [] {
        const char* which = std::getenv("ZOVEVA_WAVEIN");
        if (which && std::strcmp(which, "synthetic") == 0) {
            std::vector<MemoryMixerTable> tables;
            for (const SyntheticDevice& d : SyntheticDevicesFromEnvironment()) {
                TWaveInCaps caps {};
                std::snprintf(
                    caps.szPname, sizeof caps.szPname, "%s", d.name.c_str()); // as the capture lists it
                tables.push_back(SyntheticMixerTable(caps.szPname));
            }
            return static_cast<MixerOps*>(MakeMemoryMixer(tables, true).release());
        }
        return &AlsaMixer();
    }();
    return *chosen;
}

} // namespace zv
