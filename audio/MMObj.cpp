#include "audio/MMObj.h"

#include <climits>
#include <cstring>
#include <new>

int MulDiv(std::int64_t a, std::int64_t b, std::int64_t c)
{
    if (c == 0) {
        return -1;
    }
    // 64-bit product; |a|,|b| < 2^31 in every caller, so it cannot overflow.
    const std::int64_t p = a * b;
    const bool negative = (p < 0) != (c < 0);
    const std::uint64_t up = p < 0 ? std::uint64_t(-p) : std::uint64_t(p);
    const std::uint64_t uc = c < 0 ? std::uint64_t(-c) : std::uint64_t(c);
    const std::uint64_t q = (up + uc / 2) / uc; // halves away from zero
    if (q > std::uint64_t(INT_MAX) + (negative ? 1 : 0)) {
        return -1;
    }
    return negative ? int(-std::int64_t(q)) : int(q);
}

bool IsPCMFormat(const TWaveFormatEx* pwfx)
{
    return pwfx && pwfx->wFormatTag == WAVE_FORMAT_PCM
        && (pwfx->wBitsPerSample == 8 || pwfx->wBitsPerSample == 16)
        && (pwfx->nChannels == 1 || pwfx->nChannels == 2) && pwfx->nSamplesPerSec >= 4000
        && pwfx->nSamplesPerSec <= 100000;
}

void MakePCMFormat(TWaveFormatEx& wfx, int Bits, int Channels, int Rate)
{
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = std::uint16_t(Channels);
    wfx.nSamplesPerSec = std::uint32_t(Rate);
    wfx.wBitsPerSample = std::uint16_t(Bits);
    wfx.nBlockAlign = std::uint16_t(Channels * Bits / 8);
    wfx.nAvgBytesPerSec = std::uint32_t(wfx.nBlockAlign) * std::uint32_t(Rate);
    wfx.cbSize = 0;
}

int WaveFormatSize(const TWaveFormatEx* pwfx)
{
    if (!pwfx) {
        return 0;
    }
    if (pwfx->wFormatTag == WAVE_FORMAT_PCM) {
        return int(sizeof(TWaveFormatEx));
    }
    return int(sizeof(TWaveFormatEx)) + pwfx->cbSize;
}

TWaveFormatPtr CopyWaveFormat(const TWaveFormatEx* pwfx)
{
    const int size = WaveFormatSize(pwfx);
    if (size == 0) {
        return nullptr;
    }
    auto* copy = static_cast<TWaveFormatEx*>(std::calloc(1, std::size_t(size)));
    if (!copy) {
        throw std::bad_alloc();
    }
    std::memcpy(copy, pwfx, std::size_t(size));
    if (copy->wFormatTag == WAVE_FORMAT_PCM) {
        copy->cbSize = 0;
    }
    return TWaveFormatPtr(copy);
}

int BytesToSamples(const TWaveFormatEx* pwfx, int Bytes)
{
    return MulDiv(Bytes, pwfx->nSamplesPerSec, pwfx->nAvgBytesPerSec);
}

int BytesToMs(const TWaveFormatEx* pwfx, int Bytes)
{
    return MulDiv(Bytes, 1000, pwfx->nAvgBytesPerSec);
}

namespace {
int RoundUpToBlock(int bytes, int align)
{
    if (bytes < 0 || align <= 0) {
        return bytes;
    }
    const int rest = bytes % align;
    if (rest == 0) {
        return bytes;
    }
    if (bytes > INT_MAX - (align - rest)) {
        return -1;
    }
    return bytes + (align - rest);
}
} // namespace

int SamplesToBytes(const TWaveFormatEx* pwfx, int Samples)
{
    return RoundUpToBlock(MulDiv(Samples, pwfx->nAvgBytesPerSec, pwfx->nSamplesPerSec), pwfx->nBlockAlign);
}

int MsToBytes(const TWaveFormatEx* pwfx, int Ms)
{
    return RoundUpToBlock(MulDiv(Ms, pwfx->nAvgBytesPerSec, 1000), pwfx->nBlockAlign);
}

namespace {
// Running extremes of one channel; the first occurrence of an extreme wins.
struct Extremes {
    int min, max, minAt = 0, maxAt = 0;
    void Take(int v, int at)
    {
        if (v < min) {
            min = v;
            minAt = at;
        }
        if (v > max) {
            max = v;
            maxAt = at;
        }
    }
    void Pair(std::int16_t& first, std::int16_t& second, int offset) const
    {
        if (maxAt < minAt) {
            first = std::int16_t(max + offset);
            second = std::int16_t(min + offset);
        } else {
            first = std::int16_t(min + offset);
            second = std::int16_t(max + offset);
        }
    }
};
} // namespace

std::array<std::int16_t, 4> PCMMinMax(const TWaveFormatEx* pwfx, const void* Data, int Bytes)
{
    const bool bits16 = pwfx->wBitsPerSample == 16;
    const bool stereo = pwfx->nChannels == 2;
    const int frameBytes = (bits16 ? 2 : 1) * (stereo ? 2 : 1);
    const int frames = Bytes > 0 ? Bytes / frameBytes : 0;
    const int offset = bits16 ? 0 : 128;
    if (frames == 0) {
        const auto silence = std::int16_t(offset);
        return { silence, silence, silence, silence };
    }
    const int limit = bits16 ? 32767 : 127;
    Extremes left { limit, -limit }, right { limit, -limit };
    const auto* p8 = static_cast<const std::uint8_t*>(Data);
    for (int f = 0; f < frames; ++f) {
        int l, r = 0;
        if (bits16) {
            std::int16_t s[2];
            std::memcpy(s, p8 + std::size_t(f) * std::size_t(frameBytes), std::size_t(frameBytes));
            l = s[0];
            r = s[stereo ? 1 : 0];
        } else {
            l = p8[std::size_t(f) * std::size_t(frameBytes)] - 128;
            if (stereo) {
                r = p8[std::size_t(f) * 2 + 1] - 128;
            }
        }
        left.Take(l, f);
        if (stereo) {
            right.Take(r, f);
        }
    }
    std::array<std::int16_t, 4> result {};
    left.Pair(result[0], result[1], offset);
    if (stereo) {
        right.Pair(result[2], result[3], offset);
    } else {
        result[2] = result[0];
        result[3] = result[1];
    }
    return result;
}

// ---- TMMObject -------------------------------------------------------------------------------

void TMMObject::BeginUpdate()
{
    if (FUpdateCount == 0) {
        Changing();
    }
    ++FUpdateCount;
}

void TMMObject::EndUpdate()
{
    // An unbalanced call must not leave the count negative, which would silence OnChange for good.
    if (FUpdateCount == 0) {
        return;
    }
    --FUpdateCount;
    if (FUpdateCount == 0) {
        Changed();
    }
}

void TMMObject::Changed()
{
    if (OnChange && FUpdateCount == 0) {
        OnChange(this);
    }
}

void TMMObject::Changing()
{
    if (OnChanging && FUpdateCount == 0) {
        OnChanging(this);
    }
}

// ---- TMMComponent ----------------------------------------------------------------------------

TMMComponent::TMMComponent(QObject* AOwner)
    : QObject(AOwner)
{
}

void TMMComponent::BeginLoading()
{
    FComponentState |= csLoading;
}

void TMMComponent::EndLoading()
{
    FComponentState &= ~unsigned(csLoading);
    Loaded();
}
