#pragma once

// What both mixer bindings share: the lines and controls of one mixer with their ids, and the
// answers to the line and control queries. A binding builds one and keeps the values itself.

#include "platform/Mixer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zv::detail {

constexpr std::uint32_t DestinationLineId(std::uint32_t d)
{
    return d;
}
constexpr std::uint32_t SourceLineId(std::uint32_t d, std::uint32_t s)
{
    return (s + 1) << 16 | d;
}

class MixerStructure {
public:
    struct Control {
        TMixerControl info {};
        std::uint32_t lineId = 0;
        std::uint32_t channels = 1; // values per item: 1 when uniform, else the line's channels
        std::vector<TMixerListText> items;
    };

    // Lines are added destination by destination, each followed by its sources; controls after
    // their line. Names are cut to the record's fields.
    std::uint32_t AddDestination(std::uint32_t componentType, const std::string& name,
        const std::string& shortName, std::uint32_t channels, std::uint32_t flags,
        const TMixerLineTarget& target);
    std::uint32_t AddSource(std::uint32_t componentType, const std::string& name,
        const std::string& shortName, std::uint32_t channels, std::uint32_t flags,
        const TMixerLineTarget& target);
    // The control's id is its index. Items of list controls are set with SetItems.
    std::uint32_t AddControl(std::uint32_t lineId, std::uint32_t type, const std::string& name,
        const std::string& shortName, std::uint32_t flags, std::int64_t minimum, std::int64_t maximum,
        std::uint32_t steps);
    void SetItems(std::uint32_t controlId, const std::vector<TMixerListText>& items);

    TMixerCaps& Caps() { return m_caps; }
    const TMixerCaps& Caps() const { return m_caps; }
    const std::vector<TMixerLine>& Lines() const { return m_lines; }
    const std::vector<Control>& Controls() const { return m_controls; }
    const TMixerLine* FindLine(std::uint32_t lineId) const;
    const Control* FindControl(std::uint32_t controlId) const;
    // The sources of destination d, in order.
    std::vector<const TMixerLine*> SourcesOf(std::uint32_t d) const;

    int LineInfo(TMixerLine& line, MixerLineQuery query) const;
    int LineControl(std::uint32_t lineId, std::uint32_t type, TMixerControl& control) const;
    int ControlById(std::uint32_t controlId, TMixerControl& control, std::uint32_t* lineId) const;
    int ListTexts(std::uint32_t controlId, int items, TMixerListText* texts) const;
    // Whether an exchange of channels x items values fits the control: 0, InvalidControl or InvalidParam.
    int CheckShape(std::uint32_t controlId, int channels, int items) const;

private:
    TMixerCaps m_caps {};
    std::vector<TMixerLine> m_lines;
    std::vector<Control> m_controls;
};

// The values of one control as stored (channels x items, item by item) seen through an exchange of
// `channels` values per item: one channel reads the largest and writes every channel.
void ReadValues(const std::vector<std::int32_t>& stored, std::uint32_t storedChannels, int channels,
    int items, std::int32_t* out);
void WriteValues(std::vector<std::int32_t>& stored, std::uint32_t storedChannels, int channels, int items,
    const std::int32_t* in);

// Texts of the codes both bindings share; 0 and the text, else non-zero.
int StandardMixerErrorText(int code, char* text, std::size_t size);

} // namespace zv::detail
