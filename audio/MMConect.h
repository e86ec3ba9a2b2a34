#pragma once

// The connector: the chain component at the end of the capture chain that turns captured buffers
// into display updates. The capture thread copies each buffer into a hand-over slot under a short
// lock and wakes the pump; the pump, on the user-interface thread, takes the newest buffers over
// into buffers of its own (a swap under the same short lock) and walks them in steps of each
// family's block size, handing every block to its displays when its moment in the buffer has come.
// No lock is held while a display updates, so a slow display never holds up the capture.

#include "audio/MMDSPObj.h"
#include "platform/Exception.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct TWaveFormatEx;
class IMMDisplay;

ZV_DECLARE_EXCEPTION(EMMConnectorError, Exception);
// No display timer could be had for feeding silence while paused.
ZV_DECLARE_EXCEPTION(EOutOfResources, Exception);

// Told when a display it refers to is destroyed, so that it can forget it.
class IMMDisplayWatcher {
public:
    virtual void DisplayDestroyed(IMMDisplay* display) = 0;

protected:
    ~IMMDisplayWatcher() = default;
};

// What the connector needs of a display: the displays never see the chain. All four run on the
// user-interface thread.
class IMMDisplay {
public:
    IMMDisplay(const IMMDisplay&) = delete;
    IMMDisplay& operator=(const IMMDisplay&) = delete;

    // Takes the delivery format (bits and channels); an unsupported one raises the display's
    // error "Invalid WaveFormat" and leaves its settings as they were.
    virtual void SetPCMFormat(const TWaveFormatEx* format) = 0;
    // Bytes one update consumes.
    virtual int BytesNeeded() const = 0;
    // Consumes BytesNeeded bytes from data and updates the display at once.
    virtual void ProcessData(const void* data) = 0;
    // Clears the display's data state and repaints it.
    virtual void ResetData() = 0;
    // Oscilloscopes only: bytes the read position advances after a block, 0 for the block size.
    virtual int ScrollStep() const { return 0; }
    // Whether the display would show a block now (shown and enabled); a family none of whose
    // displays wants data is skipped until the next buffer.
    virtual bool WantsData() const { return true; }

    void AddWatcher(IMMDisplayWatcher* watcher)
    {
        if (std::find(m_watchers.begin(), m_watchers.end(), watcher) == m_watchers.end()) {
            {
                {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                m_watchers.push_back(watcher);
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    void RemoveWatcher(IMMDisplayWatcher* watcher)
    {
        m_watchers.erase(std::remove(m_watchers.begin(), m_watchers.end(), watcher), m_watchers.end());
    }

protected:
    IMMDisplay() = default;
    virtual ~IMMDisplay()
    {
        const auto watchers = std::move(m_watchers);
        for (IMMDisplayWatcher* watcher : watchers) {
            {
                {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                watcher->DisplayDestroyed(this);
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }

private:
    std::vector<IMMDisplayWatcher*> m_watchers;
};

enum TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

class TMMConnector : public TMMDSPComponent, private IMMDisplayWatcher {
    Q_OBJECT
    Q_PROPERTY(TMMDSPComponent* Input READ GetInput WRITE SetInput)
    Q_PROPERTY(TMMDSPComponent* Output READ GetOutput WRITE SetOutput)
public:
    // The display families, in delivery order.
    enum Family { fLevel, fMeter, fScope, fSpectrum, FamilyCount };

    explicit TMMConnector(QObject* AOwner = nullptr);
    ~TMMConnector() override;

    // ---- chain ----
    void SetWaveFormat(const TWaveFormatEx* Value) override;
    void ChainStart() override;
    void ChainPause() override;
    void ChainRestart() override;
    void ChainStop() override;
    void ChainFlush() override;
    // Capture thread: copies the buffer in (the twin header's when synchronised), then passes it on.
    void DeliverBuffer(PWaveHdr lpWaveHdr) override;
    bool RequestBuffer(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    // Any thread (the capture thread): copies bytes from data into the hand-over slot and wakes
    // the pump; the next pass makes every family with displays due on it. Waits for nothing but
    // another copy or swap of a slot.
    virtual void TakeData(const void* data, int bytes);
    // With AutoTrigger off: one delivery pass now (on the user-interface thread) or soon (posted).
    virtual void Trigger();
    // Hands the delivery format to every display.
    void ConfigureDisplays();
    // The passes, on the user-interface thread. Each takes over the buffers that arrived, then
    // updates the displays with no lock held. A pass asked for from inside a display's update does
    // nothing (the pass under way goes on); a display that stops, disables or destroys the
    // connector from its update ends the pass after that update.
    // One delivery pass: at most one block per due family whose moment has come.
    void Deliver();
    // Every block whose moment has come, family by family in buffer order; returns how many
    // deliveries it made (a block handed to a family's displays counts once). The pump's pass.
    int DeliverDue();

    // ---- properties ----
    bool Enabled() const { return m_enabled.load(); }
    void SetEnabled(bool value);
    bool AutoConvert() const { return m_autoConvert; }
    void SetAutoConvert(bool value) { m_autoConvert = value; }
    bool AutoTrigger() const { return m_autoTrigger.load(); }
    void SetAutoTrigger(bool value);
    bool Synchronize() const { return m_synchronize; }
    void SetSynchronize(bool value) { m_synchronize = value; }
    int Speed() const { return m_speed; }
    void SetSpeed(int value); // 1 ... 5000
    TMMTriggerMode TriggerMode() const { return m_triggerMode; }
    void SetTriggerMode(TMMTriggerMode value) { m_triggerMode = value; }
    int TriggerLevel() const { return m_triggerLevel; }
    void SetTriggerLevel(int percent) { m_triggerLevel = percent; }
    bool RefreshOnStop() const { return m_refreshOnStop; }
    void SetRefreshOnStop(bool value) { m_refreshOnStop = value; }
    bool RealTime() const { return m_realTime; }
    // Refused with "Change to property while device was open" while the chain is open.
    void SetRealTime(bool value);
    // Shared by every connector of the process.
    static bool EnterIdle();
    static void SetEnterIdle(bool value);

    // Display references. A slot refuses the display its twin slot holds; a destroyed display is
    // forgotten.
    IMMDisplay* Level1() const { return m_slots[kLevel1]; }
    void SetLevel1(IMMDisplay* display) { SetSlot(kLevel1, display); }
    IMMDisplay* Level2() const { return m_slots[kLevel2]; }
    void SetLevel2(IMMDisplay* display) { SetSlot(kLevel2, display); }
    IMMDisplay* Meter1() const { return m_slots[kMeter1]; }
    void SetMeter1(IMMDisplay* display) { SetSlot(kMeter1, display); }
    IMMDisplay* Meter2() const { return m_slots[kMeter2]; }
    void SetMeter2(IMMDisplay* display) { SetSlot(kMeter2, display); }
    IMMDisplay* Oscope1() const { return m_slots[kOscope1]; }
    void SetOscope1(IMMDisplay* display) { SetSlot(kOscope1, display); }
    IMMDisplay* Oscope2() const { return m_slots[kOscope2]; }
    void SetOscope2(IMMDisplay* display) { SetSlot(kOscope2, display); }
    IMMDisplay* Spectrum(int index) const; // 1 ... 4
    void SetSpectrum(int index, IMMDisplay* display);
    IMMDisplay* Spectrum1() const { return Spectrum(1); }
    void SetSpectrum1(IMMDisplay* display) { SetSpectrum(1, display); }

    TNotifyEvent OnTrigger; // after every delivery pass

    // ---- state, for tests and the curious; user-interface thread ----
    // The delivery state as the next pass sees it: buffers that arrived are taken over first.
    bool IsStarted() const { return m_started; }
    bool IsRunning() const { return m_running; }
    bool InPump() const { return m_inPump; }
    bool IsPausedDelivery() const { return m_paused; }
    int ValidBytes();
    int Position(Family family);
    bool Due(Family family);
    int Delivered(Family family) const { return m_delivered[static_cast<std::size_t>(family)]; }
    std::uint8_t SilenceByte() const { return m_silence; }
    // When the pump next wakes for this connector after a pass at now (microseconds of Now()): at
    // the start of the first display refresh (a multiple of kBatchInterval) after now and not
    // before the next block's moment; while everything went out, at the next refresh as long as
    // buffers keep coming and being shown; else INT64_MAX (the next buffer wakes it).
    std::int64_t NextBatch(std::int64_t now);
    // When the earliest due block falls due (microseconds of Now()), or INT64_MAX.
    std::int64_t NextDue();

    // Byte offset of the first crossing of the trigger level in the given direction, or -1.
    static int FindTrigger(
        const TWaveFormatEx* format, const void* data, int bytes, int levelPercent, TMMTriggerMode mode);

    // The pump's beat in microseconds: one display refresh, as the displays copy to the screen no
    // more often anyway (and at the same moments).
    static constexpr std::int64_t kBatchInterval = 16'000;

    // The microsecond clock; tests put their own in (null: the steady clock).
    using Clock = std::int64_t (*)();
    static void SetClock(Clock clock);
    static std::int64_t Now();
    // Connectors the pump currently drives.
    static int RunningAutoConnectors();

private:
    friend class TMMConnectorWindow;
    enum Slot {
        kLevel1,
        kLevel2,
        kMeter1,
        kMeter2,
        kOscope1,
        kOscope2,
        kSpectrum1,
        kSpectrum2,
        kSpectrum3,
        kSpectrum4,
        SlotCount
    };

    struct TPass;

    void DisplayDestroyed(IMMDisplay* display) override;
    void SetSlot(int slot, IMMDisplay* display);
    bool FamilyHasDisplays(int family) const;
    static int FamilyOf(int slot);
    // Starts or restarts the pump for this connector (the start message).
    void PostStart();
    void HandleStart();
    void HandleTrigger();
    void LeavePump();
    void ResetDisplays();
    void FillSilence();
    void StopPauseTimer();
    static void PauseTick(std::uint32_t handle, void* data);
    bool OnPumpThread() const;
    // Takes the buffers that arrived (and the pause timer's silence) over from the hand-over slots
    // into the delivery state; not while a pass is under way, whose displays read the buffers.
    void TakeIn();
    // One pass: at most one block per due family (Deliver), or every block due (DeliverDue).
    int Pass(bool batch);
    // The block size of a family (its displays' largest BytesNeeded) and whether any of its
    // displays wants data.
    int FamilyBlock(int family, bool& wanted, IMMDisplay*& first) const;
    // Hands the family's next block to its displays when its moment has come (now in
    // microseconds of Now()); false when it waits, the family has run out, or the pass ended.
    bool DeliverBlock(int family, std::int64_t now, bool batch, const TPass& pass);

    // ---- properties: set on the user-interface thread; the atomic ones are also read by the
    // capture thread (under m_handOver) ----
    std::atomic<bool> m_enabled { true };
    bool m_autoConvert = true;
    std::atomic<bool> m_autoTrigger { true };
    bool m_synchronize = true;
    int m_speed = 5000;
    TMMTriggerMode m_triggerMode = tmNone;
    int m_triggerLevel = 0;
    bool m_refreshOnStop = true;
    bool m_realTime = true;
    std::array<IMMDisplay*, SlotCount> m_slots {}; // user-interface thread only
    const std::uint64_t m_serial; // names this connector in posted messages

    // ---- hand-over: written by the capture thread (TakeData) and the display timer thread
    // (PauseTick, while paused), taken over by the user-interface thread (TakeIn), all under
    // m_handOver. Every holder only copies one buffer, swaps buffers or sets a few fields, so
    // nobody waits longer than that. The user-interface thread sets m_started, m_enabled and
    // m_paused under it where the intake must follow at once (start, stop, disable, pause).
    mutable std::mutex m_handOver;
    // [0] the newest buffer, [1] the one before it; all buffers have the delivery size.
    std::array<std::vector<std::uint8_t>, 2> m_arrived;
    std::array<int, 2> m_arrivedValid {};
    std::array<std::int64_t, 2> m_arrivedAt {};
    int m_arrivals = 0; // buffers since the last take-over; 2 stands for two or more
    bool m_silenceDue = false; // the pause timer asked for the silence again
    std::int64_t m_silenceAt = 0;

    // ---- delivery state: user-interface thread only; a pass reads it with no lock ----
    std::vector<std::uint8_t> m_intake; // the current buffer
    int m_valid = 0;
    TWaveFormatPtr m_format; // delivery format; fixed while started
    std::uint8_t m_silence = 0;
    std::array<int, FamilyCount> m_position {};
    std::array<bool, FamilyCount> m_due {};
    std::array<int, FamilyCount> m_delivered {};
    std::int64_t m_arrival = 0;
    // The buffer before the current one, kept for families that had not finished it when the
    // current one came (they read it first).
    std::vector<std::uint8_t> m_previous;
    int m_previousValid = 0;
    std::int64_t m_previousArrival = 0;
    std::array<bool, FamilyCount> m_onPrevious {};
    std::int64_t m_lastDelivery = 0; // when a block last went to a display
    TPass* m_pass = nullptr; // the pass under way, if any
    // Counts the changes that end a pass under way (start, stop, disable): its buffers or its
    // displays' format may have gone.
    std::uint64_t m_epoch = 0;

    // Written on the user-interface thread, read by the capture and timer threads.
    std::atomic<bool> m_started { false };
    std::atomic<bool> m_paused { false };
    std::atomic<bool> m_inputIsPCM { false };
    bool m_running = false; // taken on by the pump (user-interface thread)
    bool m_inPump = false; // counted among the pump's running connectors (user-interface thread)
    std::atomic<int> m_triggerRequests { 0 };
    std::uint32_t m_pauseTimer = 0;
};
