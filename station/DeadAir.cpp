#include "station/DeadAir.h"

#include "platform/ResStrings.h"
#include "station/StationStrings.h"
#include "station/StreamDetails.h"

#include <QLocale>
#include <cmath>
#include <cstring>

namespace {

constexpr double kMinLevelDb = -120.0;
constexpr double kMaxLevelDb = -1.0;
constexpr double kMinSeconds = 1.0;
constexpr double kMaxSeconds = 86400.0;

QString NumberText(double value)
{
    return QString::number(value, 'g', 10);
}

// A number as an operator writes it: decimal point or comma, blanks around it allowed.
std::optional<double> ParseNumber(const QByteArray& text)
{
    bool ok = false;
    const double value
        = QString::fromLatin1(text.trimmed()).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

void ReadNumber(const zv::ProfileFile& file, const char* key, double low, double high, double& value,
    QStringList& problems)
{
    const std::optional<QByteArray> text = file.Value("Geral", key);
    if (!text || text->trimmed().isEmpty()) {
        return;
    }
    const std::optional<double> number = ParseNumber(*text);
    if (!number) {
        problems << zv::LoadResString(zv::SKeyNotANumber)
                        .arg(QString::fromLatin1(key), QString::fromLatin1(*text), NumberText(value));
    } else if (*number < low || *number > high) {
        problems << zv::LoadResString(zv::SKeyOutOfRange)
                        .arg(QString::fromLatin1(key), NumberText(*number), NumberText(low), NumberText(high),
                            NumberText(value));
    } else {
        value = *number;
    }
}

} // namespace

TDeadAirSettings ReadDeadAirSettings(const zv::ProfileFile& file, QStringList& problems)
{
    TDeadAirSettings settings;
    if (const std::optional<QByteArray> on = file.Value("Geral", kKeySilencioAlarme);
        on && !on->trimmed().isEmpty()) {
        const std::optional<double> number = ParseNumber(*on);
        if (!number) {
            problems << zv::LoadResString(zv::SKeyNotANumber)
                            .arg(QString::fromLatin1(kKeySilencioAlarme), QString::fromLatin1(*on),
                                QStringLiteral("1"));
        } else {
            settings.Enabled = *number != 0;
        }
    }
    ReadNumber(file, kKeySilencioNivel, kMinLevelDb, kMaxLevelDb, settings.LevelDb, problems);
    ReadNumber(file, kKeySilencioTempo, kMinSeconds, kMaxSeconds, settings.Seconds, problems);
    return settings;
}

// --- detector

TDeadAirDetector::TDeadAirDetector(int channels, int sampleRate)
    : channels_(std::max(channels, 1))
    , sampleRate_(std::max(sampleRate, 1))
    , threshold_(0)
{
    Configure(TDeadAirSettings {}.LevelDb, TDeadAirSettings {}.Seconds);
}

void TDeadAirDetector::Configure(double levelDb, double /*seconds*/)
{
    // The smallest magnitude that counts as sound; at least 1, so digital zero is always silence.
    const double magnitude = std::ceil(32768.0 * std::pow(10.0, levelDb / 20.0));
    threshold_.store(static_cast<int>(std::clamp(magnitude, 1.0, 32768.0)), std::memory_order_relaxed);
    silentFrames_.store(0, std::memory_order_relaxed);
}

void TDeadAirDetector::Feed(const void* data, int bytes) noexcept
{
    if (!data || bytes <= 0) {
        return;
    }
    const int samples = bytes / 2;
    const auto* bytePtr = static_cast<const unsigned char*>(data);
    int peak = 0;
    for (int i = 0; i < samples; ++i) {
        std::int16_t s;
        std::memcpy(&s, bytePtr + 2 * i, sizeof s);
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    const std::int64_t frames = samples / channels_;
    if (peak < threshold_.load(std::memory_order_relaxed)) {
        silentFrames_.fetch_add(frames, std::memory_order_acq_rel);
        return;
    }
    const std::int64_t run = silentFrames_.exchange(0, std::memory_order_acq_rel);
    if (run > 0) {
        lastRunFrames_.store(run, std::memory_order_relaxed);
        runsEnded_.fetch_add(1, std::memory_order_release);
    }
}

double TDeadAirDetector::SilentSeconds() const noexcept
{
    return static_cast<double>(silentFrames_.load(std::memory_order_acquire)) / sampleRate_;
}

double TDeadAirDetector::LastRunSeconds() const noexcept
{
    return static_cast<double>(lastRunFrames_.load(std::memory_order_acquire)) / sampleRate_;
}

// --- alarm

TDeadAirAlarm::TDeadAirAlarm(TDeadAirDetector& detector)
    : detector_(detector)
{
}

void TDeadAirAlarm::SetSettings(const TDeadAirSettings& settings)
{
    if (settings == settings_) {
        return;
    }
    settings_ = settings;
    detector_.Configure(settings.LevelDb, settings.Seconds);
    clearPending_ = clearPending_ || raised_;
    raised_ = false;
    raisedNoInput_ = false;
    runsSeen_ = detector_.RunsEnded();
}

void TDeadAirAlarm::SetInputLost(bool lost)
{
    if (lost == inputLost_) {
        return;
    }
    inputLost_ = lost;
    lostTicks_ = 0;
}

std::optional<TDeadAirChange> TDeadAirAlarm::Tick()
{
    if (clearPending_) {
        clearPending_ = false;
        runsSeen_ = detector_.RunsEnded();
        return TDeadAirChange { false, QString() };
    }
    if (!settings_.Enabled) {
        return std::nullopt;
    }
    if (inputLost_) {
        ++lostTicks_;
        if (raisedNoInput_ || (!raised_ && detector_.SilentSeconds() + lostTicks_ < settings_.Seconds)) {
            return std::nullopt;
        }
        raised_ = raisedNoInput_ = true;
        return TDeadAirChange { true, zv::LoadResString(zv::SDeadAirNoInput).arg(lostTicks_),
            static_cast<double>(lostTicks_) };
    }
    if (raisedNoInput_) {
        raised_ = raisedNoInput_ = false;
        runsSeen_ = detector_.RunsEnded();
        return TDeadAirChange { false, QString() };
    }
    const std::uint64_t runs = detector_.RunsEnded();
    if (raised_) {
        if (runs == runsSeen_) {
            return std::nullopt;
        }
        raised_ = false;
        runsSeen_ = runs;
        // To the nearest second: the block that brought the sound back is not counted in the silence.
        const std::int64_t ms = std::llround(detector_.LastRunSeconds()) * 1000;
        return TDeadAirChange { false, zv::LoadResString(zv::SDeadAirEnded).arg(OnAirTimeText(ms)) };
    }
    runsSeen_ = runs;
    if (detector_.SilentSeconds() < settings_.Seconds) {
        return std::nullopt;
    }
    raised_ = true;
    return TDeadAirChange { true,
        zv::LoadResString(zv::SDeadAirBegan)
            .arg(NumberText(settings_.LevelDb), NumberText(settings_.Seconds)),
        detector_.SilentSeconds() };
}

namespace {

// The warning text with the clock time `seconds` before now. QTime wraps at midnight: a silence that
// began yesterday evening reads 23:59:50.
QString WarningSince(zv::StationStringId text, const QTime& now, double seconds)
{
    const QTime since
        = now.addMSecs(-static_cast<int>(std::llround(std::clamp(seconds, 0.0, 86400.0) * 1000)));
    return zv::LoadResString(text).arg(since.toString(QStringLiteral("HH:mm:ss")));
}

} // namespace

QString DeadAirWarningText(const QTime& now, double silentSeconds)
{
    return WarningSince(zv::SDeadAirWarning, now, silentSeconds);
}

QString DeadAirNoInputWarningText(const QTime& now, double lostSeconds)
{
    return WarningSince(zv::SDeadAirNoInputWarning, now, lostSeconds);
}
