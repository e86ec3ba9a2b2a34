#pragma once

// Vocabulary of the multimedia classes: the wave format record and its unit conversions, the
// buffer header, the data-format enumerations, device ids, handler types and the base objects.

#include "platform/WaveTypes.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

class TMMObject;

// ---- handler types ---------------------------------------------------------------------------

// A notification handler; the first argument is the sender.
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMMNotifyEvent = std::function<void(TMMObject* Sender)>;

// ---- data-format enumerations ----------------------------------------------------------------

enum TMMBits { b8Bit, b16Bit };
enum TMMMode { mMono, mStereo, mMultiChannel };
// The displays' channel choice; the mixer's item accessors take it as channel 0, 1, 2.
enum TMMChannel { chBoth, chLeft, chRight };

// ---- device ids ------------------------------------------------------------------------------

using TMMDeviceId = int;
inline constexpr TMMDeviceId MapperId = -1; // the system's own choice of device
inline constexpr TMMDeviceId InvalidId = -2;

// ---- wave format record ----------------------------------------------------------------------

namespace zv {
struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
} // namespace zv

// An owned copy of a format record (18 bytes plus its extra bytes), freed with free().
using TWaveFormatPtr = std::unique_ptr<TWaveFormatEx, zv::FreeDeleter>;

// a * b / c with a 64-bit product, rounded to the nearest integer with halves away from zero;
// -1 when c is 0 or the result does not fit into 32 bits.
int MulDiv(std::int64_t a, std::int64_t b, std::int64_t c);

bool IsPCMFormat(const TWaveFormatEx* pwfx);
void MakePCMFormat(TWaveFormatEx& wfx, int Bits, int Channels, int Rate);
int WaveFormatSize(const TWaveFormatEx* pwfx);
// None for none or a record of size 0; throws std::bad_alloc when memory runs out.
TWaveFormatPtr CopyWaveFormat(const TWaveFormatEx* pwfx);

// Unit conversions of a held format (non-zero rates and block size). -1 on overflow.
int BytesToSamples(const TWaveFormatEx* pwfx, int Bytes);
int BytesToMs(const TWaveFormatEx* pwfx, int Bytes);
int SamplesToBytes(const TWaveFormatEx* pwfx, int Samples); // rounded up to whole frames
int MsToBytes(const TWaveFormatEx* pwfx, int Ms); // rounded up to whole frames

// Smallest and largest sample of each channel of a PCM block, each pair in the order in which
// the two occur: {left first, left second, right first, right second}. 8-bit values are given in
// the unsigned sample range. Mono data gives its pair for both channels.
std::array<std::int16_t, 4> PCMMinMax(const TWaveFormatEx* pwfx, const void* Data, int Bytes);

// ---- buffer header ---------------------------------------------------------------------------

// The service's header followed by the extension; the data bytes follow the header in the same
// block, so lpData is always the header's address + WaveHeaderSize.
struct WaveHeader : TWaveHdr {
    std::uint8_t Extension1[8];
    WaveHeader* SyncHeader; // another header whose data matches this one in time, or null
    std::uint8_t Extension2[16];
};
using PWaveHdr = WaveHeader*;
inline constexpr int WaveHeaderSize = int(sizeof(WaveHeader));
static_assert(WaveHeaderSize % 16 == 0, "the data after the header stays aligned for any sample type");

// ---- base objects ----------------------------------------------------------------------------

// Base with update counting: OnChanging before the first of nested updates, OnChange after the last.
class TMMObject {
public:
    virtual ~TMMObject() = default;

    void BeginUpdate();
    void EndUpdate();
    virtual void Changed();
    virtual void Changing();
    int UpdateCount() const { return FUpdateCount; }

    TMMNotifyEvent OnChanging;
    TMMNotifyEvent OnChange;

protected:
    int FUpdateCount = 0;
};

// Base of every non-visual multimedia class: an owned Qt object whose properties can be found by
// name through its meta-object, with the component's life-cycle state.
class TMMComponent : public QObject {
    Q_OBJECT
public:
    enum StateFlag : unsigned {
        csLoading = 0x1, // stored properties are being restored
        csReading = 0x2,
        csDestroying = 0x4, // the destructor runs: no handlers fire any more
        csDesigning = 0x8,
    };

    explicit TMMComponent(QObject* AOwner = nullptr);

    unsigned ComponentState() const { return FComponentState; }
    bool InState(unsigned Flags) const { return (FComponentState & Flags) != 0; }

    // Brackets the restoring of stored properties; EndLoading runs Loaded.
    void BeginLoading();
    void EndLoading();

protected:
    virtual void Loaded() { }
    // The most derived destructor marks the component first, so that inherited tear-down
    // neither fires handlers nor passes formats on.
    void MarkDestroying() { FComponentState |= csDestroying; }

    unsigned FComponentState = 0;
};

class TMMNonVisualComponent : public TMMComponent {
    Q_OBJECT
public:
    using TMMComponent::TMMComponent;
};
