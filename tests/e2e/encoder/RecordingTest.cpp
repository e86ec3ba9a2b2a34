// The recording of what goes on the air, with the real encoder against a private Icecast: the files
// hold the very bytes listeners get, cut by period (the test hook ZOVEVA_RECORDING_PERIOD_S stands a
// few seconds for the hour) with no frame lost or doubled between files; it goes on while the server is
// away; a full disk costs the recording only, with one line in the log, and recording resumes once
// there is room again; retention removes old files of its own naming only.
#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "ProxyDriver.h"
#include "StreamCheck.h"
#include "encoder/StationLogger.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace std::chrono_literals;
using zv::test::Encoder;
using zv::test::Eventually;
using zv::test::IcecastServer;
using zv::test::State;
using zv::test::Until;

namespace {

const QString kTone = QStringLiteral("Synthetic tone 1 kHz");
constexpr int kPeriod = 3; // seconds standing for the hour

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

QByteArray Joined(const QStringList& files)
{
    QByteArray joined;
    for (const QString& path : files) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            joined += file.readAll();
        }
    }
    return joined;
}

qint64 RecordedBytes(const QString& folder)
{
    qint64 bytes = 0;
    for (const QString& path : Recordings(folder)) {
        bytes += QFileInfo(path).size();
    }
    return bytes;
}

// Number of frames from `at` on that follow one another as whole frames.
int FramesFrom(const QByteArray& data, qsizetype at, qsizetype* end = nullptr)
{
    int frames = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    while (at < data.size()) {
        const int length = zv::Mp3FrameLength(bytes + at, static_cast<std::size_t>(data.size() - at));
        if (length == 0 || at + length > data.size()) {
            break;
        }
        at += length;
        ++frames;
    }
    if (end) {
        *end = at;
    }
    return frames;
}

// A listener's bytes from its first whole frame to its last (it may join mid-frame).
QByteArray WholeFramesOf(const QByteArray& heard)
{
    for (qsizetype at = 0; at + 4 < heard.size(); ++at) {
        qsizetype end = 0;
        if (FramesFrom(heard, at, &end) >= 8) {
            return heard.mid(at, end - at);
        }
    }
    return {};
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        options_.executable = qEnvironmentVariable("ZOVEVA_BIN_DIR").toStdString() + "/zoveva-encoder";
        options_.logFile = dir_.filePath(QStringLiteral("zoveva-encoder.log")).toStdString();
        qputenv("ZOVEVA_RECORDING_PERIOD_S", QByteArray::number(kPeriod));
    }
    void TearDown() override { qunsetenv("ZOVEVA_RECORDING_PERIOD_S"); }

    QString File(const IcecastServer& server, const QString& folder, const QString& more = {})
    {
        return zv::test::WriteEncodingFile(dir_.path(), QStringLiteral("gravador"), kTone,
            QStringLiteral("%1:%2").arg(server.Address()).arg(server.Port()), server.Password(), 32000,
            QStringLiteral(R"(Recording="1" RecordingFolder="%1" %2)").arg(folder, more));
    }

    QString Log() const { return zv::test::ReadText(QString::fromStdString(options_.logFile.string())); }

    static TStreamDetails Details(IEncoderApp& app)
    {
        TStreamDetails details;
        CheckResult(Encoder(app)->GetStreamDetails(details), "stream details");
        return details;
    }

    QTemporaryDir dir_;
    zv::EncoderProcessOptions options_;
};

TEST_F(RecordingTest, FilesHoldTheListenersBytesCutByPeriodAndOldFilesGo)
{
    IcecastServer server;
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    const QString folder = dir_.filePath(QStringLiteral("ar"));
    // An old file of the logger's naming, and what is not the logger's.
    for (const QString& name : { QStringLiteral("2020-01-01/10.mp3"), QStringLiteral("2020-01-01/notas.txt"),
             QStringLiteral("leia-me.txt") }) {
        QDir(folder).mkpath(QFileInfo(name).path());
        QFile file(QDir(folder).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    auto app = zv::test::StartEncoder(
        options_, File(server, folder, QStringLiteral(R"(RecordingDays="1" RecordingMinFreeMB="0")")));
    Until(*app, 2, 15s);
    ASSERT_EQ(State(*app), 2) << Log().toStdString();
    const QByteArray heard = server.Listen(QStringLiteral("/gravador"), 3 * kPeriod);
    const TStreamDetails details = Details(*app);
    EXPECT_EQ(details.Recording, TRecordingState::Recording);
    EXPECT_EQ(details.RecordingFolder, folder);
    CheckResult(Encoder(*app)->Stop(), "stop");
    Until(*app, 5, 10s);
    app.reset(); // the process ends and its recording with it

    EXPECT_FALSE(QFile::exists(QDir(folder).filePath(QStringLiteral("2020-01-01/10.mp3"))));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("2020-01-01/notas.txt"))));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("leia-me.txt"))));

    const QStringList files = Recordings(folder);
    ASSERT_GE(files.size(), 4) << files.join(u' ').toStdString() << Log().toStdString();
    // Each file whole frames from its first byte to its last.
    for (const QString& path : files) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        qsizetype end = 0;
        FramesFrom(data, 0, &end);
        EXPECT_EQ(end, data.size()) << path.toStdString();
    }
    // What the listener heard, across at least two period boundaries, is one stretch of the files
    // end to end: the same bytes, nothing lost or doubled where one file ends and the next begins.
    const QByteArray listened = WholeFramesOf(heard);
    ASSERT_GT(listened.size(), 2 * kPeriod * 4000) << heard.size();
    EXPECT_TRUE(Joined(files).contains(listened));
    // A period wholly on the air decodes to the tone, as long as the period.
    for (qsizetype i = 1; i + 1 < files.size(); ++i) {
        QFile file(files.at(i));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const zv::test::DecodedStream decoded = zv::test::Decode(file.readAll());
        ASSERT_TRUE(decoded.error.isEmpty()) << decoded.error.toStdString();
        EXPECT_NEAR(decoded.seconds, kPeriod, 0.5) << files.at(i).toStdString() << Log().toStdString();
        EXPECT_NEAR(decoded.frequency, 1000, 50);
    }
}

TEST_F(RecordingTest, RecordingGoesOnWhileTheServerIsAway)
{
    IcecastServer server;
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    const QString folder = dir_.filePath(QStringLiteral("ar"));
    auto app
        = zv::test::StartEncoder(options_, File(server, folder, QStringLiteral(R"(RecordingMinFreeMB="0")")));
    Until(*app, 2, 15s);
    ASSERT_EQ(State(*app), 2) << Log().toStdString();
    std::this_thread::sleep_for(1s);
    server.Kill();
    Until(*app, 5, 20s);
    ASSERT_EQ(State(*app), 5) << Log().toStdString();
    const qint64 before = RecordedBytes(folder);
    std::this_thread::sleep_for(std::chrono::seconds(kPeriod + 1));
    // 32 kbit/s: 4000 bytes a second; at least three quarters of the time went to the files.
    EXPECT_GT(RecordedBytes(folder) - before, (kPeriod + 1) * 3000) << Log().toStdString();
    EXPECT_EQ(Details(*app).Recording, TRecordingState::Recording);
    EXPECT_EQ(State(*app), 5);
    app.reset();
    // Nothing lost between the connection's end and the recording after it: one run of the tone.
    const zv::test::DecodedStream decoded = zv::test::Decode(Joined(Recordings(folder)));
    ASSERT_TRUE(decoded.error.isEmpty()) << decoded.error.toStdString();
    EXPECT_NEAR(decoded.frequency, 1000, 50);
}

// The tray item's path: the recording switched off and on by the control request, the stream untouched;
// switched off while its writer is stuck on a file that takes nothing (a pipe nobody reads, as a stalled
// disk), the request still answers at once.
TEST_F(RecordingTest, SwitchingDoesNotTouchTheStreamEvenWithTheDiskStalled)
{
    qunsetenv("ZOVEVA_RECORDING_PERIOD_S"); // hourly files, whose names the test knows
    IcecastServer server;
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    const QString folder = dir_.filePath(QStringLiteral("ar"));
    for (const QDateTime& time :
        { QDateTime::currentDateTime(), QDateTime::currentDateTime().addSecs(3600) }) {
        const QString stem = zv::RecordingStem(time, std::chrono::seconds(3600));
        QDir(folder).mkpath(stem.section(u'/', 0, 0));
        ASSERT_EQ(
            mkfifo(QFile::encodeName(QDir(folder).filePath(stem + QStringLiteral(".mp3"))).constData(), 0644),
            0);
    }
    const auto file = [&](const char* on) {
        return zv::test::WriteEncodingFile(dir_.path(), QStringLiteral("gravador"), kTone,
            QStringLiteral("%1:%2").arg(server.Address()).arg(server.Port()), server.Password(), 128016,
            QStringLiteral(R"(Recording="%1" RecordingFolder="%2" RecordingMinFreeMB="0")")
                .arg(QString::fromLatin1(on), folder));
    };
    auto app = zv::test::StartEncoder(options_, file("1"));
    Until(*app, 2, 15s);
    ASSERT_EQ(State(*app), 2) << Log().toStdString();
    std::this_thread::sleep_for(6s); // 128 kbit/s: the pipe's 64 KiB are full after 4 s, the writer waits
    const std::int64_t onAir = Details(*app).OnAirMs;

    const auto asked = std::chrono::steady_clock::now();
    CheckResult(Encoder(*app)->ReloadRecording(file("0")), "recording off");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_EQ(Details(*app).Recording, TRecordingState::Off);
    CheckResult(Encoder(*app)->ReloadRecording(file("1")), "recording on");
    EXPECT_EQ(Details(*app).Recording, TRecordingState::Recording);
    std::this_thread::sleep_for(1s);
    // The same connection all along.
    EXPECT_EQ(State(*app), 2);
    EXPECT_GT(Details(*app).OnAirMs, onAir);
    EXPECT_EQ(Log().count(QStringLiteral("the connection ended")), 0) << Log().toStdString();
}

TEST_F(RecordingTest, AFullDiskCostsTheRecordingOnly)
{
    // A 4 MB file system of our own, in a mount namespace of our own (root only).
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "no private mount namespace here: " << std::strerror(errno);
    }
    const QString folder = dir_.filePath(QStringLiteral("pequeno"));
    QDir().mkpath(folder);
    if (mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=4m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    }
    struct Unmount {
        QByteArray path;
        ~Unmount() { umount2(path.constData(), MNT_DETACH); }
    } unmount { QFile::encodeName(folder) };

    IcecastServer server;
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    auto app
        = zv::test::StartEncoder(options_, File(server, folder, QStringLiteral(R"(RecordingMinFreeMB="0")")));
    Until(*app, 2, 15s);
    ASSERT_EQ(State(*app), 2) << Log().toStdString();
    ASSERT_TRUE(Eventually([&] { return RecordedBytes(folder) > 0; }, 10s));

    // Fill it to the last byte.
    QFile filler(QDir(folder).filePath(QStringLiteral("enchimento")));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(64 * 1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) { }
    filler.close();
    ASSERT_TRUE(Eventually([&] { return Details(*app).Recording == TRecordingState::Failing; }, 10s))
        << Log().toStdString();
    const std::int64_t sent = Details(*app).BytesSent;
    std::this_thread::sleep_for(std::chrono::seconds(kPeriod + 1)); // past a period and a retry
    EXPECT_EQ(State(*app), 2);
    EXPECT_GT(Details(*app).BytesSent, sent); // the stream goes on
    EXPECT_EQ(Log().count(QStringLiteral("recording fault")), 1) << Log().toStdString();

    QFile::remove(filler.fileName());
    ASSERT_TRUE(Eventually([&] { return Details(*app).Recording == TRecordingState::Recording; }, 10s))
        << Log().toStdString();
    const qint64 resumed = RecordedBytes(folder);
    EXPECT_TRUE(Eventually([&] { return RecordedBytes(folder) > resumed + 4000; }, 10s));
    EXPECT_EQ(State(*app), 2);
    // Every file still whole frames: a write cut short by the full disk was taken back.
    app.reset();
    for (const QString& path : Recordings(folder)) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        qsizetype end = 0;
        FramesFrom(data, 0, &end);
        EXPECT_EQ(end, data.size()) << path.toStdString();
    }
}

} // namespace
