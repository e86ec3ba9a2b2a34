#include "platform/MixerStructure.h"

#include "platform/WaveInErrors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zv {

void CopyMixerName(const std::string& text, char* out, std::size_t size)
{
    if (size == 0) {
        return;
    }
    std::size_t n = std::min(text.size(), size - 1);
    if (n < text.size()) {
        // A multi-byte sequence that the cut would split goes whole; bytes that are no valid UTF-8
        // anyway are cut where they fall (they are shown as replacement characters).
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
        std::size_t lead = n;
        while (lead > 0 && n - lead < 3 && (byte(lead) & 0xC0) == 0x80) {
            --lead;
        }
        const unsigned char c = byte(lead);
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (lead < n && (c & 0xC0) == 0xC0 && lead + length > n) {
            n = lead;
        }
    }
    std::memcpy(out, text.data(), n);
    std::memset(out + n, 0, size - n);
}

namespace detail {

namespace {

bool SameTarget(const TMixerLineTarget& a, const TMixerLineTarget& b)
{
    return a.dwType == b.dwType && a.wMid == b.wMid && a.wPid == b.wPid
        && (a.vDriverVersion & 0xFFFF) == (b.vDriverVersion & 0xFFFF)
        && std::strncmp(a.szPname, b.szPname, sizeof a.szPname) == 0;
}

} // namespace

std::uint32_t MixerStructure::AddDestination(std::uint32_t componentType, const std::string& name,
    const std::string& shortName, std::uint32_t channels, std::uint32_t flags, const TMixerLineTarget& target)
{
    TMixerLine line {};
    line.dwDestination = m_caps.cDestinations++;
    line.dwLineID = DestinationLineId(line.dwDestination);
    line.fdwLine = flags & ~mixer::LineSource;
    line.dwComponentType = componentType;
    line.cChannels = channels;
    line.Target = target;
    CopyMixerName(shortName.empty() ? name : shortName, line.szShortName, sizeof line.szShortName);
    CopyMixerName(name, line.szName, sizeof line.szName);
    m_lines.push_back(line);
    return line.dwLineID;
}

std::uint32_t MixerStructure::AddSource(std::uint32_t componentType, const std::string& name,
    const std::string& shortName, std::uint32_t channels, std::uint32_t flags, const TMixerLineTarget& target)
{
    const std::uint32_t d = m_caps.cDestinations - 1;
    TMixerLine* dest = nullptr;
    for (TMixerLine& l : m_lines) {
        if (l.dwLineID == DestinationLineId(d)) {
            dest = &l;
        }
    }
    TMixerLine line {};
    line.dwDestination = d;
    line.dwSource = dest->cConnections++;
    line.dwLineID = SourceLineId(d, line.dwSource);
    line.fdwLine = flags | mixer::LineSource;
    line.dwComponentType = componentType;
    line.cChannels = channels;
    line.Target = target;
    CopyMixerName(shortName.empty() ? name : shortName, line.szShortName, sizeof line.szShortName);
    CopyMixerName(name, line.szName, sizeof line.szName);
    m_lines.push_back(line);
    return line.dwLineID;
}

std::uint32_t MixerStructure::AddControl(std::uint32_t lineId, std::uint32_t type, const std::string& name,
    const std::string& shortName, std::uint32_t flags, std::int64_t minimum, std::int64_t maximum,
    std::uint32_t steps)
{
    Control c;
    c.lineId = lineId;
    c.info.dwControlID = std::uint32_t(m_controls.size());
    c.info.dwControlType = type;
    c.info.fdwControl = flags;
    c.info.lMinimum = minimum;
    c.info.lMaximum = maximum;
    c.info.cSteps = steps;
    CopyMixerName(shortName.empty() ? name : shortName, c.info.szShortName, sizeof c.info.szShortName);
    CopyMixerName(name, c.info.szName, sizeof c.info.szName);
    for (TMixerLine& l : m_lines) {
        if (l.dwLineID == lineId) {
            ++l.cControls;
            c.channels = (flags & mixer::ControlUniform) ? 1 : std::max<std::uint32_t>(l.cChannels, 1);
        }
    }
    m_controls.push_back(c);
    return c.info.dwControlID;
}

void MixerStructure::SetItems(std::uint32_t controlId, const std::vector<TMixerListText>& items)
{
    Control& c = m_controls[controlId];
    c.items = items;
    c.info.cMultipleItems = std::uint32_t(items.size());
    c.info.fdwControl |= mixer::ControlMultiple;
}

const TMixerLine* MixerStructure::FindLine(std::uint32_t lineId) const
{
    for (const TMixerLine& l : m_lines) {
        if (l.dwLineID == lineId) {
            return &l;
        }
    }
    return nullptr;
}

const MixerStructure::Control* MixerStructure::FindControl(std::uint32_t controlId) const
{
    return controlId < m_controls.size() ? &m_controls[controlId] : nullptr;
}

std::vector<const TMixerLine*> MixerStructure::SourcesOf(std::uint32_t d) const
{
    std::vector<const TMixerLine*> out;
    for (const TMixerLine& l : m_lines) {
        if ((l.fdwLine & mixer::LineSource) && l.dwDestination == d) {
            out.push_back(&l);
        }
    }
    return out;
}

int MixerStructure::LineInfo(TMixerLine& line, MixerLineQuery query) const
{
    const TMixerLine* found = nullptr;
    switch (query) {
    case MixerLineQuery::Destination:
        if (line.dwDestination >= m_caps.cDestinations) {
            return mixer::InvalidParam;
        }
        found = FindLine(DestinationLineId(line.dwDestination));
        break;
    case MixerLineQuery::Source:
        if (line.dwDestination >= m_caps.cDestinations) {
            return mixer::InvalidParam;
        }
        found = FindLine(SourceLineId(line.dwDestination, line.dwSource));
        if (!found) {
            return mixer::InvalidParam;
        }
        break;
    case MixerLineQuery::LineId:
        found = FindLine(line.dwLineID);
        break;
    case MixerLineQuery::ComponentType:
        for (const TMixerLine& l : m_lines) {
            if (l.dwComponentType == line.dwComponentType) {
                found = &l;
                break;
            }
        }
        break;
    case MixerLineQuery::TargetType:
        for (const TMixerLine& l : m_lines) {
            if (SameTarget(l.Target, line.Target)) {
                found = &l;
                break;
            }
        }
        break;
    }
    if (!found) {
        return mixer::InvalidLine;
    }
    line = *found;
    return mixer::NoError;
}

int MixerStructure::LineControl(std::uint32_t lineId, std::uint32_t type, TMixerControl& control) const
{
    if (!FindLine(lineId)) {
        return mixer::InvalidLine;
    }
    for (const Control& c : m_controls) {
        if (c.lineId == lineId && c.info.dwControlType == type) {
            control = c.info;
            return mixer::NoError;
        }
    }
    return mixer::InvalidControl;
}

int MixerStructure::ControlById(std::uint32_t controlId, TMixerControl& control, std::uint32_t* lineId) const
{
    const Control* c = FindControl(controlId);
    if (!c) {
        return mixer::InvalidControl;
    }
    control = c->info;
    if (lineId) {
        *lineId = c->lineId;
    }
    return mixer::NoError;
}

int MixerStructure::ListTexts(std::uint32_t controlId, int items, TMixerListText* texts) const
{
    const Control* c = FindControl(controlId);
    if (!c) {
        return mixer::InvalidControl;
    }
    if (!(c->info.fdwControl & mixer::ControlMultiple) || items != int(c->items.size()) || !texts) {
        return mixer::InvalidParam;
    }
    std::copy(c->items.begin(), c->items.end(), texts);
    return mixer::NoError;
}

int MixerStructure::CheckShape(std::uint32_t controlId, int channels, int items) const
{
    const Control* c = FindControl(controlId);
    if (!c) {
        return mixer::InvalidControl;
    }
    if (channels != 1 && std::uint32_t(channels) != c->channels) {
        return mixer::InvalidParam;
    }
    const bool multiple = (c->info.fdwControl & mixer::ControlMultiple) != 0;
    if (multiple ? items != int(c->info.cMultipleItems) : items != 0) {
        return mixer::InvalidParam;
    }
    return mixer::NoError;
}

void ReadValues(const std::vector<std::int32_t>& stored, std::uint32_t storedChannels, int channels,
    int items, std::int32_t* out)
{
    const std::size_t n = std::size_t(std::max(items, 1));
    for (std::size_t i = 0; i < n; ++i) {
        if (channels == 1) {
            std::int32_t v = stored[i * storedChannels];
            for (std::uint32_t ch = 1; ch < storedChannels; ++ch) {
                v = std::max(v, stored[i * storedChannels + ch]);
            }
            out[i] = v;
        } else {
            for (std::uint32_t ch = 0; ch < storedChannels; ++ch) {
                out[i * storedChannels + ch] = stored[i * storedChannels + ch];
            }
        }
    }
}

void WriteValues(std::vector<std::int32_t>& stored, std::uint32_t storedChannels, int channels, int items,
    const std::int32_t* in)
{
    const std::size_t n = std::size_t(std::max(items, 1));
    for (std::size_t i = 0; i < n; ++i) {
        for (std::uint32_t ch = 0; ch < storedChannels; ++ch) {
            stored[i * storedChannels + ch] = channels == 1 ? in[i] : in[i * storedChannels + ch];
        }
    }
}

int StandardMixerErrorText(int code, char* text, std::size_t size)
{
    const char* t = nullptr;
    switch (code) {
    case mixer::InvalidLine:
        t = "The mixer has no such line";
        break;
    case mixer::InvalidControl:
        t = "The mixer has no such control";
        break;
    case mixer::InvalidValue:
        t = "The value is not valid for this control";
        break;
    case mixer::DeviceLost:
        t = "The mixer stopped answering: the sound card was removed or its sound server ended";
        break;
    case mixer::NoDriver:
        t = "The mixer cannot be reached: the sound card is gone or its sound server is not running";
        break;
    default:
        return StandardWaveErrorText(code, text, size);
    }
    std::snprintf(text, size, "%s", t);
    return 0;
}

} // namespace detail
} // namespace zv
