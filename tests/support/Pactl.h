#pragma once

// pactl against whichever sound server the test's environment names (PULSE_SERVER or the runtime
// folder): the private PulseAudio and PipeWire servers of the end-to-end tests both speak it.

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <optional>

namespace test {

// pactl's output, or nothing when it failed.
inline std::optional<QString> Pactl(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    if (!p.waitForFinished(5000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The first channel's volume in percent, as pactl prints it; -1 when it failed.
inline int PactlPercent(const QStringList& args)
{
    const std::optional<QString> out = Pactl(args);
    if (!out)
        return -1;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("/\\s*(\\d+)%")).match(*out);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace test
