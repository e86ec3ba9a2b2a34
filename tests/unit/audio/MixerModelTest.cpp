// The mixer model on the in-memory mixer: finding lines and controls, the item accessors, balance,
// change reports and their filtering, device ids, and a card that goes away.

#include "audio/MMMixer.h"
#include "platform/AppError.h"
#include "platform/WaveIn.h"
#include "tests/support/MixerTables.h"
#include "tests/unit/audio/WaveInSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace std::chrono_literals;

constexpr TMMLineId kRecording = 1;
constexpr TMMLineId kRecLine = (1 << 16) | 1;

// The settings window's arrangement on a studio card and a microphone card.
class MixerModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        ops = zv::MakeMemoryMixer({ test::StudioCard(), test::MicCard() });
        device = std::make_unique<TMMMixerDevice>(nullptr, ops.get());
        recording.SetMixer(device.get());
        recording.SetComponentType(ctDstWaveIn);
        recSource.SetMixer(device.get());
        recSource.SetDestLine(&recording);
        recSource.SetComponentType(ctSrcLine);
        selector.SetAudioLine(&recording);
        selector.SetControlType(ctMux);
        recVolume.SetAudioLine(&recSource);
        device->SetActive(true);
    }

    // Values as the card holds them, both channels of every item.
    std::vector<std::int32_t> Stored(TMMCustomMixerControl& c)
    {
        std::vector<std::int32_t> v(std::size_t(c.Channels() * std::max(c.Items(), 1)));
        device->GetControlValues(std::uint32_t(c.ControlId()), c.Channels(), c.Items(), v.data());
        return v;
    }

    std::unique_ptr<zv::MemoryMixerOps> ops;
    std::unique_ptr<TMMMixerDevice> device;
    TMMAudioLine recording;
    TMMAudioLine recSource;
    TMMMixerControl selector;
    TMMVolumeControl recVolume;
};

TEST_F(MixerModel, SourcesOfTheRecordingAreFoundByTypeAndMissingOnesAreNotErrors)
{
    EXPECT_EQ(recording.LineId(), kRecording);
    EXPECT_EQ(recording.DestIndex(), 1);
    EXPECT_EQ(recording.LineInfo().Connections, 4);
    EXPECT_EQ(recSource.LineId(), kRecLine);
    EXPECT_EQ(recVolume.ControlId(), 8);
    EXPECT_EQ(recVolume.GetUnsigned(), 30000u);

    // The card's microphone feeds only the speakers: no recording source of that type.
    recSource.SetComponentType(ctSrcMicrophone);
    EXPECT_EQ(recSource.LineId(), badLineId);
    EXPECT_EQ(recSource.LineInfo().Name, QString());
    EXPECT_EQ(recSource.LineInfo().Channels, 0);
    EXPECT_EQ(recVolume.ControlId(), badControlId);
    EXPECT_FALSE(recVolume.IsValid());

    // The settings window's probe of every type finds exactly the recording's four sources.
    std::vector<TMMComponentType> found;
    for (int t = 0; t < ComponentTypeCount; ++t) {
        recSource.SetComponentType(TMMComponentType(t));
        if (recSource.LineId() != badLineId)
            found.push_back(TMMComponentType(t));
    }
    EXPECT_EQ(found, (std::vector<TMMComponentType> { ctSrcAnalog, ctSrcAux, ctSrcCD, ctSrcLine }));
}

TEST_F(MixerModel, SelectingOneItemOfAStereoSelectorLeavesOnlyThatItem)
{
    ASSERT_EQ(selector.Items(), 4);
    ASSERT_EQ(selector.Channels(), 2);
    selector.SetItemBool(chRight, 3, true); // a second source on the right channel: single-select clears it
    EXPECT_EQ(Stored(selector), (std::vector<std::int32_t> { 1, 0, 0, 0, 0, 0, 0, 1 }));

    selector.SetItemBool(chBoth, 2, true);
    EXPECT_EQ(Stored(selector), (std::vector<std::int32_t> { 0, 0, 0, 0, 1, 1, 0, 0 }));
    for (int item = 0; item < 4; ++item) {
        EXPECT_EQ(selector.GetItemBool(chLeft, item), item == 2) << item;
        EXPECT_EQ(selector.GetItemBool(chRight, item), item == 2) << item;
    }
}

TEST_F(MixerModel, ItemsStandForTheirSourceLines)
{
    EXPECT_EQ(selector.ItemOfLine(&recSource), 0);
    EXPECT_EQ(selector.ItemInfo(0).Name, QStringLiteral("Line In"));
    EXPECT_EQ(selector.ItemInfo(0).Param1, std::uint32_t(kRecLine));
    recSource.SetComponentType(ctSrcAnalog);
    EXPECT_EQ(selector.ItemOfLine(&recSource), 3);
    recSource.SetComponentType(ctSrcMicrophone);
    EXPECT_EQ(selector.ItemOfLine(&recSource), NoItem);
    EXPECT_EQ(recVolume.ItemOfLine(&recSource), NoItem); // not a selector
}

TEST_F(MixerModel, BalanceScalesOneChannelAndKeepsTheVolume)
{
    recVolume.SetUnsigned(40000);
    struct Case {
        int pan;
        std::int32_t left, right;
    };
    const Case cases[] = {
        { 16384, 19999, 40000 }, // 40000 x 16383 / 32767, truncated
        { 32767, 0, 40000 }, { -16384, 40000, 20000 }, // 40000 x 16384 / 32768
        { -32768, 40000, 0 }, { 0, 40000, 40000 }, // back in the middle: the louder channel kept the volume
    };
    for (const Case& c : cases) {
        recVolume.SetPanValue(c.pan);
        EXPECT_EQ(Stored(recVolume), (std::vector<std::int32_t> { c.left, c.right })) << "pan " << c.pan;
    }
    recVolume.SetPanValue(70000);
    EXPECT_EQ(recVolume.PanValue(), 32767);
}

TEST_F(MixerModel, AccessErrorsSayWhatIsMissing)
{
    TMMMixerControl loose; // no line
    TMMMixerControl mute; // a line without such a control
    mute.SetAudioLine(&recSource);
    mute.SetControlType(ctMute);
    const auto message = [](auto f) {
        try {
            f();
        } catch (const Exception& e) {
            return std::string(e.ClassName()) + ": " + e.what();
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { loose.GetUnsigned(); }), "EMMDeviceError: Mixer required for this operation");
    EXPECT_EQ(message([&] { mute.SetBool(true); }), "EMMDeviceError: Control not valid");
    EXPECT_EQ(message([&] { selector.GetItemBool(0, 4); }), "EMMMixerControlError: Item index out of range");
    EXPECT_EQ(message([&] { selector.ItemInfo(-1); }), "EMMMixerControlError: Item index out of range");
    EXPECT_EQ(message([&] { recVolume.ItemInfo(0); }),
        "EMMMixerControlError: Item info requested from non-multiple control");
    // A stereo volume asked for with one channel and items: the service refuses, with its own text.
    EXPECT_EQ(message([&] { selector.GetUnsigned(); }), "EMMMCIError: An invalid parameter was passed");
}

TEST_F(MixerModel, ChangeReportsReachOnlyTheControlTheyAreFor)
{
    TMMAudioLine speakers;
    speakers.SetMixer(device.get());
    speakers.SetComponentType(ctDstSpeakers);
    TMMVolumeControl master;
    master.SetAudioLine(&speakers);
    TMMMixerControl masterMute;
    masterMute.SetAudioLine(&speakers);
    masterMute.SetControlType(ctMute);
    int volumeChanges = 0, muteChanges = 0, recChanges = 0, lineReports = 0;
    master.OnChange = [&](QObject*) { ++volumeChanges; };
    masterMute.OnChange = [&](QObject*) { ++muteChanges; };
    recVolume.OnChange = [&](QObject*) { ++recChanges; };
    speakers.OnControlChange = [&](QObject*, TMMLineId line, TMMControlId control) {
        EXPECT_EQ(line, 0);
        EXPECT_EQ(control, master.ControlId());
        ++lineReports;
    };

    ASSERT_EQ(ops->SetValuesFromOutside(0, std::uint32_t(master.ControlId()), { 1000, 2000 }), 0);
    EXPECT_EQ(volumeChanges, 0) << "reports come from the event loop, not from inside the write";
    test::PumpUntil([&] { return volumeChanges > 0; });
    QCoreApplication::processEvents();
    EXPECT_EQ(volumeChanges, 1);
    EXPECT_EQ(muteChanges, 0); // another control of the same line
    EXPECT_EQ(recChanges, 0); // another line
    EXPECT_EQ(lineReports, 1);
    EXPECT_EQ(master.GetItemUnsigned(chRight, NoItem), 2000u);

    // The second card's reports do not reach the first card's components.
    TMMMixerDevice other(nullptr, ops.get());
    other.SetDeviceId(1);
    other.SetActive(true);
    ASSERT_EQ(ops->SetValuesFromOutside(1, 0, { 5 }), 0);
    test::Pump(20ms);
    EXPECT_EQ(volumeChanges + recChanges, 1);
}

TEST_F(MixerModel, DeviceIdsMustNameAMixerOrTheMapper)
{
    EXPECT_EQ(device->DeviceCount(), 2);
    try {
        device->SetDeviceId(5);
        FAIL() << "no error";
    } catch (const EMMDeviceError& e) {
        EXPECT_STREQ(e.what(), "Device id is out of range");
    }
    EXPECT_EQ(device->DeviceId(), 0);
    EXPECT_TRUE(device->Active());
    EXPECT_THROW(device->SetDeviceId(-3), EMMDeviceError);

    device->SetDeviceId(MapperId); // no mapper here: accepted, finds nothing, stays quiet
    EXPECT_EQ(device->DeviceId(), MapperId);
    EXPECT_FALSE(device->Active());
    EXPECT_EQ(recording.LineId(), badLineId);
    EXPECT_EQ(selector.ControlId(), badControlId);

    device->SetDeviceId(1); // the microphone card: recording yes, line input no
    EXPECT_EQ(device->DeviceCaps().ProductName(), QStringLiteral("USB Microphone"));
    EXPECT_EQ(recording.LineId(), 0);
    EXPECT_EQ(recSource.LineId(), badLineId);
    device->SetDeviceId(InvalidId);
    EXPECT_FALSE(device->IsValid());
    EXPECT_EQ(device->DeviceCaps().ProductName(), QString());
}

TEST_F(MixerModel, ComponentsLetGoOfWhatIsDestroyed)
{
    auto line = std::make_unique<TMMAudioLine>();
    line->SetMixer(device.get());
    line->SetComponentType(ctSrcCD);
    TMMVolumeControl cd;
    cd.SetAudioLine(line.get());
    ASSERT_TRUE(cd.IsValid());
    line.reset();
    EXPECT_EQ(cd.AudioLine(), nullptr);
    EXPECT_EQ(cd.ControlId(), badControlId);

    device.reset();
    EXPECT_EQ(recording.Mixer(), nullptr);
    EXPECT_EQ(recording.LineId(), badLineId);
    EXPECT_EQ(recSource.LineId(), badLineId);
    EXPECT_EQ(recVolume.ControlId(), badControlId);
}

TEST_F(MixerModel, WrongReferencesAreRefused)
{
    TMMMixerDevice another(nullptr, ops.get());
    EXPECT_THROW(recording.SetTarget(&another), EMMMixerDeviceError);
    EXPECT_THROW(device->SetDevice(&another), EMMMixerDeviceError);
    EXPECT_THROW(recSource.SetDestLine(&another), EMMMixerDeviceError);
    EXPECT_THROW(recording.SetDestLine(&recSource), EMMMixerDeviceError); // a loop
    EXPECT_THROW(recording.SetDestLine(&recording), EMMMixerDeviceError);
    EXPECT_EQ(recording.DestLine(), nullptr);
    EXPECT_EQ(recSource.DestLine(), &recording);
}

TEST_F(MixerModel, ACaptureDeviceLeadsToItsMixerAndItsRecordingLine)
{
    auto waveIn = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::Silence, "USB Microphone", {}, -1, true },
        { zv::SyntheticDevice::Silence, "Studio Card", {}, -1, true } });
    TMMWaveInDevice capture(nullptr, waveIn.get(), ops.get());
    EXPECT_EQ(capture.MixerId(), 1);
    capture.SetDeviceId(1);
    EXPECT_EQ(capture.MixerId(), 0);

    TMMMixerDevice follower(nullptr, ops.get());
    follower.SetDevice(&capture);
    EXPECT_EQ(follower.DeviceId(), 0);
    capture.SetDeviceId(0);
    EXPECT_EQ(follower.DeviceId(), 1);

    TMMAudioLine byTarget;
    byTarget.SetMixer(&follower);
    byTarget.SetTarget(&capture);
    EXPECT_EQ(byTarget.LineId(), 0); // the microphone card's recording
    EXPECT_EQ(byTarget.ComponentType(), ctDstWaveIn);
}

TEST_F(MixerModel, ACardThatGoesAwayDisablesEverythingAndIsReportedOnce)
{
    std::vector<std::string> errors;
    zv::SetApplicationErrorHandler([&](const std::exception& e) { errors.emplace_back(e.what()); });
    int deviceChanges = 0;
    device->OnChange = [&](QObject*) { ++deviceChanges; };

    ops->Disconnect(0);
    test::PumpUntil([&] { return !errors.empty(); });
    test::Pump(20ms);
    zv::SetApplicationErrorHandler(nullptr);

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("stopped answering"), std::string::npos) << errors[0];
    EXPECT_EQ(deviceChanges, 1);
    EXPECT_FALSE(device->Active());
    EXPECT_EQ(recording.LineId(), badLineId);
    EXPECT_EQ(recVolume.ControlId(), badControlId);
    EXPECT_FALSE(selector.IsEnabled());

    // Back again: the settings window activates the device and attaches the lines again.
    ops->Reconnect(0);
    device->SetActive(true);
    recording.Refresh();
    EXPECT_TRUE(device->Active());
    EXPECT_EQ(recSource.LineId(), kRecLine);
    EXPECT_EQ(recVolume.GetUnsigned(), 30000u);
}

// A service whose ids are positions in the list of present mixers, as ALSA's cards are: when a mixer
// leaves, the ones after it move up.
class ShiftingMixer final : public zv::MixerOps {
public:
    explicit ShiftingMixer(zv::MemoryMixerOps& under)
        : m(under)
    {
    }
    void Remove(int id)
    {
        const int gone = present.at(std::size_t(id));
        present.erase(present.begin() + id);
        m.Disconnect(gone);
    }
    const char* Name() const override { return "shifting"; }
    int GetNumDevs() override { return int(present.size()); }
    int GetDevCaps(int id, TMixerCaps& caps) override { return Valid(id) ? m.GetDevCaps(At(id), caps) : 2; }
    int GetErrorText(int code, char* text, std::size_t size) override
    {
        return m.GetErrorText(code, text, size);
    }
    int Open(zv::MixerHandle* h, int id, zv::MixerCallback cb, void* instance) override
    {
        return Valid(id) ? m.Open(h, At(id), cb, instance) : 2;
    }
    int Close(zv::MixerHandle h) override { return m.Close(h); }
    int GetID(zv::MixerHandle h, int* id) override
    {
        int under = 0;
        if (const int e = m.GetID(h, &under))
            return e;
        const auto it = std::find(present.begin(), present.end(), under);
        *id = it == present.end() ? -2 : int(it - present.begin());
        return 0;
    }
    int GetIdOf(zv::mixer::TargetType kind, const char* name, int* id) override
    {
        return m.GetIdOf(kind, name, id);
    }
    int GetLineInfo(zv::MixerObject o, TMixerLine& l, zv::MixerLineQuery q) override
    {
        return Map(o) ? m.GetLineInfo(o, l, q) : 2;
    }
    int GetLineControl(zv::MixerObject o, std::uint32_t line, std::uint32_t type, TMixerControl& c) override
    {
        return Map(o) ? m.GetLineControl(o, line, type, c) : 2;
    }
    int GetControl(zv::MixerObject o, std::uint32_t id, TMixerControl& c, std::uint32_t* line) override
    {
        return Map(o) ? m.GetControl(o, id, c, line) : 2;
    }
    int GetControlValues(zv::MixerObject o, std::uint32_t id, int ch, int items, std::int32_t* v) override
    {
        return Map(o) ? m.GetControlValues(o, id, ch, items, v) : 2;
    }
    int SetControlValues(
        zv::MixerObject o, std::uint32_t id, int ch, int items, const std::int32_t* v) override
    {
        return Map(o) ? m.SetControlValues(o, id, ch, items, v) : 2;
    }
    int GetListTexts(zv::MixerObject o, std::uint32_t id, int items, TMixerListText* t) override
    {
        return Map(o) ? m.GetListTexts(o, id, items, t) : 2;
    }

private:
    bool Valid(int id) const { return id >= 0 && id < int(present.size()); }
    int At(int id) const { return present[std::size_t(id)]; }
    bool Map(zv::MixerObject& o) const
    {
        if (o.handle)
            return true;
        if (!Valid(o.id))
            return false;
        o.id = At(o.id);
        return true;
    }
    zv::MemoryMixerOps& m;
    std::vector<int> present { 0, 1 };
};

// The open card leaves and the next one takes its id: the device stands for no mixer then, instead of
// quietly driving the other card, until a card is chosen again.
TEST(MixerModelShift, ACardThatLeavesIsNotReplacedByTheOneThatTakesItsId)
{
    test::App();
    auto memory = zv::MakeMemoryMixer({ test::StudioCard(), test::MicCard() });
    ShiftingMixer ops(*memory);
    std::vector<std::string> errors;
    zv::SetApplicationErrorHandler([&](const std::exception& e) { errors.emplace_back(e.what()); });
    TMMMixerDevice device(nullptr, &ops);
    TMMAudioLine recording;
    recording.SetMixer(&device);
    recording.SetComponentType(ctDstWaveIn);
    device.SetActive(true);
    ASSERT_TRUE(device.Active());
    ASSERT_EQ(recording.LineId(), kRecording);

    ops.Remove(0);
    test::PumpUntil([&] { return !errors.empty(); });
    zv::SetApplicationErrorHandler(nullptr);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(device.DeviceId(), InvalidId);
    EXPECT_EQ(device.DeviceCaps().ProductName(), QString());
    EXPECT_EQ(recording.LineId(), badLineId);

    // Chosen again: the card that is there now.
    device.SetDeviceId(0);
    device.SetActive(true);
    EXPECT_TRUE(device.Active());
    EXPECT_EQ(recording.LineId(), 0);
}

// One open mixer whose card gains an element, as ALSA's can: lines and controls are numbered anew and
// every line is reported changed.
class RenumberingMixer final : public zv::MixerOps {
public:
    explicit RenumberingMixer(zv::MemoryMixerOps& under)
        : m(under)
    {
    }
    // The card now looks like the second table.
    void Renumber()
    {
        current = 1;
        for (std::uint32_t d = 0; d < 2; ++d)
            for (std::uint32_t s = 0; s <= 5; ++s)
                callback(kHandle, zv::MixerNotification::LineChange, instance, s == 0 ? d : (s << 16) | d);
    }
    const char* Name() const override { return "renumbering"; }
    int GetNumDevs() override { return 1; }
    int GetDevCaps(int id, TMixerCaps& caps) override { return id == 0 ? m.GetDevCaps(current, caps) : 2; }
    int GetErrorText(int code, char* text, std::size_t size) override
    {
        return m.GetErrorText(code, text, size);
    }
    int Open(zv::MixerHandle* h, int id, zv::MixerCallback cb, void* inst) override
    {
        if (id != 0)
            return 2;
        callback = cb;
        instance = inst;
        *h = kHandle;
        return 0;
    }
    int Close(zv::MixerHandle) override { return 0; }
    int GetID(zv::MixerHandle, int* id) override
    {
        *id = 0;
        return 0;
    }
    int GetIdOf(zv::mixer::TargetType, const char*, int* id) override
    {
        *id = -1;
        return 0;
    }
    int GetLineInfo(zv::MixerObject, TMixerLine& l, zv::MixerLineQuery q) override
    {
        return m.GetLineInfo(Here(), l, q);
    }
    int GetLineControl(zv::MixerObject, std::uint32_t line, std::uint32_t type, TMixerControl& c) override
    {
        return m.GetLineControl(Here(), line, type, c);
    }
    int GetControl(zv::MixerObject, std::uint32_t id, TMixerControl& c, std::uint32_t* line) override
    {
        return m.GetControl(Here(), id, c, line);
    }
    int GetControlValues(zv::MixerObject, std::uint32_t id, int ch, int items, std::int32_t* v) override
    {
        return m.GetControlValues(Here(), id, ch, items, v);
    }
    int SetControlValues(zv::MixerObject, std::uint32_t id, int ch, int items, const std::int32_t* v) override
    {
        return m.SetControlValues(Here(), id, ch, items, v);
    }
    int GetListTexts(zv::MixerObject, std::uint32_t id, int items, TMixerListText* t) override
    {
        return m.GetListTexts(Here(), id, items, t);
    }

private:
    static constexpr zv::MixerHandle kHandle = 1;
    zv::MixerObject Here() const { return zv::MixerObject { 0, current }; }
    zv::MemoryMixerOps& m;
    int current = 0;
    zv::MixerCallback callback = nullptr;
    void* instance = nullptr;
};

// After the renumbering the line input and its volume are found again; the knob never drives the
// element that moved into their old ids.
TEST(MixerModelRenumbered, LinesAndControlsFoundByTypeFollowTheirOwnElements)
{
    test::App();
    zv::MemoryMixerTable grown = test::StudioCard();
    grown.destinations[0].sources.insert(grown.destinations[0].sources.begin(),
        test::Line(zv::mixer::SrcWaveOut, "PCM",
            { test::Control(zv::mixer::CtlVolume, "PCM Volume", { 1000, 1000 }) }));
    auto memory = zv::MakeMemoryMixer({ test::StudioCard(), grown });
    RenumberingMixer ops(*memory);
    TMMMixerDevice device(nullptr, &ops);
    TMMAudioLine lineIn;
    lineIn.SetMixer(&device);
    lineIn.SetComponentType(ctSrcLine);
    TMMVolumeControl volume;
    volume.SetAudioLine(&lineIn);
    device.SetActive(true);
    ASSERT_TRUE(device.Active());
    ASSERT_EQ(lineIn.LineId(), 1 << 16);
    ASSERT_EQ(volume.GetUnsigned(), 20000u);

    ops.Renumber();
    EXPECT_EQ(lineIn.LineId(), 2 << 16);
    EXPECT_EQ(lineIn.LineInfo().Name, QStringLiteral("Line In"));
    EXPECT_EQ(volume.ControlInfo().Name, QStringLiteral("Line Volume"));
    EXPECT_EQ(volume.GetUnsigned(), 20000u);
    volume.SetUnsigned(5000);
    std::int32_t pcm[2] = {};
    ASSERT_EQ(memory->GetControlValues(zv::MixerObject { 0, 1 }, 2, 2, 0, pcm), 0);
    EXPECT_EQ(pcm[0], 1000);
}

TEST(MixerTypes, CodesOutsideTheTablesAreRefusedOrCustom)
{
    for (int t = 0; t < ComponentTypeCount; ++t)
        EXPECT_EQ(ComponentTypeOf(ComponentTypeCode(TMMComponentType(t))), TMMComponentType(t));
    for (int t = 0; t < ControlTypeCount; ++t)
        EXPECT_EQ(ControlTypeOf(ControlTypeCode(TMMControlType(t))), TMMControlType(t));
    EXPECT_THROW(ComponentTypeOf(9), EMMMixerServiceError);
    EXPECT_THROW(ComponentTypeOf(0x100B), EMMMixerServiceError);
    EXPECT_EQ(ControlTypeOf(0x50030007), ctCustom);
    EXPECT_EQ(ControlClassOf(0x50030007), ccFader);
    EXPECT_EQ(ControlClassOf(ControlTypeCode(ctMux)), ccList);
    EXPECT_EQ(ControlClassOf(ControlTypeCode(ctMute)), ccSwitch);
    try {
        ControlClassOf(0x80000000u);
        FAIL() << "no error";
    } catch (const EMMMixerServiceError& e) {
        EXPECT_STREQ(e.what(), "Undefined API control class");
    }
}

} // namespace
