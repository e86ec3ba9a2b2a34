#pragma once

// The mixer service as a table of operations, with two bindings: the ALSA simple mixer (one mixer per
// card, plus the "default" control device), and an in-memory mixer described by a table, for tests
// and for the synthetic sound input. zv::DefaultMixer() follows ZOVEVA_WAVEIN, so the synthetic
// capture devices come with mixers of the same names.
//
// A mixer is a set of destination lines (where sound goes: the speakers, the recording), each with
// source lines (what is mixed into it: line input, microphone, CD, ...), and typed controls on every
// line (volume, mute, the recording source selector, ...). Lines and controls have ids that stay the
// same for as long as the mixer's structure does, whether the mixer is open or asked by device id.
// Control values are exchanged as arrays of 32-bit values, item by item and within an item channel
// by channel.
//
// Every operation returns 0 or an error code (mixer::ErrorCode or the back end's own, negative);
// GetErrorText gives its text. All of it runs on one thread, the user-interface thread: an open
// mixer reports its changes through the callback given at Open, from that thread's event loop,
// never from inside another operation.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv {

using MixerHandle = std::uintptr_t; // 0: none

namespace mixer {

enum ErrorCode : int {
    NoError = 0,
    Error = 1,
    BadDeviceId = 2,
    InvalidHandle = 5,
    NoDriver = 6, // the device cannot be reached (gone, or its sound server is not running)
    NoMem = 7,
    NotSupported = 8,
    InvalidFlag = 10,
    InvalidParam = 11,
    InvalidLine = 1024,
    InvalidControl = 1025,
    InvalidValue = 1026,
    DeviceLost = 1100, // an open mixer stopped answering: removed, or its sound server ended
};

// Line flags (TMixerLine::fdwLine).
inline constexpr std::uint32_t LineActive = 0x1;
inline constexpr std::uint32_t LineDisconnected = 0x8000;
inline constexpr std::uint32_t LineSource = 0x80000000u;

// Control flags (TMixerControl::fdwControl).
inline constexpr std::uint32_t ControlUniform = 0x1; // one value for all channels
inline constexpr std::uint32_t ControlMultiple = 0x2; // cMultipleItems items
inline constexpr std::uint32_t ControlDisabled = 0x80000000u;

// Kinds of device a line stands for (TMixerLineTarget::dwType).
enum TargetType : std::uint32_t {
    TargetUndefined = 0,
    TargetWaveOut = 1,
    TargetWaveIn = 2,
    TargetMidiOut = 3,
    TargetMidiIn = 4,
    TargetAux = 5,
};

// Component type codes of lines.
enum ComponentCode : std::uint32_t {
    DstUndefined = 0,
    DstDigital = 1,
    DstLine = 2,
    DstMonitor = 3,
    DstSpeakers = 4,
    DstHeadphones = 5,
    DstTelephone = 6,
    DstWaveIn = 7,
    DstVoiceIn = 8,
    SrcUndefined = 0x1000,
    SrcDigital = 0x1001,
    SrcLine = 0x1002,
    SrcMicrophone = 0x1003,
    SrcSynthesizer = 0x1004,
    SrcCompactDisc = 0x1005,
    SrcTelephone = 0x1006,
    SrcPCSpeaker = 0x1007,
    SrcWaveOut = 0x1008,
    SrcAuxiliary = 0x1009,
    SrcAnalog = 0x100A,
};

// Control type codes: the class in the top four bits, the value units below.
enum ControlCode : std::uint32_t {
    CtlCustom = 0,
    CtlBooleanMeter = 0x10010000,
    CtlSignedMeter = 0x10020000,
    CtlPeakMeter = 0x10020001,
    CtlUnsignedMeter = 0x10030000,
    CtlBoolean = 0x20010000,
    CtlOnOff = 0x20010001,
    CtlMute = 0x20010002,
    CtlMono = 0x20010003,
    CtlLoudness = 0x20010004,
    CtlStereoEnh = 0x20010005,
    CtlButton = 0x21010000,
    CtlSigned = 0x30020000,
    CtlUnsigned = 0x30030000,
    CtlDecibels = 0x30040000,
    CtlPercent = 0x30050000,
    CtlSlider = 0x40020000,
    CtlPan = 0x40020001,
    CtlQSoundPan = 0x40020002,
    CtlFader = 0x50030000,
    CtlVolume = 0x50030001,
    CtlBass = 0x50030002,
    CtlTreble = 0x50030003,
    CtlEqualizer = 0x50030004,
    CtlSingleSelect = 0x70010000,
    CtlMux = 0x70010001,
    CtlMultipleSelect = 0x71010000,
    CtlMixer = 0x71010001,
    CtlMicroTime = 0x60030000,
    CtlMilliTime = 0x61030000,
};

// List controls whose bits 24 to 27 are 0 let one item be selected at a time.
constexpr bool IsSingleSelect(std::uint32_t type)
{
    return (type >> 28) == 7 && ((type >> 24) & 0xF) == 0;
}
constexpr bool IsListControl(std::uint32_t type)
{
    return (type >> 28) == 7;
}

// Lengths of the name fields, terminating zero included.
inline constexpr std::size_t ShortNameChars = 16;
inline constexpr std::size_t NameChars = 64;
inline constexpr std::size_t ProductNameChars = 32;

} // namespace mixer
} // namespace zv

// The records the mixer service exchanges, like the wave records, outside the namespace.
// Capabilities of one mixer. Its first fields are those every device kind's capabilities share.
struct TMixerCaps {
    std::uint16_t wMid;
    std::uint16_t wPid;
    std::uint32_t vDriverVersion; // low word: major version in the high byte, minor in the low byte
    char szPname[zv::mixer::ProductNameChars];
    std::uint32_t fdwSupport;
    std::uint32_t cDestinations;
};

// The device a line stands for, so a line can be found from a wave device.
struct TMixerLineTarget {
    std::uint32_t dwType; // zv::mixer::TargetType
    std::uint32_t dwDeviceID;
    std::uint16_t wMid;
    std::uint16_t wPid;
    std::uint32_t vDriverVersion;
    char szPname[zv::mixer::ProductNameChars];
};

struct TMixerLine {
    std::uint32_t dwDestination; // index of the destination (of the line itself, or the one it feeds)
    std::uint32_t dwSource; // index among that destination's sources; 0 for a destination
    std::uint32_t dwLineID;
    std::uint32_t fdwLine; // zv::mixer::Line* flags
    std::uint32_t dwComponentType; // zv::mixer::ComponentCode
    std::uint32_t cChannels;
    std::uint32_t cConnections; // a destination's number of sources
    std::uint32_t cControls;
    char szShortName[zv::mixer::ShortNameChars];
    char szName[zv::mixer::NameChars];
    TMixerLineTarget Target;
};

struct TMixerControl {
    std::uint32_t dwControlID;
    std::uint32_t dwControlType; // zv::mixer::ControlCode
    std::uint32_t fdwControl; // zv::mixer::Control* flags
    std::uint32_t cMultipleItems; // 0 unless ControlMultiple
    char szShortName[zv::mixer::ShortNameChars];
    char szName[zv::mixer::NameChars];
    std::int64_t lMinimum; // signed or unsigned 32-bit bounds
    std::int64_t lMaximum;
    std::uint32_t cSteps;
};

// One item of a multiple-item control; for selectors and mixers dwParam1 is the line id of the source
// the item stands for.
struct TMixerListText {
    std::uint32_t dwParam1;
    std::uint32_t dwParam2;
    char szName[zv::mixer::NameChars];
};

namespace zv {

// A mixer named by an open handle (when not 0) or else by its device id.
struct MixerObject {
    MixerHandle handle = 0;
    int id = 0;
};

enum class MixerLineQuery {
    Destination, // by dwDestination
    Source, // by dwDestination and dwSource
    LineId, // by dwLineID
    ComponentType, // the first line, destinations before their sources, of dwComponentType
    TargetType, // the first line whose Target matches (type, manufacturer, product, version, name)
};

enum class MixerNotification {
    LineChange, // Param: the line id
    ControlChange, // Param: the control id
    Failed, // Param: the error code; the mixer reports nothing more, queries through it fail
};

// Called on the thread that opened the mixer, from its event loop.
using MixerCallback
    = void (*)(MixerHandle Handle, MixerNotification Message, void* Instance, std::int64_t Param);

class MixerOps {
public:
    virtual ~MixerOps() = default;

    virtual const char* Name() const = 0;
    virtual int GetNumDevs() = 0; // the count itself
    virtual int GetDevCaps(int DeviceId, TMixerCaps& Caps) = 0; // -1: the mapper, where there is one
    // 0 and the text, or non-zero when the code has no text.
    virtual int GetErrorText(int Code, char* Text, std::size_t Size) = 0;
    virtual int Open(MixerHandle* Handle, int DeviceId, MixerCallback Callback, void* Instance) = 0;
    virtual int Close(MixerHandle Handle) = 0;
    virtual int GetID(MixerHandle Handle, int* DeviceId) = 0;
    // The mixer that belongs to a device of another kind, by that device's product name: -1 when none.
    virtual int GetIdOf(mixer::TargetType Kind, const char* ProductName, int* DeviceId) = 0;

    // Line fills the fields the query names; the answer replaces it whole.
    virtual int GetLineInfo(MixerObject Mixer, TMixerLine& Line, MixerLineQuery Query) = 0;
    // One control of a line by its type, or any control by its id (LineId then tells its line).
    virtual int GetLineControl(
        MixerObject Mixer, std::uint32_t LineId, std::uint32_t Type, TMixerControl& Control)
        = 0;
    virtual int GetControl(
        MixerObject Mixer, std::uint32_t ControlId, TMixerControl& Control, std::uint32_t* LineId)
        = 0;
    // Channels x max(Items, 1) values. One channel on a control of several reads the largest value
    // and writes all channels alike.
    virtual int GetControlValues(
        MixerObject Mixer, std::uint32_t ControlId, int Channels, int Items, std::int32_t* Values)
        = 0;
    virtual int SetControlValues(
        MixerObject Mixer, std::uint32_t ControlId, int Channels, int Items, const std::int32_t* Values)
        = 0;
    virtual int GetListTexts(MixerObject Mixer, std::uint32_t ControlId, int Items, TMixerListText* Texts)
        = 0;
};

// ---- ALSA ------------------------------------------------------------------------------------
// Device 0 is the "default" control device, named "Default device" as the capture list names it;
// then one mixer per card ("hw:N"), named as the capture list names the card. No mapper.
MixerOps& AlsaMixer();

// ---- in memory -------------------------------------------------------------------------------
// A mixer described by a small table. Ids: destination d has line id d, source s of it
// (s + 1) << 16 | d; controls are numbered from 0 in table order, destinations with their own
// controls first, then their sources'.
struct MemoryControl {
    std::uint32_t type = mixer::CtlVolume;
    std::string name; // also the short name, cut to 15 bytes, unless shortName is given
    std::string shortName;
    std::uint32_t flags = 0; // ControlMultiple is set for list controls
    std::int64_t minimum = 0;
    std::int64_t maximum = 65535;
    std::uint32_t steps = 0; // 0: maximum - minimum for faders, 0 otherwise
    // Items of a list control: empty means one item per source of the line's destination, standing
    // for that source (dwParam1 its line id, its name).
    std::vector<std::string> items;
    // Channels x max(items, 1) initial values; missing ones are 0.
    std::vector<std::int32_t> values;
};

struct MemoryLine {
    std::uint32_t componentType = mixer::SrcUndefined;
    std::string name;
    std::string shortName;
    std::uint32_t channels = 2;
    std::uint32_t flags = mixer::LineActive;
    TMixerLineTarget target {};
    std::vector<MemoryControl> controls;
    std::vector<MemoryLine> sources; // destinations only
};

struct MemoryMixerTable {
    std::string name;
    std::uint16_t mid = 0;
    std::uint16_t pid = 0;
    std::uint32_t version = 0x0100;
    std::vector<MemoryLine> destinations;
};

class MemoryMixerOps : public MixerOps {
public:
    // As another program would: changes values and tells every open handle of that mixer.
    virtual int SetValuesFromOutside(
        int DeviceId, std::uint32_t ControlId, const std::vector<std::int32_t>& Values)
        = 0;
    // The mixer disappears: open handles get Failed(DeviceLost) once, and every later open or query
    // answers NoDriver until Reconnect.
    virtual void Disconnect(int DeviceId) = 0;
    virtual void Reconnect(int DeviceId) = 0;
    // Values written to the mixer so far, from any handle or from outside.
    virtual std::uint64_t WriteCount() const = 0;
};

// hasMapper: device id -1 is the first mixer.
std::unique_ptr<MemoryMixerOps> MakeMemoryMixer(
    const std::vector<MemoryMixerTable>& Mixers, bool HasMapper = false);

// The mixer of a synthetic capture device: speakers with line input, microphone and CD, and the
// recording with the same three sources, its source selector (line input chosen) and volumes, the
// playback sources' mutes.
MemoryMixerTable SyntheticMixerTable(const std::string& ProductName);

// ZOVEVA_WAVEIN=synthetic: one in-memory mixer per synthetic capture device, of the same name (the
// first is the mapper too). Otherwise ALSA.
MixerOps& DefaultMixer();

// Name fields: text cut to Size - 1 bytes without splitting a UTF-8 sequence, zero-terminated.
void CopyMixerName(const std::string& Text, char* Out, std::size_t Size);

} // namespace zv
