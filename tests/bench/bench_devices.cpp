// Listing the capture devices with this machine's own ALSA configuration: on a desktop that
// includes the plug-in PCMs of libasound2-plugins (PulseAudio, PipeWire, JACK, rate converters),
// whose sound servers may be absent. Both listings the system makes are measured: the encoder's
// (the device names, at every start, to find its device by name) and the settings window's (one
// wave-in stepped through the device ids, reading the product name of each).
//
// Counter: devices = entries listed.

#include "audio/MMWavIn.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "zoveva-bench";
    static char* argv[] = { name, nullptr };
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives as long as the process
}

void BM_AlsaDeviceNames(benchmark::State& state)
{
    EnsureApplication();
    qsizetype devices = 0;
    for (auto _ : state) {
        const QStringList names = TMMWaveIn::DeviceNames(zv::AlsaWaveIn());
        devices = names.size();
        benchmark::DoNotOptimize(names.constData());
    }
    state.counters["devices"] = double(devices);
}
BENCHMARK(BM_AlsaDeviceNames)->Unit(benchmark::kMillisecond);

void BM_AlsaSettingsDeviceList(benchmark::State& state)
{
    EnsureApplication();
    int devices = 0;
    for (auto _ : state) {
        TMMWaveIn waveIn(zv::AlsaWaveIn());
        QStringList names;
        for (int d = 0; d < waveIn.DeviceCount(); ++d) {
            waveIn.SetDeviceID(d);
            names << waveIn.ProductName();
        }
        devices = waveIn.DeviceCount();
        benchmark::DoNotOptimize(names.constData());
    }
    state.counters["devices"] = devices;
}
BENCHMARK(BM_AlsaSettingsDeviceList)->Unit(benchmark::kMillisecond);

} // namespace
