#pragma once

// A PulseAudio server of a test's own, for the ALSA mixer binding without a sound card: a null sink
// (its monitor the default source) on a socket in a temporary folder, no autospawn, and ALSA's default
// control device pointed at it through the pulse plugin (package libasound2-plugins), which shows the
// elements "Master" (playback volume and switch) and "Capture" (capture volume and switch). The
// calling process becomes the server's client through PULSE_SERVER and ALSA_CONFIG_PATH, which must
// be set before the process first uses ALSA. As root the server runs with a warning.

#include <QDir>
#include <QElapsedTimer>
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
    // Empty when it runs; else why not. The test's ALSA configuration (only the default control
    // device, on this server) comes after alsaPathBefore when that is given.
    std::string Start(const QString& alsaPathBefore = {})
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
            return "pulseaudio and pactl are not installed (packages pulseaudio, pulseaudio-utils)";
        if (!m_dir.isValid())
            return "no temporary folder";
        const QString run = m_dir.filePath(QStringLiteral("run"));
        QDir().mkpath(run);
        m_socket = run + QStringLiteral("/native");
        const bool written = Write(QStringLiteral("server.pa"),
            QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                           "load-module module-null-sink sink_name=zoveva_null\n")
                .arg(m_socket));
        // No autospawn: a client must never start a server of its own once this one is gone.
        if (!written || !Write(QStringLiteral("client.conf"), QStringLiteral("autospawn = no\n"))
            || !Write(QStringLiteral("asound.conf"), QStringLiteral("ctl.!default { type pulse }\n")))
            return "cannot write into the temporary folder";

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
        env.insert(QStringLiteral("HOME"), m_dir.path());
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(m_dir.filePath(QStringLiteral("pulseaudio.log")));
        // The server ends with its starter, however that ends: it would never leave by itself.
        m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_server.start(QStringLiteral("pulseaudio"),
            { QStringLiteral("-n"), QStringLiteral("-F"), m_dir.filePath(QStringLiteral("server.pa")),
                QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--daemonize=no"),
                QStringLiteral("--log-target=stderr") });
        if (!m_server.waitForStarted(5000))
            return "pulseaudio did not start: " + m_server.errorString().toStdString();

        // This process is the client: the pulse plugin and pactl find the server from these.
        qputenv("PULSE_SERVER", ("unix:" + m_socket).toUtf8());
        qputenv("PULSE_CLIENTCONFIG", m_dir.filePath(QStringLiteral("client.conf")).toUtf8());
        const QString conf = m_dir.filePath(QStringLiteral("asound.conf"));
        qputenv("ALSA_CONFIG_PATH",
            (alsaPathBefore.isEmpty() ? conf : alsaPathBefore + QLatin1Char(':') + conf).toUtf8());
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
