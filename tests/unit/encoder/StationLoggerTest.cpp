// The recording of what goes on the air: whole frames only, one file per period with nothing lost or
// doubled between files, a tail left half-written repaired, a feed that never waits for the disk, a
// folder that cannot be written reported, and retention that removes its own old files only.
#include "encoder/StationLogger.h"

#include "encoder/Mp3Encoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using zv::StationLogger;

namespace {

constexpr int kRate = 22050;

// Encoded tone, `seconds` long, in 100 ms chunks as the streaming thread hands them over.
std::vector<std::vector<std::uint8_t>> ToneChunks(double seconds)
{
    zv::Mp3Encoder mp3(kRate, 1, 32);
    std::vector<std::int16_t> pcm(kRate / 10);
    std::vector<std::vector<std::uint8_t>> chunks;
    for (int chunk = 0; chunk < seconds * 10; ++chunk) {
        for (std::size_t i = 0; i < pcm.size(); ++i) {
            pcm[i] = static_cast<std::int16_t>(
                8000 * std::sin(2 * M_PI * 440 * double(chunk * pcm.size() + i) / kRate));
        }
        const auto bytes = mp3.Encode(pcm.data(), static_cast<int>(pcm.size()));
        chunks.emplace_back(bytes.begin(), bytes.end());
    }
    return chunks;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the bytes are whole frames from the first to the last.
bool WholeFrames(const QByteArray& data)
{
    std::size_t at = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    while (at < static_cast<std::size_t>(data.size())) {
        const int length = zv::Mp3FrameLength(bytes + at, data.size() - at);
        if (length == 0 || at + length > static_cast<std::size_t>(data.size())) {
            return false;
        }
        at += static_cast<std::size_t>(length);
    }
    return true;
}

// The recording's .mp3 files, oldest first (the names sort by time).
QStringList Recordings(const QString& folder)
{
    QStringList files;
    const QDir root(folder);
    for (const QString& day : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        for (const QString& name :
            QDir(root.filePath(day)).entryList({ QStringLiteral("*.mp3") }, QDir::Files, QDir::Name)) {
            files += root.filePath(day + u'/' + name);
        }
    }
    return files;
}

template <typename Condition> bool Eventually(Condition condition)
{
    for (int i = 0; i < 300 && !condition(); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

zv::RecordingSettings Settings(const QString& folder)
{
    zv::RecordingSettings settings;
    settings.enabled = true;
    settings.folder = folder;
    settings.minFreeBytes = 0;
    return settings;
}

TEST(StationLogger, FrameLengthsOfEveryMpegVersion)
{
    struct Case {
        std::uint8_t header[4];
        int length;
        int samples;
    };
    const Case cases[] = {
        { { 0xFF, 0xFB, 0x90, 0x00 }, 417, 1152 }, // MPEG 1, 128 kbit/s, 44.1 kHz
        { { 0xFF, 0xFB, 0x92, 0x00 }, 418, 1152 }, // the same, padded
        { { 0xFF, 0xF3, 0x40, 0x00 }, 104, 576 }, // MPEG 2, 32 kbit/s, 22.05 kHz
        { { 0xFF, 0xE3, 0x18, 0x00 }, 72, 576 }, // MPEG 2.5, 8 kbit/s, 8 kHz
        { { 0xFF, 0xFB, 0xF0, 0x00 }, 0, 0 }, // bitrate index 15
        { { 0xFF, 0xFB, 0x9C, 0x00 }, 0, 0 }, // sample rate index 3
        { { 0xFF, 0xFD, 0x90, 0x00 }, 0, 0 }, // layer II
        { { 0x49, 0x44, 0x33, 0x04 }, 0, 0 }, // a tag, not a frame
    };
    for (const Case& c : cases) {
        int samples = 0;
        EXPECT_EQ(zv::Mp3FrameLength(c.header, 4, &samples), c.length)
            << int(c.header[1]) << ' ' << int(c.header[2]);
        if (c.length > 0) {
            EXPECT_EQ(samples, c.samples);
        }
    }
    const std::uint8_t cut[3] = { 0xFF, 0xFB, 0x90 };
    EXPECT_EQ(zv::Mp3FrameLength(cut, 3), 0);
}

// A period of one second stands for the hour: the stream cut into files that are each whole frames
// and, end to end, exactly the bytes fed.
TEST(StationLogger, PeriodsSplitTheStreamWithoutLossOrDoubling)
{
    QTemporaryDir dir;
    const auto chunks = ToneChunks(3.5);
    QByteArray fed;
    {
        StationLogger::Options options;
        options.period = 1s;
        StationLogger logger(Settings(dir.path()), kRate, options);
        logger.NoteTitle(QStringLiteral("Primeira canção"));
        for (const auto& chunk : chunks) {
            logger.Feed(chunk);
            fed.append(reinterpret_cast<const char*>(chunk.data()), static_cast<qsizetype>(chunk.size()));
            std::this_thread::sleep_for(100ms); // the pace of live sound
        }
        EXPECT_EQ(logger.CurrentState(), StationLogger::State::Recording);
        EXPECT_EQ(logger.DroppedBytes(), 0u);
    }
    const QStringList files = Recordings(dir.path());
    ASSERT_GE(files.size(), 3) << files.join(u' ').toStdString();
    QByteArray joined;
    for (const QString& file : files) {
        const QByteArray data = ReadAll(file);
        EXPECT_FALSE(data.isEmpty()) << file.toStdString();
        EXPECT_TRUE(WholeFrames(data)) << file.toStdString();
        joined += data;
        EXPECT_TRUE(QFileInfo(file).fileName().contains(
            QRegularExpression(QStringLiteral("^\\d{2}-\\d{2}-\\d{2}\\.mp3$"))));
    }
    // Only the bytes of a frame not yet whole at the end may be missing.
    ASSERT_LE(joined.size(), fed.size());
    EXPECT_EQ(joined, fed.left(joined.size()));
    EXPECT_LT(fed.size() - joined.size(), 200);
    // The title beside the first file, with its time; and carried to the next file.
    QString first = files.first();
    first.replace(QStringLiteral(".mp3"), QStringLiteral(".txt"));
    EXPECT_TRUE(
        QString::fromUtf8(ReadAll(first))
            .contains(QRegularExpression(QStringLiteral("^\\d{2}:\\d{2}:\\d{2}\tPrimeira canção\n"))));
    QString second = files.at(1);
    second.replace(QStringLiteral(".mp3"), QStringLiteral(".txt"));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(second)).contains(QStringLiteral("Primeira canção")));
}

// A file left with half a frame at its end (power cut, full disk) is cut back to its whole frames
// before the next frame follows.
TEST(StationLogger, AppendingRepairsAHalfWrittenTail)
{
    QTemporaryDir dir;
    const auto chunks = ToneChunks(0.5);
    QByteArray previous;
    for (const auto& chunk : chunks) {
        previous.append(reinterpret_cast<const char*>(chunk.data()), static_cast<qsizetype>(chunk.size()));
    }
    // What an earlier encoder left: whole frames, then the first 60 bytes of one more.
    while (!WholeFrames(previous)) {
        previous.chop(1);
    }
    const int whole = static_cast<int>(previous.size());
    const QByteArray halfFrame = previous.left(60);
    // This hour's file and the next, should the hour turn during the test.
    QStringList prepared;
    for (const QDateTime& time :
        { QDateTime::currentDateTime(), QDateTime::currentDateTime().addSecs(3600) }) {
        const QString stem = zv::RecordingStem(time, 3600s);
        QDir(dir.path()).mkpath(stem.section(u'/', 0, 0));
        QFile file(dir.filePath(stem + QStringLiteral(".mp3")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(previous + halfFrame);
        prepared += file.fileName();
    }
    {
        StationLogger logger(Settings(dir.path()), kRate, {});
        for (const auto& chunk : chunks) {
            logger.Feed(chunk);
        }
    }
    bool appended = false;
    for (const QString& path : prepared) {
        const QByteArray data = ReadAll(path);
        if (data.size() > whole + halfFrame.size()) {
            appended = true;
            EXPECT_TRUE(WholeFrames(data));
            EXPECT_EQ(data.left(whole), previous);
        }
    }
    EXPECT_TRUE(appended);
}

// A disk that stalls (here: the file held locked, so the writer waits) never holds the feed: what
// does not fit the queue is dropped and counted.
TEST(StationLogger, FeedNeverWaitsForTheDisk)
{
    QTemporaryDir dir;
    const QString stem = zv::RecordingStem(QDateTime::currentDateTime(), 3600s);
    QDir(dir.path()).mkpath(stem.section(u'/', 0, 0));
    const int held = open(
        QFile::encodeName(dir.filePath(stem + QStringLiteral(".mp3"))).constData(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const auto chunks = ToneChunks(6);
    StationLogger::Options options;
    options.queueBytes = 4096;
    {
        StationLogger logger(Settings(dir.path()), kRate, options);
        for (const auto& chunk : chunks) {
            logger.Feed(chunk);
        }
        EXPECT_GT(logger.DroppedBytes(), 0u);
        flock(held, LOCK_UN);
    }
    close(held);
}

// A folder that cannot be made or written: the logger says so in its state and takes the feed all
// the same; a floor above the free space pauses it.
TEST(StationLogger, UnwritableFolderAndSpaceFloorStopOnlyTheRecording)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("arquivo")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto chunks = ToneChunks(0.5);
    {
        StationLogger logger(Settings(dir.filePath(QStringLiteral("arquivo/Gravacoes"))), kRate, {});
        for (const auto& chunk : chunks) {
            logger.Feed(chunk);
        }
        ASSERT_TRUE(Eventually([&] { return logger.CurrentState() == StationLogger::State::Fault; }));
    }
    {
        auto settings = Settings(dir.filePath(QStringLiteral("cheio")));
        settings.minFreeBytes = std::int64_t(1) << 60;
        StationLogger logger(settings, kRate, {});
        for (const auto& chunk : chunks) {
            logger.Feed(chunk);
        }
        ASSERT_TRUE(
            Eventually([&] { return logger.CurrentState() == StationLogger::State::PausedLowSpace; }));
    }
    EXPECT_TRUE(Recordings(dir.filePath(QStringLiteral("cheio"))).isEmpty());
}

// Retention goes by the time in the name and touches nothing that is not named as the logger names.
TEST(StationLogger, RetentionRemovesOnlyItsOwnOldFiles)
{
    QTemporaryDir dir;
    const QDir root(dir.path());
    const QStringList files {
        QStringLiteral("2026-03-01/10.mp3"),
        QStringLiteral("2026-03-01/10.txt"),
        QStringLiteral("2026-03-01/23.mp3"),
        QStringLiteral("2026-03-02/00.mp3"),
        QStringLiteral("2026-03-02/09-59-58.mp3"),
        QStringLiteral("2026-03-02/10.mp3"),
        // not the logger's: kept whatever their age
        QStringLiteral("2026-03-01/leia-me.txt"),
        QStringLiteral("2026-03-01/25.mp3"),
        QStringLiteral("2026-03-01/10.wav"),
        QStringLiteral("2026-02-30/10.mp3"),
        QStringLiteral("antigos/2020-01-01/10.mp3"),
        QStringLiteral("10.mp3"),
    };
    for (const QString& name : files) {
        root.mkpath(QFileInfo(name).path());
        QFile file(root.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    root.mkpath(QStringLiteral("2026-01-01")); // an empty day of its own naming
    const QStringList removed
        = zv::RemoveRecordingsBefore(dir.path(), QDateTime(QDate(2026, 3, 2), QTime(10, 0)));
    // Oldest first; the hour of 09:00 on the second ends after the cutoff, the test period before it.
    const QStringList expected { QStringLiteral("2026-03-01/10.mp3"), QStringLiteral("2026-03-01/10.txt"),
        QStringLiteral("2026-03-01/23.mp3"), QStringLiteral("2026-03-02/00.mp3"),
        QStringLiteral("2026-03-02/09-59-58.mp3") };
    EXPECT_EQ(removed, expected);
    for (const QString& name : files) {
        EXPECT_EQ(QFile::exists(root.filePath(name)), !removed.contains(name)) << name.toStdString();
    }
    EXPECT_FALSE(root.exists(QStringLiteral("2026-01-01")));
    EXPECT_TRUE(root.exists(QStringLiteral("2026-03-01"))); // its foreign files keep it
}

} // namespace
