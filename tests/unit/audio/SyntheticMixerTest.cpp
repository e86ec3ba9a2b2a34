// With ZOVEVA_WAVEIN=synthetic every synthetic capture device has a mixer of the same name, so the
// demo station's settings find a recording source, its volume and the return's mute.

#include "audio/MMMixer.h"
#include "tests/unit/audio/WaveInSupport.h"

#include <gtest/gtest.h>

TEST(SyntheticMixer, EachSyntheticDeviceHasAMixerOfItsName)
{
    test::App();
    ASSERT_STREQ(zv::DefaultMixer().Name(), zv::MakeMemoryMixer({})->Name());
    TMMWaveInDevice capture; // the program's own bindings
    TMMMixerDevice mixer;
    mixer.SetDevice(&capture);
    QStringList captureNames, mixerNames;
    capture.GetNames(captureNames, false);
    mixer.GetNames(mixerNames, false);
    ASSERT_GE(captureNames.size(), 2);
    EXPECT_EQ(mixerNames, captureNames);

    for (int id = 0; id < captureNames.size(); ++id) {
        capture.SetDeviceId(id);
        EXPECT_EQ(mixer.DeviceId(), id);
        EXPECT_EQ(mixer.DeviceCaps().ProductName(), captureNames[id]);
        mixer.SetActive(true);
        TMMAudioLine recording, recSource, lineIn;
        recording.SetMixer(&mixer);
        recording.SetTarget(&capture);
        recSource.SetMixer(&mixer);
        recSource.SetDestLine(&recording);
        recSource.SetComponentType(ctSrcLine);
        lineIn.SetMixer(&mixer);
        lineIn.SetComponentType(ctSrcLine);
        TMMMixerControl selector, mute;
        selector.SetAudioLine(&recording);
        selector.SetControlType(ctMux);
        mute.SetAudioLine(&lineIn);
        mute.SetControlType(ctMute);
        TMMVolumeControl recVolume, volume;
        recVolume.SetAudioLine(&recSource);
        volume.SetAudioLine(&lineIn);

        EXPECT_EQ(recording.ComponentType(), ctDstWaveIn);
        EXPECT_EQ(recording.LineInfo().Connections, 3);
        ASSERT_EQ(selector.Items(), 3);
        const TMMItemIndex item = selector.ItemOfLine(&recSource);
        EXPECT_EQ(selector.ItemInfo(item).Name, QStringLiteral("Line In"));
        EXPECT_TRUE(selector.GetItemBool(chBoth, item));
        EXPECT_TRUE(recVolume.IsValid() && volume.IsValid() && mute.IsValid());
        mute.SetBool(true);
        EXPECT_TRUE(mute.GetBool());
        mixer.SetActive(false);
    }
}
