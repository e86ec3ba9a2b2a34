// The station on a private PipeWire, as most desktops now run it: pipewire, wireplumber and
// pipewire-pulse, no sound card, a null sink whose monitor is the default source and a 440 Hz tone
// playing into it. The program reaches it through ALSA's pulse plug-in ("Default device") with the
// server's socket in the session's runtime folder: it must take it for a sound server, the window's
// displays and the real encoder must capture the tone, the encoder must put it on the air on a private
// Icecast, and the settings window's recording knob must set the server's capture volume. One server
// for the whole process, since ALSA reads its configuration once. Skipped, saying why, where PipeWire
// cannot start.

#include "IcecastServer.h"
#include "StreamCheck.h"
#include "audio/MMMixCtl.h"
#include "audio/MMWavIn.h"
#include "audio/MMWheel.h"
#include "displays/MMOscope.h"
#include "platform/Clock.h"
#include "platform/SoundServer.h"
#include "platform/WaveIn.h"
#include "skin/SkMMButton.h"
#include "skin/skcont.h"
#include "station/AccountBrowser.h"
#include "station/EncoderProcess.h"
#include "station/StationController.h"
#include "station/U_Config.h"
#include "station/U_ZoVeva.h"
#include "tests/support/MixerWindowKit.h"
#include "tests/support/NoBrowser.h"
#include "tests/support/PipeWireServer.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using test::KnobPercent;
using test::NoBrowser;
using test::PumpUntil;

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class PipeWirePulse : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        qunsetenv("ZOVEVA_WAVEIN");
        server = new test::PipeWireServer;
        why = server->Start();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!why.empty())
            GTEST_SKIP() << why;
        ASSERT_TRUE(zv::SoundServerOwnsDevices()) << "PipeWire's sockets in the runtime folder";
    }

    static inline test::PipeWireServer* server = nullptr;
    static inline std::string why;
};

// The window as the program runs it, its encoder publishing to a private Icecast: the oscilloscope
// draws the tone, and a listener hears 440 Hz from the stream.
TEST_F(PipeWirePulse, DisplaysCaptureTheToneAndTheEncoderPutsItOnTheAir)
{
    zv::test::IcecastServer::Config icecastConfig;
    icecastConfig.sourcePassword = QStringLiteral("trocar-esta-senha"); // the template's
    zv::test::IcecastServer icecast(icecastConfig);
    QString error;
    ASSERT_TRUE(icecast.Start(&error)) << error.toStdString();

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile padrao(QStringLiteral(ZOVEVA_SOURCE_PADRAO));
    ASSERT_TRUE(padrao.open(QIODevice::ReadOnly));
    QByteArray encoding = padrao.readAll();
    ASSERT_TRUE(encoding.contains("PublishPort=\"8000\""));
    encoding.replace("PublishPort=\"8000\"", "PublishPort=\"" + QByteArray::number(icecast.Port()) + '"');
    ASSERT_TRUE(WriteFile(folder.filePath(QStringLiteral("padrao.xml")), encoding));
    ASSERT_TRUE(WriteFile(folder.filePath(QStringLiteral("demo.xml")), encoding));
    // ns1. on the network 127 + 0.0.1: 127.0.0.1.
    ASSERT_TRUE(WriteFile(folder.filePath(QStringLiteral("cfg.ini")),
        "[Geral]\r\nControle=-1\r\nUsuario=demo\r\nSenha=demo\r\nPlaca=0\r\nRadio=Teste\r\nKbps=32000\r\n"
        "Servidor=0.0.1\r\nServerDefault=127\r\niIdioma=-1\r\nSilencioTempo=5\r\n"));
    const auto log = [&](const char* name) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll().right(3000).toStdString() : std::string();
    };

    qputenv("ZOVEVA_ENCODER_DIR", ZOVEVA_BIN_DIR);
    zv::EncoderProcessOptions encoderOptions = zv::DefaultEncoderProcessOptions();
    encoderOptions.executable = std::filesystem::path(ZOVEVA_BIN_DIR) / "zoveva-encoder";
    encoderOptions.logFile = folder.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
    zv::TEncoderProcessFactory encoders(encoderOptions);
    zv::QtClock clock;
    TFrm_ZoVeva::Options options;
    options.WaveInBinding = &zv::AlsaWaveIn();
    options.AccountBrowser = [](QWidget* parent) { return std::make_unique<NoBrowser>(parent); };
    options.Terminate = [] {};
    auto window = std::make_unique<TFrm_ZoVeva>(folder.path().toStdString(), clock, encoders, options);
    window->show();
    window->BEqualizerClick(); // the oscilloscope in front
    ASSERT_TRUE(window->WaveIn().Started()) << log("ZoVeva.log");
    EXPECT_EQ(window->WaveIn().ProductName(), QStringLiteral("Default device"));

    // A steady tone draws a trace many rows high; silence a flat line.
    const auto traceRows = [&] {
        QApplication::processEvents(QEventLoop::AllEvents, 100);
        const QImage scope = window->MMOscope2->grab().toImage();
        int rows = 0;
        for (int y = 0; y < scope.height(); ++y) {
            for (int x = 0; x < scope.width(); ++x) {
                if (qGreen(scope.pixel(x, y)) > 120 && qRed(scope.pixel(x, y)) < 100) {
                    ++rows;
                    break;
                }
            }
        }
        return rows;
    };
    EXPECT_TRUE(PumpUntil([&] { return traceRows() >= 12; }))
        << traceRows() << " rows: " << log("ZoVeva.log");

    QFile userFile(folder.filePath(QStringLiteral("demo.xml")));
    ASSERT_TRUE(userFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(userFile.readAll().contains("InputSource=\"Default device\"")) << "the encoder's device";
    const QString mount = QStringLiteral("/demo");
    ASSERT_TRUE(PumpUntil([&] { return icecast.HasSource(mount); }, std::chrono::seconds(20)))
        << log("ZoVeva.log") << log("zoveva-encoder.log") << icecast.Log().right(2000).toStdString();
    QByteArray heard;
    QThread* listener = QThread::create([&] { heard = icecast.Listen(mount, 3); });
    listener->start();
    PumpUntil([&] { return listener->isFinished(); }, std::chrono::seconds(15));
    listener->wait();
    delete listener;
    const zv::test::DecodedStream decoded = zv::test::Decode(heard);
    EXPECT_TRUE(decoded.error.isEmpty()) << decoded.error.toStdString();
    EXPECT_GT(decoded.seconds, 1.0);
    EXPECT_NEAR(decoded.frequency, 440.0, 20.0) << "the tone that plays into PipeWire is on the air";

    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            ADD_FAILURE() << "a box: " << box->text().toStdString();
            box->reject();
        }
    }
    window.reset();
    zv::WaitForReleasedEncoders(std::chrono::seconds(10));
}

// The recording settings with a sound server, found in the session's runtime folder or named by
// PULSE_SERVER alone (the runtime folder empty, as with a system-wide server): the card's panel hidden
// and the recording settings button there; the panel shown anyway binds its knob to the server's
// capture, which pactl reads, and follows pactl's changes.
TEST_F(PipeWirePulse, TheRecordingKnobSetsTheServersCaptureVolume)
{
    QTemporaryDir emptyRuntime;
    ASSERT_TRUE(emptyRuntime.isValid());
    const QByteArray socket = "unix:" + server->RuntimeDir().toUtf8() + "/pulse/native";
    const struct {
        const char* reach;
        QByteArray runtimeDir, pulseServer;
    } cases[] = { { "runtime folder", server->RuntimeDir().toUtf8(), {} },
        { "PULSE_SERVER", emptyRuntime.path().toUtf8(), socket } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reach);
        qputenv("XDG_RUNTIME_DIR", c.runtimeDir);
        if (c.pulseServer.isEmpty())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", c.pulseServer);
        EXPECT_TRUE(zv::SoundServerOwnsDevices());
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

        config.SetNewerWindowsCheck([] { return false; });
        config.OpenSettings();
        QApplication::processEvents();
        ASSERT_TRUE(config.PControles->isVisible());
        ASSERT_TRUE(config.PlacaDevice->Active());
        EXPECT_TRUE(config.RecordsDestination()) << "no inputs of its own: the knob is the capture's";
        ASSERT_TRUE(config.Volume->isEnabled());

        const QStringList source
            = { QStringLiteral("get-source-volume"), QStringLiteral("@DEFAULT_SOURCE@") };
        for (const int percent : { 25, 70 }) {
            config.Volume->SetValue(config.Volume->Maximum() * percent / 100);
            EXPECT_TRUE(PumpUntil([&] { return server->Percent(source) == percent; }))
                << percent << "% set, " << server->Percent(source) << "% read";
        }
        ASSERT_TRUE(server->Pactl({ QStringLiteral("set-source-volume"), QStringLiteral("@DEFAULT_SOURCE@"),
            QStringLiteral("40%") }));
        EXPECT_TRUE(PumpUntil([&] { return KnobPercent(*config.Volume) == 40; }))
            << KnobPercent(*config.Volume);
        config.PlacaDevice->SetActive(false);
    }
}

} // namespace
