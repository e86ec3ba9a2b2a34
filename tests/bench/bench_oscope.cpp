// One oscilloscope frame at the main window's settings (170 x 56, 16-bit stereo averaged,
// okCzoVevas): the samples of a block and the drawing into the pixel canvas; and one block of the
// scrolling chart once it is full (shift and new column).
#include "displays/MMOscopeMath.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

namespace {

struct MainScope {
    zv::OscopeCore core;
    TMMDIBCanvas dib;
    std::vector<std::int16_t> signal;

    MainScope()
    {
        core.SetArea(170, 56);
        core.SetKind(okCzoVevas);
        core.SetColor(zv::OscopeCore::ForegroundColor, clLime);
        core.SetBitLength(b16Bit);
        core.SetSampleRate(44100);
        core.SetMode(mStereo);
        dib.SetSize(170, 56);
        {
            TMMDIBDrawScope scope(dib);
        }
        signal.resize(2 * 44100 / 10);
        for (std::size_t i = 0; i < signal.size() / 2; ++i) {
            const double t = double(i) / 44100.0;
            signal[2 * i] = signal[2 * i + 1] = std::int16_t(
                std::lround(16000 * std::sin(2 * M_PI * 441 * t) + 5000 * std::sin(2 * M_PI * 2500 * t)));
        }
    }
};

void BM_OscopeFrame(benchmark::State& state)
{
    MainScope s;
    const int blocks = int(s.signal.size() * 2) / s.core.BytesNeeded();
    int b = 0;
    for (auto _ : state) {
        s.core.Take(
            reinterpret_cast<const std::uint8_t*>(s.signal.data()) + (b++ % blocks) * s.core.BytesNeeded());
        TMMDIBDrawScope scope(s.dib);
        s.core.DrawFrame(s.dib);
        benchmark::ClobberMemory();
    }
}

void BM_OscopeScrollBlock(benchmark::State& state)
{
    MainScope s;
    s.core.SetScroll(true);
    const int blocks = int(s.signal.size() * 2) / s.core.BytesNeeded();
    {
        TMMDIBDrawScope scope(s.dib);
        s.core.ScrollStart(s.dib);
        for (int i = 0; i < 200; ++i)
            s.core.ScrollBlock(s.dib);
    }
    int b = 0;
    for (auto _ : state) {
        s.core.Take(
            reinterpret_cast<const std::uint8_t*>(s.signal.data()) + (b++ % blocks) * s.core.BytesNeeded());
        TMMDIBDrawScope scope(s.dib);
        s.core.ScrollBlock(s.dib);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_OscopeFrame);
BENCHMARK(BM_OscopeScrollBlock);
