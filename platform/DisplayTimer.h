#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <thread>

// The shared display timer: one 25 ms tick on its own thread drives the falling peak markers of
// every display. Callbacks run on that thread, under the subscriber lock; they only move counters
// and flags, never draw, and must not subscribe or unsubscribe.

using TMMTimerHandle = std::uint32_t; // 0: none
using TMMTimerCallback = void (*)(TMMTimerHandle handle, void* data);

constexpr int kDisplayTimerTick = 25; // milliseconds

// The subscriber of the first call starts the timer thread, the last one to leave stops it.
// interval is raised to 25 ms; a paused subscriber runs only after TimerResume.
TMMTimerHandle TimerSubscribe(int interval, bool paused, TMMTimerCallback callback, void* data);
void TimerPause(TMMTimerHandle handle);
void TimerResume(TMMTimerHandle handle);
void TimerUnsubscribe(TMMTimerHandle handle);

namespace zv {

class DisplayTimerService {
public:
    DisplayTimerService() = default;
    ~DisplayTimerService();
    DisplayTimerService(const DisplayTimerService&) = delete;
    DisplayTimerService& operator=(const DisplayTimerService&) = delete;

    // The process's service behind the free functions above.
    static DisplayTimerService& Instance();

    TMMTimerHandle Subscribe(int interval, bool paused, TMMTimerCallback callback, void* data);
    void Pause(TMMTimerHandle handle);
    void Resume(TMMTimerHandle handle);
    void Unsubscribe(TMMTimerHandle handle);

    // Manual ticks: no thread runs; Tick() stands for one 25 ms period. Lets tests move peak
    // markers in virtual time. Switching back starts the thread again when there are subscribers.
    void SetManual(bool manual);
    bool Manual() const;
    // One tick: every running subscriber gains 25 ms; the due ones are called.
    void Tick();

    int SubscriberCount() const;
    bool Running() const; // the timer thread is alive

private:
    struct Subscriber {
        TMMTimerHandle handle;
        int interval;
        void* data;
        TMMTimerCallback callback;
        int pauseCount;
        int elapsed;
    };

    void StartThread(std::unique_lock<std::mutex>& lock);
    void StopThread(std::unique_lock<std::mutex>& lock);
    void ThreadMain(std::uint64_t generation);
    Subscriber* Find(TMMTimerHandle handle);

    mutable std::mutex m_lock; // guards everything below; ticks hold it while calling back
    std::list<Subscriber> m_subscribers;
    TMMTimerHandle m_nextHandle = 1;
    bool m_manual = false;
    bool m_inTick = false;

    std::thread m_thread;
    std::condition_variable m_wake;
    std::uint64_t m_generation = 0; // raised by every start and stop of the thread
};

} // namespace zv
