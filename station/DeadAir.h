#pragma once
// The dead-air alarm: the captured sound staying below a level for a time. The detector is fed the
// blocks the connector takes from the capture (no capture of its own) on the capture thread and never
// waits; the alarm asks it once a second on the user-interface thread.
#include "platform/ProfileFile.h"

#include <QString>
#include <QStringList>
#include <QTime>
#include <atomic>
#include <cstdint>
#include <optional>

// The [Geral] keys of cfg.ini.
inline constexpr const char* kKeySilencioAlarme = "SilencioAlarme"; // 0 switches the alarm off
inline constexpr const char* kKeySilencioNivel = "SilencioNivel"; // dBFS, e.g. -50
inline constexpr const char* kKeySilencioTempo = "SilencioTempo"; // seconds, e.g. 20

struct TDeadAirSettings {
    bool Enabled = true;
    double LevelDb = -50.0; // the block peak below this is silence; -120 ... -1
    double Seconds = 20.0; // 1 ... 86400

    bool operator==(const TDeadAirSettings&) const = default;
};

// The settings from cfg.ini's [Geral]: a missing key keeps its default; one that is not a number or
// is out of range keeps it too and adds a line to problems naming the key, its value and what is used.
TDeadAirSettings ReadDeadAirSettings(const zv::ProfileFile& file, QStringList& problems);

// Interleaved signed 16-bit samples of any channel count at one rate.
class TDeadAirDetector {
public:
    TDeadAirDetector(int channels, int sampleRate);

    // The level and the time; takes effect from the next block and starts the silent run anew.
    void Configure(double levelDb, double seconds);

    // Capture thread: one block. A block whose peak reaches the level ends the silent run.
    void Feed(const void* data, int bytes) noexcept;

    // Any thread: seconds of the current silent run, and of the last run that sound ended.
    double SilentSeconds() const noexcept;
    double LastRunSeconds() const noexcept;
    // Counts silent runs that sound ended, so a short return between two looks is not missed.
    std::uint64_t RunsEnded() const noexcept { return runsEnded_.load(std::memory_order_acquire); }

private:
    const int channels_;
    const int sampleRate_;
    std::atomic<int> threshold_; // sample magnitude that counts as sound
    std::atomic<std::int64_t> silentFrames_ { 0 };
    std::atomic<std::int64_t> lastRunFrames_ { 0 };
    std::atomic<std::uint64_t> runsEnded_ { 0 };
};

// A change of the alarm: raised (silent) or cleared, with its message for the log and the operator.
struct TDeadAirChange {
    bool Silent = false;
    QString Message;
    double SilentSeconds = 0; // raised: how long the silence had lasted, so its start can be told
};

// The tray tooltip's warning line at the wall-clock time `now` for a silence that has lasted
// `silentSeconds`: it names the time the silence began, as the return message counts from there.
QString DeadAirWarningText(const QTime& now, double silentSeconds);
// The same while the alarm is raised because no input device captures: it names the time it was lost.
QString DeadAirNoInputWarningText(const QTime& now, double lostSeconds);

// The alarm's state, advanced once a second on the user-interface thread.
class TDeadAirAlarm {
public:
    explicit TDeadAirAlarm(TDeadAirDetector& detector);

    // Applies the settings to the detector. The same settings again (every save of the settings
    // window reads them anew) change nothing, not even a silent run in progress. Changed ones start the
    // run anew; a raised alarm is then cleared by the next Tick, with an empty message (no sound came
    // back, so there is nothing to log), so the window does not keep its warning.
    void SetSettings(const TDeadAirSettings& settings);
    const TDeadAirSettings& Settings() const { return settings_; }
    bool Raised() const { return raised_; }

    // The capture's input device was lost (no block comes, so the detector cannot tell silence), or
    // works again. While it is lost, the alarm rises when the silence before the loss and the time
    // since reach the alarm's time, at once when it is raised already, and says that there is no input
    // device (SilentSeconds: the time since the loss). Its return clears that alarm without a message
    // (the capture logs the return); silence after it is the detector's again.
    void SetInputLost(bool lost);
    bool InputLost() const { return inputLost_; }
    bool RaisedWithoutInput() const { return raisedNoInput_; }

    // The change since the last tick, if any.
    std::optional<TDeadAirChange> Tick();

private:
    TDeadAirDetector& detector_;
    TDeadAirSettings settings_;
    bool raised_ = false;
    bool clearPending_ = false; // raised when the settings changed: the window still shows it
    std::uint64_t runsSeen_ = 0;
    bool inputLost_ = false;
    bool raisedNoInput_ = false;
    int lostTicks_ = 0; // ticks (seconds) since the input was lost
};
