#pragma once

// A PulseAudio server of a test's own, for the ALSA mixer binding without a sound card: a null sink
// (its monitor the default source) on a socket in a temporary folder, no autospawn, and ALSA's default
// control device pointed at it through the pulse plugin (package libasound2-plugins), which shows the
// elements "Master" (playback volume and switch) and "Capture" (capture volume and switch). The
// calling process becomes the server's client through PULSE_SERVER and ALSA_CONFIG_PATH, which must
// be set before the process first uses ALSA. As root the server runs with a warning.

#include "tests/support/Pactl.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <optional>
#include <string>
#include <sys/prctl.h>

namespace test {

class PulseServer {
public:
    // Where the server's clients find it.
    enum class Reach {
        // PULSE_SERVER names its socket; ALSA's default control device is the server's.
        Variable,
        // As a desktop session's server: its socket is $XDG_RUNTIME_DIR/pulse/native (PULSE_SERVER
        // unset) and a 440 Hz sine is its default source. ALSA's default devices go through it only
        // when it answers as ALSA reads its configuration (a process's first use of ALSA, or a new
        // process), the way the system's pulse configuration hooks it in.
        Session,
    };

    // Empty when it runs; else why not. The test's ALSA configuration (only the default devices, on
    // this server) comes after alsaPathBefore when that is given.
    std::string Start(const QString& alsaPathBefore = {}, Reach reach = Reach::Variable)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
            return "pulseaudio and pactl are not installed (packages pulseaudio, pulseaudio-utils)";
        if (!m_dir.isValid())
            return "no temporary folder";
        const QString run = m_dir.filePath(QStringLiteral("run"));
        QDir().mkpath(run + QStringLiteral("/pulse"));
        m_socket
            = run + (reach == Reach::Session ? QStringLiteral("/pulse/native") : QStringLiteral("/native"));
        QString modules
            = QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                             "load-module module-null-sink sink_name=zoveva_null\n")
                  .arg(m_socket);
        if (reach == Reach::Session)
            modules += QStringLiteral("load-module module-sine-source source_name=zoveva_sine frequency=440\n"
                                      "set-default-source zoveva_sine\n");
        const QString devices = reach == Reach::Session
            ? QStringLiteral("hook_func.pulse_load_if_running {\n"
                             "    lib \"libasound_module_conf_pulse.so\"\n"
                             "    func \"conf_pulse_hook_load_if_running\"\n"
                             "}\n"
                             "@hooks [ { func pulse_load_if_running files [ \"%1\" ] errors false } ]\n")
                  .arg(m_dir.filePath(QStringLiteral("pulse-devices.conf")))
            : QStringLiteral("ctl.!default { type pulse }\n");
        // No autospawn: a client must never start a server of its own once this one is gone.
        if (!Write(QStringLiteral("server.pa"), modules)
            || !Write(QStringLiteral("client.conf"), QStringLiteral("autospawn = no\n"))
            || !Write(QStringLiteral("pulse-devices.conf"),
                QStringLiteral("pcm.!default { type pulse hint { show on description \"Playback/recording "
                               "through the PulseAudio sound server\" } }\nctl.!default { type pulse }\n"))
            || !Write(QStringLiteral("asound.conf"), devices))
            return "cannot write into the temporary folder";

        if (reach == Reach::Session) {
            qputenv("XDG_RUNTIME_DIR", run.toUtf8());
            qunsetenv("PULSE_SERVER");
        } else {
            // This process is the client: the pulse plugin and pactl find the server from these.
            qputenv("PULSE_SERVER", ("unix:" + m_socket).toUtf8());
        }
        qputenv("PULSE_CLIENTCONFIG", m_dir.filePath(QStringLiteral("client.conf")).toUtf8());
        const QString conf = m_dir.filePath(QStringLiteral("asound.conf"));
        qputenv("ALSA_CONFIG_PATH",
            (alsaPathBefore.isEmpty() ? conf : alsaPathBefore + QLatin1Char(':') + conf).toUtf8());
        return Launch();
    }

    // Starts the server again, after Stop, on the same socket and with the same modules.
    std::string Restart() { return Launch(); }

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

    // The socket the server listens on.
    const QString& Socket() const { return m_socket; }

    // pactl's output, or nothing when it failed; the first channel's volume in percent.
    std::optional<QString> Pactl(const QStringList& args) { return test::Pactl(args); }
    int Percent(const QStringList& args) { return test::PactlPercent(args); }

private:
    std::string Launch()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("HOME"), m_dir.path());
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(m_dir.filePath(QStringLiteral("pulseaudio.log")), QIODevice::Append);
        // The server ends with its starter, however that ends: it would never leave by itself.
        m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_server.start(QStringLiteral("pulseaudio"),
            { QStringLiteral("-n"), QStringLiteral("-F"), m_dir.filePath(QStringLiteral("server.pa")),
                QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--daemonize=no"),
                QStringLiteral("--log-target=stderr") });
        if (!m_server.waitForStarted(5000))
            return "pulseaudio did not start: " + m_server.errorString().toStdString();
        bool ended = false;
        const bool answers = zv::test::WaitUntil(
            [&] {
                ended = m_server.state() != QProcess::Running;
                return ended || Pactl({ QStringLiteral("info") });
            },
            std::chrono::seconds(10), std::chrono::milliseconds(100));
        if (ended)
            return "pulseaudio ended at once; its log: " + Log();
        if (answers)
            return {};
        return "pulseaudio did not answer within 10 s; its log: " + Log();
    }

    bool Write(const QString& name, const QString& text)
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
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

} // namespace test
