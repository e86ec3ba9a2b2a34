#include "displays/MMLevelDisplay.h"

#include <QWidget>
#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {
int ClampOffset(int value)
{
    // Stored negated; the one value without a negation is kept out.
    return std::max(value, INT_MIN + 1);
}
} // namespace

void TMMLevelDisplay::SetPCMFormat(const TWaveFormatEx* format)
{
    if (!IsPCMFormat(format)) {
        RefuseFormat();
    }
    SetBitLength(static_cast<TMMBits>(format->wBitsPerSample / 8 - 1));
    SetMode(static_cast<TMMMode>(format->nChannels - 1));
}

bool TMMLevelDisplay::Showing() const
{
    return m_control.isEnabled() && m_control.isVisible();
}

bool TMMLevelDisplay::WantsData() const
{
    return Showing();
}

void TMMLevelDisplay::ProcessData(const void* data)
{
    if (!data || !Showing()) {
        return;
    }
    EnsureReady();
    const int raw = zv::BlockPeak(data, m_layout);
    if (raw >= zv::kFullScale && OnPcmOverflow) {
        OnPcmOverflow(&m_control);
    }
    UpdateLevel(raw);
}

std::optional<int> TMMLevelDisplay::TakeLevel(int v, int shown, bool risesOnEqual)
{
    v = std::abs(v);
    m_raw = v;
    if (v == 0 && shown == 0 && !m_peak.redraw) {
        return std::nullopt;
    }
    return m_decay.Apply(v, risesOnEqual);
}

void TMMLevelDisplay::SendGainOverflow()
{
    if (OnGainOverflow) {
        OnGainOverflow(&m_control);
    }
}

void TMMLevelDisplay::SetBitLength(TMMBits bits)
{
    m_layout.bits = bits == b16Bit ? b16Bit : b8Bit;
}

void TMMLevelDisplay::SetChannel(TMMChannel channel)
{
    m_layout.channel = std::clamp(channel, chBoth, chRight);
}

void TMMLevelDisplay::SetMode(TMMMode mode)
{
    m_layout.mode = std::clamp(mode, mMono, mMultiChannel);
}

void TMMLevelDisplay::SetSamples(int value)
{
    m_layout.samples = std::clamp(value, 1, zv::kMaxSamples);
}

void TMMLevelDisplay::SetDecayMode(TMMDecayMode mode)
{
    m_decay.SetMode(std::clamp(mode, dmNone, dmUniform));
}

void TMMLevelDisplay::SetDecay(int value)
{
    m_decay.SetDecay(value);
}

void TMMLevelDisplay::SetDCOffsetL(int value)
{
    m_layout.offsetL = -ClampOffset(value);
}

void TMMLevelDisplay::SetDCOffsetR(int value)
{
    m_layout.offsetR = -ClampOffset(value);
}
