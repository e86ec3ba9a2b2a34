#pragma once

#include "audio/MMConect.h"
#include "audio/MMObj.h"
#include "displays/MMLevelMath.h"

#include <optional>

class QWidget;

// The measuring half shared by the level bar and the needle meter: the delivery format, the
// sample layout, a block's peak, the decay and the overflow events. The two draw differently and
// sit on different control bases, so this half is a base of its own beside the control.
class TMMLevelDisplay : public IMMDisplay {
public:
    // ---- data side (user-interface thread) ----
    // PCM only: 8 or 16 bits, 1 or 2 channels, 4000 ... 100000 Hz; else the display's
    // "Invalid WaveFormat" error.
    void SetPCMFormat(const TWaveFormatEx* format) override;
    int BytesNeeded() const override { return m_layout.BytesNeeded(); }
    void ProcessData(const void* data) override;
    // Data is shown only while the control is shown and enabled.
    bool WantsData() const override;

    // ---- settings; out-of-range values are clamped ----
    TMMBits BitLength() const { return m_layout.bits; }
    void SetBitLength(TMMBits bits);
    TMMChannel Channel() const { return m_layout.channel; }
    void SetChannel(TMMChannel channel);
    TMMMode Mode() const { return m_layout.mode; }
    void SetMode(TMMMode mode);
    int Samples() const { return m_layout.samples; }
    void SetSamples(int value);
    TMMDecayMode DecayMode() const { return m_decay.Mode(); }
    void SetDecayMode(TMMDecayMode mode);
    int Decay() const { return m_decay.Decay(); }
    void SetDecay(int value);
    int DCOffsetL() const { return -m_layout.offsetL; }
    void SetDCOffsetL(int value);
    int DCOffsetR() const { return -m_layout.offsetR; }
    void SetDCOffsetR(int value);

    TNotifyEvent OnGainOverflow; // the level after gain lies above 0 dB
    TNotifyEvent OnPcmOverflow; // a block reached full scale

    int Peak() const { return m_peak.peak; }
    int RawLevel() const { return m_raw; }

protected:
    // control is the widget this display is part of: its enabled and visible state gate the data.
    explicit TMMLevelDisplay(QWidget& control)
        : m_control(control)
    {
    }

    // Whether the control is enabled and visible, so that a block is measured and drawn.
    bool Showing() const;
    // The start of every block's update: keeps the raw level and returns it decayed; nothing when
    // silence meets a display that already rests at zero with no marker to redraw.
    std::optional<int> TakeLevel(int v, int shown, bool risesOnEqual);
    void SendGainOverflow();

    zv::SampleLayout m_layout;
    zv::LevelDecay m_decay;
    int m_raw = 0;
    // Written by the display timer thread (fall) and the user-interface thread (rise, reset).
    zv::PeakMarker m_peak;

private:
    // Brings the control's layout up to date before a block is measured.
    virtual void EnsureReady() = 0;
    virtual void UpdateLevel(int v) = 0;
    // Raises the display's own error for a format it does not take.
    [[noreturn]] virtual void RefuseFormat() const = 0;

    QWidget& m_control;
};
