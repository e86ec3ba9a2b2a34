// The ALSA mixer binding on a real snd_mixer: a PulseAudio server of the test's own (a null sink, its
// monitor as the source) seen through ALSA's pulse plugin, which shows the elements "Master" (playback
// volume and switch) and "Capture" (capture volume and switch). Changes made with pactl must reach
// bound widgets through the mixer's change notifications, and the widgets' writes must reach the
// server. Skipped, saying why, where PulseAudio cannot start.

#include "audio/MMMixCtl.h"
#include "audio/MMWheel.h"
#include "platform/AppError.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

template <typename Done> bool PumpUntil(Done done, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class PulseServer {
public:
    // Empty when it runs; else why not.
    std::string Start()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
            return "pulseaudio and pactl are not installed (packages pulseaudio, pulseaudio-utils)";
        if (!m_dir.isValid())
            return "no temporary folder";
        const QString run = m_dir.filePath(QStringLiteral("run"));
        QDir().mkpath(run);
        m_socket = run + QStringLiteral("/native");
        Write(QStringLiteral("server.pa"),
            QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                           "load-module module-null-sink sink_name=zoveva_null\n")
                .arg(m_socket));
        // No autospawn: a client must never start a server of its own once this one is gone.
        Write(QStringLiteral("client.conf"), QStringLiteral("autospawn = no\n"));
        Write(QStringLiteral("asound.conf"), QStringLiteral("ctl.!default { type pulse }\n"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
        env.insert(QStringLiteral("HOME"), m_dir.path());
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(m_dir.filePath(QStringLiteral("pulseaudio.log")));
        m_server.start(QStringLiteral("pulseaudio"),
            { QStringLiteral("-n"), QStringLiteral("-F"), m_dir.filePath(QStringLiteral("server.pa")),
                QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--daemonize=no"),
                QStringLiteral("--log-target=stderr") });
        if (!m_server.waitForStarted(5000))
            return "pulseaudio did not start: " + m_server.errorString().toStdString();

        // This process is the client: the pulse plugin and pactl find the server from these.
        qputenv("PULSE_SERVER", ("unix:" + m_socket).toUtf8());
        qputenv("PULSE_CLIENTCONFIG", m_dir.filePath(QStringLiteral("client.conf")).toUtf8());
        qputenv("ALSA_CONFIG_PATH", m_dir.filePath(QStringLiteral("asound.conf")).toUtf8());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (m_server.state() != QProcess::Running)
                return "pulseaudio ended at once; its log: " + Log();
            if (Pactl({ QStringLiteral("info") }))
                return {};
            QThread::msleep(100);
        }
        return "pulseaudio did not answer within 10 s; its log: " + Log();
    }

    void Stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    ~PulseServer() { Stop(); }

    // pactl's output, or nothing when it failed.
    std::optional<QString> Pactl(const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral("pactl"), args);
        if (!p.waitForFinished(5000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // The first channel's volume in percent, as pactl prints it.
    int Percent(const QStringList& args)
    {
        const std::optional<QString> out = Pactl(args);
        if (!out)
            return -1;
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("/\\s*(\\d+)%")).match(*out);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }

private:
    void Write(const QString& name, const QString& text)
    {
        QFile f(m_dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }

    std::string Log()
    {
        QFile f(m_dir.filePath(QStringLiteral("pulseaudio.log")));
        return f.open(QIODevice::ReadOnly) ? f.readAll().right(2000).toStdString() : std::string("(none)");
    }

    QTemporaryDir m_dir;
    QString m_socket;
    QProcess m_server;
};

// The knob's share of its range, in percent.
int KnobPercent(const TMMCustomWheel& knob)
{
    return knob.Maximum() > 0 ? int(std::lround(100.0 * knob.Value() / knob.Maximum())) : -1;
}

} // namespace

TEST(MixerPulse, TheDefaultMixerOpensReadsWritesAndFollowsPactl)
{
    PulseServer pulse;
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
    EXPECT_TRUE(PumpUntil([&] { return pulse.Pactl({ "get-sink-mute", "@DEFAULT_SINK@" }).value_or("").contains("no"); }));
    captureKnob.SetValue(captureKnob.Maximum() / 4);
    EXPECT_EQ(pulse.Percent({ "get-source-volume", "@DEFAULT_SOURCE@" }), 25);
    EXPECT_EQ(KnobPercent(masterKnob), 75); // its own write read back unchanged

    // The server goes away while the widgets are open: they disable themselves, and the application
    // hears of it once.
    pulse.Stop();
    EXPECT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    PumpUntil([] { return false; }, 500);
    zv::SetApplicationErrorHandler(nullptr);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(device.Active());
    EXPECT_FALSE(masterKnob.isEnabled());
    EXPECT_FALSE(captureKnob.isEnabled());
    EXPECT_FALSE(muteBox.isEnabled());
}
