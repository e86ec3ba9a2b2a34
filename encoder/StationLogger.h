#pragma once

#include "encoder/EncoderSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace zv {

// Length in bytes of the MPEG audio Layer III frame whose header starts at `p` (0 when `p` does not
// start one), and the samples per channel it carries.
int Mp3FrameLength(const std::uint8_t* p, std::size_t available, int* samples = nullptr);

// Where the frames of the period beginning at `start` go, relative to the recording folder:
// "yyyy-MM-dd/HH" for an hour, "yyyy-MM-dd/HH-mm-ss" for a shorter test period. Without extension.
QString RecordingStem(const QDateTime& start, std::chrono::seconds period);

// Removes the recordings (by their names only) whose period ended before `cutoff`, oldest first, and
// then their day folders if nothing else is left in them. Returns what it removed, relative paths.
QStringList RemoveRecordingsBefore(const QString& folder, const QDateTime& cutoff);

// Writes the stream's MP3 frames to one file per clock hour with the song titles beside them. The
// streaming thread only queues (bounded; what does not fit is dropped and counted); a thread of its
// own writes whole frames, syncs every few seconds, watches the free space and removes old files.
// A disk that is full, slow, gone or read-only costs the recording only, never the stream.
class StationLogger {
public:
    enum class State { Recording = 1, PausedLowSpace = 2, Fault = 3 };

    struct Options {
        std::chrono::seconds period { 3600 }; // one file per clock hour
        std::size_t queueBytes = 4 * 1024 * 1024; // what may wait for the disk before drops
        std::chrono::milliseconds syncEvery { 2000 };
        std::chrono::milliseconds checkEvery { 2000 }; // free space, retries after a fault
    };

    // Options with the test hook ZOVEVA_RECORDING_PERIOD_S (a period of seconds instead of an hour).
    static Options OptionsFromEnvironment();

    StationLogger(RecordingSettings settings, int sampleRate, Options options);
    ~StationLogger(); // writes what is queued, syncs and closes
    StationLogger(const StationLogger&) = delete;
    StationLogger& operator=(const StationLogger&) = delete;

    // Streaming thread; never waits for the disk.
    void Feed(std::span<const std::uint8_t> mp3);
    // Any thread: the title on the air from now on.
    void NoteTitle(const QString& title);

    State CurrentState() const { return static_cast<State>(state_.load()); }
    const QString& Folder() const { return settings_.folder; }
    std::uint64_t DroppedBytes() const { return dropped_; }
    std::uint64_t WrittenFrames() const { return writtenFrames_; }

private:
    using WallClock = std::chrono::system_clock;
    struct Item {
        std::vector<std::uint8_t> bytes; // empty for a title
        QString title;
        bool isTitle = false;
        WallClock::time_point when;
    };

    void Run();
    void Handle(Item& item);
    void PlaceFrame(const std::uint8_t* frame, int length, WallClock::time_point time);
    bool OpenPeriod(WallClock::time_point time);
    void ClosePeriod();
    void WritePending();
    void NoteTitleInFile(const QString& title, WallClock::time_point time);
    void Fault(const QString& what, int error);
    void CheckSpace();
    void Retention();
    void Sync();

    RecordingSettings settings_;
    int sampleRate_;
    Options options_;

    std::mutex mutex_; // guards queue_, queuedBytes_, stop_
    std::condition_variable wake_;
    std::vector<Item> queue_;
    std::size_t queuedBytes_ = 0;
    bool stop_ = false;
    std::atomic<std::uint64_t> dropped_ { 0 };
    std::atomic<std::uint64_t> writtenFrames_ { 0 };
    std::atomic<int> state_ { static_cast<int>(State::Recording) };

    // Writer thread only.
    std::vector<std::uint8_t> carry_; // bytes of a frame not yet whole
    std::vector<std::uint8_t> pending_; // whole frames of the open period not yet written
    WallClock::time_point anchor_ {}; // wall time of the first sample counted in samples_
    std::int64_t samples_ = -1; // since anchor_; -1 before the first frame
    int fd_ = -1;
    QString path_; // of the open file, relative to the folder
    std::int64_t goodSize_ = 0; // bytes of whole frames in the open file
    WallClock::time_point periodStart_ {};
    WallClock::time_point periodEnd_ {};
    QString title_; // on the air now
    bool paused_ = false;
    bool faulted_ = false; // not writing until the next check
    bool faultReported_ = false; // logged, until a write succeeds again and the disk has room
    bool wroteSinceFault_ = false; // a write went through after the fault was logged
    bool dropping_ = false;
    std::uint64_t droppedSeen_ = 0;
    std::chrono::steady_clock::time_point lastDrop_ {};
    std::chrono::steady_clock::time_point lastSync_ {};
    std::chrono::steady_clock::time_point lastCheck_ {};

    std::thread thread_;
};

} // namespace zv
