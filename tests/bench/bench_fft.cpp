// RealFFT against FFTW (single precision, FFTW_MEASURE, out of place) and KissFFT's real transform.
// RealFFT works in place, so each of its iterations first restores the input from a pristine copy:
// its figures include that copy (BM_CopyInput shows what it costs on its own).
#include "displays/MMFFT.h"

#include <benchmark/benchmark.h>
#include <bit>
#include <cstring>
#include <fftw3.h>
#include <kiss_fftr.h>
#include <random>
#include <vector>

namespace {

std::vector<float> Signal(int n)
{
    std::mt19937 gen(42);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (auto& v : x)
        v = dist(gen);
    return x;
}

void RunRealFFT(benchmark::State& state, zv::fft::KernelKind kind)
{
    const int n = int(state.range(0));
    TMMFFTPlan* plan = CreateFFTPlan(std::countr_zero(unsigned(n)));
    if (!zv::fft::SelectKernel(*plan, kind)) {
        state.SkipWithError("kernel not available on this processor");
        FreeFFTPlan(plan);
        return;
    }
    const auto input = Signal(n);
    std::vector<float> data(input.size());
    for (auto _ : state) {
        std::memcpy(data.data(), input.data(), input.size() * sizeof(float));
        RealFFT(plan, data.data(), 1);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    FreeFFTPlan(plan);
}

void BM_RealFFT(benchmark::State& state)
{
    const bool avx2 = zv::fft::KernelAvailable(zv::fft::KernelKind::Avx2);
    RunRealFFT(state, avx2 ? zv::fft::KernelKind::Avx2 : zv::fft::KernelKind::Baseline);
}

void BM_RealFFT_Baseline(benchmark::State& state)
{
    RunRealFFT(state, zv::fft::KernelKind::Baseline);
}

void BM_CopyInput(benchmark::State& state)
{
    const auto input = Signal(int(state.range(0)));
    std::vector<float> data(input.size());
    for (auto _ : state) {
        std::memcpy(data.data(), input.data(), input.size() * sizeof(float));
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
}

void BM_FFTW(benchmark::State& state)
{
    const int n = int(state.range(0));
    float* in = fftwf_alloc_real(std::size_t(n));
    fftwf_complex* out = fftwf_alloc_complex(std::size_t(n / 2 + 1));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const auto input = Signal(n); // after planning: FFTW_MEASURE overwrites the arrays
    std::memcpy(in, input.data(), input.size() * sizeof(float));
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);
}

void BM_KissFFT(benchmark::State& state)
{
    const int n = int(state.range(0));
    kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    const auto input = Signal(n);
    std::vector<kiss_fft_cpx> out(std::size_t(n / 2 + 1));
    for (auto _ : state) {
        kiss_fftr(cfg, input.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    kiss_fftr_free(cfg);
}

} // namespace

BENCHMARK(BM_RealFFT)->RangeMultiplier(4)->Range(64, 4096);
BENCHMARK(BM_RealFFT_Baseline)->RangeMultiplier(4)->Range(64, 4096);
BENCHMARK(BM_CopyInput)->RangeMultiplier(4)->Range(64, 4096);
BENCHMARK(BM_FFTW)->RangeMultiplier(4)->Range(64, 4096);
BENCHMARK(BM_KissFFT)->RangeMultiplier(4)->Range(64, 4096);
