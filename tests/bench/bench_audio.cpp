// Capture cost: CPU time of the capture thread per second of captured audio, and allocations per
// buffer once a capture runs, with the system's settings (44100 Hz 16-bit stereo, 20 x 4096-byte
// buffers, capture thread). The consumer stands for the connector's intake: one copy under a lock.
//
// Counters: capture_cpu_pct = capture thread CPU / audio time (percent of one core);
// process_cpu_pct = the whole process (binding's reader thread included); allocs_per_buffer = every
// malloc of the process while the capture runs, divided by the buffers handled (-1 where the
// count is not available, as in sanitizer builds, which bring their own allocator).

#include "audio/MMWavIn.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ZV_COUNT_ALLOCATIONS 1
// Every malloc of the process is counted: the replacements forward to glibc's own allocator, so
// memory from either side can be freed by the other.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}
namespace {
std::atomic<long> gAllocations { 0 };
}
extern "C" void* malloc(std::size_t n)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t n, std::size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, std::size_t n)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
extern "C" void free(void* p)
{
    __libc_free(p);
}
#endif

namespace {

long Allocations()
{
#ifdef ZV_COUNT_ALLOCATIONS
    return gAllocations.load(std::memory_order_relaxed);
#else
    return 0;
#endif
}

// Proof that the counter sees allocations at all (a zero must mean none, not "not counted").
bool CounterCounts()
{
    static void* volatile probe = nullptr;
    const long before = Allocations();
    probe = std::malloc(24);
    std::free(probe);
    return Allocations() > before;
}

double CpuSeconds(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "zoveva-bench";
    static char* argv[] = { name, nullptr };
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives as long as the process
    return *QCoreApplication::instance();
}

constexpr int kWarmUpBuffers = 10;
constexpr int kMeasuredBuffers = 86; // about two seconds

struct Measure {
    double threadCpu = 0, processCpu = 0, audioSeconds = 0;
    long allocations = 0;
    int buffers = 0;
};

// One capture of warm-up plus measured buffers; the figures cover the measured ones only.
Measure Capture(zv::WaveInOps& binding, int device)
{
    App();
    TMMWaveIn w(binding);
    w.SetBufferSize(4096);
    w.SetNumBuffers(20);
    w.SetCallBackMode(cmThread);
    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    w.SetSampleRate(44100);
    w.SetDeviceID(device);

    std::mutex intakeLock, doneLock;
    std::condition_variable doneSignal;
    std::vector<char> intake(4096);
    int handled = 0; // capture thread
    bool done = false;
    double threadStart = 0, processStart = 0;
    long allocStart = 0;
    std::int64_t bytes = 0;
    Measure m;
    w.OnBufferReady = [&](QObject*, PWaveHdr h) {
        {
            std::lock_guard lock(intakeLock);
            std::memcpy(intake.data(), h->lpData, std::min<std::size_t>(h->dwBytesRecorded, intake.size()));
        }
        ++handled;
        if (handled == kWarmUpBuffers) {
            threadStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
            allocStart = Allocations();
        } else if (handled > kWarmUpBuffers && handled <= kWarmUpBuffers + kMeasuredBuffers) {
            bytes += h->dwBytesRecorded;
            if (handled == kWarmUpBuffers + kMeasuredBuffers) {
                m.threadCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - threadStart;
                m.processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
                m.allocations = Allocations() - allocStart;
                std::lock_guard lock(doneLock);
                done = true;
                doneSignal.notify_all();
            }
        }
    };
    w.Start();
    {
        // The owner's thread waits without running its event loop, so it adds no work of its own.
        std::unique_lock lock(doneLock);
        doneSignal.wait_for(lock, std::chrono::seconds(30), [&] { return done; });
    }
    w.Close();
    while (w.DeviceState() != dsClosed) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m.buffers = kMeasuredBuffers;
    m.audioSeconds = double(bytes) / 176400.0;
    return m;
}

void Report(benchmark::State& state, const Measure& total, int runs)
{
    state.counters["capture_cpu_pct"] = 100.0 * total.threadCpu / total.audioSeconds;
    state.counters["process_cpu_pct"] = 100.0 * total.processCpu / total.audioSeconds;
    state.counters["allocs_per_buffer"]
        = CounterCounts() ? double(total.allocations) / double(total.buffers) : -1.0;
    state.counters["audio_s"] = total.audioSeconds / runs;
}

void RunCaptures(benchmark::State& state, zv::WaveInOps& binding, int device)
{
    Measure total;
    int runs = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const Measure m = Capture(binding, device);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
        total.threadCpu += m.threadCpu;
        total.processCpu += m.processCpu;
        total.audioSeconds += m.audioSeconds;
        total.allocations += m.allocations;
        total.buffers += m.buffers;
        ++runs;
    }
    Report(state, total, runs);
}

void BM_CaptureSynthetic(benchmark::State& state)
{
    static auto binding = zv::MakeSyntheticWaveIn({ { zv::SyntheticDevice::Tone, "Tone", {}, -1, true } });
    RunCaptures(state, *binding, 0);
}
BENCHMARK(BM_CaptureSynthetic)->Iterations(3)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Through ALSA itself: the test PCM of tests/fixtures/alsa (a file over the null device, paced
// by the binding as a card would deliver it).
void BM_CaptureAlsa(benchmark::State& state)
{
    static QTemporaryDir dir;
    static const bool ready = [] {
        std::vector<char> raw(std::size_t(44100) * 4 * 4); // four seconds of a ramp
        for (std::size_t i = 0; i < raw.size() / 2; ++i) {
            const auto s = std::int16_t(i % 65536 - 32768);
            std::memcpy(&raw[i * 2], &s, 2);
        }
        const QString path = dir.filePath("signal.raw");
        std::ofstream(path.toStdString(), std::ios::binary).write(raw.data(), std::streamsize(raw.size()));
        setenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" ZOVEVA_ALSA_TEST_CONF, 1);
        setenv("ZOVEVA_TEST_SIGNAL", path.toLocal8Bit().constData(), 1);
        return true;
    }();
    (void)ready;
    const int device = TMMWaveIn::DeviceIdOf("ZoVeva test signal", zv::AlsaWaveIn());
    if (device < 0) {
        state.SkipWithError("the ALSA test PCM is not listed");
        return;
    }
    RunCaptures(state, zv::AlsaWaveIn(), device);
}
BENCHMARK(BM_CaptureAlsa)->Iterations(3)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
