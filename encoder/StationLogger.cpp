#include "encoder/StationLogger.h"

#include "encoder/EncoderLog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace zv {

namespace {

constexpr int kMpeg1Kbps[16] = { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0 };
constexpr int kMpeg2Kbps[16] = { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0 };
constexpr int kMpeg1Rates[3] = { 44100, 48000, 32000 };

// The sound's count and the wall clock may part (a capture clock runs at its own pace, a dropped
// stretch); beyond this the count starts again from the wall clock. Wide enough that a loaded machine
// holding the streaming thread up for a moment does not move the hour's boundary.
constexpr std::chrono::milliseconds kReanchor { 5000 };

const QRegularExpression& DayPattern()
{
    static const QRegularExpression day(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    return day;
}

const QRegularExpression& FilePattern()
{
    static const QRegularExpression file(QStringLiteral("^(\\d{2})(?:-(\\d{2})-(\\d{2}))?\\.(mp3|txt)$"));
    return file;
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString MegaBytes(std::int64_t bytes)
{
    return QString::number(bytes / (1024 * 1024));
}

// The largest Layer III frame: 320 kbit/s at 32 kHz, padded.
constexpr std::int64_t kMaxFrameBytes = 1441;

// Where the next frame goes in a file this logger wrote before: after its last whole frame, since a
// power cut or a full disk may have left half a frame at its end. Anything else (a file it cannot
// read, bytes that are not frames) is kept whole and followed.
std::int64_t AppendPoint(int fd, std::int64_t size)
{
    std::int64_t offset = 0;
    std::uint8_t header[4];
    while (offset + 4 <= size) {
        if (pread(fd, header, 4, offset) != 4) {
            return size;
        }
        const int length = Mp3FrameLength(header, 4);
        if (length == 0 || offset + length > size) {
            break;
        }
        offset += length;
    }
    return size - offset < kMaxFrameBytes ? offset : size;
}

} // namespace

int Mp3FrameLength(const std::uint8_t* p, std::size_t available, int* samples)
{
    if (available < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) {
        return 0;
    }
    const int version = (p[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (p[1] >> 1) & 3; // 1: Layer III
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    if (version == 1 || layer != 1 || rateIndex == 3) {
        return 0;
    }
    const bool mpeg1 = version == 3;
    const int kbps = mpeg1 ? kMpeg1Kbps[bitrateIndex] : kMpeg2Kbps[bitrateIndex];
    if (kbps == 0) {
        return 0;
    }
    const int rate = kMpeg1Rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (samples) {
        *samples = mpeg1 ? 1152 : 576;
    }
    return (mpeg1 ? 144 : 72) * kbps * 1000 / rate + padding;
}

QString RecordingStem(const QDateTime& start, std::chrono::seconds period)
{
    return start.toString(QStringLiteral("yyyy-MM-dd/"))
        + start.toString(period.count() == 3600 ? QStringLiteral("HH") : QStringLiteral("HH-mm-ss"));
}

QStringList RemoveRecordingsBefore(const QString& folder, const QDateTime& cutoff)
{
    // By the time in the name, not the file's dates: a copied or touched file keeps its place.
    std::multimap<QDateTime, QString> old;
    QStringList days;
    const QDir root(folder);
    for (const QString& day : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        const auto dayMatch = DayPattern().match(day);
        const QDate date(
            dayMatch.captured(1).toInt(), dayMatch.captured(2).toInt(), dayMatch.captured(3).toInt());
        if (!dayMatch.hasMatch() || !date.isValid()) {
            continue;
        }
        days += day;
        for (const QString& name : QDir(root.filePath(day)).entryList(QDir::Files | QDir::NoSymLinks)) {
            const auto match = FilePattern().match(name);
            if (!match.hasMatch()) {
                continue;
            }
            const bool hour = match.captured(2).isEmpty();
            const QTime time(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
            if (!time.isValid()) {
                continue;
            }
            // An hour's file ends an hour after its name; a test period's within seconds of it.
            const QDateTime end = QDateTime(date, time).addSecs(hour ? 3600 : 0);
            if (end <= cutoff) {
                old.emplace(end, day + u'/' + name);
            }
        }
    }
    QStringList removed;
    for (const auto& [end, name] : old) {
        if (QFile::remove(root.filePath(name))) {
            removed += name;
        }
    }
    for (const QString& day : days) {
        root.rmdir(day); // only when empty: anything else in it stays
    }
    return removed;
}

StationLogger::Options StationLogger::OptionsFromEnvironment()
{
    Options options;
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("ZOVEVA_RECORDING_PERIOD_S", &ok);
    if (ok && seconds > 0 && seconds < 3600) {
        options.period = std::chrono::seconds(seconds);
    }
    return options;
}

StationLogger::StationLogger(RecordingSettings settings, int sampleRate, Options options)
    : settings_(std::move(settings))
    , sampleRate_(sampleRate)
    , options_(options)
{
    EncoderLog(QStringLiteral("recording what goes on the air to %1 (kept %2 days, paused below %3 MB free)")
                   .arg(settings_.folder)
                   .arg(settings_.days)
                   .arg(MegaBytes(settings_.minFreeBytes)));
    thread_ = std::thread(&StationLogger::Run, this);
}

StationLogger::~StationLogger()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void StationLogger::Feed(std::span<const std::uint8_t> mp3)
{
    if (mp3.empty()) {
        return;
    }
    Item item;
    item.when = WallClock::now();
    {
        std::lock_guard lock(mutex_);
        if (queuedBytes_ + mp3.size() > options_.queueBytes) {
            dropped_ += mp3.size();
            return;
        }
        queuedBytes_ += mp3.size();
        item.bytes.assign(mp3.begin(), mp3.end());
        queue_.push_back(std::move(item));
    }
    wake_.notify_one();
}

void StationLogger::NoteTitle(const QString& title)
{
    Item item;
    item.isTitle = true;
    item.title = title;
    item.when = WallClock::now();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(item));
    }
    wake_.notify_one();
}

void StationLogger::Run()
{
    QDir().mkpath(settings_.folder);
    Retention();
    CheckSpace();
    std::vector<Item> work;
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, options_.syncEvery, [this] { return stop_ || !queue_.empty(); });
            work.swap(queue_);
            queuedBytes_ = 0;
            stopping = stop_;
        }
        for (Item& item : work) {
            Handle(item);
        }
        work.clear();
        WritePending();
        const auto now = std::chrono::steady_clock::now();
        if (now - lastCheck_ >= options_.checkEvery) {
            CheckSpace();
        }
        if (const std::uint64_t dropped = dropped_; dropped != droppedSeen_) {
            if (!dropping_) {
                EncoderLog(
                    QStringLiteral("recording: the disk is slower than the stream; sound is left out of "
                                   "the recording until it catches up (the stream goes on)"));
                dropping_ = true;
            }
            droppedSeen_ = dropped;
            lastDrop_ = now;
        } else if (dropping_ && now - lastDrop_ > options_.checkEvery) {
            EncoderLog(QStringLiteral("recording caught up with the stream; %1 bytes in all were left out")
                           .arg(dropped));
            dropping_ = false;
        }
        if (now - lastSync_ >= options_.syncEvery || stopping) {
            Sync();
            lastSync_ = now;
        }
        if (stopping) {
            ClosePeriod();
            EncoderLog(QStringLiteral("recording stopped"));
            return;
        }
    }
}

void StationLogger::Handle(Item& item)
{
    if (item.isTitle) {
        title_ = item.title;
        NoteTitleInFile(item.title, item.when);
        return;
    }
    carry_.insert(carry_.end(), item.bytes.begin(), item.bytes.end());
    // Count this chunk's sound first, so its frames are timed back from the moment it was queued.
    std::int64_t chunkSamples = 0;
    std::size_t offset = 0;
    struct Frame {
        std::size_t at;
        int length;
        int samples;
    };
    std::vector<Frame> frames;
    while (offset < carry_.size()) {
        int samples = 0;
        const int length = Mp3FrameLength(carry_.data() + offset, carry_.size() - offset, &samples);
        if (length == 0) {
            if (carry_.size() - offset < 4) {
                break;
            }
            ++offset; // not a frame start: find the next one
            continue;
        }
        if (offset + static_cast<std::size_t>(length) > carry_.size()) {
            break;
        }
        frames.push_back({ offset, length, samples });
        chunkSamples += samples;
        offset += static_cast<std::size_t>(length);
    }
    const auto toTime = [this](std::int64_t samples) {
        return std::chrono::duration_cast<WallClock::duration>(
            std::chrono::duration<double>(static_cast<double>(samples) / sampleRate_));
    };
    const WallClock::time_point chunkStart = item.when - toTime(chunkSamples);
    const auto apart = anchor_ + toTime(samples_) - chunkStart;
    if (samples_ < 0 || std::chrono::abs(apart) > kReanchor) {
        if (samples_ >= 0) {
            EncoderLog(QStringLiteral("recording: the sound and the clock were %1 s apart (sound was lost "
                                      "while the encoder was held up); the files follow the clock again")
                           .arg(std::chrono::duration<double>(apart).count(), 0, 'f', 1));
        }
        anchor_ = chunkStart;
        samples_ = 0;
    }
    for (const Frame& frame : frames) {
        PlaceFrame(carry_.data() + frame.at, frame.length, anchor_ + toTime(samples_));
        samples_ += frame.samples;
    }
    carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void StationLogger::PlaceFrame(const std::uint8_t* frame, int length, WallClock::time_point time)
{
    if (paused_ || faulted_) {
        return;
    }
    // Forward only: a clock set back keeps the open file going rather than write into an older one.
    if (fd_ < 0 || time >= periodEnd_) {
        WritePending();
        ClosePeriod();
        if (!OpenPeriod(time)) {
            return;
        }
    }
    pending_.insert(pending_.end(), frame, frame + length);
    ++writtenFrames_;
}

bool StationLogger::OpenPeriod(WallClock::time_point time)
{
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    QDateTime start;
    if (options_.period.count() == 3600) {
        // The clock hour in local time, whatever the zone's offset; in the hour repeated when the
        // clock goes back, the same name again, so that hour's file simply goes on.
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
        const QTime clock = local.time();
        start = local.addMSecs(-((clock.minute() * 60 + clock.second()) * 1000 + clock.msec()));
    } else {
        const qint64 period = options_.period.count() * 1000;
        start = QDateTime::fromMSecsSinceEpoch(ms - ((ms % period) + period) % period);
    }
    const QDateTime end = start.addSecs(options_.period.count());
    periodStart_ = WallClock::time_point(std::chrono::milliseconds(start.toMSecsSinceEpoch()));
    periodEnd_ = WallClock::time_point(std::chrono::milliseconds(end.toMSecsSinceEpoch()));
    const QString stem = RecordingStem(start, options_.period);
    const QDir root(settings_.folder);
    if (!root.mkpath(stem.section(u'/', 0, 0))) {
        Fault(
            QStringLiteral("cannot make the folder %1").arg(root.filePath(stem.section(u'/', 0, 0))), EACCES);
        return false;
    }
    path_ = stem + QStringLiteral(".mp3");
    const QByteArray file = QFile::encodeName(root.filePath(path_));
    fd_ = open(file.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        Fault(root.filePath(path_), errno);
        return false;
    }
    // The encoder that came before may still be writing its last frames to this hour: they go first.
    for (int tries = 0; flock(fd_, LOCK_EX | LOCK_NB) != 0 && tries < 40; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    struct stat info { };
    fstat(fd_, &info);
    goodSize_ = AppendPoint(fd_, info.st_size);
    if (goodSize_ < info.st_size && ftruncate(fd_, goodSize_) != 0) {
        Fault(root.filePath(path_), errno);
        return false;
    }
    if (info.st_size > 0) {
        const auto last = WallClock::time_point(std::chrono::seconds(info.st_mtim.tv_sec));
        const auto gap = std::chrono::duration_cast<std::chrono::seconds>(time - last).count();
        if (gap > 3) {
            EncoderLog(QStringLiteral("recording: nothing was recorded for %1 s before %2 (the encoder was "
                                      "not capturing); %3 goes on")
                           .arg(gap)
                           .arg(QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")),
                               root.filePath(path_)));
        }
    }
    if (!title_.isEmpty()) {
        NoteTitleInFile(title_, time);
    }
    Retention();
    return true;
}

void StationLogger::ClosePeriod()
{
    if (fd_ >= 0) {
        WritePending();
        fdatasync(fd_);
        close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

void StationLogger::WritePending()
{
    if (fd_ < 0 || pending_.empty()) {
        pending_.clear();
        return;
    }
    const std::uint8_t* data = pending_.data();
    std::size_t left = pending_.size();
    while (left > 0) {
        const ssize_t written = write(fd_, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            // Back to the last whole frame, so what is kept stays a valid file.
            [[maybe_unused]] const int cut = ftruncate(fd_, goodSize_);
            pending_.clear();
            Fault(QDir(settings_.folder).filePath(path_), error);
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    goodSize_ += static_cast<std::int64_t>(pending_.size());
    pending_.clear();
    // A full disk may take a few bytes again once a cut-back frame freed its block: the return is
    // told at the next space check, so a disk that is still full is one fault, not a flapping pair.
    wroteSinceFault_ = faultReported_;
}

void StationLogger::NoteTitleInFile(const QString& title, WallClock::time_point time)
{
    if (fd_ < 0 || paused_ || faulted_) {
        return;
    }
    QString clean = title;
    clean.replace(u'\n', u' ').replace(u'\r', u' ');
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const QByteArray line
        = (QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")) + u'\t' + clean + u'\n')
              .toUtf8();
    QString cue = path_;
    cue.replace(cue.size() - 3, 3, QStringLiteral("txt"));
    const QByteArray file = QFile::encodeName(QDir(settings_.folder).filePath(cue));
    const int fd = open(file.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return; // the sound matters more than its titles; a full disk is reported by the sound's writes
    }
    [[maybe_unused]] const ssize_t written = write(fd, line.constData(), static_cast<size_t>(line.size()));
    close(fd);
}

void StationLogger::Fault(const QString& what, int error)
{
    ClosePeriod();
    if (!faultReported_) {
        EncoderLog(QStringLiteral("recording fault: %1: %2; the stream goes on, recording is tried again "
                                  "every %3 s")
                       .arg(what, ErrorText(error))
                       .arg(options_.checkEvery.count() / 1000.0));
        faultReported_ = true;
    }
    wroteSinceFault_ = false;
    faulted_ = true;
    state_ = static_cast<int>(State::Fault);
}

void StationLogger::CheckSpace()
{
    lastCheck_ = std::chrono::steady_clock::now();
    QDir().mkpath(settings_.folder); // a folder removed while recording comes back
    struct statvfs space { };
    const QByteArray folder = QFile::encodeName(settings_.folder);
    if (statvfs(folder.constData(), &space) != 0) {
        Fault(settings_.folder, errno);
        return;
    }
    const auto free = static_cast<std::int64_t>(space.f_bavail) * static_cast<std::int64_t>(space.f_frsize);
    if (free < settings_.minFreeBytes) {
        if (!paused_) {
            ClosePeriod();
            EncoderLog(QStringLiteral("recording paused: %1 MB free in %2, below the floor of %3 MB (the "
                                      "stream goes on)")
                           .arg(MegaBytes(free), settings_.folder, MegaBytes(settings_.minFreeBytes)));
            paused_ = true;
        }
        state_ = static_cast<int>(State::PausedLowSpace);
        return;
    }
    if (paused_) {
        EncoderLog(
            QStringLiteral("recording resumed: %1 MB free in %2").arg(MegaBytes(free), settings_.folder));
        paused_ = false;
    }
    // Room enough for more than the frames that just went through, and a write that did: back.
    constexpr std::int64_t kResumeRoom = 1024 * 1024;
    if (faultReported_ && wroteSinceFault_ && free >= settings_.minFreeBytes + kResumeRoom) {
        EncoderLog(QStringLiteral("recording resumed: %1").arg(QDir(settings_.folder).filePath(path_)));
        faultReported_ = false;
        wroteSinceFault_ = false;
    }
    // A fault is tried again here; it stays reported until a write succeeds with room to spare.
    faulted_ = false;
    state_ = static_cast<int>(faultReported_ ? State::Fault : State::Recording);
}

void StationLogger::Retention()
{
    if (settings_.days <= 0) {
        return;
    }
    const QStringList removed = RemoveRecordingsBefore(
        settings_.folder, QDateTime::currentDateTime().addSecs(-qint64(settings_.days) * 24 * 3600));
    if (!removed.isEmpty()) {
        EncoderLog(QStringLiteral("recording: removed %1 file(s) older than %2 days, %3 to %4")
                       .arg(removed.size())
                       .arg(settings_.days)
                       .arg(removed.first(), removed.last()));
    }
}

void StationLogger::Sync()
{
    if (fd_ >= 0) {
        fdatasync(fd_);
    }
}

} // namespace zv
