#pragma once

// Mixers for tests, benchmarks and pictures: small tables for the in-memory binding.

#include "platform/Mixer.h"

#include <string>
#include <vector>

namespace test {

inline zv::MemoryControl Control(std::uint32_t type, const std::string& name,
    std::vector<std::int32_t> values, std::uint32_t flags = 0, std::int64_t maximum = 65535,
    std::uint32_t steps = 0)
{
    zv::MemoryControl c;
    c.type = type;
    c.name = name;
    c.flags = flags;
    c.maximum = maximum;
    c.steps = steps;
    c.values = std::move(values);
    return c;
}

inline zv::MemoryLine Line(std::uint32_t type, const std::string& name,
    std::vector<zv::MemoryControl> controls, std::uint32_t channels = 2)
{
    zv::MemoryLine l;
    l.componentType = type;
    l.name = name;
    l.channels = channels;
    l.controls = std::move(controls);
    return l;
}

inline TMixerLineTarget Target(
    zv::mixer::TargetType type, const std::string& name, std::uint32_t version = 0x0100)
{
    TMixerLineTarget t {};
    t.dwType = type;
    t.vDriverVersion = version;
    zv::CopyMixerName(name, t.szPname, sizeof t.szPname);
    return t;
}

// A studio card: speakers (master volume and mute) with line input, microphone and CD, and the
// recording with line input, CD, aux and stereo mix (no microphone), a four-item stereo selector
// (line input chosen) and a recording volume.
inline zv::MemoryMixerTable StudioCard(const std::string& name = "Studio Card")
{
    using namespace zv::mixer;
    zv::MemoryMixerTable t;
    t.name = name;
    zv::MemoryLine speakers = Line(DstSpeakers, "Speakers",
        { Control(CtlVolume, "Master Volume", { 40000, 40000 }),
            Control(CtlMute, "Master Mute", { 0 }, ControlUniform, 1) });
    speakers.target = Target(TargetWaveOut, name);
    speakers.sources = {
        Line(SrcLine, "Line In",
            { Control(CtlVolume, "Line Volume", { 20000, 20000 }),
                Control(CtlMute, "Line Mute", { 0 }, ControlUniform, 1) }),
        Line(SrcMicrophone, "Microphone", { Control(CtlVolume, "Mic Volume", { 10000, 10000 }) }),
        Line(SrcCompactDisc, "CD Audio", { Control(CtlVolume, "CD Volume", { 30000, 30000 }) }),
    };
    zv::MemoryLine recording = Line(DstWaveIn, "Recording",
        { Control(CtlMux, "Recording Source", { 1, 1, 0, 0, 0, 0, 0, 0 }, 0, 3),
            Control(CtlVolume, "Recording Volume", { 50000, 50000 }) });
    recording.target = Target(TargetWaveIn, name);
    recording.sources = {
        Line(SrcLine, "Line In", { Control(CtlVolume, "Line Rec Volume", { 30000, 30000 }) }),
        Line(SrcCompactDisc, "CD Audio", { Control(CtlVolume, "CD Rec Volume", { 0, 0 }) }),
        Line(SrcAuxiliary, "Aux", { Control(CtlVolume, "Aux Rec Volume", { 0, 0 }) }),
        Line(SrcAnalog, "Stereo Mix", { Control(CtlVolume, "Mix Rec Volume", { 0, 0 }) }),
    };
    t.destinations = { speakers, recording };
    return t;
}

// A second card: only a recording destination with a microphone.
inline zv::MemoryMixerTable MicCard(const std::string& name = "USB Microphone")
{
    using namespace zv::mixer;
    zv::MemoryMixerTable t;
    t.name = name;
    zv::MemoryLine recording = Line(DstWaveIn, "Recording", {}, 1);
    recording.target = Target(TargetWaveIn, name);
    recording.sources
        = { Line(SrcMicrophone, "Mic", { Control(CtlVolume, "Mic Capture", { 16000 }, ControlUniform) }, 1) };
    t.destinations = { recording };
    return t;
}

} // namespace test
