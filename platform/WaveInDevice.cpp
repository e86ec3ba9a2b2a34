#include "platform/WaveInDevice.h"

#include "platform/WaveInErrors.h"

#include <algorithm>
#include <cstring>

namespace zv::detail {

namespace {
// One read: a paced buffer larger than this takes one wait per share of it, so it holds the buffers
// the program asks for (the encoder's are half a second: 24000 frames at 48000 Hz).
constexpr long kBounceFrames = 32768;
constexpr int kReadTimeoutMs = 100; // bounds how long the reader takes to notice a stop or quit
// A paced source that fell this far behind (empty ring, starved thread) drops the lost time
// instead of catching up in a burst, as a real card would have lost it.
constexpr std::chrono::milliseconds kMaxLateness { 100 };
constexpr std::size_t kReturnReserve = 512; // more than the largest ring the wave-in builds

using Clock = std::chrono::steady_clock;

Clock::duration FramesToDuration(std::uint64_t frames, std::uint32_t rate)
{
    if (rate == 0) {
        return Clock::duration::zero();
    }
    // Split so that days of frames never overflow the nanosecond product.
    const std::uint64_t seconds = frames / rate;
    const std::uint64_t rest = frames % rate;
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(seconds) + std::chrono::nanoseconds(rest * 1'000'000'000ULL / rate));
}
} // namespace

CaptureDevice::CaptureDevice(const TWaveFormatEx& Format, WaveInCallback Callback, void* Instance)
    : FFormat(Format)
    , FCallback(Callback)
    , FInstance(Instance)
    , FFrameBytes(std::max<int>(1, Format.nBlockAlign))
{
}

CaptureDevice::~CaptureDevice()
{
    JoinReader();
}

void CaptureDevice::JoinReader()
{
    if (FThread.joinable()) {
        {
            std::lock_guard guard(FLock);
            FQuit = true;
        }
        FWake.notify_all();
        FThread.join();
    }
}

int CaptureDevice::Begin(int DeviceId)
{
    FDeviceId = DeviceId;
    if (const int e = OpenSource()) {
        return e;
    }
    try {
        FBounce.resize(std::size_t(kBounceFrames) * std::size_t(FFrameBytes));
        FDone.reserve(kReturnReserve);
        FNotifying.reserve(kReturnReserve);
        FThread = std::thread(&CaptureDevice::Run, this);
    } catch (...) {
        CloseSource();
        return wave::NoMem;
    }
    Notify(WaveInNotification::OpenDone, 0);
    return wave::NoError;
}

int CaptureDevice::End()
{
    {
        std::lock_guard guard(FLock);
        if (FHead) {
            return wave::StillRecording;
        }
        FQuit = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) {
        FThread.join();
    }
    CloseSource();
    Notify(WaveInNotification::CloseDone, 0);
    return wave::NoError;
}

int CaptureDevice::Prepare(TWaveHdr* h)
{
    if (!h || !h->lpData) {
        return wave::InvalidParam;
    }
    std::lock_guard guard(FLock);
    h->dwFlags |= WHDR_PREPARED;
    return wave::NoError;
}

int CaptureDevice::Unprepare(TWaveHdr* h)
{
    if (!h) {
        return wave::InvalidParam;
    }
    std::lock_guard guard(FLock);
    if (h->reserved) {
        return wave::StillRecording;
    }
    h->dwFlags &= ~WHDR_PREPARED;
    return wave::NoError;
}

int CaptureDevice::Add(TWaveHdr* h)
{
    if (!h) {
        return wave::InvalidParam;
    }
    bool wake;
    {
        std::lock_guard guard(FLock);
        if (!(h->dwFlags & WHDR_PREPARED)) {
            return wave::Unprepared;
        }
        if (h->reserved) { // already queued: a buffer is never in the ring twice
            return wave::StillRecording;
        }
        h->dwFlags &= ~WHDR_DONE;
        h->dwBytesRecorded = 0;
        h->lpNext = nullptr;
        h->reserved = 1;
        wake = FHead == nullptr;
        if (FTail) {
            FTail->lpNext = h;
        } else {
            FHead = h;
        }
        FTail = h;
    }
    if (wake) {
        FWake.notify_all();
    }
    return wave::NoError;
}

void CaptureDevice::Unlink(TWaveHdr* h)
{
    // Only the head is ever unlinked.
    FHead = h->lpNext;
    if (!FHead) {
        FTail = nullptr;
    }
    h->lpNext = nullptr;
    h->reserved = 0;
    h->dwFlags |= WHDR_DONE;
}

int CaptureDevice::Start()
{
    {
        std::lock_guard guard(FLock);
        if (FFailure) {
            return FFailure;
        }
        FRunning = true;
        ++FEpoch;
    }
    FWake.notify_all();
    return wave::NoError;
}

int CaptureDevice::Stop()
{
    TWaveHdr* partial = nullptr;
    {
        std::lock_guard guard(FLock);
        FRunning = false;
        ++FEpoch;
        if (FHead && FHead->dwBytesRecorded > 0) {
            partial = FHead;
            Unlink(partial);
        }
    }
    FWake.notify_all();
    if (partial) {
        Notify(WaveInNotification::Data, reinterpret_cast<std::uintptr_t>(partial));
    }
    return wave::NoError;
}

int CaptureDevice::Reset()
{
    std::vector<TWaveHdr*> returned;
    {
        std::lock_guard guard(FLock);
        FRunning = false;
        ++FEpoch;
        FCaptured = 0;
        while (FHead) {
            TWaveHdr* h = FHead;
            Unlink(h);
            returned.push_back(h);
        }
    }
    FWake.notify_all();
    for (TWaveHdr* h : returned) {
        Notify(WaveInNotification::Data, reinterpret_cast<std::uintptr_t>(h));
    }
    return wave::NoError;
}

int CaptureDevice::Position(TMMTime& t)
{
    std::lock_guard guard(FLock);
    t.wType = TMMTime::Samples;
    t.value = std::uint32_t(FCaptured);
    return wave::NoError;
}

void CaptureDevice::Notify(WaveInNotification message, std::uintptr_t param)
{
    if (FCallback) {
        FCallback(Handle(), message, FInstance, param, 0);
    }
}

void CaptureDevice::Distribute(const char* data, long frames)
{
    long offset = 0;
    while (offset < frames && FHead) {
        TWaveHdr* h = FHead;
        const long capacity = long(h->dwBufferLength) / FFrameBytes;
        const long have = long(h->dwBytesRecorded) / FFrameBytes;
        const long take = std::min(capacity - have, frames - offset);
        if (take > 0) {
            std::memcpy(
                h->lpData + h->dwBytesRecorded, data + offset * FFrameBytes, std::size_t(take * FFrameBytes));
            h->dwBytesRecorded += std::uint32_t(take * FFrameBytes);
            offset += take;
        }
        if (have + std::max(take, 0L) >= capacity) {
            Unlink(h);
            FDone.push_back(h);
        }
    }
    FDropped += std::uint64_t(frames - offset);
}

void CaptureDevice::FlushDone(std::unique_lock<std::mutex>& lock)
{
    if (FDone.empty()) {
        return;
    }
    FDone.swap(FNotifying); // swaps storage: no allocation
    lock.unlock();
    for (TWaveHdr* h : FNotifying) {
        Notify(WaveInNotification::Data, reinterpret_cast<std::uintptr_t>(h));
    }
    FNotifying.clear();
    lock.lock();
}

void CaptureDevice::Run()
{
    std::unique_lock lock(FLock);
    bool sourceRunning = false;
    unsigned sourceEpoch = 0;
    Clock::time_point anchor {};
    const std::uint32_t rate = FFormat.nSamplesPerSec;

    auto fail = [&](int code) {
        FFailure = code;
        FRunning = false;
        ++FEpoch;
        lock.unlock();
        Notify(WaveInNotification::Failed, std::uintptr_t(std::intptr_t(code)));
        lock.lock();
    };

    while (!FQuit) {
        if (!FRunning) {
            if (sourceRunning) {
                lock.unlock();
                StopSource();
                lock.lock();
                sourceRunning = false;
                continue;
            }
            FWake.wait(lock);
            continue;
        }
        if (!sourceRunning || sourceEpoch != FEpoch) {
            const unsigned epoch = FEpoch;
            lock.unlock();
            if (sourceRunning) {
                StopSource();
            }
            const int e = StartSource();
            lock.lock();
            sourceRunning = e == 0;
            if (e) {
                fail(e);
                continue;
            }
            sourceEpoch = epoch;
            anchor = Clock::now() - FramesToDuration(FCaptured, rate);
            continue;
        }
        if (!FHead) {
            FWake.wait(lock);
            continue;
        }
        // Never more than the queued buffers can take: what does not fit stays with the source
        // (where a clocked device overruns and recovers) instead of being dropped here.
        long chunk = 0;
        for (TWaveHdr* h = FHead; h && chunk < kBounceFrames; h = h->lpNext) {
            chunk += long(h->dwBufferLength - h->dwBytesRecorded) / FFrameBytes;
        }
        chunk = std::clamp(chunk, 1L, kBounceFrames);
        if (Paced()) {
            // Hand out each buffer when a real recording would have filled it.
            const long capacity = long(FHead->dwBufferLength) / FFrameBytes;
            const long room = capacity - long(FHead->dwBytesRecorded) / FFrameBytes;
            chunk = std::clamp(room, 1L, kBounceFrames);
            auto due = anchor + FramesToDuration(FCaptured + std::uint64_t(chunk), rate);
            const auto now = Clock::now();
            if (due < now - kMaxLateness) {
                anchor = now - FramesToDuration(FCaptured + std::uint64_t(chunk), rate);
                due = now;
            }
            if (now < due) {
                FWake.wait_until(lock, due);
                continue;
            }
        }
        const unsigned epoch = FEpoch;
        lock.unlock();
        const long n = ReadSource(FBounce.data(), chunk, kReadTimeoutMs);
        lock.lock();
        if (epoch != FEpoch || !FRunning) {
            continue; // stopped or restarted meanwhile: these frames belong to no run
        }
        if (n < 0) {
            fail(int(n));
            continue;
        }
        if (n == 0) {
            continue;
        }
        FCaptured += std::uint64_t(n);
        Distribute(FBounce.data(), n);
        FlushDone(lock);
    }
    if (sourceRunning) {
        lock.unlock();
        StopSource();
        lock.lock();
    }
}

} // namespace zv::detail
