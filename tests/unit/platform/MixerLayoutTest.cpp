// How the ALSA mixer's elements become lines and controls, from element tables recorded from cards
// (as amixer lists them), and how values travel between the model's arrays and the elements.

#include "platform/MixerLayout.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

namespace {

using zv::detail::AlsaLayout;
using zv::detail::MixerElement;
namespace mx = zv::mixer;

constexpr std::uint32_t kStereo = 0x3; // front left and right
constexpr std::uint32_t kVersion = 0x010208;

MixerElement Playback(
    const std::string& name, long max, bool switched = true, std::uint32_t channels = kStereo)
{
    MixerElement e;
    e.name = name;
    e.playback = { true, switched, 0, max, channels, false };
    return e;
}

MixerElement Capture(
    const std::string& name, long max, bool switched = true, std::uint32_t channels = kStereo)
{
    MixerElement e;
    e.name = name;
    e.capture = { max > 0, switched, 0, max, channels, false };
    return e;
}

// Values of a recorded card, kept per element, direction and channel.
class RecordedElements : public zv::detail::MixerElementAccess {
public:
    std::map<std::tuple<std::size_t, bool, int>, long> volume;
    std::map<std::tuple<std::size_t, bool, int>, int> switches;
    std::map<std::pair<std::size_t, int>, unsigned> enums;
    std::vector<std::string> writes;

    int GetVolume(std::size_t e, bool c, int ch, long* v) override { return Get(volume, { e, c, ch }, v); }
    int SetVolume(std::size_t e, bool c, int ch, long v) override
    {
        writes.push_back("volume " + std::to_string(e) + "/" + std::to_string(ch) + "=" + std::to_string(v));
        volume[{ e, c, ch }] = v;
        return 0;
    }
    int GetSwitch(std::size_t e, bool c, int ch, int* v) override { return Get(switches, { e, c, ch }, v); }
    int SetSwitch(std::size_t e, bool c, int ch, int v) override
    {
        writes.push_back("switch " + std::to_string(e) + "/" + std::to_string(ch) + "=" + std::to_string(v));
        switches[{ e, c, ch }] = v;
        return 0;
    }
    int GetEnum(std::size_t e, int ch, unsigned* item) override { return Get(enums, { e, ch }, item); }
    int SetEnum(std::size_t e, int ch, unsigned item) override
    {
        writes.push_back("enum " + std::to_string(e) + "/" + std::to_string(ch) + "=" + std::to_string(item));
        enums[{ e, ch }] = item;
        return 0;
    }

private:
    template <typename M, typename V> static int Get(const M& m, const typename M::key_type& k, V* v)
    {
        const auto it = m.find(k);
        if (it == m.end())
            return -22; // the element has no such channel
        *v = it->second;
        return 0;
    }
};

struct LineView {
    std::string name;
    std::uint32_t type;
    std::vector<std::string> controls; // "type name" of each control
};

// Destination by destination: the destination, then its sources.
std::vector<std::vector<LineView>> Describe(const AlsaLayout& layout)
{
    const auto& s = layout.Structure();
    std::vector<std::vector<LineView>> out(s.Caps().cDestinations);
    for (const TMixerLine& l : s.Lines()) {
        LineView v { l.szName, l.dwComponentType, {} };
        for (const auto& c : s.Controls())
            if (c.lineId == l.dwLineID) {
                const char* kind = c.info.dwControlType == mx::CtlVolume ? "volume"
                    : c.info.dwControlType == mx::CtlMute                ? "mute"
                    : c.info.dwControlType == mx::CtlMux                 ? "mux"
                    : c.info.dwControlType == mx::CtlMixer               ? "mixer"
                                                                         : "other";
                v.controls.push_back(std::string(kind) + " " + c.info.szName);
            }
        out[l.dwDestination].push_back(v);
    }
    return out;
}

const zv::detail::MixerStructure::Control& ControlOf(
    const AlsaLayout& layout, std::uint32_t line, std::uint32_t type)
{
    for (const auto& c : layout.Structure().Controls())
        if (c.lineId == line && c.info.dwControlType == type)
            return c;
    throw std::runtime_error("no such control");
}

// ---- mapping ---------------------------------------------------------------------------------

// An HDA codec: a mono master, loopback volumes for line and mic, one capture volume, and the input
// chosen by the enumeration "Input Source".
std::vector<MixerElement> HdaCodec()
{
    MixerElement master = Playback("Master", 87, true, 0x1);
    MixerElement boost;
    boost.name = "Mic Boost";
    boost.playback = { true, false, 0, 3, kStereo, false };
    MixerElement automute;
    automute.name = "Auto-Mute Mode";
    automute.enumerated = true;
    automute.enumItems = { "Disabled", "Enabled" };
    MixerElement input;
    input.name = "Input Source";
    input.enumerated = true;
    input.enumCapture = true;
    input.enumItems = { "Mic", "Line", "Internal Mic" };
    return { master, Playback("PCM", 255, false), Playback("Line", 31), Playback("Mic", 31), boost,
        Capture("Capture", 63), automute, input };
}

TEST(MixerLayout, AnHdaCodecRecordsTheChosenInputAtTheCaptureVolume)
{
    const AlsaLayout layout(HdaCodec(), "HDA Intel PCH", kVersion);
    const auto d = Describe(layout);
    ASSERT_EQ(d.size(), 2u);
    using V = std::vector<std::string>;
    // Playback: the master's volume and mute on the destination, every other playing element a source.
    ASSERT_EQ(d[0].size(), 5u);
    EXPECT_EQ(d[0][0].type, std::uint32_t(mx::DstSpeakers));
    EXPECT_EQ(d[0][0].controls, (V { "volume Master Volume", "mute Master Mute" }));
    EXPECT_EQ(d[0][1].name, "PCM");
    EXPECT_EQ(d[0][1].type, std::uint32_t(mx::SrcWaveOut));
    EXPECT_EQ(d[0][1].controls, (V { "volume PCM Volume" }));
    EXPECT_EQ(d[0][2].type, std::uint32_t(mx::SrcLine));
    EXPECT_EQ(d[0][2].controls, (V { "volume Line Volume", "mute Line Mute" }));
    EXPECT_EQ(d[0][3].type, std::uint32_t(mx::SrcMicrophone));
    EXPECT_EQ(d[0][4].name, "Mic Boost");
    // Recording: the selector's items are its sources, each recorded at the capture volume.
    ASSERT_EQ(d[1].size(), 4u);
    EXPECT_EQ(d[1][0].type, std::uint32_t(mx::DstWaveIn));
    EXPECT_EQ(d[1][0].controls, (V { "volume Capture Volume", "mute Capture Mute", "mux Input Source" }));
    EXPECT_EQ(d[1][1].name, "Mic");
    EXPECT_EQ(d[1][2].type, std::uint32_t(mx::SrcLine));
    EXPECT_EQ(d[1][3].type, std::uint32_t(mx::SrcMicrophone));
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(d[1][std::size_t(i)].controls, (V { "volume Capture Volume" })) << i;

    const auto& mux = ControlOf(layout, 1, mx::CtlMux);
    ASSERT_EQ(mux.items.size(), 3u);
    EXPECT_EQ(mux.items[1].dwParam1, zv::detail::SourceLineId(1, 1));
    EXPECT_STREQ(mux.items[2].szName, "Internal Mic");
    // The mono master is one value for both channels; a stereo volume is not.
    EXPECT_TRUE(ControlOf(layout, 0, mx::CtlVolume).info.fdwControl & mx::ControlUniform);
    EXPECT_FALSE(ControlOf(layout, 1, mx::CtlVolume).info.fdwControl & mx::ControlUniform);
    EXPECT_EQ(ControlOf(layout, 0, mx::CtlVolume).info.cSteps, 87u);
    // A change of the capture element reaches every control that shows it.
    EXPECT_EQ(layout.ControlsOf(5).size(), 5u);
    // The recording is found as the capture device of this card.
    TMixerLine line {};
    line.Target.dwType = mx::TargetWaveIn;
    line.Target.vDriverVersion = kVersion & 0xFFFF;
    std::strcpy(line.Target.szPname, "HDA Intel PCH");
    ASSERT_EQ(layout.Structure().LineInfo(line, zv::MixerLineQuery::TargetType), 0);
    EXPECT_EQ(line.dwLineID, 1u);
}

TEST(MixerLayout, ExclusiveCaptureSwitchesMakeASelectorAndOthersAMixer)
{
    // An AC'97 codec: the capture source enumeration appears as exclusive capture switches.
    std::vector<MixerElement> ac97 = { Playback("Master", 31), Playback("Line", 31), Playback("CD", 31),
        Playback("Mic", 31, true, 0x1), Capture("Capture", 15) };
    for (std::size_t i : { 1u, 2u, 3u }) {
        ac97[i].capture = { false, true, 0, 0, ac97[i].playback.channels, false };
        ac97[i].captureGroup = 1;
    }
    MixerElement mix = Capture("Mix", 0);
    mix.captureGroup = 1;
    ac97.push_back(mix);
    const AlsaLayout exclusive(ac97, "Intel ICH5", kVersion);
    auto d = Describe(exclusive);
    ASSERT_EQ(d[1].size(), 5u);
    EXPECT_EQ(d[1][0].controls.back(), "mux Capture Source");
    EXPECT_EQ(d[1][4].type, std::uint32_t(mx::SrcAnalog));
    EXPECT_EQ(ControlOf(exclusive, 1, mx::CtlMux).items.size(), 4u);

    // A card whose capture switches are independent records several sources at once.
    for (MixerElement& e : ac97)
        e.captureGroup = 0;
    d = Describe(AlsaLayout(ac97, "Some Card", kVersion));
    EXPECT_EQ(d[1][0].controls.back(), "mixer Capture Sources");

    // A USB microphone: one source, no playback, no capture element of its own.
    d = Describe(AlsaLayout({ Capture("Mic", 16, true, 0x1) }, "USB Mic", kVersion));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0][0].type, std::uint32_t(mx::DstWaveIn));
    EXPECT_EQ(d[0][1].controls, (std::vector<std::string> { "volume Mic Volume" }));
}

TEST(MixerLayout, ElementNamesGiveTheSourceTypes)
{
    const std::pair<const char*, std::uint32_t> cases[] = {
        { "Line", mx::SrcLine },
        { "Line Boost", mx::SrcLine },
        { "Front Mic", mx::SrcMicrophone },
        { "Headset Mic", mx::SrcMicrophone },
        { "Microphone", mx::SrcMicrophone },
        { "CD", mx::SrcCompactDisc },
        { "Aux", mx::SrcAuxiliary },
        { "PCM", mx::SrcWaveOut },
        { "Beep", mx::SrcPCSpeaker },
        { "PC Speaker", mx::SrcPCSpeaker },
        { "Phone", mx::SrcTelephone },
        { "IEC958", mx::SrcDigital },
        { "Synth", mx::SrcSynthesizer },
        { "Stereo Mix", mx::SrcAnalog },
        { "Headphone", mx::SrcUndefined },
        { "Surround", mx::SrcUndefined },
        { "Cdrom", mx::SrcUndefined }, // words, not letters: "cd" must stand alone
        { "", mx::SrcUndefined },
    };
    for (const auto& [name, type] : cases)
        EXPECT_EQ(zv::detail::SourceTypeOfName(name), type) << name;
}

TEST(MixerLayout, HostileNamesAreCutWithoutBreakingCharacters)
{
    // 40 bytes of two-byte letters, and bytes that are no UTF-8 at all.
    std::string accented;
    for (int i = 0; i < 20; ++i)
        accented += "\xC3\xA7";
    const std::string junk = "Line \xFF\xFE\x80 in " + std::string(80, 'x');
    const AlsaLayout layout({ Playback(accented, 10), Playback(junk, 10) }, std::string(100, 'N'), kVersion);
    const auto& lines = layout.Structure().Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(std::string(lines[1].szName), accented); // fits in 63 bytes
    EXPECT_EQ(std::string(lines[1].szShortName), accented.substr(0, 14)); // 15 would split a letter
    EXPECT_EQ(std::strlen(lines[2].szName), 63u);
    EXPECT_EQ(lines[2].dwComponentType, std::uint32_t(mx::SrcLine));
    EXPECT_EQ(std::strlen(layout.Structure().Caps().szPname), 31u);

    char out[4];
    const std::pair<std::string, std::string> cuts[] = {
        { "ab\xE2\x82\xAC", "ab" }, // a three-byte character that would be cut goes whole
        { "a\xE2\x82\xAC", "a" }, // four bytes do not fit in three
        { "a\xC3\xA7", "a\xC3\xA7" }, { "abc\x80\x80", "abc" },
        { "\x80\x80\x80\x80\x80", "\x80\x80\x80" }, // no lead byte: cut where it falls
    };
    for (const auto& [in, expected] : cuts) {
        zv::CopyMixerName(in, out, sizeof out);
        EXPECT_EQ(std::string(out), expected);
    }
}

// ---- values ----------------------------------------------------------------------------------

TEST(MixerLayout, VolumesAndMutesTravelAsFaderValuesAndInverseSwitches)
{
    // The sound server's mixer: 0 ... 65536 in both directions.
    const AlsaLayout layout(
        { Playback("Master", 65536), Capture("Capture", 65536) }, "Default device", kVersion);
    RecordedElements card;
    card.volume = { { { 0, false, 0 }, 32768 }, { { 0, false, 1 }, 65536 }, { { 1, true, 0 }, 0 },
        { { 1, true, 1 }, 0 } };
    card.switches = { { { 0, false, 0 }, 1 }, { { 0, false, 1 }, 0 } };
    const std::uint32_t volume = ControlOf(layout, 0, mx::CtlVolume).info.dwControlID;
    const std::uint32_t mute = ControlOf(layout, 0, mx::CtlMute).info.dwControlID;
    EXPECT_EQ(ControlOf(layout, 0, mx::CtlVolume).info.cSteps, 65536u);

    std::int32_t v[2] = {};
    ASSERT_EQ(layout.Get(card, volume, 2, 0, v), 0);
    EXPECT_EQ(v[0], 32768); // 32768 x 65535 / 65536 = 32767.5, halves to even
    EXPECT_EQ(v[1], 65535);
    ASSERT_EQ(layout.Get(card, volume, 1, 0, v), 0);
    EXPECT_EQ(v[0], 65535); // one channel reads the louder
    ASSERT_EQ(layout.Get(card, mute, 2, 0, v), 0);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 1);

    const std::int32_t both[1] = { 1000 };
    ASSERT_EQ(layout.Set(card, volume, 1, 0, both), 0);
    EXPECT_EQ((card.volume[{ 0, false, 0 }]), 1000); // 1000 x 65536 / 65535 = 1000.02
    EXPECT_EQ((card.volume[{ 0, false, 1 }]), 1000);
    const std::int32_t off[2] = { 0, 0 };
    ASSERT_EQ(layout.Set(card, mute, 2, 0, off), 0);
    EXPECT_EQ((card.switches[{ 0, false, 1 }]), 1);
    // Out of the fader's range: clamped, not wrapped.
    const std::int32_t loud[1] = { 70000 };
    ASSERT_EQ(layout.Set(card, volume, 1, 0, loud), 0);
    EXPECT_EQ((card.volume[{ 0, false, 0 }]), 65536);
    // Shapes the control does not have are refused.
    EXPECT_EQ(layout.Get(card, volume, 3, 0, v), mx::InvalidParam);
    EXPECT_EQ(layout.Get(card, volume, 1, 2, v), mx::InvalidParam);
    EXPECT_EQ(layout.Get(card, 99, 1, 0, v), mx::InvalidControl);
}

TEST(MixerLayout, SelectorsWriteTheEnumerationOrTheSwitches)
{
    const AlsaLayout hda(HdaCodec(), "HDA", kVersion);
    RecordedElements card;
    card.enums = { { { 7, 0 }, 0 }, { { 7, 1 }, 0 } };
    const auto& mux = ControlOf(hda, 1, mx::CtlMux);
    std::int32_t v[3] = {};
    ASSERT_EQ(hda.Get(card, mux.info.dwControlID, 1, 3, v), 0);
    EXPECT_EQ(std::vector<std::int32_t>(v, v + 3), (std::vector<std::int32_t> { 1, 0, 0 }));
    const std::int32_t line[3] = { 0, 1, 0 };
    bool kept = true;
    ASSERT_EQ(hda.Set(card, mux.info.dwControlID, 1, 3, line, &kept), 0);
    EXPECT_FALSE(kept);
    EXPECT_EQ(card.writes, (std::vector<std::string> { "enum 7/0=1" })); // the element's one channel
    // Nothing selected: the card keeps recording what it recorded, and says so.
    const std::int32_t none[3] = { 0, 0, 0 };
    ASSERT_EQ(hda.Set(card, mux.info.dwControlID, 1, 3, none, &kept), 0);
    EXPECT_TRUE(kept);
    EXPECT_EQ((card.enums[{ 7, 0 }]), 1u);

    std::vector<MixerElement> ac97 = { Capture("Line", 0), Capture("CD", 0), Capture("Capture", 15) };
    ac97[0].captureGroup = ac97[1].captureGroup = 1;
    const AlsaLayout switches(ac97, "AC97", kVersion);
    RecordedElements codec;
    codec.switches
        = { { { 0, true, 0 }, 1 }, { { 0, true, 1 }, 1 }, { { 1, true, 0 }, 0 }, { { 1, true, 1 }, 0 } };
    const auto& sel = ControlOf(switches, 0, mx::CtlMux);
    const std::int32_t cd[2] = { 0, 1 };
    ASSERT_EQ(switches.Set(codec, sel.info.dwControlID, 1, 2, cd), 0);
    // The old source goes off before the new one comes on.
    EXPECT_EQ(codec.writes,
        (std::vector<std::string> { "switch 0/0=0", "switch 0/1=0", "switch 1/0=1", "switch 1/1=1" }));
    ASSERT_EQ(switches.Get(codec, sel.info.dwControlID, 1, 2, v), 0);
    EXPECT_EQ(std::vector<std::int32_t>(v, v + 2), (std::vector<std::int32_t> { 0, 1 }));
}

} // namespace
