#include "displays/MMFFT.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

// The kernels are written once on vector types and instantiated for 4 lanes (baseline SSE2) and,
// on x86-64 processors that have them, 8 lanes with AVX2 and FMA. Everything vector-typed is inlined
// into the two entry points, so the ABI notes about 32-byte vectors do not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#define ZV_FFT_INLINE inline __attribute__((always_inline))
#if defined(__x86_64__) || defined(__i386__)
#define ZV_FFT_HAVE_AVX2 1
#define ZV_FFT_AVX2 __attribute__((target("avx2,fma")))
#endif

namespace zv::fft {
namespace {

using V4 = float __attribute__((vector_size(16)));
using V8 = float __attribute__((vector_size(32)));

template <typename V> constexpr int Lanes = sizeof(V) / sizeof(float);

template <typename V> ZV_FFT_INLINE V Load(const float* p)
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V> ZV_FFT_INLINE void Store(float* p, V v)
{
    std::memcpy(p, &v, sizeof v);
}

template <typename V> ZV_FFT_INLINE V Reverse(V v)
{
    if constexpr (Lanes<V> == 4) {
        return __builtin_shufflevector(v, v, 3, 2, 1, 0);
    } else {
        return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
    }
}

// Splits 2L interleaved floats (re, im, re, im, ...) into L real and L imaginary parts.
template <typename V> ZV_FFT_INLINE void Deinterleave(V lo, V hi, V& re, V& im)
{
    if constexpr (Lanes<V> == 4) {
        re = __builtin_shufflevector(lo, hi, 0, 2, 4, 6);
        im = __builtin_shufflevector(lo, hi, 1, 3, 5, 7);
    } else {
        re = __builtin_shufflevector(lo, hi, 0, 2, 4, 6, 8, 10, 12, 14);
        im = __builtin_shufflevector(lo, hi, 1, 3, 5, 7, 9, 11, 13, 15);
    }
}

template <typename V> ZV_FFT_INLINE void Interleave(V re, V im, V& lo, V& hi)
{
    if constexpr (Lanes<V> == 4) {
        lo = __builtin_shufflevector(re, im, 0, 4, 1, 5);
        hi = __builtin_shufflevector(re, im, 2, 6, 3, 7);
    } else {
        lo = __builtin_shufflevector(re, im, 0, 8, 1, 9, 2, 10, 3, 11);
        hi = __builtin_shufflevector(re, im, 4, 12, 5, 13, 6, 14, 7, 15);
    }
}

template <typename T> struct AlignedFree {
    void operator()(T* p) const noexcept { ::operator delete[](p, std::align_val_t { 64 }); }
};
template <typename T> using Aligned = std::unique_ptr<T[], AlignedFree<T>>;

// Zero-filled, cache-line aligned; throws std::bad_alloc.
template <typename T> Aligned<T> Allocate(std::size_t count)
{
    const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(T);
    void* p = ::operator new[](bytes, std::align_val_t { 64 });
    std::memset(p, 0, bytes);
    return Aligned<T>(static_cast<T*>(p));
}

// Sub-transforms of this many points or fewer run in registers (the leaves below).
constexpr int LeafSize = 16;

} // namespace

using Kernel = void (*)(Tables&, float*);

struct Tables {
    int M = 0; // complex points, N/2
    Aligned<int32_t> bitReverse;
    Aligned<TMMFFTTwiddle> twiddles;
    Aligned<TMMFFTSplitTwiddle> splitTwiddles;
    // Per butterfly size n = M, M/2, .. 2·LeafSize: four runs of n/4 floats (cos kθ, −sin kθ,
    // cos 3kθ, −sin 3kθ, θ = 2π/n), so every vector load of a stage is contiguous.
    Aligned<float> stageStore;
    const float* stage[32] = {};
    // The untangling factors split by component and indexed by k (entry 0 unused).
    Aligned<float> untangleCos;
    Aligned<float> untangleSin;
    // Work area of 4·M floats: the transform in split form (re, im, bit-reversed order), then the
    // same in natural order. Owned by the plan so a transform allocates nothing; this is why one plan
    // runs one transform at a time.
    Aligned<float> work;
    Kernel kernel = nullptr;
};

void TablesDeleter::operator()(Tables* tables) const noexcept
{
    delete tables;
}

namespace {

// ---- leaves ----

constexpr float Sqrt1_2 = 0.70710677f;
constexpr float Cos1_16 = 0.92387953f; // cos(π/8)
constexpr float Sin1_16 = 0.38268343f; // sin(π/8)

// Bit-reversed position j of a block of n points holds output rev_n(j).
constexpr int Rev16[16] = { 0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15 };
constexpr int Rev8[8] = { 0, 4, 2, 6, 1, 5, 3, 7 };
constexpr int Rev4[4] = { 0, 2, 1, 3 };

// A leaf is the last part of the split radix for its block. It works in registers and writes its
// outputs straight to their natural-order places: a block of n points at bit-reversed offset b (a
// multiple of n) holds the outputs rev(b) + rev_n(j)·(M/n), so no separate reordering pass runs.
// Leaves of 16, 8 and 4 points use 4-lane vectors: the first butterfly row is vertical, the rest
// works inside the registers with lane shuffles; multiplications by ±1 and 0 are exact.
template <int n>
ZV_FFT_INLINE void StoreLeaf(
    const V4* re, const V4* im, const int (&rev)[n], float* outR, float* outI, int stride)
{
    for (int j = 0; j < n; ++j) {
        outR[rev[j] * stride] = re[j / 4][j % 4];
        outI[rev[j] * stride] = im[j / 4][j % 4];
    }
}

ZV_FFT_INLINE void Leaf4V(V4& xr, V4& xi)
{
    const V4 pm = { 1, 1, -1, -1 }, alt = { 1, -1, 1, -1 }, alt2 = { 1, -1, -1, 1 };
    // (a, b, c, d) -> (a + c, b + d, a − c, b − d)
    const V4 sr
        = __builtin_shufflevector(xr, xr, 0, 1, 0, 1) + __builtin_shufflevector(xr, xr, 2, 3, 2, 3) * pm;
    const V4 si
        = __builtin_shufflevector(xi, xi, 0, 1, 0, 1) + __builtin_shufflevector(xi, xi, 2, 3, 2, 3) * pm;
    // (s0 + s1, s0 − s1, t1 − i·t2, t1 + i·t2)
    xr = __builtin_shufflevector(sr, sr, 0, 0, 2, 2) + __builtin_shufflevector(sr, si, 1, 1, 7, 7) * alt;
    xi = __builtin_shufflevector(si, si, 0, 0, 2, 2) + __builtin_shufflevector(si, sr, 1, 1, 7, 7) * alt2;
}

ZV_FFT_INLINE void Leaf8V(V4& pr, V4& pi, V4& qr, V4& qi)
{
    const V4 pm = { 1, 1, -1, -1 }, mp = { -1, -1, 1, 1 }, alt = { 1, -1, 1, -1 };
    const V4 wr = { 1, Sqrt1_2, 1, -Sqrt1_2 }, wi = { 0, -Sqrt1_2, 0, -Sqrt1_2 };
    V4 er = pr + qr, ei = pi + qi;
    const V4 tr = pr - qr, ti = pi - qi; // (t1 | t2)
    const V4 fr
        = __builtin_shufflevector(tr, tr, 0, 1, 0, 1) + __builtin_shufflevector(ti, ti, 2, 3, 2, 3) * pm;
    const V4 fi
        = __builtin_shufflevector(ti, ti, 0, 1, 0, 1) + __builtin_shufflevector(tr, tr, 2, 3, 2, 3) * mp;
    const V4 gr = fr * wr - fi * wi, gi = fr * wi + fi * wr;
    Leaf4V(er, ei);
    pr = er;
    pi = ei;
    qr = __builtin_shufflevector(gr, gr, 0, 0, 2, 2) + __builtin_shufflevector(gr, gr, 1, 1, 3, 3) * alt;
    qi = __builtin_shufflevector(gi, gi, 0, 0, 2, 2) + __builtin_shufflevector(gi, gi, 1, 1, 3, 3) * alt;
}

ZV_FFT_INLINE void Leaf16To(const float* re, const float* im, float* outR, float* outI, int stride)
{
    const V4 c1 = { 1, Cos1_16, Sqrt1_2, Sin1_16 }, s1 = { 0, -Sin1_16, -Sqrt1_2, -Cos1_16 };
    const V4 c3 = { 1, Sin1_16, -Sqrt1_2, -Cos1_16 }, s3 = { 0, -Cos1_16, -Sqrt1_2, Sin1_16 };
    const V4 r0 = Load<V4>(re), r1 = Load<V4>(re + 4), r2 = Load<V4>(re + 8), r3 = Load<V4>(re + 12);
    const V4 i0 = Load<V4>(im), i1 = Load<V4>(im + 4), i2 = Load<V4>(im + 8), i3 = Load<V4>(im + 12);
    V4 er = r0 + r2, ei = i0 + i2, fr = r1 + r3, fi = i1 + i3;
    const V4 t1r = r0 - r2, t1i = i0 - i2, t2r = r1 - r3, t2i = i1 - i3;
    const V4 ur = t1r + t2i, ui = t1i - t2r, vr = t1r - t2i, vi = t1i + t2r;
    V4 cr = ur * c1 - ui * s1, ci = ur * s1 + ui * c1;
    V4 dr = vr * c3 - vi * s3, di = vr * s3 + vi * c3;
    Leaf8V(er, ei, fr, fi);
    Leaf4V(cr, ci);
    Leaf4V(dr, di);
    const V4 rr[4] = { er, fr, cr, dr }, ii[4] = { ei, fi, ci, di };
    StoreLeaf(rr, ii, Rev16, outR, outI, stride);
}

ZV_FFT_INLINE void Leaf8To(const float* re, const float* im, float* outR, float* outI, int stride)
{
    V4 rr[2] = { Load<V4>(re), Load<V4>(re + 4) }, ii[2] = { Load<V4>(im), Load<V4>(im + 4) };
    Leaf8V(rr[0], ii[0], rr[1], ii[1]);
    StoreLeaf(rr, ii, Rev8, outR, outI, stride);
}

ZV_FFT_INLINE void Leaf4To(const float* re, const float* im, float* outR, float* outI, int stride)
{
    V4 rr[1] = { Load<V4>(re) }, ii[1] = { Load<V4>(im) };
    Leaf4V(rr[0], ii[0]);
    StoreLeaf(rr, ii, Rev4, outR, outI, stride);
}

ZV_FFT_INLINE void Leaf(const float* re, const float* im, int n, float* outR, float* outI, int stride)
{
    switch (n) {
    case 16:
        Leaf16To(re, im, outR, outI, stride);
        break;
    case 8:
        Leaf8To(re, im, outR, outI, stride);
        break;
    case 4:
        Leaf4To(re, im, outR, outI, stride);
        break;
    case 2: {
        const float ar = re[0], ai = im[0], br = re[1], bi = im[1];
        outR[0] = ar + br;
        outI[0] = ai + bi;
        outR[stride] = ar - br;
        outI[stride] = ai - bi;
        break;
    }
    default: // one point is its own transform
        outR[0] = re[0];
        outI[0] = im[0];
        break;
    }
}

// ---- vector stages ----

// The L-shaped butterflies of one block of n points (n/4 a multiple of the lane count). With
// interleaved input the block is read from the caller's samples and written in split form.
template <typename V, bool Interleaved>
ZV_FFT_INLINE void Stage(const float* src, float* re, float* im, int n, const float* tw)
{
    constexpr int L = Lanes<V>;
    const int q = n / 4;
    const float* w1r = tw;
    const float* w1i = tw + q;
    const float* w3r = tw + 2 * q;
    const float* w3i = tw + 3 * q;
    for (int k = 0; k < q; k += L) {
        V ar, ai, br, bi, cr, ci, dr, di;
        if constexpr (Interleaved) {
            Deinterleave(Load<V>(src + 2 * k), Load<V>(src + 2 * k + L), ar, ai);
            Deinterleave(Load<V>(src + 2 * (k + q)), Load<V>(src + 2 * (k + q) + L), br, bi);
            Deinterleave(Load<V>(src + 2 * (k + 2 * q)), Load<V>(src + 2 * (k + 2 * q) + L), cr, ci);
            Deinterleave(Load<V>(src + 2 * (k + 3 * q)), Load<V>(src + 2 * (k + 3 * q) + L), dr, di);
        } else {
            ar = Load<V>(re + k);
            ai = Load<V>(im + k);
            br = Load<V>(re + k + q);
            bi = Load<V>(im + k + q);
            cr = Load<V>(re + k + 2 * q);
            ci = Load<V>(im + k + 2 * q);
            dr = Load<V>(re + k + 3 * q);
            di = Load<V>(im + k + 3 * q);
        }
        Store(re + k, ar + cr);
        Store(im + k, ai + ci);
        Store(re + k + q, br + dr);
        Store(im + k + q, bi + di);
        const V t1r = ar - cr, t1i = ai - ci, t2r = br - dr, t2i = bi - di;
        const V ur = t1r + t2i, ui = t1i - t2r;
        const V vr = t1r - t2i, vi = t1i + t2r;
        const V c1 = Load<V>(w1r + k), s1 = Load<V>(w1i + k);
        const V c3 = Load<V>(w3r + k), s3 = Load<V>(w3i + k);
        Store(re + k + 2 * q, ur * c1 - ui * s1);
        Store(im + k + 2 * q, ur * s1 + ui * c1);
        Store(re + k + 3 * q, vr * c3 - vi * s3);
        Store(im + k + 3 * q, vr * s3 + vi * c3);
    }
}

using SubFn = void (*)(float*, float*, int, int, Tables&);

// Depth-first split radix on the block of n points at offset b of the work area (split form); the
// leaves put the results in natural order into the second half of the work area.
template <typename V, SubFn Self> ZV_FFT_INLINE void SubBody(float* re, float* im, int n, int b, Tables& t)
{
    if (n <= LeafSize) {
        const int M = t.M;
        float* nr = t.work.get() + 2 * M;
        const int at = t.bitReverse[b];
        Leaf(re, im, n, nr + at, nr + M + at, M / n);
        return;
    }
    Stage<V, false>(nullptr, re, im, n, t.stage[__builtin_ctz(unsigned(n))]);
    Self(re, im, n / 2, b, t);
    Self(re + n / 2, im + n / 2, n / 4, b + n / 2, t);
    Self(re + 3 * n / 4, im + 3 * n / 4, n / 4, b + 3 * n / 4, t);
}

template <typename V, SubFn Sub> ZV_FFT_INLINE void Forward(Tables& t, float* data)
{
    constexpr int L = Lanes<V>;
    const int M = t.M;
    float* re = t.work.get();
    float* im = re + M;
    float* nr = im + M;
    float* ni = nr + M;

    // 1-3: the samples as M complex values, split radix; the leaves store in natural order.
    if (M > LeafSize) {
        Stage<V, true>(data, re, im, M, t.stage[__builtin_ctz(unsigned(M))]);
        Sub(re, im, M / 2, 0, t);
        Sub(re + M / 2, im + M / 2, M / 4, M / 2, t);
        Sub(re + 3 * M / 4, im + 3 * M / 4, M / 4, 3 * M / 4, t);
    } else {
        for (int j = 0; j < M; ++j) {
            re[j] = data[2 * j];
            im[j] = data[2 * j + 1];
        }
        Leaf(re, im, M, nr, ni, 1);
    }

    // 4: X[0]; the Nyquist bin is not returned.
    data[0] = nr[0] + ni[0];
    data[1] = 0.0f;

    // 5: untangle the pairs Z[k], Z[M−k] into X[k], X[M−k].
    const float* tc = t.untangleCos.get();
    const float* ts = t.untangleSin.get();
    const int half = M / 2;
    int k = 1;
    for (; k + L <= half; k += L) {
        const int b = M - k - (L - 1);
        const V ar = Load<V>(nr + k), ai = Load<V>(ni + k);
        const V br = Reverse(Load<V>(nr + b)), bi = Reverse(Load<V>(ni + b));
        const V tr = Load<V>(tc + k), ti = Load<V>(ts + k);
        const V d = ar - br, s = ai + bi;
        const V m = d * ti + s * tr;
        const V l = s * ti - tr * d;
        V lo, hi;
        Interleave(br + m, l - bi, lo, hi);
        Store(data + 2 * k, lo);
        Store(data + 2 * k + L, hi);
        Interleave(Reverse(ar - m), Reverse(l - ai), lo, hi);
        Store(data + 2 * b, lo);
        Store(data + 2 * b + L, hi);
    }
    for (; k < half; ++k) {
        const int b = M - k;
        const float ar = nr[k], ai = ni[k], br = nr[b], bi = ni[b];
        const float tr = tc[k], ti = ts[k];
        const float d = ar - br, s = ai + bi;
        const float m = d * ti + s * tr;
        const float l = s * ti - tr * d;
        data[2 * k] = br + m;
        data[2 * k + 1] = l - bi;
        data[2 * b] = ar - m;
        data[2 * b + 1] = l - ai;
    }

    // 6: X[N/4] = conj(Z[M/2]).
    if (M >= 2) {
        data[M] = nr[half];
        data[M + 1] = -ni[half];
    }
}

void SubGeneric(float* re, float* im, int n, int b, Tables& t);
void SubGeneric(float* re, float* im, int n, int b, Tables& t)
{
    SubBody<V4, SubGeneric>(re, im, n, b, t);
}

void ForwardGeneric(Tables& t, float* data)
{
    Forward<V4, SubGeneric>(t, data);
}

#ifdef ZV_FFT_HAVE_AVX2
ZV_FFT_AVX2 void SubAvx2(float* re, float* im, int n, int b, Tables& t);
ZV_FFT_AVX2 void SubAvx2(float* re, float* im, int n, int b, Tables& t)
{
    SubBody<V8, SubAvx2>(re, im, n, b, t);
}

ZV_FFT_AVX2 void ForwardAvx2(Tables& t, float* data)
{
    Forward<V8, SubAvx2>(t, data);
}
#endif

bool HaveAvx2()
{
#ifdef ZV_FFT_HAVE_AVX2
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

Kernel KernelOf(KernelKind kind)
{
#ifdef ZV_FFT_HAVE_AVX2
    if (kind == KernelKind::Avx2) {
        return ForwardAvx2;
    }
#endif
    (void)kind;
    return ForwardGeneric;
}

Kernel ChooseKernel()
{
    return KernelOf(HaveAvx2() ? KernelKind::Avx2 : KernelKind::Baseline);
}

} // namespace

bool KernelAvailable(KernelKind kind)
{
    return kind == KernelKind::Baseline || HaveAvx2();
}

KernelKind CurrentKernel(const TMMFFTPlan& plan)
{
    return plan.Detail && plan.Detail->kernel == KernelOf(KernelKind::Avx2)
            && KernelAvailable(KernelKind::Avx2)
        ? KernelKind::Avx2
        : KernelKind::Baseline;
}

bool SelectKernel(TMMFFTPlan& plan, KernelKind kind)
{
    if (!plan.Detail || !KernelAvailable(kind)) {
        return false;
    }
    plan.Detail->kernel = KernelOf(kind);
    return true;
}

} // namespace zv::fft

using zv::fft::Tables;

float WindowValue(TMMFFTWindow window, int index, int length)
{
    if (length <= 0) {
        return 1.0f;
    }
    constexpr double TwoPi = 6.283185307179586476925286766559;
    const double i = index;
    const double n = length;
    double w = 1.0;
    switch (window) {
    case fwHamming:
        w = 0.54 - 0.46 * std::cos(TwoPi * i / n);
        break;
    case fwHanning:
        w = 0.5 - 0.5 * std::cos(TwoPi * i / n);
        break;
    case fwBlackman:
        w = 0.42 - 0.5 * std::cos(TwoPi * i / n) + 0.08 * std::cos(2.0 * TwoPi * i / n);
        break;
    case fwGaussian:
        w = std::exp(-5.0 * (2.0 * i - n) * (2.0 * i - n) / (n * n));
        break;
    case fwWelch: {
        const double d = (2.0 * i - n) / (n + 1.0);
        w = 1.0 - d * d;
        break;
    }
    case fwParzen: {
        const double d = (2.0 * i - n) / (n + 1.0);
        w = 1.0 - std::fabs(d);
        break;
    }
    default:
        break;
    }
    return static_cast<float>(w);
}

void MakeWindowTable(int32_t* table, TMMFFTWindow window, int order)
{
    if (!table || order < 0 || order > 30) {
        return;
    }
    const int n = 1 << order;
    for (int i = 0; i < n; ++i) {
        const double q = std::floor(double(WindowValue(window, i, n)) * 32767.0 + 0.5);
        table[i] = q >= 32767.0 ? 32767 : q > 0.0 ? static_cast<int32_t>(q) : 0;
    }
}

TMMFFTPlan* CreateFFTPlan(int order)
{
    if (order <= 0 || order >= 31) {
        return nullptr;
    }
    using namespace zv::fft;
    const int N = 1 << order;
    const int M = N / 2;
    constexpr double Pi = 3.141592653589793238462643383280;

    auto t = std::unique_ptr<Tables, TablesDeleter>(new Tables);
    t->M = M;
    t->bitReverse = Allocate<int32_t>(std::size_t(M));
    t->twiddles = Allocate<TMMFFTTwiddle>(std::size_t(N / 8));
    t->splitTwiddles = Allocate<TMMFFTSplitTwiddle>(std::size_t(N / 4));
    t->stageStore = Allocate<float>(std::size_t(2) * std::size_t(M));
    t->untangleCos = Allocate<float>(std::size_t(M / 2 + 1));
    t->untangleSin = Allocate<float>(std::size_t(M / 2 + 1));
    t->work = Allocate<float>(std::size_t(4) * std::size_t(M));

    for (int i = 0; i < M; ++i) {
        int r = 0;
        for (int d = M / 2; d >= 1; d /= 2) {
            r /= 2;
            if (i & d) {
                r += M / 2;
            }
        }
        t->bitReverse[i] = r;
    }

    const double theta = 2.0 * Pi / M;
    for (int k = 1; k <= N / 8; ++k) {
        t->twiddles[k - 1] = { float(std::cos(k * theta)), float(-std::sin(k * theta)),
            float(std::cos(3.0 * k * theta)), float(-std::sin(3.0 * k * theta)) };
    }
    const double phi = 2.0 * Pi / N;
    for (int k = 1; k <= N / 4; ++k) {
        t->splitTwiddles[k - 1] = { float(0.5 * std::cos(k * phi)), float(0.5 - 0.5 * std::sin(k * phi)) };
    }
    for (int k = 1; k < M / 2; ++k) {
        t->untangleCos[k] = t->splitTwiddles[k - 1].Cos;
        t->untangleSin[k] = t->splitTwiddles[k - 1].Sin;
    }

    float* store = t->stageStore.get();
    for (int n = M; n > LeafSize; n /= 2) {
        const int q = n / 4;
        for (int k = 0; k < q; ++k) {
            const double a = 2.0 * Pi * k / n;
            store[k] = float(std::cos(a));
            store[q + k] = float(-std::sin(a));
            store[2 * q + k] = float(std::cos(3.0 * a));
            store[3 * q + k] = float(-std::sin(3.0 * a));
        }
        t->stage[__builtin_ctz(unsigned(n))] = store;
        store += n;
    }

    t->kernel = ChooseKernel();

    auto* plan = new TMMFFTPlan;
    plan->Order = order;
    plan->Size = N;
    plan->InvSize = 1.0f / float(N);
    plan->BitReverse = t->bitReverse.get();
    plan->Twiddles = t->twiddles.get();
    plan->SplitTwiddles = t->splitTwiddles.get();
    plan->Detail = std::move(t);
    return plan;
}

void FreeFFTPlan(TMMFFTPlan*& plan)
{
    delete plan;
    plan = nullptr;
}

void RealFFT(TMMFFTPlan* plan, float* data, int direction)
{
    if (!plan || !data || !plan->Detail) {
        return;
    }
    direction = std::clamp(direction, -1, 1);
    if (direction != 1) {
        return;
    }
    plan->Detail->kernel(*plan->Detail, data);
}
