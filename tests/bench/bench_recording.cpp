// The recording of what goes on the air: what it adds to the encoder's processor time (two real
// zoveva-encoder processes streaming the same tone to a private Icecast during the same seconds, one
// recording, one not), and the longest the send loop's hand-over takes while the disk does not move
// (the hour's file is a pipe nobody reads, so the writer thread blocks in write as on a stalled disk).
#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "encoder/Mp3Encoder.h"
#include "encoder/StationLogger.h"
#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

double CpuSeconds(pid_t pid)
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly)) {
            total += file.readAll().split(' ').value(0).toDouble() / 1e9;
        }
    }
    return total;
}

pid_t Spawn(const QString& file)
{
    const QByteArray program = QByteArray::fromStdString((zv::ProgramFolder() / "zoveva-encoder").string());
    const QByteArray path = file.toLocal8Bit();
    setenv("ZOVEVA_WAVEIN", "synthetic", 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = { const_cast<char*>(program.constData()), const_cast<char*>(path.constData()), nullptr };
    pid_t pid = -1;
    if (posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void End(pid_t pid)
{
    if (pid > 0) {
        kill(pid, SIGINT);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

// Percent of one core of each process at 128 kbit/s over the same 20 s, and the difference.
void BM_RecordingProcessorCost(benchmark::State& state)
{
    double off = 0;
    double on = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        zv::test::IcecastServer server;
        QString error;
        if (!server.Start(&error)) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
        const QString address = QStringLiteral("%1:%2").arg(server.Address()).arg(server.Port());
        const QString plain = zv::test::WriteEncodingFile(dir.path(), QStringLiteral("semgravar"),
            QStringLiteral("Synthetic tone 1 kHz"), address, server.Password(), 128016);
        const QString recording = zv::test::WriteEncodingFile(dir.path(), QStringLiteral("gravando"),
            QStringLiteral("Synthetic tone 1 kHz"), address, server.Password(), 128016,
            QStringLiteral(R"(Recording="1" RecordingFolder="ar" RecordingMinFreeMB="0")"));
        const pid_t a = Spawn(plain);
        const pid_t b = Spawn(recording);
        if (a < 0 || b < 0 || !server.WaitForSource(QStringLiteral("/semgravar"), 10)
            || !server.WaitForSource(QStringLiteral("/gravando"), 10)) {
            End(a);
            End(b);
            state.SkipWithError("the encoders did not come on the air");
            return;
        }
        std::this_thread::sleep_for(2s); // past start-up
        const double a0 = CpuSeconds(a);
        const double b0 = CpuSeconds(b);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(20s);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        off = 100.0 * (CpuSeconds(a) - a0) / wall;
        on = 100.0 * (CpuSeconds(b) - b0) / wall;
        End(a);
        End(b);
    }
    state.counters["off_core_pct"] = off;
    state.counters["on_core_pct"] = on;
    state.counters["extra_core_pct"] = on - off;
}

// The send loop's hand-over (encode, then Feed) at 128 kbit/s in 100 ms blocks for 10 s while the
// writer thread is blocked: the worst Feed, the worst block, and what the recording had to leave out.
void BM_RecordingFeedWhileTheDiskStalls(benchmark::State& state)
{
    double worstFeedUs = 0;
    double worstBlockUs = 0;
    double dropped = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        // This hour's file and the next are pipes that nobody reads: the writer blocks once one is full.
        for (const QDateTime& time :
            { QDateTime::currentDateTime(), QDateTime::currentDateTime().addSecs(3600) }) {
            const QString stem = zv::RecordingStem(time, 3600s);
            QDir(dir.path()).mkpath(stem.section(u'/', 0, 0));
            mkfifo(QFile::encodeName(dir.filePath(stem + QStringLiteral(".mp3"))).constData(), 0644);
        }
        zv::RecordingSettings settings;
        settings.enabled = true;
        settings.folder = dir.path();
        settings.minFreeBytes = 0;
        auto logger = std::make_unique<zv::StationLogger>(settings, 48000, zv::StationLogger::Options {});
        zv::Mp3Encoder mp3(48000, 2, 128);
        std::vector<std::int16_t> pcm(4800 * 2);
        auto next = std::chrono::steady_clock::now();
        for (int block = 0; block < 100; ++block) {
            for (std::size_t i = 0; i < pcm.size(); i += 2) {
                pcm[i] = pcm[i + 1] = static_cast<std::int16_t>(
                    8000 * std::sin(2 * M_PI * 1000 * double(block * 4800 + i / 2) / 48000));
            }
            const auto t0 = std::chrono::steady_clock::now();
            const auto bytes = mp3.Encode(pcm.data(), 4800);
            const auto t1 = std::chrono::steady_clock::now();
            logger->Feed(bytes);
            const auto t2 = std::chrono::steady_clock::now();
            worstFeedUs = std::max(worstFeedUs, std::chrono::duration<double, std::micro>(t2 - t1).count());
            worstBlockUs = std::max(worstBlockUs, std::chrono::duration<double, std::micro>(t2 - t0).count());
            next += 100ms;
            std::this_thread::sleep_until(next);
        }
        dropped = static_cast<double>(logger->DroppedBytes());
        // Unblock the writer (read the pipes dry) so that the logger can end.
        std::atomic<bool> done { false };
        std::thread reader([&] {
            std::vector<char> sink(65536);
            while (!done) {
                for (const QDateTime& time : { QDateTime::currentDateTime().addSecs(-3600),
                         QDateTime::currentDateTime(), QDateTime::currentDateTime().addSecs(3600) }) {
                    const int fd = open(QFile::encodeName(dir.filePath(zv::RecordingStem(time, 3600s)
                                                              + QStringLiteral(".mp3")))
                                            .constData(),
                        O_RDONLY | O_NONBLOCK);
                    if (fd >= 0) {
                        while (read(fd, sink.data(), sink.size()) > 0) { }
                        close(fd);
                    }
                }
                std::this_thread::sleep_for(20ms);
            }
        });
        logger.reset();
        done = true;
        reader.join();
    }
    state.counters["worst_feed_us"] = worstFeedUs;
    state.counters["worst_block_us"] = worstBlockUs;
    state.counters["dropped_bytes"] = dropped;
}

} // namespace

BENCHMARK(BM_RecordingProcessorCost)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_RecordingFeedWhileTheDiskStalls)->Iterations(1)->Unit(benchmark::kSecond);
