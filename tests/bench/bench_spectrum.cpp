// One spectrum analyser frame at the main window's settings (170 x 56, 16-bit stereo, FFTLength 64,
// Hamming, sg3db, dmStepUp 8, VerticalScale 20): the analysis of a block and the drawing into the
// pixel canvas, and separately the copy of the finished frame to a window-sized device.
#include "displays/MMSpectrMath.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

namespace {

struct MainSpectrum {
    zv::SpectrumCore core;
    TMMDIBCanvas dib;
    std::vector<std::vector<std::int16_t>> blocks;

    explicit MainSpectrum(TMMSpectrumKind kind = skBars)
    {
        zv::DisplayTimerService::Instance().SetManual(true);
        core.SetArea(170, 56);
        core.SetKind(kind);
        core.SetMode(mStereo);
        core.SetBitLength(b16Bit);
        core.SetSampleRate(44100);
        core.SetFFTLength(64);
        core.SetGain(sg3db);
        core.SetDecayMode(dmStepUp);
        core.SetDecay(8);
        core.SetVerticalScale(20);
        core.SetPoint(1, 75);
        core.SetColor(zv::SpectrumCore::Bar1, clLime);
        core.SetColor(zv::SpectrumCore::Bar2, clYellow);
        core.SetColor(zv::SpectrumCore::Bar3, clRed);
        core.SetInactiveDoted(true);
        dib.SetSize(170, 56);
        {
            TMMDIBDrawScope scope(dib);
        }
        // A few different blocks of a tone mix, so the bars move from frame to frame.
        for (int b = 0; b < 16; ++b) {
            std::vector<std::int16_t> block(128);
            for (int i = 0; i < 64; ++i) {
                const double t = (b * 64 + i) / 44100.0;
                const double v = 3000 * std::sin(2 * M_PI * 440 * t) + 2000 * std::sin(2 * M_PI * 3100 * t)
                    + 800 * std::sin(2 * M_PI * (500 + 900 * b) * t);
                block[std::size_t(2 * i)] = block[std::size_t(2 * i + 1)] = std::int16_t(std::lround(v));
            }
            blocks.push_back(std::move(block));
        }
    }
};

void RunFrame(benchmark::State& state, TMMSpectrumKind kind)
{
    MainSpectrum s(kind);
    std::size_t b = 0;
    for (auto _ : state) {
        s.core.Analyse(s.blocks[b++ % s.blocks.size()].data());
        TMMDIBDrawScope scope(s.dib);
        s.core.DrawFrame(s.dib, false);
        benchmark::ClobberMemory();
    }
}

void BM_SpectrumFrame(benchmark::State& state)
{
    RunFrame(state, skBars);
}

void BM_SpectrumFrameLines(benchmark::State& state)
{
    RunFrame(state, skLines);
}

void BM_SpectrumAnalyseOnly(benchmark::State& state)
{
    MainSpectrum s;
    std::size_t b = 0;
    for (auto _ : state) {
        s.core.Analyse(s.blocks[b++ % s.blocks.size()].data());
        benchmark::ClobberMemory();
    }
}

// The copy of the 170 x 56 picture to a window-sized device (palette translation and drawImage).
void BM_SpectrumCopyToWindow(benchmark::State& state)
{
    MainSpectrum s;
    QImage window(170, 56, QImage::Format_RGB32);
    QPainter painter(&window);
    for (auto _ : state) {
        TMMDIBDrawScope scope(s.dib);
        s.dib.CopyToDevice(painter, QRect(0, 0, 170, 56), 0, 0);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_SpectrumFrame);
BENCHMARK(BM_SpectrumFrameLines);
BENCHMARK(BM_SpectrumAnalyseOnly);
BENCHMARK(BM_SpectrumCopyToWindow);
