// The settings window's mixer panel against a private PulseAudio that only PULSE_SERVER names (its
// socket outside the session's runtime folder, as with a system-wide server), reached through ALSA's
// pulse plugin: the program takes it for a sound server, so the panel stays hidden; shown anyway on its
// mixer ("Default device": just "Master" and "Capture", no inputs), the recording knob sets the
// server's capture volume and the box its mute, read back with pactl. Skipped, saying why, where
// PulseAudio cannot start.

#include "audio/MMMixCtl.h"
#include "audio/MMWheel.h"
#include "platform/SoundServer.h"
#include "platform/WaveIn.h"
#include "skin/SkMMButton.h"
#include "skin/skcont.h"
#include "station/AccountBrowser.h"
#include "station/U_Config.h"
#include "tests/support/MixerWindowKit.h"
#include "tests/support/NoBrowser.h"
#include "tests/support/PulseServer.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using test::KnobPercent;
using test::NoBrowser;
using test::PumpUntil;

TEST(MixerPanelPulse, PulseServerIsASoundServerAndThePanelSetsItsCapture)
{
    // The session's own runtime folder is empty: only PULSE_SERVER can name a server.
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qunsetenv("PULSE_RUNTIME_PATH");
    qunsetenv("PULSE_SERVER");
    qunsetenv("ZOVEVA_WAVEIN");
    ASSERT_FALSE(zv::SoundServerOwnsDevices());

    test::PulseServer pulse;
    if (const std::string why = pulse.Start(); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_TRUE(qgetenv("PULSE_SERVER").startsWith("unix:"));
    EXPECT_TRUE(zv::DefaultWaveIn().SoundServerOwnsDevices());

    TSkBitmapList faces;
    QComboBox languages;
    TFrm_Config config(
        faces, languages, nullptr, [](QWidget* parent) { return std::make_unique<NoBrowser>(parent); });
    config.CBPlacas->addItem(QStringLiteral("Default device"));
    config.CBPlacas->setCurrentIndex(0);
    config.SoundCardChange();
    config.OpenSettings();
    QApplication::processEvents();
    EXPECT_FALSE(config.PControles->isVisible()) << "the server's own mixer is the server's";
    EXPECT_TRUE(config.SkMMButton3->isVisible());

    // Shown anyway, the panel works on the server's recording itself.
    config.SetNewerWindowsCheck([] { return false; });
    config.OpenSettings();
    QApplication::processEvents();
    ASSERT_TRUE(config.PControles->isVisible());
    ASSERT_TRUE(config.PlacaDevice->Active());
    EXPECT_TRUE(config.RecordsDestination());
    EXPECT_FALSE(config.CBControle->isVisible());
    EXPECT_TRUE(config.LSemEntradas->isVisible());
    EXPECT_FALSE(config.LSemEntradas->text().isEmpty());
    ASSERT_TRUE(config.Volume->isEnabled());
    ASSERT_TRUE(config.CBGravacao->isVisible() && config.CBGravacao->isEnabled());

    config.Volume->SetValue(config.Volume->Maximum() / 4);
    EXPECT_TRUE(PumpUntil([&] {
        return pulse.Percent({ "get-source-volume", "@DEFAULT_SOURCE@" }) == 25;
    })) << pulse.Percent({ "get-source-volume", "@DEFAULT_SOURCE@" });
    config.CBGravacao->setChecked(true);
    EXPECT_TRUE(PumpUntil([&] {
        return pulse.Pactl({ "get-source-mute", "@DEFAULT_SOURCE@" }).value_or("").contains("yes");
    }));
    config.CBGravacao->setChecked(false);
    EXPECT_TRUE(PumpUntil([&] {
        return pulse.Pactl({ "get-source-mute", "@DEFAULT_SOURCE@" }).value_or("").contains("no");
    }));

    // And it follows the server's changes.
    ASSERT_TRUE(pulse.Pactl({ "set-source-volume", "@DEFAULT_SOURCE@", "60%" }));
    EXPECT_TRUE(PumpUntil([&] { return KnobPercent(*config.Volume) == 60; })) << KnobPercent(*config.Volume);
    ASSERT_TRUE(pulse.Pactl({ "set-source-mute", "@DEFAULT_SOURCE@", "1" }));
    EXPECT_TRUE(PumpUntil([&] { return config.CBGravacao->isChecked(); }));

    // A server that is gone is none: its socket file alone does not count.
    config.PlacaDevice->SetActive(false);
    pulse.Stop();
    EXPECT_FALSE(zv::SoundServerOwnsDevices());
}
