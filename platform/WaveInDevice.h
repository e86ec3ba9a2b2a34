#pragma once

// What both wave-in bindings share: the queue of buffers, the reader thread that fills them from
// a source and returns them, stop and reset, the position, and pacing to real time for sources
// without a clock of their own. A binding supplies the source.

#include "platform/WaveIn.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace zv::detail {

class CaptureDevice {
public:
    CaptureDevice(const TWaveFormatEx& Format, WaveInCallback Callback, void* Instance);
    virtual ~CaptureDevice();
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    // Opens the source, starts the reader thread and reports OpenDone.
    int Begin(int DeviceId);
    // Ends the reader thread, closes the source and reports CloseDone; refused while queued.
    int End();

    int Prepare(TWaveHdr* h);
    int Unprepare(TWaveHdr* h);
    int Add(TWaveHdr* h);
    int Start();
    int Stop();
    int Reset();
    int Position(TMMTime& t);
    int DeviceId() const { return FDeviceId; }

    WaveInHandle Handle() { return reinterpret_cast<WaveInHandle>(this); }
    static CaptureDevice* FromHandle(WaveInHandle h) { return reinterpret_cast<CaptureDevice*>(h); }

protected:
    // Ends the reader thread if it still runs; a binding's destructor calls it before it tears
    // down its source, since the thread calls into the source.
    void JoinReader();

    // All source calls come from the reader thread, except OpenSource (from Begin, before the
    // thread runs) and CloseSource (from End, after it ended).
    virtual int OpenSource() = 0;
    virtual void CloseSource() = 0;
    virtual int StartSource() = 0;
    virtual void StopSource() = 0;
    // Up to Frames frames into Data; waits at most TimeoutMs for some. Frames read, 0 when none
    // came in time (or an overrun was recovered), or a negative error code.
    virtual long ReadSource(char* Data, long Frames, int TimeoutMs) = 0;
    // True when the source has no clock: the device then hands frames out no earlier than a real
    // recording would have them.
    virtual bool Paced() const = 0;

    const TWaveFormatEx FFormat;

private:
    void Run();
    void Notify(WaveInNotification message, std::uintptr_t param);
    // Copies frames into the queued buffers; full ones are moved to FDone. Under FLock.
    void Distribute(const char* data, long frames);
    void FlushDone(std::unique_lock<std::mutex>& lock);
    void Unlink(TWaveHdr* h);

    WaveInCallback FCallback;
    void* FInstance;
    int FDeviceId = -1;
    const int FFrameBytes;
    std::vector<char> FBounce; // reader thread only
    std::vector<TWaveHdr*> FDone; // returned buffers waiting for their notification; under FLock
    std::vector<TWaveHdr*> FNotifying; // reader thread's copy of FDone while it notifies

    std::mutex FLock; // guards everything below
    std::condition_variable FWake;
    TWaveHdr* FHead = nullptr; // queue, chained through lpNext
    TWaveHdr* FTail = nullptr;
    bool FRunning = false;
    bool FQuit = false;
    unsigned FEpoch = 0; // bumped by Start, Stop and Reset: a read across it is dropped
    int FFailure = 0; // the source's error after a failure
    std::uint64_t FCaptured = 0; // frames since the last reset
    std::uint64_t FDropped = 0; // frames that found no queued buffer
    std::thread FThread;
};

} // namespace zv::detail
