// Mixer: a knob turn through the model to the in-memory mixer and back to the widget, and the idle
// cost of an open ALSA mixer's change notifier.
//
// BM_MixerKnobRoundTrip: the knob writes the volume (TMMVolumeControl, both channels), the mixer
// reports the change on the event loop, the report runs down device, line and control to the knob's
// link, which reads the value again. Target: under 50 us per turn.
// BM_AlsaMixerNotifierIdle: an open ALSA mixer (a private PulseAudio server through ALSA's pulse
// plugin, the end-to-end test's arrangement) whose values do not change, its poll descriptors
// watched on the event loop for 200 ms per iteration. Counters: cpu_pct, the process's processor time
// per wall time over the idle spans (percent of one core), and baseline_cpu_pct, the same for 1 s of
// the same event loop before the mixer opened.

#include "BenchApp.h"
#include "audio/MMWheel.h"
#include "tests/support/MixerTables.h"
#include "tests/support/PulseServer.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <ctime>
#include <memory>

namespace {

double ProcessCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double WallSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

static void BM_MixerKnobRoundTrip(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no widget application");
        return;
    }
    auto ops = zv::MakeMemoryMixer({ test::StudioCard() });
    TMMMixerDevice device(nullptr, ops.get());
    TMMAudioLine recording, source;
    recording.SetMixer(&device);
    recording.SetComponentType(ctDstWaveIn);
    source.SetMixer(&device);
    source.SetDestLine(&recording);
    source.SetComponentType(ctSrcLine);
    TMMVolumeControl volume;
    volume.SetAudioLine(&source);
    device.SetActive(true);
    TMMMixerWheel knob;
    knob.SetControl(&volume);
    long reports = 0;
    volume.OnChange = [&](QObject*) { ++reports; };
    int turn = 0;
    for (auto _ : state) {
        const long before = reports;
        knob.SetValue(++turn % 2 ? knob.Maximum() / 3 : knob.Maximum() / 2);
        while (reports == before)
            QCoreApplication::processEvents();
    }
    if (ops->WriteCount() < std::uint64_t(state.iterations()))
        state.SkipWithError("the knob did not write the mixer");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MixerKnobRoundTrip)->Unit(benchmark::kMicrosecond);

static void BM_AlsaMixerNotifierIdle(benchmark::State& state)
{
    if (!HaveWidgetApplication()) {
        state.SkipWithError("no widget application");
        return;
    }
    // Kept for the rest of the program, since ALSA keeps the configuration it has read; stopped when
    // the program ends.
    static test::PulseServer pulse;
    static const std::string why
        = pulse.Start(QStringLiteral("/usr/share/alsa/alsa.conf:" ZOVEVA_ALSA_TEST_CONF));
    if (!why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const auto idle = [](int milliseconds) {
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    };
    const double b0 = ProcessCpuSeconds(), bw0 = WallSeconds();
    idle(1000);
    const double baseline = 100.0 * (ProcessCpuSeconds() - b0) / (WallSeconds() - bw0);
    TMMMixerDevice device(nullptr, &zv::AlsaMixer());
    device.SetDeviceId(0);
    device.SetActive(true);
    TMMAudioLine speakers;
    speakers.SetMixer(&device);
    speakers.SetComponentType(ctDstSpeakers);
    TMMVolumeControl master;
    master.SetAudioLine(&speakers);
    TMMMixerWheel knob;
    knob.SetControl(&master);
    if (!device.Active() || device.Handle() == 0 || !knob.isEnabled()) {
        state.SkipWithError("the ALSA mixer did not open with change reports");
        return;
    }
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double c0 = ProcessCpuSeconds(), w0 = WallSeconds();
        idle(200);
        cpu += ProcessCpuSeconds() - c0;
        wall += WallSeconds() - w0;
    }
    state.counters["cpu_pct"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["baseline_cpu_pct"] = baseline;
}
BENCHMARK(BM_AlsaMixerNotifierIdle)->Unit(benchmark::kMillisecond)->Iterations(10);
