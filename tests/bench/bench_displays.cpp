// Level displays and connector: frame costs, the copy to the window, the pump, and the CPU share of
// the whole capture-to-display chain. Widgets run on Qt's offscreen platform unless a display is set.

#include "BenchApp.h"
#include "audio/MMConect.h"
#include "audio/MMWavIn.h"
#include "displays/MMLevel.h"
#include "displays/MMMeter.h"
#include "displays/MMOscope.h"
#include "displays/MMSpectr.h"
#include "displays/MainDisplays.h"
#include "platform/WaveIn.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

namespace {

// The user-interface thread's event loop, waiting for events as the program's own does.
void RunEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

double ProcessCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The main window's bar: 158 x 18, spot 1, space 1, dotted, zones at 50 % and 80 %.
struct BarFrame {
    BarFrame()
    {
        dib.SetSize(158, 18);
        inactive.SetSize(158, 18);
        inactive.BeginDraw();
        inactive.SetDrawColor(clBlack);
        inactive.Clear();
        zv::DrawLevelSegments(inactive, geometry,
            { inactive.ColorToPixel(clGray), inactive.ColorToPixel(clGray), inactive.ColorToPixel(clMaroon) },
            true, geometry.numSpots, 0, 0);
        inactive.EndDraw();
        lit = { dib.ColorToPixel(clLime), dib.ColorToPixel(clYellow), dib.ColorToPixel(clRed) };
    }
    void Draw(int shown, int peak)
    {
        TMMDIBDrawScope scope(dib);
        dib.CopyBits(inactive, 0, 0, 158, 18, 0, 0);
        zv::DrawLevelSegments(dib, geometry, lit, true, shown, peak, 2);
    }
    zv::LevelGeometry geometry = zv::LevelGeometry::Compute(158, 18, lkHorizontal, dirNormal, 1, 1, 50, 80);
    TMMDIBCanvas dib;
    TMMDIBCanvas inactive;
    std::array<std::uint32_t, 3> lit {};
};

// One frame drawn into the canvas: the prebuilt inactive image copied in, the lit segments and
// the peak marker filled (arg: segments lit).
void BM_LevelBarFrame(benchmark::State& state)
{
    BarFrame bar;
    const int shown = static_cast<int>(state.range(0));
    for (auto _ : state) {
        bar.Draw(shown, 79);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LevelBarFrame)->Arg(56)->Arg(79);

// The copy of a finished frame to a window's colour pixels, on its own.
void BM_LevelBarCopyToWindow(benchmark::State& state)
{
    BarFrame bar;
    bar.Draw(56, 79);
    QImage window(300, 100, QImage::Format_ARGB32_Premultiplied);
    QPainter device(&window);
    for (auto _ : state) {
        TMMDIBDrawScope scope(bar.dib);
        bar.dib.CopyToDevice(device, QRect(10, 10, 158, 18), 0, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LevelBarCopyToWindow);

std::vector<std::int16_t> Tone(int frames, int start, double amplitude)
{
    std::vector<std::int16_t> data(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i)
        data[2 * static_cast<std::size_t>(i)] = data[2 * static_cast<std::size_t>(i) + 1]
            = static_cast<std::int16_t>(
                std::lrint(amplitude * std::sin(2.0 * M_PI * 1000.0 * (start + i) / 44100.0)));
    return data;
}

// A whole level update on a shown bar (main window settings): peak of 99 frames, mapping, frame
// and its direct paint into the window; the two blocks alternate between -10 dB and -20 dB so each one
// redraws.
void BM_LevelBarUpdate(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no widget application");
        return;
    }
    zv::DisplayTimerService::Instance().SetManual(true);
    QWidget window;
    window.resize(200, 40);
    auto* level = new TMMLevel(&window);
    zv::SetUpMainLevel(*level, chLeft);
    level->move(10, 10);
    window.show();
    QApplication::processEvents();
    const auto loud = Tone(99, 0, 10362);
    const auto soft = Tone(99, 0, 3277);
    bool flip = false;
    for (auto _ : state) {
        level->ProcessData((flip ? loud : soft).data());
        flip = !flip;
    }
}
BENCHMARK(BM_LevelBarUpdate);

// A whole needle update on a shown meter (main window settings): peak of 20 frames, mapping,
// face copy, two needles and the direct paint of the work bitmap.
void BM_NeedleMeterUpdate(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no widget application");
        return;
    }
    zv::DisplayTimerService::Instance().SetManual(true);
    QWidget window;
    window.resize(120, 80);
    auto* meter = new TMMMeter(&window);
    zv::SetUpMainMeter(*meter, chLeft);
    meter->move(10, 10);
    window.show();
    QApplication::processEvents();
    const auto loud = Tone(20, 5, 10362);
    const auto soft = Tone(20, 5, 3277);
    bool flip = false;
    for (auto _ : state) {
        meter->ProcessData((flip ? loud : soft).data());
        flip = !flip;
    }
}
BENCHMARK(BM_NeedleMeterUpdate);

// A display that costs nothing, so the pass measures the connector alone.
class NullDisplay : public IMMDisplay {
public:
    explicit NullDisplay(int bytes)
        : m_bytes(bytes)
    {
    }
    void SetPCMFormat(const TWaveFormatEx*) override { }
    int BytesNeeded() const override { return m_bytes; }
    void ProcessData(const void* data) override { benchmark::DoNotOptimize(data); }
    void ResetData() override { }

private:
    int m_bytes;
};

std::int64_t gBenchNow = 0;
std::int64_t BenchNow()
{
    return gBenchNow;
}

// One pump pass with four families due (two bars, two meters, a scope, a spectrum).
void BM_ConnectorPass(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no application");
        return;
    }
    TMMConnector::SetClock(&BenchNow);
    NullDisplay level1(396), level2(396), meter1(80), meter2(80), scope(1024), spectrum(512);
    {
        TMMConnector connector;
        connector.SetAutoTrigger(false);
        TWaveFormatEx format {};
        MakePCMFormat(format, 16, 2, 44100);
        connector.SetWaveFormat(&format);
        connector.SetBufferSize(4096);
        connector.SetLevel1(&level1);
        connector.SetLevel2(&level2);
        connector.SetMeter1(&meter1);
        connector.SetMeter2(&meter2);
        connector.SetOscope1(&scope);
        connector.SetSpectrum1(&spectrum);
        connector.ChainOpen();
        connector.ChainStart();
        QApplication::processEvents();
        std::vector<std::uint8_t> buffer(4096, 0);
        gBenchNow = 0;
        connector.TakeData(buffer.data(), 4096);
        gBenchNow = 1'000'000'000;
        int passes = 0;
        for (auto _ : state) {
            connector.Deliver();
            if (++passes == 4) { // before the shortest family runs out
                state.PauseTiming();
                connector.TakeData(buffer.data(), 4096);
                passes = 0;
                state.ResumeTiming();
            }
        }
        connector.ChainStop();
        connector.ChainClose();
    }
    TMMConnector::SetClock(nullptr);
}
BENCHMARK(BM_ConnectorPass);

// A display that takes its time over every block, as one does whose window system stalls.
class SlowDisplay : public IMMDisplay {
public:
    SlowDisplay(int bytes, int milliseconds)
        : m_bytes(bytes)
        , m_cost(milliseconds)
    {
    }
    void SetPCMFormat(const TWaveFormatEx*) override { }
    int BytesNeeded() const override { return m_bytes; }
    void ProcessData(const void* data) override
    {
        benchmark::DoNotOptimize(data);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_cost));
    }
    void ResetData() override { }

private:
    int m_bytes;
    int m_cost;
};

// The capture thread's hand-over (TakeData of one 4096-byte buffer) while the program's pump feeds
// a level-bar-sized display that needs arg milliseconds per block. A capture-like thread hands a
// buffer every 23.22 ms (44100 Hz, 16-bit stereo) for 4 s, timing each hand-over; the user-interface
// thread runs the event loop meanwhile. Reports the hand-over's median, 99th percentile and maximum
// in microseconds, and the blocks the display got.
void BM_ConnectorHandOverWhileDrawing(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no application");
        return;
    }
    using Clock = std::chrono::steady_clock;
    constexpr int kBuffers = 172;
    constexpr auto kPeriod = std::chrono::microseconds(23220);
    for (auto _ : state) {
        SlowDisplay display(396, static_cast<int>(state.range(0)));
        TMMConnector connector;
        TWaveFormatEx format {};
        MakePCMFormat(format, 16, 2, 44100);
        connector.SetWaveFormat(&format);
        connector.SetBufferSize(4096);
        connector.SetLevel1(&display);
        connector.ChainOpen();
        connector.ChainStart();
        QApplication::processEvents(); // the pump takes it on
        std::vector<std::int64_t> handOver;
        handOver.reserve(kBuffers);
        std::atomic<bool> done { false };
        std::thread capture([&] {
            const auto tone = Tone(1024, 0, 10362);
            const auto start = Clock::now();
            for (int i = 0; i < kBuffers; ++i) {
                std::this_thread::sleep_until(start + i * kPeriod);
                const auto before = Clock::now();
                connector.TakeData(tone.data(), 4096);
                handOver.push_back(
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count());
            }
            done = true;
        });
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done)
                loop.quit();
        });
        poll.start(10);
        loop.exec();
        capture.join();
        connector.ChainStop();
        connector.ChainClose();
        QApplication::processEvents();
        std::sort(handOver.begin(), handOver.end());
        const auto at = [&](double q) {
            return static_cast<double>(handOver[static_cast<std::size_t>(q * (handOver.size() - 1))]);
        };
        state.counters["handover_p50_us"] = at(0.5);
        state.counters["handover_p99_us"] = at(0.99);
        state.counters["handover_max_us"] = static_cast<double>(handOver.back());
        state.counters["blocks"] = connector.Delivered(TMMConnector::fLevel);
    }
}
BENCHMARK(BM_ConnectorHandOverWhileDrawing)
    ->Arg(0)
    ->Arg(50)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The pump of an argument: 0 the program's own (the connector's batch pump), 1 and 2 the
// comparison pumps below.
enum class Pump { Batch, Precise, Sleep };
Pump PumpArg(std::int64_t arg)
{
    return arg == 0 ? Pump::Batch : arg == 1 ? Pump::Precise : Pump::Sleep;
}

// Two ways of pumping that the program does not use, kept to compare with its own. "Precise": a
// precise single-shot timer set for the next due block, never sooner than 1 ms after the previous
// pass, at most one block per family and pass (short blocks fall behind, the next buffer skips the
// rest), no timer while nothing is due (a buffer wakes it). "Sleep": a pass, a 1 ms sleep and a
// reposted message, for as long as the pump lives. Both drive one connector with AutoTrigger off
// through Deliver; destroy the pump after the capture has stopped.
class ComparisonPump : public QObject {
public:
    ComparisonPump(TMMConnector& connector, Pump kind)
        : m_connector(connector)
        , m_kind(kind)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Pass(); });
        connector.SetAutoTrigger(false);
        // On the capture thread, after the connector took the buffer.
        connector.OnBufferReady = [this](QObject*, PWaveHdr) {
            if (m_sleeping.exchange(false))
                QCoreApplication::postEvent(this, new QEvent(kWake));
        };
        QCoreApplication::postEvent(this, new QEvent(kWake));
    }
    ~ComparisonPump() override { m_connector.OnBufferReady = nullptr; }

    bool event(QEvent* e) override
    {
        if (e->type() != kWake)
            return QObject::event(e);
        if (m_kind == Pump::Sleep) {
            m_connector.Deliver();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            QCoreApplication::postEvent(this, new QEvent(kWake));
        } else {
            m_timer.stop();
            Pass();
        }
        return true;
    }

private:
    static constexpr QEvent::Type kWake = QEvent::Type(QEvent::User + 17);

    void Pass()
    {
        m_connector.Deliver();
        // Sleeping first, then looking: a buffer that arrives meanwhile wakes the pump.
        m_sleeping = true;
        const std::int64_t now = TMMConnector::Now();
        const std::int64_t next = m_connector.NextDue();
        if (next == INT64_MAX)
            return;
        m_sleeping = false;
        m_timer.start(static_cast<int>(std::clamp<std::int64_t>((next - now + 999) / 1000, 1, 1000)));
    }

    TMMConnector& m_connector;
    const Pump m_kind;
    QTimer m_timer;
    std::atomic<bool> m_sleeping { false };
};

std::unique_ptr<ComparisonPump> MakePump(TMMConnector& connector, Pump kind)
{
    return kind == Pump::Batch ? nullptr : std::make_unique<ComparisonPump>(connector, kind);
}

// CPU share of a running pump with nothing to deliver, per pump mode, over one second.
void BM_PumpIdleCpu(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no application");
        return;
    }
    for (auto _ : state) {
        NullDisplay level(396);
        TMMConnector connector;
        const auto pump = MakePump(connector, PumpArg(state.range(0)));
        TWaveFormatEx format {};
        MakePCMFormat(format, 16, 2, 44100);
        connector.SetWaveFormat(&format);
        connector.SetLevel1(&level);
        connector.ChainOpen();
        connector.ChainStart();
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        RunEventLoop(1000);
        state.counters["cpu_percent"] = 100.0 * (ProcessCpuSeconds() - cpu0) / (wall.nsecsElapsed() * 1e-9);
        connector.ChainStop();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PumpIdleCpu)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole chain for 10 s of synthetic audio (1 kHz tone, 44100 Hz stereo, 4096-byte buffers):
// capture thread, connector, pump, two level bars and two needle meters on a shown window.
// Reports the process's CPU time as a share of one core. Args: the pump (PumpArg); which
// displays are shown (0 the bars and meters, 1 only the bars, 2 only the meters: the main window
// shows one pair at a time, 3 none: capture and connector alone, 4 every family: bars, meters, and
// the main window's oscilloscope and spectrum analyser).
void BM_CaptureToDisplaysCpu(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no widget application");
        return;
    }
    const auto shown = state.range(1);
    zv::DisplayTimerService::Instance().SetManual(false);
    auto binding = zv::MakeSyntheticWaveIn({ zv::SyntheticDevice { zv::SyntheticDevice::Tone, "tone" } });
    for (auto _ : state) {
        QWidget window;
        window.resize(400, 120);
        std::vector<TMMLevel*> levels;
        std::vector<TMMMeter*> meters;
        for (int i = 0; i < 2; ++i) {
            auto* level = new TMMLevel(&window);
            zv::SetUpMainLevel(*level, i == 0 ? chLeft : chRight);
            level->move(0, 20 * i);
            levels.push_back(level);
            auto* meter = new TMMMeter(&window);
            zv::SetUpMainMeter(*meter, i == 0 ? chLeft : chRight);
            meter->move(200 + 90 * i, 0);
            meters.push_back(meter);
        }
        for (auto* level : levels)
            level->setVisible(shown == 0 || shown == 1 || shown == 4);
        for (auto* meter : meters)
            meter->setVisible(shown == 0 || shown == 2 || shown == 4);
        auto* scope = new TMMOscope(&window);
        zv::SetUpMainOscope(*scope);
        scope->move(0, 40);
        auto* spectrum = new TMMSpectrum(&window);
        zv::SetUpMainSpectrum(*spectrum);
        spectrum->move(200, 60);
        scope->setVisible(shown == 4);
        spectrum->setVisible(shown == 4);
        window.show();
        QApplication::processEvents();
        TMMWaveIn waveIn(*binding);
        TMMConnector connector;
        waveIn.SetCallBackMode(cmThread);
        waveIn.SetBitLength(b16Bit);
        waveIn.SetMode(mStereo);
        waveIn.SetSampleRate(44100);
        waveIn.SetBufferSize(4096);
        waveIn.SetOutput(&connector);
        auto pump = MakePump(connector, PumpArg(state.range(0)));
        connector.SetLevel1(levels[0]);
        connector.SetLevel2(levels[1]);
        connector.SetMeter1(meters[1]);
        connector.SetMeter2(meters[0]);
        connector.SetOscope1(scope);
        connector.SetSpectrum1(spectrum);
        waveIn.Open();
        waveIn.Start();
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        RunEventLoop(10000);
        const double cpu = ProcessCpuSeconds() - cpu0;
        state.counters["cpu_percent"] = 100.0 * cpu / (wall.nsecsElapsed() * 1e-9);
        state.counters["meter_blocks"] = connector.Delivered(TMMConnector::fMeter);
        state.counters["level_blocks"] = connector.Delivered(TMMConnector::fLevel);
        state.counters["spectrum_blocks"] = connector.Delivered(TMMConnector::fSpectrum);
        waveIn.Stop();
        waveIn.Close();
        pump.reset();
        QApplication::processEvents();
    }
    zv::DisplayTimerService::Instance().SetManual(true);
}
BENCHMARK(BM_CaptureToDisplaysCpu)
    ->Args({ 0, 0 })
    ->Args({ 0, 1 })
    ->Args({ 0, 2 })
    ->Args({ 0, 3 })
    ->Args({ 0, 4 })
    ->Args({ 1, 0 })
    ->Args({ 1, 1 })
    ->Args({ 1, 2 })
    ->Args({ 1, 4 })
    ->Args({ 2, 0 })
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
