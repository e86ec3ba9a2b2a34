#include "platform/MixerLayout.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zv::detail {

namespace {

std::string Lower(const std::string& s)
{
    std::string out(s);
    for (char& c : out) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::vector<std::string> Words(const std::string& name)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : Lower(name)) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

bool Is(const MixerElement& e, const char* name)
{
    return e.index == 0 && Lower(e.name) == name;
}

std::string DisplayName(const MixerElement& e)
{
    return e.index == 0 ? e.name : e.name + " " + std::to_string(e.index);
}

// Right-hand channels: front right, rear right, side right; every other channel follows the left.
constexpr std::uint32_t kRightChannels = (1u << 1) | (1u << 3) | (1u << 7);

int LineChannels(const MixerElement::Direction& d)
{
    return (d.channels & ~1u) ? 2 : 1;
}

// The ALSA channels that carry model channel c of a line with lineChannels channels.
std::uint32_t Group(std::uint32_t alsaChannels, int lineChannels, int c)
{
    if (lineChannels < 2) {
        return alsaChannels;
    }
    return c == 1 ? (alsaChannels & kRightChannels) : (alsaChannels & ~kRightChannels);
}

int FirstChannel(std::uint32_t mask)
{
    for (int ch = 0; ch < 32; ++ch) {
        if (mask & (1u << ch)) {
            return ch;
        }
    }
    return 0;
}

// Round(a / b) with halves to even, for a >= 0, b > 0.
std::int64_t RoundDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    const std::int64_t r = a % b;
    if (2 * r > b || (2 * r == b && (q & 1))) {
        return q + 1;
    }
    return q;
}

constexpr std::int64_t kFaderMax = 65535;

} // namespace

std::uint32_t SourceTypeOfName(const std::string& name)
{
    const std::vector<std::string> w = Words(name);
    const auto has = [&](const char* word) { return std::find(w.begin(), w.end(), word) != w.end(); };
    const auto starts = [&](const char* prefix) {
        return std::any_of(w.begin(), w.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
    };
    if (has("mic") || starts("micro")) {
        return mixer::SrcMicrophone;
    }
    if (has("line")) {
        return mixer::SrcLine;
    }
    if (has("cd")) {
        return mixer::SrcCompactDisc;
    }
    if (starts("aux")) {
        return mixer::SrcAuxiliary;
    }
    if (has("beep") || (has("pc") && has("speaker"))) {
        return mixer::SrcPCSpeaker;
    }
    if (has("phone") || has("telephone")) {
        return mixer::SrcTelephone;
    }
    if (has("pcm") || has("wave")) {
        return mixer::SrcWaveOut;
    }
    if (starts("synth") || has("fm") || has("midi")) {
        return mixer::SrcSynthesizer;
    }
    if (has("iec958") || has("spdif") || has("digital") || (has("s") && has("pdif"))) {
        return mixer::SrcDigital;
    }
    if (has("mix") || has("video") || has("analog")) {
        return mixer::SrcAnalog;
    }
    return mixer::SrcUndefined;
}

namespace {

TMixerLineTarget LineTarget(mixer::TargetType type, const std::string& mixerName, std::uint32_t version)
{
    TMixerLineTarget t {};
    t.dwType = type;
    t.vDriverVersion = version;
    CopyMixerName(mixerName, t.szPname, sizeof t.szPname);
    return t;
}

std::uint32_t LineFlags(const MixerElement& e)
{
    return e.active ? mixer::LineActive : 0u;
}

TMixerListText ListItem(std::uint32_t lineId, const std::string& name)
{
    TMixerListText t {};
    t.dwParam1 = lineId;
    CopyMixerName(name, t.szName, sizeof t.szName);
    return t;
}

} // namespace

AlsaLayout::AlsaLayout(
    const std::vector<MixerElement>& elements, const std::string& mixerName, std::uint32_t version)
{
    m_controlsOf.resize(elements.size());
    m_linesOf.resize(elements.size());
    CopyMixerName(mixerName, m_structure.Caps().szPname, sizeof m_structure.Caps().szPname);
    m_structure.Caps().vDriverVersion = version;
    AddPlayback(elements, mixerName, version);
    AddRecording(elements, mixerName, version);
}

void AlsaLayout::AddVolume(
    const std::vector<MixerElement>& elements, std::size_t i, std::uint32_t lineId, bool capture)
{
    const MixerElement& e = elements[i];
    const MixerElement::Direction& d = capture ? e.capture : e.playback;
    Binding b;
    b.kind = Kind::Volume;
    b.element = i;
    b.capture = capture;
    b.minimum = d.minimum;
    b.maximum = d.maximum;
    b.alsaChannels = d.channels ? d.channels : 1;
    b.lineChannels = LineChannels(d);
    const std::int64_t range = std::int64_t(d.maximum) - d.minimum;
    std::uint32_t flags = (d.joined || b.lineChannels == 1) ? mixer::ControlUniform : 0;
    if (!e.active || range <= 0) {
        flags |= mixer::ControlDisabled;
    }
    const std::string name = DisplayName(e) + " Volume";
    const std::uint32_t id = m_structure.AddControl(lineId, mixer::CtlVolume, name, DisplayName(e), flags, 0,
        kFaderMax, std::uint32_t(std::clamp<std::int64_t>(range, 0, 0xFFFFFFFF)));
    m_bindings.push_back(b);
    Touch(i, id, lineId);
}

void AlsaLayout::AddMute(
    const std::vector<MixerElement>& elements, std::size_t i, std::uint32_t lineId, bool capture)
{
    const MixerElement& e = elements[i];
    const MixerElement::Direction& d = capture ? e.capture : e.playback;
    Binding b;
    b.kind = Kind::Mute;
    b.element = i;
    b.capture = capture;
    b.alsaChannels = d.channels ? d.channels : 1;
    b.lineChannels = LineChannels(d);
    std::uint32_t flags = (d.joined || b.lineChannels == 1) ? mixer::ControlUniform : 0;
    if (!e.active) {
        flags |= mixer::ControlDisabled;
    }
    const std::string name = DisplayName(e) + " Mute";
    const std::uint32_t id
        = m_structure.AddControl(lineId, mixer::CtlMute, name, DisplayName(e), flags, 0, 1, 0);
    m_bindings.push_back(b);
    Touch(i, id, lineId);
}

void AlsaLayout::AddLineControls(
    const std::vector<MixerElement>& elements, std::size_t i, std::uint32_t lineId, bool capture)
{
    const MixerElement::Direction& d = capture ? elements[i].capture : elements[i].playback;
    if (d.volume) {
        AddVolume(elements, i, lineId, capture);
    }
    if (d.switched) {
        AddMute(elements, i, lineId, capture);
    }
}

void AlsaLayout::AddPlayback(
    const std::vector<MixerElement>& elements, const std::string& mixerName, std::uint32_t version)
{
    const std::size_t n = elements.size();
    std::size_t master = n;
    bool anyPlayback = false;
    for (std::size_t i = 0; i < n; ++i) {
        const MixerElement& e = elements[i];
        if (!(e.playback.volume || e.playback.switched)) {
            continue;
        }
        anyPlayback = true;
        if (master == n && Is(e, "master")) {
            master = i;
        }
    }
    if (!anyPlayback) {
        return;
    }
    const std::uint32_t channels = master < n ? std::uint32_t(LineChannels(elements[master].playback)) : 2;
    const std::uint32_t dest = m_structure.AddDestination(mixer::DstSpeakers, "Playback", "Playback",
        channels, mixer::LineActive, LineTarget(mixer::TargetWaveOut, mixerName, version));
    if (master < n) {
        m_linesOf[master].push_back(dest);
        AddLineControls(elements, master, dest, false);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const MixerElement& e = elements[i];
        if (i == master || !(e.playback.volume || e.playback.switched)) {
            continue;
        }
        const std::uint32_t line = m_structure.AddSource(SourceTypeOfName(e.name), DisplayName(e),
            DisplayName(e), std::uint32_t(LineChannels(e.playback)), LineFlags(e), TMixerLineTarget {});
        m_linesOf[i].push_back(line);
        AddLineControls(elements, i, line, false);
    }
}

AlsaLayout::Recording AlsaLayout::RecordingParts(const std::vector<MixerElement>& elements)
{
    const std::size_t n = elements.size();
    Recording r { n, n, {} };
    for (std::size_t i = 0; i < n; ++i) {
        const MixerElement& e = elements[i];
        const bool records = e.capture.volume || e.capture.switched;
        if (r.capture == n && records && Is(e, "capture")) {
            r.capture = i;
        } else if (r.selector == n && e.enumerated && !e.enumItems.empty()
            && (e.enumCapture || Is(e, "capture source") || Is(e, "input source"))) {
            r.selector = i;
        } else if (records) {
            r.sources.push_back(i);
        }
    }
    return r;
}

void AlsaLayout::AddRecording(
    const std::vector<MixerElement>& elements, const std::string& mixerName, std::uint32_t version)
{
    const std::size_t n = elements.size();
    Recording r = RecordingParts(elements);
    if (r.capture == n && r.selector == n && r.sources.empty()) {
        return;
    }
    std::uint32_t channels = 1;
    if (r.capture < n) {
        channels = std::uint32_t(LineChannels(elements[r.capture].capture));
    } else {
        for (std::size_t i : r.sources) {
            channels = std::max(channels, std::uint32_t(LineChannels(elements[i].capture)));
        }
    }
    r.dest = m_structure.AddDestination(mixer::DstWaveIn, "Recording", "Recording", channels,
        mixer::LineActive, LineTarget(mixer::TargetWaveIn, mixerName, version));
    if (r.capture < n) {
        m_linesOf[r.capture].push_back(r.dest);
        AddLineControls(elements, r.capture, r.dest, true);
    }
    const std::vector<TMixerListText> enumItems = AddRecordingSources(elements, r, channels);
    // Volumes: a source's own capture volume; a source without one is recorded at the recording's
    // volume (most cards have only that one), so it gets that.
    const bool shared = r.capture < n && elements[r.capture].capture.volume;
    for (const RecordingSource& src : r.lines) {
        if (src.element < n && elements[src.element].capture.volume) {
            AddVolume(elements, src.element, src.line, true);
        } else if (shared) {
            AddVolume(elements, r.capture, src.line, true);
        }
    }
    if (r.selector < n) {
        AddSelector(elements, r, enumItems);
    } else {
        AddCaptureSwitches(elements, r);
    }
}

std::vector<TMixerListText> AlsaLayout::AddRecordingSources(
    const std::vector<MixerElement>& elements, Recording& r, std::uint32_t channels)
{
    const std::size_t n = elements.size();
    // The sources: every element that records, then the selector's items that no element stands for.
    r.sourceLine.assign(n, 0);
    for (std::size_t i : r.sources) {
        const MixerElement& e = elements[i];
        r.sourceLine[i] = m_structure.AddSource(SourceTypeOfName(e.name), DisplayName(e), DisplayName(e),
            std::uint32_t(LineChannels(e.capture)), LineFlags(e), TMixerLineTarget {});
        m_linesOf[i].push_back(r.sourceLine[i]);
        r.lines.push_back({ r.sourceLine[i], i });
    }
    std::vector<TMixerListText> enumItems;
    if (r.selector == n) {
        return enumItems;
    }
    const MixerElement& e = elements[r.selector];
    for (const std::string& name : e.enumItems) {
        std::uint32_t line = 0;
        bool found = false;
        for (std::size_t i : r.sources) {
            if (Lower(DisplayName(elements[i])) == Lower(name)) {
                line = r.sourceLine[i];
                found = true;
                break;
            }
        }
        if (!found) {
            line = m_structure.AddSource(
                SourceTypeOfName(name), name, name, channels, LineFlags(e), TMixerLineTarget {});
            r.lines.push_back({ line, n });
        }
        enumItems.push_back(ListItem(line, name));
    }
    return enumItems;
}

void AlsaLayout::AddSelector(const std::vector<MixerElement>& elements, const Recording& r,
    const std::vector<TMixerListText>& enumItems)
{
    const MixerElement& e = elements[r.selector];
    Binding b;
    b.kind = Kind::EnumMux;
    b.element = r.selector;
    b.alsaChannels = e.enumChannels ? e.enumChannels : 1;
    const std::uint32_t id = m_structure.AddControl(r.dest, mixer::CtlMux, DisplayName(e), DisplayName(e),
        mixer::ControlUniform | (e.active ? 0 : mixer::ControlDisabled), 0,
        std::int64_t(enumItems.size()) - 1, 0);
    m_structure.SetItems(id, enumItems);
    m_bindings.push_back(b);
    Touch(r.selector, id, r.dest);
}

void AlsaLayout::AddCaptureSwitches(const std::vector<MixerElement>& elements, const Recording& r)
{
    // Capture switches of the sources: exclusive ones select one source, the others several.
    std::vector<std::size_t> exclusive, several;
    for (std::size_t i : r.sources) {
        if (elements[i].capture.switched) {
            (elements[i].captureGroup > 0 ? exclusive : several).push_back(i);
        }
    }
    const bool mux = !exclusive.empty();
    const std::vector<std::size_t>& switches = mux ? exclusive : several;
    if (switches.empty()) {
        return;
    }
    Binding b;
    b.kind = Kind::SwitchList;
    b.elements = switches;
    for (std::size_t i : switches) {
        b.switchChannels.push_back(elements[i].capture.channels ? elements[i].capture.channels : 1);
    }
    std::vector<TMixerListText> items;
    items.reserve(switches.size());
    for (std::size_t i : switches) {
        items.push_back(ListItem(r.sourceLine[i], DisplayName(elements[i])));
    }
    const std::uint32_t id = m_structure.AddControl(r.dest, mux ? mixer::CtlMux : mixer::CtlMixer,
        mux ? "Capture Source" : "Capture Sources", mux ? "Capture Source" : "Capture Sources",
        mixer::ControlUniform, 0, std::int64_t(items.size()) - 1, 0);
    m_structure.SetItems(id, items);
    m_bindings.push_back(b);
    for (std::size_t i : switches) {
        Touch(i, id, r.dest);
    }
}

void AlsaLayout::Touch(std::size_t element, std::uint32_t controlId, std::uint32_t lineId)
{
    auto& controls = m_controlsOf[element];
    if (std::find(controls.begin(), controls.end(), controlId) == controls.end()) {
        controls.push_back(controlId);
    }
    auto& lines = m_linesOf[element];
    if (std::find(lines.begin(), lines.end(), lineId) == lines.end()) {
        lines.push_back(lineId);
    }
}

const std::vector<std::uint32_t>& AlsaLayout::ControlsOf(std::size_t element) const
{
    static const std::vector<std::uint32_t> none;
    return element < m_controlsOf.size() ? m_controlsOf[element] : none;
}

const std::vector<std::uint32_t>& AlsaLayout::LinesOf(std::size_t element) const
{
    static const std::vector<std::uint32_t> none;
    return element < m_linesOf.size() ? m_linesOf[element] : none;
}

int AlsaLayout::Get(
    MixerElementAccess& access, std::uint32_t controlId, int channels, int items, std::int32_t* values) const
{
    if (const int e = m_structure.CheckShape(controlId, channels, items)) {
        return e;
    }
    const Binding& b = m_bindings[controlId];
    switch (b.kind) {
    case Kind::Volume:
    case Kind::Mute: {
        std::int32_t v[2] = { 0, 0 };
        for (int c = 0; c < b.lineChannels; ++c) {
            const int ch = FirstChannel(Group(b.alsaChannels, b.lineChannels, c));
            if (b.kind == Kind::Volume) {
                long raw = 0;
                if (const int e = access.GetVolume(b.element, b.capture, ch, &raw)) {
                    return e;
                }
                const std::int64_t range = std::int64_t(b.maximum) - b.minimum;
                const std::int64_t above = std::clamp<std::int64_t>(std::int64_t(raw) - b.minimum, 0, range);
                v[c] = range > 0 ? std::int32_t(RoundDiv(above * kFaderMax, range)) : 0;
            } else {
                int on = 1;
                if (const int e = access.GetSwitch(b.element, b.capture, ch, &on)) {
                    return e;
                }
                v[c] = on ? 0 : 1;
            }
        }
        if (channels == 1) {
            values[0] = std::max(v[0], b.lineChannels > 1 ? v[1] : v[0]);
        } else {
            std::copy(v, v + channels, values);
        }
        return 0;
    }
    case Kind::EnumMux: {
        unsigned current = 0;
        if (const int e = access.GetEnum(b.element, FirstChannel(b.alsaChannels), &current)) {
            return e;
        }
        for (int i = 0; i < items; ++i) {
            values[i] = unsigned(i) == current ? 1 : 0;
        }
        return 0;
    }
    case Kind::SwitchList:
        for (int i = 0; i < items; ++i) {
            int on = 0;
            // Any channel recording makes the source recorded.
            const std::uint32_t mask = b.switchChannels[std::size_t(i)];
            for (int ch = 0; ch < 32 && !on; ++ch) {
                if (!(mask & (1u << ch))) {
                    continue;
                }
                int v = 0;
                if (const int e = access.GetSwitch(b.elements[std::size_t(i)], true, ch, &v)) {
                    return e;
                }
                on = v ? 1 : 0;
            }
            values[i] = on;
        }
        return 0;
    }
    return mixer::InvalidControl;
}

int AlsaLayout::Set(MixerElementAccess& access, std::uint32_t controlId, int channels, int items,
    const std::int32_t* values, bool* kept) const
{
    if (kept) {
        *kept = false;
    }
    if (const int e = m_structure.CheckShape(controlId, channels, items)) {
        return e;
    }
    const Binding& b = m_bindings[controlId];
    const bool single = mixer::IsSingleSelect(m_structure.Controls()[controlId].info.dwControlType);
    switch (b.kind) {
    case Kind::Volume:
    case Kind::Mute:
        for (int c = 0; c < b.lineChannels; ++c) {
            const std::int32_t v = values[channels == 1 ? 0 : c];
            const std::uint32_t group = Group(b.alsaChannels, b.lineChannels, c);
            for (int ch = 0; ch < 32; ++ch) {
                if (!(group & (1u << ch))) {
                    continue;
                }
                int e;
                if (b.kind == Kind::Volume) {
                    const std::int64_t range = std::int64_t(b.maximum) - b.minimum;
                    const std::int64_t fader = std::clamp<std::int64_t>(std::uint32_t(v), 0, kFaderMax);
                    const long raw = long(b.minimum + (range > 0 ? RoundDiv(fader * range, kFaderMax) : 0));
                    e = access.SetVolume(b.element, b.capture, ch, raw);
                } else {
                    e = access.SetSwitch(b.element, b.capture, ch, v ? 0 : 1);
                }
                if (e) {
                    return e;
                }
            }
        }
        return 0;
    case Kind::EnumMux: {
        int chosen = -1;
        for (int i = 0; i < items && chosen < 0; ++i) {
            if (values[i]) {
                chosen = i;
            }
        }
        // The card always records one of them: nothing selected keeps the current one.
        if (chosen < 0 || std::count_if(values, values + items, [](std::int32_t v) { return v != 0; }) > 1) {
            if (kept) {
                *kept = true;
            }
        }
        if (chosen < 0) {
            return 0;
        }
        for (int ch = 0; ch < 32; ++ch) {
            if (b.alsaChannels & (1u << ch)) {
                if (const int e = access.SetEnum(b.element, ch, unsigned(chosen))) {
                    return e;
                }
            }
        }
        return 0;
    }
    case Kind::SwitchList: {
        int firstOn = -1;
        for (int i = 0; i < items; ++i) {
            if (values[i] && firstOn < 0) {
                firstOn = i;
            }
        }
        // Switches go off first, so that an exclusive group never holds two at once.
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < items; ++i) {
                bool on = values[i] != 0;
                if (single && on && i != firstOn) {
                    on = false;
                    if (kept) {
                        *kept = true;
                    }
                }
                if (on != (pass == 1)) {
                    continue;
                }
                const std::uint32_t mask = b.switchChannels[std::size_t(i)];
                for (int ch = 0; ch < 32; ++ch) {
                    if (mask & (1u << ch)) {
                        if (const int e
                            = access.SetSwitch(b.elements[std::size_t(i)], true, ch, on ? 1 : 0)) {
                            return e;
                        }
                    }
                }
            }
        }
        return 0;
    }
    }
    return mixer::InvalidControl;
}

} // namespace zv::detail
