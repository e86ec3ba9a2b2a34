#include "encoder/StreamingEncoder.h"

#include "encoder/EncoderLog.h"
#include "encoder/EncoderStrings.h"
#include "encoder/Mp3Encoder.h"
#include "encoder/NowPlaying.h"
#include "encoder/PcmRing.h"
#include "encoder/StationLogger.h"
#include "platform/ResStrings.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace zv {

ZV_DECLARE_EXCEPTION(EStreamingError, Exception);

namespace {

// A stream whose DNS lookup or connection hangs beyond the connect bound reads as stopped anyway.
constexpr std::chrono::milliseconds kStartingGrace { 3000 };
// Takes a whole capture buffer (half a second, 24000 frames at 48000 Hz) in one read, encode and send.
constexpr int kBlockFrames = 32768;
// How long the streaming thread waits for sound before it tends the connection without any: longer
// than a capture buffer, so that it wakes once per buffer while sound flows.
constexpr std::chrono::milliseconds kSoundWait { 600 };

PublishTarget TargetOf(const EncoderSettings& settings)
{
    PublishTarget target;
    target.host = settings.host;
    target.port = settings.port;
    target.user = settings.sourceUser;
    target.password = settings.sourcePassword;
    target.mount = settings.mount;
    target.name = settings.title;
    target.genre = settings.genre;
    target.description = settings.description;
    target.metadataUtf8 = settings.metadataCharset == EncoderSettings::MetadataCharset::Utf8;
    target.tls = settings.tls == EncoderSettings::Tls::Verified;
    target.tlsCaFile = settings.tlsCaFile;
    target.kbps = settings.kbps;
    target.sampleRate = settings.sampleRate;
    target.channels = settings.channels;
    return target;
}

QString Duration(std::chrono::milliseconds time)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time).count();
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

const char* RunStateName(int state)
{
    switch (state) {
    case kStateStarting:
        return "starting";
    case kStateRunning:
        return "running";
    case kStateStopping:
        return "stopping";
    case kStateStopped:
        return "stopped";
    default:
        return "unknown";
    }
}

StreamingEncoder::StreamingEncoder(EncoderSettings settings, std::unique_ptr<IPcmCapture> capture)
    : StreamingEncoder(std::move(settings), std::move(capture), Options {})
{
}

StreamingEncoder::StreamingEncoder(
    EncoderSettings settings, std::unique_ptr<IPcmCapture> capture, Options options)
    : settings_(std::move(settings))
    , capture_(std::move(capture))
    , options_(options)
{
}

StreamingEncoder::~StreamingEncoder()
{
    watcher_.reset();
    RequestStop();
    if (ring_) {
        ring_->Wake(); // a recording after a lost connection ends too
    }
    // The streaming thread ends within its own bounds (connect deadline, stall watchdog, drain).
    if (thread_.joinable()) {
        thread_.join();
    }
    if (captureOpen_) {
        capture_->Stop();
        captureOpen_ = false;
    }
}

bool StreamingEncoder::Transition(std::initializer_list<int> from, int to, const QString& reason)
{
    // One transition at a time, so listeners hear them in the order they happen; and told before
    // seen, so whoever reads state 5 finds its reason already logged.
    std::lock_guard lock(transitionMutex_);
    if (from.size() > 0 && std::find(from.begin(), from.end(), state_.load()) == from.end()) {
        return false;
    }
    if (listener_) {
        listener_(to, reason);
    }
    state_ = to;
    return true;
}

void StreamingEncoder::Start()
{
    {
        std::lock_guard lock(mutex_);
        if (!streamEnded_) {
            throw EStreamingError("The encoder is already running; stop it first");
        }
    }
    if (thread_.joinable()) {
        // The stream is over; what may still run is the recording after a lost connection.
        stopRequested_ = true;
        ring_->Wake();
        thread_.join();
    }
    if (captureOpen_) {
        capture_->Stop();
        captureOpen_ = false;
    }
    auto mp3 = std::make_unique<Mp3Encoder>(
        settings_.sampleRate, settings_.channels, settings_.kbps, options_.quality);
    auto publisher = std::make_unique<IcecastPublisher>(TargetOf(settings_), options_.publishLimits);
    // Two seconds of sound: room for the streaming thread to be late, never a growing backlog.
    ring_ = std::make_unique<PcmRing>(settings_.channels, settings_.sampleRate * 2);
    stopRequested_ = false;
    abandoned_ = false;
    PcmRing* ring = ring_.get();
    capture_->Start(
        settings_.sampleRate, settings_.channels,
        [ring](const std::int16_t* interleaved, int frames) { ring->Write(interleaved, frames); },
        [this](const QString& reason) {
            Abandon(QStringLiteral("The input device \"%1\" failed: %2").arg(settings_.inputSource, reason));
        });
    captureOpen_ = true;
    {
        std::lock_guard lock(mutex_);
        lastError_.clear();
        streamEnded_ = false;
    }
    if (!watcher_ && !settings_.nowPlayingFile.isEmpty()) {
        watcher_ = std::make_unique<NowPlayingWatcher>(
            settings_.nowPlayingFile, [this](const QString& title) { SetSongTitle(title); });
    }
    connectDeadline_ = Clock::now() + options_.connectTimeout;
    Transition({}, kStateStarting);
    thread_ = std::thread(&StreamingEncoder::Stream, this, std::move(publisher), std::move(mp3));
}

void StreamingEncoder::RequestStop()
{
    stopRequested_ = true;
    Transition({ kStateStarting, kStateRunning }, kStateStopping);
    if (ring_) {
        ring_->Wake();
    }
}

void StreamingEncoder::Abandon(const QString& reason)
{
    {
        std::lock_guard lock(mutex_);
        abandonReason_ = reason;
    }
    abandoned_ = true;
    if (ring_) {
        ring_->Wake();
    }
}

bool StreamingEncoder::Finish(std::chrono::milliseconds timeout)
{
    {
        std::unique_lock lock(mutex_);
        if (!endedCondition_.wait_for(lock, timeout, [this] { return streamEnded_; })) {
            return false;
        }
    }
    if (thread_.joinable()) {
        stopRequested_ = true; // ends a recording after a lost connection
        ring_->Wake();
        thread_.join();
    }
    if (captureOpen_) {
        capture_->Stop();
        captureOpen_ = false;
    }
    return true;
}

void StreamingEncoder::SetSongTitle(const QString& title)
{
    {
        std::lock_guard lock(titleMutex_);
        songTitle_ = title;
    }
    ++titleGeneration_;
    if (const auto recorder = Recorder()) {
        recorder->NoteTitle(title);
    }
}

void StreamingEncoder::SetRecording(const RecordingSettings& recording)
{
    std::shared_ptr<StationLogger> next;
    if (recording.enabled) {
        next = std::make_shared<StationLogger>(
            recording, settings_.sampleRate, StationLogger::OptionsFromEnvironment());
        std::lock_guard lock(titleMutex_);
        if (!songTitle_.isEmpty()) {
            next->NoteTitle(songTitle_);
        }
    }
    settings_.recording = recording;
    std::shared_ptr<StationLogger> previous;
    {
        std::lock_guard lock(recorderMutex_);
        previous = std::exchange(recorder_, std::move(next));
    }
    if (previous) {
        // Ending a recording waits for its writer, which a stalled disk may hold: neither this thread
        // (the control socket) nor the streaming thread (which may hold it a moment more) waits for it.
        std::thread([old = std::move(previous)]() mutable {
            while (old.use_count() > 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            old.reset();
        }).detach();
    }
}

std::shared_ptr<StationLogger> StreamingEncoder::Recorder() const
{
    std::lock_guard lock(recorderMutex_);
    return recorder_;
}

StreamingEncoder::LiveDetails StreamingEncoder::Details() const
{
    LiveDetails details;
    details.onAir = onAir_;
    if (details.onAir) {
        details.onAirTime = std::chrono::duration_cast<std::chrono::milliseconds>(
            Clock::now() - Clock::time_point(Clock::duration(onAirSince_.load())));
        details.bytesSent = bytesSent_;
        details.listeners = { listeners_, listenerPeak_ };
    }
    std::lock_guard lock(titleMutex_);
    details.title = details.onAir ? acceptedTitle_ : QString();
    return details;
}

void StreamingEncoder::PassSongTitle(IcecastPublisher& publisher, std::uint64_t& passed)
{
    const std::uint64_t generation = titleGeneration_;
    if (generation != passed) {
        passed = generation;
        std::lock_guard lock(titleMutex_);
        publisher.SetSongTitle(songTitle_);
    }
}

void StreamingEncoder::LogConnectionEnd(const IcecastPublisher& publisher, Clock::time_point since)
{
    EncoderLog(QStringLiteral("the connection ended after %1 on the air, %2 bytes sent (%3)")
                   .arg(Duration(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since)))
                   .arg(publisher.Delivered())
                   .arg(publisher.Where()));
}

int StreamingEncoder::RunState() const
{
    const int state = state_;
    if (state == kStateStarting && Clock::now() > connectDeadline_ + kStartingGrace) {
        return kStateStopped;
    }
    return state;
}

QString StreamingEncoder::LastError() const
{
    std::lock_guard lock(mutex_);
    return lastError_;
}

void StreamingEncoder::EndStream(const QString& reason, bool lastWord)
{
    {
        std::lock_guard lock(mutex_);
        if (!reason.isEmpty()) {
            lastError_ = reason;
        }
        streamEnded_ = true;
    }
    Transition({}, kStateStopped, reason);
    endedCondition_.notify_all();
    if (lastWord && ended_) {
        ended_();
    }
}

void StreamingEncoder::RecordOnly(Mp3Encoder& mp3, std::vector<std::int16_t>& block)
{
    using namespace std::chrono_literals;
    auto lastSound = Clock::now();
    try {
        while (!stopRequested_ && !abandoned_) {
            const auto recorder = Recorder();
            if (!recorder) {
                break;
            }
            const int frames = ring_->Read(block.data(), kBlockFrames, 100ms);
            if (frames > 0) {
                recorder->Feed(mp3.Encode(block.data(), frames));
                lastSound = Clock::now();
            } else if (Clock::now() - lastSound > options_.captureSilence) {
                EncoderLog(QStringLiteral("recording stopped: the input device \"%1\" delivered no sound")
                               .arg(settings_.inputSource));
                break;
            }
        }
        if (const auto recorder = Recorder()) {
            recorder->Feed(mp3.Flush());
        }
    } catch (const std::exception& error) {
        EncoderLog(QStringLiteral("recording stopped: %1").arg(QString::fromUtf8(error.what())));
    }
    if (ended_) {
        ended_();
    }
}

void StreamingEncoder::Stream(std::unique_ptr<IcecastPublisher> publisher, std::unique_ptr<Mp3Encoder> mp3)
{
    using namespace std::chrono_literals;
    const auto checkAbandoned = [this] {
        if (abandoned_) {
            std::lock_guard lock(mutex_);
            throw EStreamingError(abandonReason_);
        }
    };
    std::optional<Clock::time_point> onAirSince; // while connected
    QString acceptedTitle;
    const auto endConnection = [&] {
        if (onAirSince) {
            onAir_ = false;
            LogConnectionEnd(*publisher, *onAirSince);
            onAirSince.reset();
        }
    };
    std::vector<std::int16_t> block(static_cast<std::size_t>(kBlockFrames) * settings_.channels);
    try {
        publisher->BeginConnect();
        for (;;) {
            if (stopRequested_) {
                publisher->Close();
                EndStream({});
                return;
            }
            checkAbandoned();
            const auto now = Clock::now();
            if (publisher->PollConnect(now)) {
                break;
            }
            if (now > connectDeadline_) {
                const double seconds = options_.connectTimeout.count() / 1000.0;
                // Waiting for a source answer and waiting for a TLS answer the port never gives are
                // different faults with different cures.
                if (publisher->TlsHandshakeUnanswered()) {
                    throw EStreamingError(
                        zv::LoadResString(zv::STlsHandshakeUnanswered).arg(seconds).arg(publisher->Where()));
                }
                throw EStreamingError(QStringLiteral("The server did not accept the source within %1 s (%2)")
                                          .arg(seconds)
                                          .arg(publisher->Where()));
            }
            if (const auto recorder = Recorder()) {
                // The recording goes on while the server is away; the connect's own pace is kept.
                if (const int frames = ring_->Read(block.data(), kBlockFrames, 20ms); frames > 0) {
                    recorder->Feed(mp3->Encode(block.data(), frames));
                }
            } else {
                std::this_thread::sleep_for(20ms);
            }
        }
        onAirSince = Clock::now();
        bytesSent_ = 0;
        listeners_ = -1;
        listenerPeak_ = -1;
        {
            std::lock_guard lock(titleMutex_);
            acceptedTitle_.clear();
        }
        onAirSince_ = onAirSince->time_since_epoch().count();
        onAir_ = true;
        Transition({ kStateStarting }, kStateRunning);
        // Sound captured while connecting is stale; listeners get it live from here on. A recording
        // has taken it already, and takes what is left too.
        if (!Recorder()) {
            ring_->Clear();
        }
        auto lastSound = Clock::now();
        std::uint64_t titlePassed = 0; // a title given before this connection is sent on it
        while (!stopRequested_) {
            checkAbandoned();
            PassSongTitle(*publisher, titlePassed);
            const int frames = ring_->Read(block.data(), kBlockFrames, kSoundWait);
            const auto now = Clock::now();
            std::span<const std::uint8_t> bytes;
            if (frames > 0) {
                bytes = mp3->Encode(block.data(), frames);
                lastSound = now;
                if (const auto recorder = Recorder()) {
                    recorder->Feed(bytes); // the listeners' bytes; queued, never waited for
                }
            } else if (now - lastSound > options_.captureSilence) {
                throw EStreamingError(QStringLiteral("The input device \"%1\" delivered no sound for %2 s")
                                          .arg(settings_.inputSource,
                                              QString::number(options_.captureSilence.count() / 1000.0)));
            }
            publisher->Send(bytes, now);
            bytesSent_ = publisher->Delivered();
            const ListenerCount listeners = publisher->Listeners();
            listeners_ = listeners.listeners;
            listenerPeak_ = listeners.peak;
            if (const auto& accepted = publisher->AcceptedTitle(); accepted && *accepted != acceptedTitle) {
                acceptedTitle = *accepted;
                std::lock_guard lock(titleMutex_);
                acceptedTitle_ = acceptedTitle;
            }
        }
        // Stopping: the encoder's tail, then a bounded wait for the bytes to leave.
        const auto drainEnd = Clock::now() + options_.stopDrain;
        const auto tail = mp3->Flush();
        if (const auto recorder = Recorder()) {
            recorder->Feed(tail);
        }
        publisher->Send(tail, Clock::now());
        while (publisher->Pending() > 0 && Clock::now() < drainEnd) {
            std::this_thread::sleep_for(20ms);
            publisher->Send({}, Clock::now());
        }
        publisher->Close();
        endConnection();
        EndStream({});
    } catch (const Exception& error) {
        publisher->Close();
        endConnection();
        // With a recording, a lost or refused connection ends the stream, not the recording: the
        // capture still runs until the client starts again or lets this encoder go.
        const bool record = Recorder() && !stopRequested_ && !abandoned_;
        EndStream(stopRequested_ ? QString() : error.Message(), !record);
        if (record) {
            RecordOnly(*mp3, block);
        }
    } catch (const std::exception& error) {
        publisher->Close();
        endConnection();
        EndStream(QString::fromUtf8(error.what()));
    }
}

} // namespace zv
