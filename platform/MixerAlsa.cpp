// ALSA mixer: the simple mixer interface (snd_mixer_selem_*) of the "default" control device and of
// every card, mapped onto destinations, sources and controls by MixerLayout. An open mixer watches
// its poll descriptors with QSocketNotifier on the opening thread and turns element events into
// line and control changes.

#include "platform/AlsaLog.h"
#include "platform/Mixer.h"
#include "platform/MixerLayout.h"

#include <QLoggingCategory>
#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <utility>
#include <vector>

Q_LOGGING_CATEGORY(lcAlsaMixer, "zoveva.alsa.mixer", QtWarningMsg)

namespace zv {

namespace {

using detail::AlsaLayout;
using detail::MixerElement;

const char* const kDefaultCtl = "default";
const char* const kDefaultName = "Default device"; // as the capture list names the default device

// Among a card's PCMs, the capture list names the card after the one it prefers; so do we, so that
// the settings window finds the mixer of a capture device by its name.
int Rank(const std::string& pcm)
{
    static const char* const order[] = { "sysdefault:", "plughw:", "dsnoop:" };
    for (int i = 0; i < 3; ++i) {
        if (pcm.rfind(order[i], 0) == 0) {
            return i;
        }
    }
    return pcm.rfind("hw:", 0) == 0 ? 6 : 5;
}

std::string CardName(int card)
{
    std::string best;
    int bestRank = 100;
    void** hints = nullptr;
    if (snd_device_name_hint(card, "pcm", &hints) == 0) {
        for (void** h = hints; *h; ++h) {
            char* name = snd_device_name_get_hint(*h, "NAME");
            char* desc = snd_device_name_get_hint(*h, "DESC");
            char* ioid = snd_device_name_get_hint(*h, "IOID");
            const bool capture = !ioid || std::strcmp(ioid, "Input") == 0;
            if (name && desc && *desc && capture && std::strstr(name, "CARD=")) {
                const int rank = Rank(name);
                if (rank < bestRank) {
                    bestRank = rank;
                    const std::string d(desc);
                    best = d.substr(0, d.find('\n'));
                }
            }
            std::free(name);
            std::free(desc);
            std::free(ioid);
        }
        snd_device_name_free_hint(hints);
    }
    if (best.empty()) {
        char* name = nullptr;
        if (snd_card_get_name(card, &name) == 0 && name) {
            best = name;
        }
        std::free(name);
    }
    return best.empty() ? "hw:" + std::to_string(card) : best;
}

// One loaded mixer: its elements, their mapping, and the values through ALSA.
class AlsaMixerDevice final : public detail::MixerElementAccess {
public:
    ~AlsaMixerDevice() override
    {
        if (m_mixer) {
            // Closing reports every element as removed: nobody listens any more.
            snd_mixer_set_callback(m_mixer, nullptr);
            for (snd_mixer_elem_t* e : m_elems) {
                if (e) {
                    snd_mixer_elem_set_callback(e, nullptr);
                }
            }
            snd_mixer_close(m_mixer);
        }
    }

    static int Load(const std::string& device, const std::string& name, std::unique_ptr<AlsaMixerDevice>* out)
    {
        InstallAlsaErrorHandler();
        auto d = std::make_unique<AlsaMixerDevice>();
        int e = snd_mixer_open(&d->m_mixer, 0);
        if (e < 0) {
            d->m_mixer = nullptr;
            return mixer::NoMem;
        }
        if ((e = snd_mixer_attach(d->m_mixer, device.c_str())) < 0
            || (e = snd_mixer_selem_register(d->m_mixer, nullptr, nullptr)) < 0
            || (e = snd_mixer_load(d->m_mixer)) < 0) {
            qCDebug(lcAlsaMixer, "%s: %s", device.c_str(), snd_strerror(e));
            return mixer::NoDriver; // gone, or its sound server is not running
        }
        d->m_name = name;
        d->Read();
        *out = std::move(d);
        return mixer::NoError;
    }

    // Reads the elements again and maps them.
    void Read()
    {
        m_elems.clear();
        std::vector<MixerElement> table;
        for (snd_mixer_elem_t* elem = snd_mixer_first_elem(m_mixer); elem; elem = snd_mixer_elem_next(elem)) {
            m_elems.push_back(elem);
            table.push_back(Describe(elem));
        }
        m_layout = AlsaLayout(table, m_name, SND_LIB_VERSION);
    }

    // The library frees an element right after reporting its removal: its slot keeps the layout's
    // numbering until the next Read, but nothing may reach the element through it any more.
    void Forget(snd_mixer_elem_t* elem)
    {
        for (snd_mixer_elem_t*& e : m_elems) {
            if (e == elem) {
                e = nullptr;
            }
        }
    }

    snd_mixer_t* Mixer() const { return m_mixer; }
    const AlsaLayout& Layout() const { return m_layout; }
    const std::vector<snd_mixer_elem_t*>& Elements() const { return m_elems; }

    int GetVolume(std::size_t i, bool capture, int ch, long* v) override
    {
        if (!m_elems[i]) {
            return -ENODEV;
        }
        const auto c = snd_mixer_selem_channel_id_t(ch);
        return capture ? snd_mixer_selem_get_capture_volume(m_elems[i], c, v)
                       : snd_mixer_selem_get_playback_volume(m_elems[i], c, v);
    }
    int SetVolume(std::size_t i, bool capture, int ch, long v) override
    {
        if (!m_elems[i]) {
            return -ENODEV;
        }
        const auto c = snd_mixer_selem_channel_id_t(ch);
        return capture ? snd_mixer_selem_set_capture_volume(m_elems[i], c, v)
                       : snd_mixer_selem_set_playback_volume(m_elems[i], c, v);
    }
    int GetSwitch(std::size_t i, bool capture, int ch, int* v) override
    {
        if (!m_elems[i]) {
            return -ENODEV;
        }
        const auto c = snd_mixer_selem_channel_id_t(ch);
        return capture ? snd_mixer_selem_get_capture_switch(m_elems[i], c, v)
                       : snd_mixer_selem_get_playback_switch(m_elems[i], c, v);
    }
    int SetSwitch(std::size_t i, bool capture, int ch, int v) override
    {
        if (!m_elems[i]) {
            return -ENODEV;
        }
        const auto c = snd_mixer_selem_channel_id_t(ch);
        return capture ? snd_mixer_selem_set_capture_switch(m_elems[i], c, v)
                       : snd_mixer_selem_set_playback_switch(m_elems[i], c, v);
    }
    int GetEnum(std::size_t i, int ch, unsigned* item) override
    {
        if (!m_elems[i]) {
            return -ENODEV;
        }
        return snd_mixer_selem_get_enum_item(m_elems[i], snd_mixer_selem_channel_id_t(ch), item);
    }
    int SetEnum(std::size_t i, int ch, unsigned item) override
    {
        if (!m_elems[i]) {
            return -ENODEV;
        }
        return snd_mixer_selem_set_enum_item(m_elems[i], snd_mixer_selem_channel_id_t(ch), item);
    }

private:
    static std::uint32_t Channels(snd_mixer_elem_t* elem, bool capture)
    {
        if (capture ? snd_mixer_selem_is_capture_mono(elem) == 1
                    : snd_mixer_selem_is_playback_mono(elem) == 1) {
            return 1;
        }
        std::uint32_t mask = 0;
        for (int ch = 0; ch <= SND_MIXER_SCHN_LAST && ch < 32; ++ch) {
            const auto c = snd_mixer_selem_channel_id_t(ch);
            if (capture ? snd_mixer_selem_has_capture_channel(elem, c)
                        : snd_mixer_selem_has_playback_channel(elem, c)) {
                mask |= 1u << ch;
            }
        }
        return mask ? mask : 1;
    }

    static MixerElement Describe(snd_mixer_elem_t* elem)
    {
        MixerElement e;
        e.name = snd_mixer_selem_get_name(elem);
        e.index = snd_mixer_selem_get_index(elem);
        e.active = snd_mixer_selem_is_active(elem) != 0;
        MixerElement::Direction& p = e.playback;
        p.volume = snd_mixer_selem_has_playback_volume(elem) || snd_mixer_selem_has_common_volume(elem);
        p.switched = snd_mixer_selem_has_playback_switch(elem) || snd_mixer_selem_has_common_switch(elem);
        if (p.volume) {
            snd_mixer_selem_get_playback_volume_range(elem, &p.minimum, &p.maximum);
        }
        if (p.volume || p.switched) {
            p.channels = Channels(elem, false);
            p.joined = snd_mixer_selem_has_playback_volume_joined(elem) != 0;
        }
        MixerElement::Direction& c = e.capture;
        c.volume = snd_mixer_selem_has_capture_volume(elem) != 0;
        c.switched = snd_mixer_selem_has_capture_switch(elem) != 0;
        if (c.volume) {
            snd_mixer_selem_get_capture_volume_range(elem, &c.minimum, &c.maximum);
        }
        if (c.volume || c.switched) {
            c.channels = Channels(elem, true);
            c.joined = snd_mixer_selem_has_capture_volume_joined(elem) != 0;
            if (c.switched && snd_mixer_selem_has_capture_switch_exclusive(elem)) {
                e.captureGroup = snd_mixer_selem_get_capture_group(elem) + 1;
            }
        }
        if (snd_mixer_selem_is_enumerated(elem)) {
            e.enumerated = true;
            e.enumCapture = snd_mixer_selem_is_enum_capture(elem) == 1;
            const int count = snd_mixer_selem_get_enum_items(elem);
            for (int i = 0; i < count; ++i) {
                char text[64] = {};
                if (snd_mixer_selem_get_enum_item_name(elem, unsigned(i), sizeof text - 1, text) < 0) {
                    std::snprintf(text, sizeof text, "%d", i);
                }
                e.enumItems.emplace_back(text);
            }
            e.enumChannels = 0;
            for (int ch = 0; ch <= SND_MIXER_SCHN_LAST && ch < 32; ++ch) {
                unsigned item;
                if (snd_mixer_selem_get_enum_item(elem, snd_mixer_selem_channel_id_t(ch), &item) < 0) {
                    break;
                }
                e.enumChannels |= 1u << ch;
            }
        }
        return e;
    }

    snd_mixer_t* m_mixer = nullptr;
    std::string m_name;
    std::vector<snd_mixer_elem_t*> m_elems;
    AlsaLayout m_layout;
};

// An open mixer. Lives on the opening thread; its notifiers report there.
class AlsaHandle final : public QObject {
public:
    AlsaHandle(int id, std::unique_ptr<AlsaMixerDevice> device, MixerCallback callback, void* instance)
        : m_id(id)
        , m_device(std::move(device))
        , m_callback(callback)
        , m_instance(instance)
    {
        Watch();
    }

    int Id() const { return m_id; }
    bool Failed() const { return m_failed; }
    AlsaMixerDevice& Device() { return *m_device; }

    // Stops reporting and lets go of the mixer; the object itself goes once the event loop has it
    // back, since a report of its own may be running.
    void Close()
    {
        m_closed = true;
        Unwatch();
        m_device.reset();
        deleteLater();
    }

    // A write the card did not take as asked (a selector asked to select nothing): the owner reads
    // it again, as after any change.
    void Recheck(std::uint32_t controlId)
    {
        Pend(m_controls, controlId);
        QMetaObject::invokeMethod(
            this, [this] { Deliver(); }, Qt::QueuedConnection);
    }

private:
    static int ElementEvent(snd_mixer_elem_t* elem, unsigned int mask)
    {
        auto* self = static_cast<AlsaHandle*>(snd_mixer_elem_get_callback_private(elem));
        if (self) {
            self->OnElement(elem, mask);
        }
        return 0;
    }

    static int MixerEvent(snd_mixer_t* mixer, unsigned int mask, snd_mixer_elem_t*)
    {
        auto* self = static_cast<AlsaHandle*>(snd_mixer_get_callback_private(mixer));
        if (self && (mask & SND_CTL_EVENT_MASK_ADD)) {
            self->m_restructured = true;
        }
        return 0;
    }

    static void Pend(std::vector<std::uint32_t>& list, std::uint32_t id)
    {
        if (std::find(list.begin(), list.end(), id) == list.end()) {
            list.push_back(id);
        }
    }

    void OnElement(snd_mixer_elem_t* elem, unsigned int mask)
    {
        if (mask == SND_CTL_EVENT_MASK_REMOVE) {
            m_device->Forget(elem);
            m_restructured = true;
            return;
        }
        const auto& elems = m_device->Elements();
        const auto it = std::find(elems.begin(), elems.end(), elem);
        if (it == elems.end()) {
            return;
        }
        const std::size_t i = std::size_t(it - elems.begin());
        if (mask & SND_CTL_EVENT_MASK_INFO) {
            for (std::uint32_t line : m_device->Layout().LinesOf(i)) {
                Pend(m_lines, line);
            }
        }
        if (mask & (SND_CTL_EVENT_MASK_VALUE | SND_CTL_EVENT_MASK_INFO)) {
            for (std::uint32_t control : m_device->Layout().ControlsOf(i)) {
                Pend(m_controls, control);
            }
        }
    }

    void Watch()
    {
        snd_mixer_t* mixer = m_device->Mixer();
        snd_mixer_set_callback(mixer, &MixerEvent);
        snd_mixer_set_callback_private(mixer, this);
        for (snd_mixer_elem_t* e : m_device->Elements()) {
            snd_mixer_elem_set_callback(e, &ElementEvent);
            snd_mixer_elem_set_callback_private(e, this);
        }
        const int count = snd_mixer_poll_descriptors_count(mixer);
        m_fds.assign(std::size_t(std::max(count, 0)), pollfd {});
        if (count > 0 && snd_mixer_poll_descriptors(mixer, m_fds.data(), unsigned(count)) == count) {
            for (const pollfd& p : m_fds) {
                auto* n = new QSocketNotifier(p.fd, QSocketNotifier::Read, this);
                QObject::connect(n, &QSocketNotifier::activated, this, [this] { Activated(); });
                m_notifiers.push_back(n);
            }
        }
    }

    void Unwatch()
    {
        for (QSocketNotifier* n : m_notifiers) {
            n->setEnabled(false);
            n->deleteLater();
        }
        m_notifiers.clear();
    }

    void Activated()
    {
        if (m_closed || m_failed) {
            return;
        }
        snd_mixer_t* mixer = m_device->Mixer();
        for (pollfd& p : m_fds) {
            p.revents = 0;
        }
        if (::poll(m_fds.data(), m_fds.size(), 0) < 0) {
            return;
        }
        unsigned short revents = 0;
        const int r
            = snd_mixer_poll_descriptors_revents(mixer, m_fds.data(), unsigned(m_fds.size()), &revents);
        if (r < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) {
            Fail();
            return;
        }
        if (revents & POLLIN) {
            if (snd_mixer_handle_events(mixer) < 0) {
                Fail();
                return;
            }
        }
        Deliver();
    }

    void Fail()
    {
        // Reported once: the notifiers stop, and queries through this handle answer NoDriver.
        m_failed = true;
        Unwatch();
        qCDebug(lcAlsaMixer, "mixer %d stopped answering", m_id);
        if (m_callback) {
            m_callback(reinterpret_cast<MixerHandle>(this), MixerNotification::Failed, m_instance,
                mixer::DeviceLost);
        }
    }

    void Deliver()
    {
        if (m_closed || m_failed) {
            return;
        }
        if (m_restructured) {
            // Elements came or went: map them again; every line may have changed.
            m_restructured = false;
            for (snd_mixer_elem_t* e : m_device->Elements()) {
                if (e) {
                    snd_mixer_elem_set_callback_private(e, nullptr);
                }
            }
            m_device->Read();
            for (snd_mixer_elem_t* e : m_device->Elements()) {
                snd_mixer_elem_set_callback(e, &ElementEvent);
                snd_mixer_elem_set_callback_private(e, this);
            }
            for (const TMixerLine& l : m_device->Layout().Structure().Lines()) {
                Pend(m_lines, l.dwLineID);
            }
            m_controls.clear();
        }
        const std::vector<std::uint32_t> lines = std::exchange(m_lines, {});
        const std::vector<std::uint32_t> controls = std::exchange(m_controls, {});
        if (!m_callback) {
            return;
        }
        const auto handle = reinterpret_cast<MixerHandle>(this);
        for (std::uint32_t line : lines) {
            if (m_closed) {
                return;
            }
            m_callback(handle, MixerNotification::LineChange, m_instance, line);
        }
        for (std::uint32_t control : controls) {
            if (m_closed) {
                return;
            }
            m_callback(handle, MixerNotification::ControlChange, m_instance, control);
        }
    }

    const int m_id;
    std::unique_ptr<AlsaMixerDevice> m_device;
    const MixerCallback m_callback;
    void* const m_instance;
    std::vector<pollfd> m_fds;
    std::vector<QSocketNotifier*> m_notifiers;
    std::vector<std::uint32_t> m_lines; // changes waiting to be reported
    std::vector<std::uint32_t> m_controls;
    bool m_restructured = false;
    bool m_failed = false;
    bool m_closed = false;
};

class AlsaMixerOps final : public MixerOps {
public:
    const char* Name() const override { return "alsa"; }

    int GetNumDevs() override { return int(Devices().size()); }

    int GetDevCaps(int id, TMixerCaps& caps) override
    {
        std::string device, name;
        if (!Lookup(id, device, name)) {
            return mixer::BadDeviceId;
        }
        caps = {};
        caps.vDriverVersion = SND_LIB_VERSION;
        CopyMixerName(name, caps.szPname, sizeof caps.szPname);
        // The number of destinations needs the elements; a mixer that cannot be reached has none.
        AlsaMixerDevice* d = nullptr;
        std::unique_ptr<AlsaMixerDevice> temporary;
        if (Resolve(MixerObject { 0, id }, &d, &temporary) == 0) {
            caps.cDestinations = d->Layout().Structure().Caps().cDestinations;
        }
        return mixer::NoError;
    }

    int GetErrorText(int code, char* text, std::size_t size) override
    {
        if (code < 0) {
            std::snprintf(text, size, "%s", snd_strerror(code));
            return mixer::NoError;
        }
        return detail::StandardMixerErrorText(code, text, size);
    }

    int Open(MixerHandle* handle, int id, MixerCallback callback, void* instance) override
    {
        std::string device, name;
        if (!Lookup(id, device, name)) {
            return mixer::BadDeviceId;
        }
        if (!handle) {
            return mixer::InvalidParam;
        }
        std::unique_ptr<AlsaMixerDevice> d;
        if (const int e = AlsaMixerDevice::Load(device, name, &d)) {
            return e;
        }
        auto* h = new AlsaHandle(id, std::move(d), callback, instance);
        m_handles.push_back(h);
        *handle = reinterpret_cast<MixerHandle>(h);
        return mixer::NoError;
    }

    int Close(MixerHandle handle) override
    {
        AlsaHandle* h = Find(handle);
        if (!h) {
            return mixer::InvalidHandle;
        }
        m_handles.erase(std::find(m_handles.begin(), m_handles.end(), h));
        h->Close();
        return mixer::NoError;
    }

    int GetID(MixerHandle handle, int* id) override
    {
        AlsaHandle* h = Find(handle);
        if (!h) {
            return mixer::InvalidHandle;
        }
        *id = h->Id();
        return mixer::NoError;
    }

    int GetIdOf(mixer::TargetType, const char* productName, int* id) override
    {
        *id = -1;
        if (!productName) {
            return mixer::NoError;
        }
        const std::vector<std::string>& devices = Devices();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            std::string device, name;
            if (!Lookup(int(i), device, name)) {
                continue;
            }
            char cut[mixer::ProductNameChars];
            CopyMixerName(name, cut, sizeof cut);
            if (std::strncmp(cut, productName, sizeof cut - 1) == 0) {
                *id = int(i);
                break;
            }
        }
        return mixer::NoError;
    }

    int GetLineInfo(MixerObject obj, TMixerLine& line, MixerLineQuery query) override
    {
        return With(obj, [&](AlsaMixerDevice& d) { return d.Layout().Structure().LineInfo(line, query); });
    }

    int GetLineControl(
        MixerObject obj, std::uint32_t lineId, std::uint32_t type, TMixerControl& control) override
    {
        return With(obj,
            [&](AlsaMixerDevice& d) { return d.Layout().Structure().LineControl(lineId, type, control); });
    }

    int GetControl(
        MixerObject obj, std::uint32_t controlId, TMixerControl& control, std::uint32_t* lineId) override
    {
        return With(obj, [&](AlsaMixerDevice& d) {
            return d.Layout().Structure().ControlById(controlId, control, lineId);
        });
    }

    int GetControlValues(
        MixerObject obj, std::uint32_t controlId, int channels, int items, std::int32_t* values) override
    {
        return With(
            obj, [&](AlsaMixerDevice& d) { return d.Layout().Get(d, controlId, channels, items, values); });
    }

    int SetControlValues(MixerObject obj, std::uint32_t controlId, int channels, int items,
        const std::int32_t* values) override
    {
        bool kept = false;
        const int e = With(obj,
            [&](AlsaMixerDevice& d) { return d.Layout().Set(d, controlId, channels, items, values, &kept); });
        if (e == 0 && kept && obj.handle) {
            if (AlsaHandle* h = Find(obj.handle)) {
                h->Recheck(controlId);
            }
        }
        return e;
    }

    int GetListTexts(MixerObject obj, std::uint32_t controlId, int items, TMixerListText* texts) override
    {
        return With(obj,
            [&](AlsaMixerDevice& d) { return d.Layout().Structure().ListTexts(controlId, items, texts); });
    }

private:
    // Device strings by id: "default", then "hw:N" for every card.
    const std::vector<std::string>& Devices()
    {
        std::vector<int> cards;
        for (int card = -1; snd_card_next(&card) == 0 && card >= 0;) {
            cards.push_back(card);
        }
        // Listed at the first call even without cards: the default device is always there.
        if (!m_listed || cards != m_cards) {
            m_listed = true;
            m_cards = cards;
            m_devices.assign(1, kDefaultCtl);
            m_names.assign(1, kDefaultName);
            for (int card : cards) {
                m_devices.push_back("hw:" + std::to_string(card));
                m_names.emplace_back(); // looked up when first asked
            }
        }
        return m_devices;
    }

    bool Lookup(int id, std::string& device, std::string& name)
    {
        const std::vector<std::string>& devices = Devices();
        if (id < 0 || id >= int(devices.size())) {
            return false;
        }
        device = devices[std::size_t(id)];
        if (m_names[std::size_t(id)].empty()) {
            m_names[std::size_t(id)] = CardName(m_cards[std::size_t(id) - 1]);
        }
        name = m_names[std::size_t(id)];
        return true;
    }

    AlsaHandle* Find(MixerHandle handle) const
    {
        for (AlsaHandle* h : m_handles) {
            if (reinterpret_cast<MixerHandle>(h) == handle) {
                return h;
            }
        }
        return nullptr;
    }

    // The open mixer, or a mixer loaded for this one question.
    int Resolve(MixerObject obj, AlsaMixerDevice** out, std::unique_ptr<AlsaMixerDevice>* temporary)
    {
        if (obj.handle) {
            AlsaHandle* h = Find(obj.handle);
            if (!h) {
                return mixer::InvalidHandle;
            }
            if (h->Failed()) {
                return mixer::NoDriver;
            }
            *out = &h->Device();
            return mixer::NoError;
        }
        for (AlsaHandle* h : m_handles) {
            if (h->Id() == obj.id && !h->Failed()) {
                *out = &h->Device();
                return mixer::NoError;
            }
        }
        std::string device, name;
        if (!Lookup(obj.id, device, name)) {
            return mixer::BadDeviceId;
        }
        if (const int e = AlsaMixerDevice::Load(device, name, temporary)) {
            return e;
        }
        *out = temporary->get();
        return mixer::NoError;
    }

    template <typename F> int With(MixerObject obj, F f)
    {
        AlsaMixerDevice* d = nullptr;
        std::unique_ptr<AlsaMixerDevice> temporary;
        if (const int e = Resolve(obj, &d, &temporary)) {
            return e;
        }
        return f(*d);
    }

    std::vector<int> m_cards;
    bool m_listed = false;
    std::vector<std::string> m_devices;
    std::vector<std::string> m_names;
    std::vector<AlsaHandle*> m_handles; // open, on the user-interface thread
};

} // namespace

MixerOps& AlsaMixer()
{
    static AlsaMixerOps ops;
    return ops;
}

} // namespace zv
