#include "displays/MMFFT.h"

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace {

using zv::fft::KernelKind;

constexpr double Pi = 3.141592653589793238462643383280;

struct PlanHolder {
    explicit PlanHolder(int order)
        : plan(CreateFFTPlan(order))
    {
    }
    ~PlanHolder() { FreeFFTPlan(plan); }
    TMMFFTPlan* plan;
};

std::vector<KernelKind> Kernels()
{
    std::vector<KernelKind> kinds { KernelKind::Baseline };
    if (zv::fft::KernelAvailable(KernelKind::Avx2))
        kinds.push_back(KernelKind::Avx2);
    return kinds;
}

std::vector<float> Transform(const std::vector<float>& x, KernelKind kind)
{
    const int order = std::countr_zero(unsigned(x.size()));
    PlanHolder p(order);
    EXPECT_TRUE(zv::fft::SelectKernel(*p.plan, kind));
    std::vector<float> data = x;
    RealFFT(p.plan, data.data(), 1);
    return data;
}

// Direct DFT in double precision, packed like the transform's output.
std::vector<double> DirectDft(const std::vector<float>& x)
{
    const std::size_t n = x.size();
    std::vector<double> out(n, 0.0);
    for (std::size_t k = 0; k < n / 2; ++k) {
        double re = 0, im = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double a = -2.0 * Pi * double((k * j) % n) / double(n);
            re += x[j] * std::cos(a);
            im += x[j] * std::sin(a);
        }
        out[2 * k] = re;
        out[2 * k + 1] = k == 0 ? 0.0 : im;
    }
    return out;
}

std::vector<float> Noise(int n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (auto& v : x)
        v = dist(gen);
    return x;
}

// Tolerance of every comparison with the direct DFT: the error vector's norm may not exceed
// ε·log2(N) times the norm of the exact spectrum (ε = 2^-23, single precision), and no single
// component may be off by more than 2·ε·log2(N) times the spectrum's root mean square magnitude.
void ExpectMatchesDft(const std::vector<float>& x, const std::vector<float>& got)
{
    const auto want = DirectDft(x);
    const double eps = std::numeric_limits<float>::epsilon();
    const double logN = std::log2(double(x.size()));
    double errSq = 0, refSq = 0, maxErr = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const double e = double(got[i]) - want[i];
        errSq += e * e;
        refSq += want[i] * want[i];
        maxErr = std::max(maxErr, std::fabs(e));
    }
    const double rms = std::sqrt(refSq / double(x.size() / 2));
    EXPECT_LE(std::sqrt(errSq), eps * logN * std::sqrt(refSq)) << "N = " << x.size();
    EXPECT_LE(maxErr, 2 * eps * logN * rms) << "N = " << x.size();
}

TEST(RealFFT, MatchesDirectDftForEveryLengthAndKernel)
{
    for (const auto kind : Kernels()) {
        for (int order = 1; order <= 12; ++order) {
            SCOPED_TRACE(testing::Message() << "kernel " << int(kind) << " order " << order);
            const auto x = Noise(1 << order, unsigned(order));
            ExpectMatchesDft(x, Transform(x, kind));
        }
    }
}

TEST(RealFFT, ConstantGivesOnlyTheSum)
{
    for (const auto kind : Kernels()) {
        for (const int n : { 2, 8, 64, 4096 }) {
            const float c = 0.375f;
            const auto out = Transform(std::vector<float>(std::size_t(n), c), kind);
            EXPECT_FLOAT_EQ(out[0], float(n) * c) << n;
            for (int i = 1; i < n; ++i)
                ASSERT_NEAR(out[std::size_t(i)], 0.0f, 1e-6f * float(n)) << "N " << n << " position " << i;
        }
    }
}

TEST(RealFFT, CosineAndSineOfIntegerFrequencyLandInTheirBin)
{
    struct Case {
        int n, k0;
    };
    for (const auto kind : Kernels()) {
        for (const Case c : { Case { 8, 1 }, Case { 8, 3 }, Case { 64, 5 }, Case { 4096, 1000 } }) {
            const float amp = 0.8f;
            std::vector<float> cosine(std::size_t(c.n)), sine(std::size_t(c.n));
            for (int j = 0; j < c.n; ++j) {
                cosine[std::size_t(j)] = float(amp * std::cos(2 * Pi * c.k0 * j / c.n));
                sine[std::size_t(j)] = float(amp * std::sin(2 * Pi * c.k0 * j / c.n));
            }
            const auto oc = Transform(cosine, kind);
            const auto os = Transform(sine, kind);
            const float peak = amp * float(c.n) / 2;
            const float tol = 1e-5f * float(c.n);
            for (int k = 0; k < c.n / 2; ++k) {
                const bool hit = k == c.k0;
                const auto re = std::size_t(2 * k), im = re + 1;
                EXPECT_NEAR(oc[re], hit ? peak : 0.0f, tol) << c.n << " cos bin " << k;
                EXPECT_NEAR(oc[im], 0.0f, tol) << c.n << " cos bin " << k;
                EXPECT_NEAR(os[re], 0.0f, tol) << c.n << " sin bin " << k;
                EXPECT_NEAR(os[im], hit ? -peak : 0.0f, tol) << c.n << " sin bin " << k;
            }
        }
    }
}

TEST(RealFFT, NyquistIsNeverReturned)
{
    for (const auto kind : Kernels()) {
        for (const int n : { 2, 4, 16, 1024 }) {
            std::vector<float> x(static_cast<std::size_t>(n));
            for (int j = 0; j < n; ++j)
                x[std::size_t(j)] = (j % 2 ? -1.0f : 1.0f) + 0.25f; // Nyquist plus a little DC
            const auto out = Transform(x, kind);
            EXPECT_EQ(out[1], 0.0f) << n;
            EXPECT_FLOAT_EQ(out[0], 0.25f * float(n)) << n;
            for (int i = 2; i < n; ++i)
                ASSERT_NEAR(out[std::size_t(i)], 0.0f, 1e-5f * float(n)) << n << " position " << i;
        }
    }
}

TEST(RealFFT, MissingArgumentsAndOtherDirectionsTouchNothing)
{
    PlanHolder p(3);
    std::vector<float> x { 1, 2, 3, 4, 5, 6, 7, 8 };
    const auto before = x;
    RealFFT(nullptr, x.data(), 1);
    RealFFT(p.plan, nullptr, 1);
    RealFFT(p.plan, x.data(), 0);
    RealFFT(p.plan, x.data(), -7);
    EXPECT_EQ(x, before);
    RealFFT(p.plan, x.data(), 9); // clamped to the forward direction
    EXPECT_FLOAT_EQ(x[0], 36.0f);
}

TEST(FFTPlan, OrdersOutsideTheRangeGiveNoPlan)
{
    for (const int order : { -1, 0, 31, 32, 40 })
        EXPECT_EQ(CreateFFTPlan(order), nullptr) << order;
    TMMFFTPlan* none = nullptr;
    FreeFFTPlan(none);
    EXPECT_EQ(none, nullptr);
}

TEST(FFTPlan, TablesHoldTheirDefinedValues)
{
    PlanHolder p(4); // N = 16, M = 8
    ASSERT_NE(p.plan, nullptr);
    EXPECT_EQ(p.plan->Order, 4);
    EXPECT_EQ(p.plan->Size, 16);
    EXPECT_FLOAT_EQ(p.plan->InvSize, 1.0f / 16);
    const std::vector<int32_t> rev(p.plan->BitReverse, p.plan->BitReverse + 8);
    EXPECT_EQ(rev, (std::vector<int32_t> { 0, 4, 2, 6, 1, 5, 3, 7 }));
    // Twiddles for k = 1, 2 with θ = 2π/8; split twiddles for k = 1..4 with φ = 2π/16.
    const double theta = 2 * Pi / 8, phi = 2 * Pi / 16;
    for (int k = 1; k <= 2; ++k) {
        const auto& t = p.plan->Twiddles[k - 1];
        EXPECT_FLOAT_EQ(t.CosK, float(std::cos(k * theta)));
        EXPECT_FLOAT_EQ(t.SinK, float(-std::sin(k * theta)));
        EXPECT_FLOAT_EQ(t.Cos3K, float(std::cos(3 * k * theta)));
        EXPECT_FLOAT_EQ(t.Sin3K, float(-std::sin(3 * k * theta)));
    }
    for (int k = 1; k <= 4; ++k) {
        EXPECT_FLOAT_EQ(p.plan->SplitTwiddles[k - 1].Cos, float(0.5 * std::cos(k * phi)));
        EXPECT_FLOAT_EQ(p.plan->SplitTwiddles[k - 1].Sin, float(0.5 - 0.5 * std::sin(k * phi)));
    }

    TMMFFTPlan* plan = p.plan;
    p.plan = nullptr;
    FreeFFTPlan(plan);
    EXPECT_EQ(plan, nullptr);
}

TEST(WindowTable, HammingAndRectangularValues)
{
    std::vector<int32_t> table(64, -1);
    MakeWindowTable(table.data(), fwHamming, 6);
    EXPECT_EQ(table[0], 2621);
    EXPECT_EQ(table[32], 32767);
    MakeWindowTable(table.data(), fwRectangular, 6);
    for (const auto v : table)
        ASSERT_EQ(v, 32767);
    // Unknown window values fall back to the rectangle.
    std::vector<int32_t> other(8, -1);
    MakeWindowTable(other.data(), TMMFFTWindow(9), 3);
    EXPECT_EQ(other, std::vector<int32_t>(8, 32767));
}

TEST(WindowTable, EveryWindowIsPeriodicSymmetricAndInRange)
{
    // Entry 0 tells the forms apart: periodic cosines (divided by N), and Welch and Parzen with N + 1.
    struct Case {
        TMMFFTWindow window;
        int32_t first;
    };
    for (const Case c : { Case { fwHamming, 2621 }, Case { fwHanning, 0 }, Case { fwBlackman, 0 },
             Case { fwGaussian, 221 }, Case { fwWelch, 1000 }, Case { fwParzen, 504 } }) {
        std::vector<int32_t> t(64);
        MakeWindowTable(t.data(), c.window, 6);
        EXPECT_EQ(t[0], c.first) << int(c.window);
        EXPECT_EQ(t[32], 32767) << int(c.window);
        for (int i = 1; i < 64; ++i) {
            ASSERT_EQ(t[std::size_t(i)], t[std::size_t(64 - i)]) << int(c.window) << " " << i;
            ASSERT_GE(t[std::size_t(i)], 0);
            ASSERT_LE(t[std::size_t(i)], 32767);
        }
    }
    EXPECT_FLOAT_EQ(WindowValue(fwHanning, 16, 64), 0.5f);
}

} // namespace
