#pragma once

#include "encoder/EncoderSettings.h"
#include "encoder/EncoderShared.h"
#include "encoder/IcecastPublisher.h"
#include "encoder/PcmCapture.h"
#include "encoder/StatusProbe.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zv {

class NowPlayingWatcher;
class PcmRing;
class StationLogger;

using shared::kStateRunning;
using shared::kStateStarting;
using shared::kStateStopped;
using shared::kStateStopping;

const char* RunStateName(int state);

// Capture, MP3 encoding and publishing of one stream. Start, RequestStop and Finish belong to one
// owner thread; the streaming thread connects, encodes and sends. The capture thread only copies
// into a ring, so a slow or stuck server never holds the capture up.
class StreamingEncoder {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        std::chrono::milliseconds connectTimeout { 10000 };
        // No captured sound for this long while publishing ends the stream: listeners would hear nothing.
        std::chrono::milliseconds captureSilence { 5000 };
        // Time granted to the last bytes when stopping.
        std::chrono::milliseconds stopDrain { 2000 };
        IcecastPublisher::Limits publishLimits {};
        int quality = 2;
    };

    // What the stream is doing, for the client's display; safe from any thread.
    struct LiveDetails {
        bool onAir = false;
        std::chrono::milliseconds onAirTime { 0 }; // since the current connection came up
        std::uint64_t bytesSent = 0; // that reached the server on the current connection
        ListenerCount listeners;
        QString title; // the song title the server last took
    };

    // Called on any thread with the new state and, for state 5 after a failure, the reason.
    using StateListener = std::function<void(int state, const QString& reason)>;

    StreamingEncoder(EncoderSettings settings, std::unique_ptr<IPcmCapture> capture);
    StreamingEncoder(EncoderSettings settings, std::unique_ptr<IPcmCapture> capture, Options options);
    ~StreamingEncoder();
    StreamingEncoder(const StreamingEncoder&) = delete;
    StreamingEncoder& operator=(const StreamingEncoder&) = delete;

    void SetStateListener(StateListener listener) { listener_ = std::move(listener); }
    // Called on the streaming thread once it has ended; the owner then calls Finish on its own thread.
    void SetEndedCallback(std::function<void()> ended) { ended_ = std::move(ended); }

    // Opens the capture and begins connecting: state 1. Raises when the capture or encoder cannot start
    // or a stream is still running.
    void Start();
    // Begins stopping: state 4, then 5 once the stream is closed. Returns at once.
    void RequestStop();
    // Waits up to `timeout` for the streaming thread to end, then closes the capture. False if it
    // did not end in time.
    bool Finish(std::chrono::milliseconds timeout);

    // Ends the stream from outside (any thread), as if the connection had been lost for `reason`.
    void Abandon(const QString& reason);

    // The song title to show on the stream from now on (any thread); sent once connected, and again at
    // every new connection.
    void SetSongTitle(const QString& title);
    LiveDetails Details() const;

    // Starts, changes or ends the recording of what goes on the air (owner thread); the stream goes
    // on. With a recording, the sound is also encoded while connecting and after a lost connection
    // (run state 5) until the next Start, Finish or stop, so the recording has no hole the encoder
    // could have filled.
    void SetRecording(const RecordingSettings& recording);
    // The recording, if one runs (any thread).
    std::shared_ptr<StationLogger> Recorder() const;

    int RunState() const;
    QString LastError() const;
    const EncoderSettings& Settings() const { return settings_; }

private:
    void Stream(std::unique_ptr<IcecastPublisher> publisher, std::unique_ptr<class Mp3Encoder> mp3);
    // Moves to `to` when the state is one of `from` (any state when empty); false otherwise.
    bool Transition(std::initializer_list<int> from, int to, const QString& reason = {});
    void EndStream(const QString& reason, bool lastWord = true);
    void RecordOnly(class Mp3Encoder& mp3, std::vector<std::int16_t>& block);
    void PassSongTitle(IcecastPublisher& publisher, std::uint64_t& passed);
    void LogConnectionEnd(const IcecastPublisher& publisher, Clock::time_point since);

    EncoderSettings settings_;
    std::unique_ptr<IPcmCapture> capture_;
    Options options_;
    StateListener listener_;
    std::function<void()> ended_;
    std::unique_ptr<PcmRing> ring_;

    std::thread thread_;
    std::mutex transitionMutex_; // orders the transitions of state_ and their reports
    std::atomic<int> state_ { kStateStopped }; // written by owner and streaming thread, read by both
    std::atomic<bool> stopRequested_ { false };
    std::atomic<bool> abandoned_ { false };
    std::atomic<bool> captureOpen_ { false }; // owner thread only
    Clock::time_point connectDeadline_ {}; // owner thread writes before the thread starts

    std::unique_ptr<NowPlayingWatcher> watcher_; // owner thread only

    mutable std::mutex recorderMutex_; // guards recorder_
    std::shared_ptr<StationLogger> recorder_;

    // Written by the streaming thread, read by any: what Details reports.
    std::atomic<bool> onAir_ { false };
    std::atomic<Clock::rep> onAirSince_ { 0 };
    std::atomic<std::uint64_t> bytesSent_ { 0 };
    std::atomic<int> listeners_ { -1 };
    std::atomic<int> listenerPeak_ { -1 };
    std::atomic<std::uint64_t> titleGeneration_ { 0 }; // counts SetSongTitle calls

    mutable std::mutex titleMutex_; // guards songTitle_ and acceptedTitle_
    QString songTitle_; // the latest title given
    QString acceptedTitle_; // the latest the server took

    mutable std::mutex mutex_; // guards lastError_, abandonReason_ and streamEnded_
    std::condition_variable endedCondition_;
    QString lastError_;
    QString abandonReason_;
    bool streamEnded_ = true;
};

} // namespace zv
