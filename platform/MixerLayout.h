#pragma once

// How the ALSA simple mixer's elements become destinations, sources and controls, apart from ALSA
// itself, so that the mapping of any card can be checked from a recorded table of its elements.
//
// - Destination "Playback" (speakers) when any element can play: its own volume and mute come from
//   the element "Master"; every other element with a playback volume or switch is a source with a
//   volume (the playback volume) and a mute (the inverse of the playback switch).
// - Destination "Recording" (wave in) when any element can record: its own volume and mute come
//   from the element "Capture"; every other element with a capture volume or switch is a source with
//   a volume (the capture volume). Its source selector is a Mux made of the enumeration "Capture
//   Source" / "Input Source" (each item a source: the element of that name, or a line of its own),
//   else of the exclusive capture switches; capture switches that are not exclusive make a Mixer
//   (several sources at once) instead.
// - Line types follow the element names (Line, Mic, CD, Aux, PCM, ...; unknown names are undefined
//   sources). Volumes read 0 ... 65535 in as many steps as the element's own range has.

#include "platform/MixerStructure.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv::detail {

// ALSA's channel numbers: front left 0, front right 1, rear left 2, rear right 3, front centre 4,
// woofer 5, side left 6, side right 7, rear centre 8; a mono element has channel 0 only.
struct MixerElement {
    struct Direction {
        bool volume = false;
        bool switched = false; // has a switch
        long minimum = 0;
        long maximum = 0;
        std::uint32_t channels = 0; // a bit per ALSA channel
        bool joined = false; // one value for every channel
    };
    std::string name;
    unsigned index = 0;
    bool active = true;
    Direction playback;
    Direction capture;
    int captureGroup = 0; // > 0: the capture switch is exclusive within this group
    bool enumerated = false;
    bool enumCapture = false;
    std::vector<std::string> enumItems;
    std::uint32_t enumChannels = 1; // a bit per ALSA channel of the enumeration
};

// The values of the elements; a recorded table in tests, the card itself in the ALSA binding.
// Every call returns 0 or a negative error number.
class MixerElementAccess {
public:
    virtual ~MixerElementAccess() = default;
    virtual int GetVolume(std::size_t element, bool capture, int channel, long* value) = 0;
    virtual int SetVolume(std::size_t element, bool capture, int channel, long value) = 0;
    virtual int GetSwitch(std::size_t element, bool capture, int channel, int* value) = 0;
    virtual int SetSwitch(std::size_t element, bool capture, int channel, int value) = 0;
    virtual int GetEnum(std::size_t element, int channel, unsigned* item) = 0;
    virtual int SetEnum(std::size_t element, int channel, unsigned item) = 0;
};

// The component type code of a source named so.
std::uint32_t SourceTypeOfName(const std::string& name);

class AlsaLayout {
public:
    AlsaLayout() = default;
    // version: the driver version the capture devices report, so that lines match them as targets.
    AlsaLayout(
        const std::vector<MixerElement>& elements, const std::string& mixerName, std::uint32_t version);

    const MixerStructure& Structure() const { return m_structure; }

    int Get(MixerElementAccess& access, std::uint32_t controlId, int channels, int items,
        std::int32_t* values) const;
    // Sets what the values ask for. Returns 0 also when the card kept some value as it was (a selector
    // asked to select nothing): then *kept is true, so the caller can tell the owner to read again.
    int Set(MixerElementAccess& access, std::uint32_t controlId, int channels, int items,
        const std::int32_t* values, bool* kept = nullptr) const;

    // What a change of element e touches: its controls (values) and lines (information).
    const std::vector<std::uint32_t>& ControlsOf(std::size_t element) const;
    const std::vector<std::uint32_t>& LinesOf(std::size_t element) const;

private:
    enum class Kind { Volume, Mute, EnumMux, SwitchList };
    struct Binding {
        Kind kind = Kind::Volume;
        std::size_t element = 0; // Volume, Mute, EnumMux
        bool capture = false; // Volume, Mute
        long minimum = 0; // Volume: the element's own range
        long maximum = 0;
        std::uint32_t alsaChannels = 0; // Volume, Mute, EnumMux
        int lineChannels = 1;
        std::vector<std::size_t> elements; // SwitchList: one per item
        std::vector<std::uint32_t> switchChannels; // SwitchList: the ALSA channels of each
    };

    // The recording's parts while it is laid out: the element of its own volume and mute, the selector
    // among its sources (n: none of either), the elements that record, and what the steps add.
    struct RecordingSource {
        std::uint32_t line;
        std::size_t element; // n: an item of the selector only
    };
    struct Recording {
        std::size_t capture;
        std::size_t selector;
        std::vector<std::size_t> sources;
        std::uint32_t dest = 0;
        std::vector<RecordingSource> lines;
        std::vector<std::uint32_t> sourceLine; // by element
    };

    // The steps of laying out the elements: the playback, then the recording.
    void AddPlayback(
        const std::vector<MixerElement>& elements, const std::string& mixerName, std::uint32_t version);
    void AddRecording(
        const std::vector<MixerElement>& elements, const std::string& mixerName, std::uint32_t version);
    static Recording RecordingParts(const std::vector<MixerElement>& elements);
    std::vector<TMixerListText> AddRecordingSources(
        const std::vector<MixerElement>& elements, Recording& r, std::uint32_t channels);
    void AddSelector(const std::vector<MixerElement>& elements, const Recording& r,
        const std::vector<TMixerListText>& enumItems);
    void AddCaptureSwitches(const std::vector<MixerElement>& elements, const Recording& r);
    void AddLineControls(
        const std::vector<MixerElement>& elements, std::size_t i, std::uint32_t lineId, bool capture);
    void AddVolume(
        const std::vector<MixerElement>& elements, std::size_t i, std::uint32_t lineId, bool capture);
    void AddMute(
        const std::vector<MixerElement>& elements, std::size_t i, std::uint32_t lineId, bool capture);
    void Touch(std::size_t element, std::uint32_t controlId, std::uint32_t lineId);

    MixerStructure m_structure;
    std::vector<Binding> m_bindings; // by control id
    std::vector<std::vector<std::uint32_t>> m_controlsOf; // by element
    std::vector<std::vector<std::uint32_t>> m_linesOf; // by element
};

} // namespace zv::detail
