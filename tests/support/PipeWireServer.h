#pragma once

// A PipeWire of a test's own, as a desktop session runs it: pipewire, its session manager wireplumber
// and its pulse server pipewire-pulse, on a private session bus, with sockets in a temporary runtime
// folder that becomes this process's $XDG_RUNTIME_DIR. There is no sound card: a null sink loaded
// through the pulse server is the default sink, its monitor the default source, and a 440 Hz tone
// plays into it. ALSA's default devices go through the pulse plug-in (package libasound2-plugins), so
// the calling process must not have used ALSA before Start. Every child ends with the object, or with
// this process however it ends.

#include "tests/support/Pactl.h"
#include "tests/support/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <cmath>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <vector>

namespace test {

class PipeWireServer {
public:
    // Empty when it runs and the tone plays; else why not.
    std::string Start()
    {
        for (const char* tool :
            { "pipewire", "wireplumber", "pipewire-pulse", "pactl", "paplay", "dbus-daemon" })
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return std::string(tool)
                    + " is not installed (packages pipewire, wireplumber, pipewire-pulse, pulseaudio-utils, "
                      "dbus-daemon)";
        if (!m_dir.isValid())
            return "no temporary folder";
        m_run = m_dir.filePath(QStringLiteral("run"));
        if (!QDir().mkpath(m_run)
            || !QFile::setPermissions(m_run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return "cannot make the runtime folder";
        if (!Write(QStringLiteral("client.conf"), QStringLiteral("autospawn = no\n"))
            || !Write(QStringLiteral("asound.conf"),
                QStringLiteral("pcm.!default { type pulse hint { show on description \"Playback/recording "
                               "through the PulseAudio sound server\" } }\nctl.!default { type pulse }\n"))
            || !WriteTone(QStringLiteral("tone.wav")))
            return "cannot write into the temporary folder";

        // Clients (this process, the encoder, pactl) find the pulse server in the runtime folder.
        qputenv("XDG_RUNTIME_DIR", m_run.toUtf8());
        qputenv("PIPEWIRE_RUNTIME_DIR", m_run.toUtf8());
        qunsetenv("PULSE_SERVER");
        qunsetenv("PULSE_RUNTIME_PATH");
        qputenv("PULSE_CLIENTCONFIG", m_dir.filePath(QStringLiteral("client.conf")).toUtf8());
        qputenv("ALSA_CONFIG_PATH", m_dir.filePath(QStringLiteral("asound.conf")).toUtf8());

        // wireplumber wants a session bus; the desktop's, if any, is not this server's.
        QProcess* bus = Spawn(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus")) },
            QStringLiteral("dbus.log"));
        if (!bus || !WaitFor([&] { return QFile::exists(m_dir.filePath(QStringLiteral("bus"))); }))
            return "the private session bus did not start; its log: " + Log(QStringLiteral("dbus.log"));
        qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + m_dir.filePath(QStringLiteral("bus"))).toUtf8());

        if (!Spawn(QStringLiteral("pipewire"), {}, QStringLiteral("pipewire.log"))
            || !WaitFor([&] { return QFile::exists(m_run + QStringLiteral("/pipewire-0")); }))
            return "pipewire did not start; its log: " + Log(QStringLiteral("pipewire.log"));
        if (!Spawn(QStringLiteral("wireplumber"), {}, QStringLiteral("wireplumber.log"))
            || !Spawn(QStringLiteral("pipewire-pulse"), {}, QStringLiteral("pipewire-pulse.log"))
            || !WaitFor([&] { return Pactl({ QStringLiteral("info") }).has_value(); }))
            return "pipewire-pulse did not answer; its log: " + Log(QStringLiteral("pipewire-pulse.log"));

        if (!Pactl({ QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                QStringLiteral("sink_name=zoveva_null") }))
            return "the pulse server did not load a null sink";
        // The session manager makes the new sink the default once it has seen it.
        if (!WaitFor([&] {
                Pactl({ QStringLiteral("set-default-sink"), QStringLiteral("zoveva_null") });
                Pactl({ QStringLiteral("set-default-source"), QStringLiteral("zoveva_null.monitor") });
                return Pactl({ QStringLiteral("get-default-source") }).value_or(QString()).trimmed()
                    == QStringLiteral("zoveva_null.monitor");
            }))
            return "the null sink's monitor did not become the default source";
        if (!Spawn(QStringLiteral("paplay"),
                { QStringLiteral("--device=zoveva_null"), m_dir.filePath(QStringLiteral("tone.wav")) },
                QStringLiteral("paplay.log")))
            return "paplay did not start";
        return {};
    }

    // Ends the children in the reverse order of their start.
    void Stop()
    {
        for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
            QProcess& p = **it;
            if (p.state() == QProcess::NotRunning)
                continue;
            p.terminate();
            if (!p.waitForFinished(5000)) {
                p.kill();
                p.waitForFinished(5000);
            }
        }
        m_children.clear();
    }

    ~PipeWireServer() { Stop(); }

    // The runtime folder with the sockets: pipewire-0 and pulse/native.
    const QString& RuntimeDir() const { return m_run; }

    // pactl's output, or nothing when it failed; the first channel's volume in percent.
    std::optional<QString> Pactl(const QStringList& args) { return test::Pactl(args); }
    int Percent(const QStringList& args) { return test::PactlPercent(args); }

private:
    QProcess* Spawn(const QString& program, const QStringList& args, const QString& log)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_dir.filePath(QStringLiteral("state")));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setStandardOutputFile(m_dir.filePath(log), QIODevice::Append);
        // None of them would leave by itself when the test ends some other way.
        p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        p->start(program, args);
        if (!p->waitForStarted(5000))
            return nullptr;
        m_children.push_back(std::move(p));
        return m_children.back().get();
    }

    template <typename Done> bool WaitFor(Done done)
    {
        // A server that ended will not answer: no use waiting for it.
        bool ended = false;
        const bool held = zv::test::WaitUntil(
            [&] {
                for (const auto& p : m_children)
                    ended = ended || p->state() != QProcess::Running;
                return ended || done();
            },
            std::chrono::seconds(15), std::chrono::milliseconds(100));
        return held && !ended;
    }

    // Two minutes of a 440 Hz tone at half scale, 8 kHz mono 16-bit: longer than the test runs.
    bool WriteTone(const QString& name)
    {
        const int rate = 8000, samples = rate * 120;
        QByteArray wav;
        const auto put32
            = [&](quint32 v) { wav.append(reinterpret_cast<const char*>(&(v = qToLittleEndian(v))), 4); };
        const auto put16
            = [&](quint16 v) { wav.append(reinterpret_cast<const char*>(&(v = qToLittleEndian(v))), 2); };
        wav.append("RIFF");
        put32(36 + samples * 2);
        wav.append("WAVEfmt ");
        put32(16);
        put16(1);
        put16(1);
        put32(rate);
        put32(rate * 2);
        put16(2);
        put16(16);
        wav.append("data");
        put32(samples * 2);
        for (int i = 0; i < samples; ++i)
            put16(quint16(qint16(std::lround(16000 * std::sin(2 * M_PI * 440.0 * i / rate)))));
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(wav) == wav.size();
    }

    bool Write(const QString& name, const QString& text)
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
    }

    std::string Log(const QString& name)
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll().right(2000).toStdString() : std::string("(none)");
    }

    QTemporaryDir m_dir;
    QString m_run;
    std::vector<std::unique_ptr<QProcess>> m_children;
};

} // namespace test
