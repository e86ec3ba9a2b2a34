#pragma once

// Real-input FFT of a power-of-two length and Q15 window tables for the spectrum analyser.
// A plan is built once per length (all tables, work area and the kernel choice) and then used by
// any number of transforms run one after another; a transform allocates nothing.

#include <cstdint>
#include <memory>

enum TMMFFTWindow : uint8_t {
    fwRectangular,
    fwHamming,
    fwHanning,
    fwBlackman,
    fwGaussian,
    fwWelch,
    fwParzen
};

// cos(kθ), −sin(kθ), cos(3kθ), −sin(3kθ) with θ = 2π/(N/2).
struct TMMFFTTwiddle {
    float CosK;
    float SinK;
    float Cos3K;
    float Sin3K;
};

// 0.5·cos(kφ) and 0.5 − 0.5·sin(kφ) with φ = 2π/N: the factors of the real-spectrum untangling.
struct TMMFFTSplitTwiddle {
    float Cos;
    float Sin;
};

namespace zv::fft {
struct Tables;
struct TablesDeleter {
    void operator()(Tables* tables) const noexcept;
};
} // namespace zv::fft

struct TMMFFTPlan {
    int32_t Order = 0; // log2 of Size, 1..30
    int32_t Size = 0; // N, the number of real input samples
    float InvSize = 0; // 1/N
    const int32_t* BitReverse = nullptr; // N/2 entries
    const TMMFFTTwiddle* Twiddles = nullptr; // N/8 entries, for k = 1..N/8
    const TMMFFTSplitTwiddle* SplitTwiddles = nullptr; // N/4 entries, for k = 1..N/4
    std::unique_ptr<zv::fft::Tables, zv::fft::TablesDeleter>
        Detail; // the arrays above, butterfly tables, work area
};

using PMMFFTPlan = TMMFFTPlan*;

// The window formula for one index of a table of the given length, rounded to single precision.
float WindowValue(TMMFFTWindow window, int index, int length);

// Fills table[0 .. 2^order) with floor(w(i)·32767 + 0.5). Orders outside 0..30 leave it untouched.
void MakeWindowTable(int32_t* table, TMMFFTWindow window, int order);

// A plan for 2^order real samples, or nullptr for an order outside 1..30 (2^31 does not fit Size).
// Throws std::bad_alloc when memory runs out; nothing partial is returned.
TMMFFTPlan* CreateFFTPlan(int order);

// Releases the plan and sets the caller's pointer to nullptr; nullptr is ignored.
void FreeFFTPlan(TMMFFTPlan*& plan);

namespace zv::fft {
// Which code runs the transforms of a plan: the 4-lane baseline, or 8 lanes with AVX2 and FMA, which
// CreateFFTPlan picks when the processor has them. Tests and benchmarks switch to compare both.
enum class KernelKind { Baseline, Avx2 };
bool KernelAvailable(KernelKind kind);
KernelKind CurrentKernel(const TMMFFTPlan& plan);
// False (and no change) when the processor lacks the kind.
bool SelectKernel(TMMFFTPlan& plan, KernelKind kind);
} // namespace zv::fft

// In-place forward transform (direction 1) of plan->Size real samples. Output: [0] = X[0], [1] = 0,
// [2k], [2k+1] = Re, Im of X[k] for k = 1..N/2−1, unscaled. Nothing happens without a plan or data;
// the direction is clamped to −1..1 and only the forward direction transforms (others leave data as is).
void RealFFT(TMMFFTPlan* plan, float* data, int direction);
