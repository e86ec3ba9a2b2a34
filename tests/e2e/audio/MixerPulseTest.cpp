// The ALSA mixer binding on a real snd_mixer: a PulseAudio server of the test's own (a null sink, its
// monitor as the source) seen through ALSA's pulse plugin, which shows the elements "Master" (playback
// volume and switch) and "Capture" (capture volume and switch). Changes made with pactl must reach
// bound widgets through the mixer's change notifications, and the widgets' writes must reach the
// server. Skipped, saying why, where PulseAudio cannot start.

#include "audio/MMMixCtl.h"
#include "audio/MMWheel.h"
#include "platform/AppError.h"
#include "tests/support/MixerWindowKit.h"
#include "tests/support/PulseServer.h"

#include <QApplication>
#include <cmath>
#include <gtest/gtest.h>

using test::KnobPercent;
using test::PumpUntil;

TEST(MixerPulse, TheDefaultMixerOpensReadsWritesAndFollowsPactl)
{
    test::PulseServer pulse;
    if (const std::string why = pulse.Start(); !why.empty())
        GTEST_SKIP() << why;
    std::vector<std::string> errors;
    zv::SetApplicationErrorHandler([&](const std::exception& e) { errors.emplace_back(e.what()); });

    TMMMixerDevice device(nullptr, &zv::AlsaMixer());
    QStringList names;
    device.GetNames(names, false);
    ASSERT_FALSE(names.isEmpty());
    EXPECT_EQ(names[0], QStringLiteral("Default device"));
    device.SetDeviceId(0);
    device.SetActive(true);
    ASSERT_TRUE(device.Active());
    ASSERT_NE(device.Handle(), 0u) << "no change notifications";
    EXPECT_EQ(device.Destinations(), 2);

    TMMAudioLine speakers, recording;
    speakers.SetMixer(&device);
    speakers.SetComponentType(ctDstSpeakers);
    recording.SetMixer(&device);
    recording.SetComponentType(ctDstWaveIn);
    ASSERT_NE(speakers.LineId(), badLineId);
    ASSERT_NE(recording.LineId(), badLineId);
    EXPECT_EQ(speakers.LineInfo().Channels, 2);

    TMMVolumeControl master, capture;
    master.SetAudioLine(&speakers);
    capture.SetAudioLine(&recording);
    TMMMixerControl mute;
    mute.SetAudioLine(&speakers);
    mute.SetControlType(ctMute);
    ASSERT_TRUE(master.IsValid());
    ASSERT_TRUE(capture.IsValid());
    ASSERT_TRUE(mute.IsValid());

    TMMMixerWheel masterKnob, captureKnob;
    masterKnob.SetControl(&master);
    captureKnob.SetControl(&capture);
    TMMMixerCheckBox muteBox;
    muteBox.SetControl(&mute);
    ASSERT_TRUE(masterKnob.isEnabled() && captureKnob.isEnabled() && muteBox.isEnabled());

    // Changes made outside reach the widgets through the notifications.
    ASSERT_TRUE(pulse.Pactl({ "set-sink-volume", "@DEFAULT_SINK@", "30%" }));
    EXPECT_TRUE(PumpUntil([&] { return KnobPercent(masterKnob) == 30; })) << KnobPercent(masterKnob);
    ASSERT_TRUE(pulse.Pactl({ "set-source-volume", "@DEFAULT_SOURCE@", "40%" }));
    EXPECT_TRUE(PumpUntil([&] { return KnobPercent(captureKnob) == 40; })) << KnobPercent(captureKnob);
    ASSERT_TRUE(pulse.Pactl({ "set-sink-mute", "@DEFAULT_SINK@", "1" }));
    EXPECT_TRUE(PumpUntil([&] { return muteBox.isChecked(); }));

    // Writes through the widgets reach the server.
    masterKnob.SetValue(masterKnob.Maximum() * 3 / 4);
    EXPECT_TRUE(PumpUntil([&] { return pulse.Percent({ "get-sink-volume", "@DEFAULT_SINK@" }) == 75; }));
    muteBox.setChecked(false);
    EXPECT_TRUE(PumpUntil([&] {
        return pulse.Pactl({ "get-sink-mute", "@DEFAULT_SINK@" }).value_or("").contains("no");
    }));
    captureKnob.SetValue(captureKnob.Maximum() / 4);
    EXPECT_EQ(pulse.Percent({ "get-source-volume", "@DEFAULT_SOURCE@" }), 25);
    EXPECT_EQ(KnobPercent(masterKnob), 75); // its own write read back unchanged

    // The server goes away while the widgets are open: they disable themselves, and the application
    // hears of it once.
    pulse.Stop();
    EXPECT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    test::Pump(std::chrono::milliseconds(500)); // a second report would come now
    zv::SetApplicationErrorHandler(nullptr);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(device.Active());
    EXPECT_FALSE(masterKnob.isEnabled());
    EXPECT_FALSE(captureKnob.isEnabled());
    EXPECT_FALSE(muteBox.isEnabled());
}
