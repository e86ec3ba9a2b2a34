// The main window's capture and its encoder through a sound server that goes away and comes back: a
// private PulseAudio as a desktop session has it (its socket in $XDG_RUNTIME_DIR, a 440 Hz sine as the
// default source, ALSA's default devices through the pulse plug-in only while it answers), the real
// ALSA binding, the real encoder (publishing to a port where nothing listens, so it is restarted every
// 10 s) and the window's own error boxes, on the offscreen platform. The server is stopped and started
// again on the same socket: the displays fall flat, the failure is logged once, the encoder's restarts
// fail with one box that says what happens, and the displays show the sine again within 5 s of the
// server's return.
// Skipped, saying why, where PulseAudio cannot start.

#include "audio/MMWavIn.h"
#include "displays/MMOscope.h"
#include "platform/Ansi.h"
#include "platform/Clock.h"
#include "platform/SoundServer.h"
#include "platform/WaveIn.h"
#include "station/AccountBrowser.h"
#include "station/EncoderProcess.h"
#include "station/U_ZoVeva.h"
#include "tests/support/NoBrowser.h"
#include "tests/support/PulseServer.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using test::NoBrowser;

// A loopback port nobody listens on (free a moment ago).
quint16 ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

TEST(CaptureOutagePulse, DisplaysFollowTheSoundServerBackAndItsAbsenceShowsOneBox)
{
    qunsetenv("PULSE_RUNTIME_PATH");
    qunsetenv("ZOVEVA_WAVEIN");
    test::PulseServer pulse;
    if (const std::string why = pulse.Start({}, test::PulseServer::Reach::Session); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_TRUE(zv::SoundServerOwnsDevices());

    // The program folder: a user whose encoding file sends the stream where nothing listens.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile padrao(QStringLiteral(ZOVEVA_SOURCE_PADRAO));
    ASSERT_TRUE(padrao.open(QIODevice::ReadOnly));
    QByteArray encoding = padrao.readAll();
    ASSERT_TRUE(encoding.contains("PublishPort=\"8000\""));
    encoding.replace("PublishPort=\"8000\"", "PublishPort=\"" + QByteArray::number(ClosedPort()) + '"');
    ASSERT_TRUE(WriteFile(folder.filePath(QStringLiteral("padrao.xml")), encoding));
    ASSERT_TRUE(WriteFile(folder.filePath(QStringLiteral("demo.xml")), encoding));
    ASSERT_TRUE(WriteFile(folder.filePath(QStringLiteral("cfg.ini")),
        "[Geral]\r\nControle=-1\r\nUsuario=demo\r\nSenha=demo\r\nPlaca=0\r\nRadio=Teste\r\nKbps=32000\r\n"
        "Servidor=0.0.1\r\nServerDefault=127\r\niIdioma=-1\r\nSilencioTempo=5\r\n"));
    const auto log = [&] {
        QFile file(folder.filePath(QStringLiteral("ZoVeva.log")));
        return file.open(QIODevice::ReadOnly) ? zv::FromAnsi(file.readAll()) : QString();
    };

    qputenv("ZOVEVA_ENCODER_DIR", ZOVEVA_BIN_DIR);
    zv::EncoderProcessOptions encoderOptions = zv::DefaultEncoderProcessOptions();
    encoderOptions.executable = std::filesystem::path(ZOVEVA_BIN_DIR) / "zoveva-encoder";
    encoderOptions.logFile = folder.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
    zv::TEncoderProcessFactory encoders(encoderOptions);
    zv::QtClock clock;
    TFrm_ZoVeva::Options options;
    options.WaveInBinding = &zv::AlsaWaveIn(); // and the ALSA mixer: no box of its own either
    options.AccountBrowser = [](QWidget* parent) { return std::make_unique<NoBrowser>(parent); };
    options.Terminate = [] {};
    auto window = std::make_unique<TFrm_ZoVeva>(folder.path().toStdString(), clock, encoders, options);
    window->show();
    window->BEqualizerClick(); // the oscilloscope in front
    ASSERT_TRUE(window->WaveIn().Started());
    ASSERT_EQ(window->WaveIn().ProductName(), QStringLiteral("Default device"));

    // The boxes open at once, by text, counted at every turn of the event loop.
    QMap<QString, int> mostOpen;
    const auto countBoxes = [&] {
        QMap<QString, int> open;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (const auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                ++open[box->text()];
            }
        }
        for (auto it = open.begin(); it != open.end(); ++it) {
            mostOpen[it.key()] = std::max(mostOpen.value(it.key()), it.value());
        }
    };
    const auto pump = [&](int ms) {
        zv::test::PumpUntil(
            [&] {
                countBoxes();
                return false;
            },
            std::chrono::milliseconds(ms));
    };
    const auto until = [&](const std::function<bool()>& done, int ms) {
        return zv::test::PumpUntil(
            [&] {
                countBoxes();
                return done();
            },
            std::chrono::milliseconds(ms));
    };
    // The oscilloscope holds a steady sine still (it triggers on it); without sound it draws a flat
    // line. So the trace's height tells them apart: the rows where it is drawn.
    const auto moves = [&] {
        pump(100);
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
        return rows >= 12;
    };

    EXPECT_TRUE(until(moves, 10000)) << "the sine before the outage";

    pulse.Stop();
    ASSERT_TRUE(until([&] { return window->CaptureLost(); }, 10000)) << log().toStdString();
    const QString away
        = QStringLiteral("the sound server is not answering; the station will go back on the air when it "
                         "returns");
    // Two restarts of the encoder (every 10 s) fail while the server is away.
    EXPECT_TRUE(until([&] { return log().count(away) >= 2; }, 40000)) << log().toStdString();
    EXPECT_FALSE(moves()) << "a flat line while the server is away";
    EXPECT_TRUE(log().contains(QStringLiteral("nenhum dispositivo de entrada"))) << "the dead-air alarm";

    ASSERT_EQ(pulse.Restart(), "");
    QElapsedTimer back;
    back.start();
    EXPECT_TRUE(until(moves, 15000)) << log().toStdString();
    EXPECT_LE(back.elapsed(), 5000) << "the displays show the sound again within 5 s of the server's return";
    EXPECT_FALSE(window->CaptureLost());

    const QString text = log();
    EXPECT_EQ(text.count(QStringLiteral("O dispositivo de entrada \"Default device\" falhou")), 1)
        << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("O dispositivo de entrada \"Default device\" voltou depois de")), 1);
    const QString boxText = QStringLiteral("Load: The input device \"Default device\" is missing: ") + away;
    EXPECT_EQ(mostOpen.value(boxText), 1) << "one box while the server is away";
    for (auto it = mostOpen.begin(); it != mostOpen.end(); ++it) {
        EXPECT_EQ(it.value(), 1) << it.key().toStdString();
        EXPECT_FALSE(it.key().contains(QStringLiteral("0x8"))) << it.key().toStdString();
    }

    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            box->reject();
        }
    }
    window.reset();
    zv::WaitForReleasedEncoders(std::chrono::seconds(10));
}
