// The encoder's cost: LAME alone against the whole zoveva-encoder process (synthetic capture, MP3
// encoding, publishing to a private Icecast on loopback) on the same 1 kHz tone, in the same run.
// Figures are percent of one core per second of audio. The memory benchmark streams for ten
// minutes and runs only with ZOVEVA_BENCH_LONG=1.
#include "EncodingFiles.h"
#include "IcecastServer.h"
#include "encoder/Mp3Encoder.h"
#include "encoder/WaveInCapture.h"
#include "platform/ProgramFolder.h"
#include "platform/WaveIn.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

struct Row {
    int code;
    int kbps;
    int rate;
};
constexpr Row kRows[]
    = { { 32000, 32, 32000 }, { 64008, 64, 48000 }, { 96000, 96, 48000 }, { 128016, 128, 48000 } };

// The synthetic device's tone, sample for sample: LAME's effort depends on what it is given (a
// slightly noisy tone costs it a fifth more at 128 kbit/s than a clean one).
std::vector<std::int16_t> Tone(int rate, double seconds)
{
    const std::vector<std::int16_t> cycle = zv::SyntheticToneFrames(static_cast<std::uint32_t>(rate));
    const auto samples = static_cast<std::size_t>(rate * seconds) * 2;
    std::vector<std::int16_t> pcm;
    pcm.reserve(samples + cycle.size());
    while (pcm.size() < samples) {
        pcm.insert(pcm.end(), cycle.begin(), cycle.end());
    }
    pcm.resize(samples);
    return pcm;
}

double ThreadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Percent of one core LAME alone spends per second of the tone, fed in blocks as the encoder's
// capture delivers them. Paced: one block per block of real time, as in the encoder, so LAME meets
// the same cold caches between blocks; otherwise as fast as it goes.
double LamePercent(const Row& row, int quality, const std::vector<std::int16_t>& pcm, bool paced = false)
{
    const double start = ThreadCpuSeconds();
    zv::Mp3Encoder encoder(row.rate, 2, row.kbps, quality);
    const int block = zv::WaveInCapture::BufferFrames(row.rate);
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(block) / row.rate));
    const int frames = static_cast<int>(pcm.size() / 2);
    auto next = std::chrono::steady_clock::now();
    for (int done = 0; done + block <= frames; done += block) {
        benchmark::DoNotOptimize(
            encoder.Encode(pcm.data() + static_cast<std::size_t>(done) * 2, block).data());
        if (paced) {
            next += period;
            std::this_thread::sleep_until(next);
        }
    }
    benchmark::DoNotOptimize(encoder.Flush().data());
    return 100.0 * (ThreadCpuSeconds() - start) / (static_cast<double>(frames) / row.rate);
}

void BM_LameAlone(benchmark::State& state)
{
    const Row row = kRows[state.range(0)];
    const int quality = static_cast<int>(state.range(1));
    const auto pcm = Tone(row.rate, 20);
    double percent = 0;
    for (auto _ : state) {
        percent = LamePercent(row, quality, pcm);
    }
    state.counters["kbps"] = row.kbps;
    state.counters["quality"] = quality;
    state.counters["core_pct"] = percent;
}

// CPU time of every thread of a process so far, in seconds (scheduler statistics, ns resolution).
double ProcessCpuSeconds(pid_t pid)
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

long ResidentKiB(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// A zoveva-encoder streaming the synthetic tone to a private Icecast, run from a terminal.
class StreamingProcess {
public:
    explicit StreamingProcess(const Row& row)
    {
        QString error;
        if (!server_.Start(&error)) {
            error_ = error.toStdString();
            return;
        }
        const QString file = zv::test::WriteEncodingFile(dir_.path(), QStringLiteral("bench"),
            QStringLiteral("Synthetic tone 1 kHz"),
            QStringLiteral("%1:%2").arg(server_.Address()).arg(server_.Port()), server_.Password(), row.code);
        // zoveva-bench lies in the program folder, beside the encoder.
        const QByteArray program
            = QByteArray::fromStdString((zv::ProgramFolder() / "zoveva-encoder").string());
        const QByteArray path = file.toLocal8Bit();
        setenv("ZOVEVA_WAVEIN", "synthetic", 1);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char* argv[]
            = { const_cast<char*>(program.constData()), const_cast<char*>(path.constData()), nullptr };
        if (posix_spawn(&pid_, program.constData(), &actions, nullptr, argv, environ) != 0) {
            pid_ = -1;
            error_ = "cannot run " + program.toStdString();
        }
        posix_spawn_file_actions_destroy(&actions);
        if (pid_ > 0 && !server_.WaitForSource(QStringLiteral("/bench"), 10)) {
            error_ = "the encoder did not come on the air";
        }
    }

    ~StreamingProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }

    const std::string& Error() const { return error_; }
    pid_t Pid() const { return pid_; }

private:
    QTemporaryDir dir_;
    zv::test::IcecastServer server_;
    pid_t pid_ = -1;
    std::string error_;
};

// The whole process per second of audio, against LAME alone on the same tone at the same settings,
// paced in real time like the process. Both run during the same 15 s: on a shared machine the cost of
// the same work drifts by a third from one minute to the next, which one after the other would count.
void BM_EncoderProcess(benchmark::State& state)
{
    const Row row = kRows[state.range(0)];
    constexpr double kSeconds = 15;
    const std::vector<std::int16_t> tone = Tone(row.rate, kSeconds);
    double processPercent = 0;
    double lamePercent = 0;
    for (auto _ : state) {
        StreamingProcess process(row);
        if (!process.Error().empty()) {
            state.SkipWithError(process.Error().c_str());
            return;
        }
        std::this_thread::sleep_for(1s); // past start-up
        const double cpu0 = ProcessCpuSeconds(process.Pid());
        const auto t0 = std::chrono::steady_clock::now();
        lamePercent = LamePercent(row, zv::Mp3Encoder::kDefaultQuality, tone, true);
        const double cpu1 = ProcessCpuSeconds(process.Pid());
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        processPercent = 100.0 * (cpu1 - cpu0) / wall;
    }
    state.counters["kbps"] = row.kbps;
    state.counters["process_core_pct"] = processPercent;
    state.counters["lame_core_pct"] = lamePercent;
    state.counters["ratio"] = processPercent / lamePercent;
}

// Resident memory of a streaming encoder after 1 and after 10 minutes: it must not grow.
void BM_EncoderResidentMemory(benchmark::State& state)
{
    if (qEnvironmentVariableIsEmpty("ZOVEVA_BENCH_LONG")) {
        state.SkipWithError("streams for 10 minutes: set ZOVEVA_BENCH_LONG=1 to run it");
        return;
    }
    long oneMinute = 0;
    long tenMinutes = 0;
    for (auto _ : state) {
        StreamingProcess process(kRows[3]);
        if (!process.Error().empty()) {
            state.SkipWithError(process.Error().c_str());
            return;
        }
        std::this_thread::sleep_for(60s);
        oneMinute = ResidentKiB(process.Pid());
        std::this_thread::sleep_for(540s);
        tenMinutes = ResidentKiB(process.Pid());
    }
    state.counters["rss_1min_KiB"] = static_cast<double>(oneMinute);
    state.counters["rss_10min_KiB"] = static_cast<double>(tenMinutes);
    state.counters["growth_KiB"] = static_cast<double>(tenMinutes - oneMinute);
}

} // namespace

BENCHMARK(BM_LameAlone)->ArgsProduct({ { 0, 1, 2, 3 }, { 2, 5 } })->Unit(benchmark::kMillisecond);
// Three runs a row, reported as mean, median and spread: on a shared machine one run's ratio strays
// by a tenth either way.
BENCHMARK(BM_EncoderProcess)
    ->DenseRange(0, 3)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_EncoderResidentMemory)->Iterations(1)->Unit(benchmark::kSecond);
