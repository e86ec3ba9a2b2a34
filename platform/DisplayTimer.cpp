#include "platform/DisplayTimer.h"

#include <algorithm>
#include <chrono>
#include <system_error>

TMMTimerHandle TimerSubscribe(int interval, bool paused, TMMTimerCallback callback, void* data)
{
    return zv::DisplayTimerService::Instance().Subscribe(interval, paused, callback, data);
}

void TimerPause(TMMTimerHandle handle)
{
    zv::DisplayTimerService::Instance().Pause(handle);
}

void TimerResume(TMMTimerHandle handle)
{
    zv::DisplayTimerService::Instance().Resume(handle);
}

void TimerUnsubscribe(TMMTimerHandle handle)
{
    zv::DisplayTimerService::Instance().Unsubscribe(handle);
}

namespace zv {

DisplayTimerService& DisplayTimerService::Instance()
{
    static DisplayTimerService service;
    return service;
}

DisplayTimerService::~DisplayTimerService()
{
    std::unique_lock lock(m_lock);
    StopThread(lock);
}

DisplayTimerService::Subscriber* DisplayTimerService::Find(TMMTimerHandle handle)
{
    if (handle == 0) {
        return nullptr;
    }
    for (auto& s : m_subscribers) {
        if (s.handle == handle) {
            return &s;
        }
    }
    return nullptr;
}

TMMTimerHandle DisplayTimerService::Subscribe(
    int interval, bool paused, TMMTimerCallback callback, void* data)
{
    if (!callback) {
        return 0;
    }
    std::unique_lock lock(m_lock);
    if (m_subscribers.empty() && !m_manual) {
        try {
            StartThread(lock);
        } catch (const std::system_error&) {
            return 0;
        }
    }
    TMMTimerHandle handle = m_nextHandle++;
    if (m_nextHandle == 0) {
        m_nextHandle = 1;
    }
    m_subscribers.push_back(
        Subscriber { handle, std::max(interval, kDisplayTimerTick), data, callback, paused ? 1 : 0, 0 });
    return handle;
}

void DisplayTimerService::Pause(TMMTimerHandle handle)
{
    std::lock_guard lock(m_lock);
    if (Subscriber* s = Find(handle)) {
        ++s->pauseCount;
        s->elapsed = 0;
    }
}

void DisplayTimerService::Resume(TMMTimerHandle handle)
{
    std::lock_guard lock(m_lock);
    if (Subscriber* s = Find(handle); s && s->pauseCount > 0) {
        --s->pauseCount;
    }
}

void DisplayTimerService::Unsubscribe(TMMTimerHandle handle)
{
    std::unique_lock lock(m_lock);
    const auto it = std::find_if(
        m_subscribers.begin(), m_subscribers.end(), [&](const Subscriber& s) { return s.handle == handle; });
    if (it == m_subscribers.end()) {
        return;
    }
    m_subscribers.erase(it);
    if (m_subscribers.empty()) {
        StopThread(lock);
    }
}

void DisplayTimerService::SetManual(bool manual)
{
    std::unique_lock lock(m_lock);
    if (manual == m_manual) {
        return;
    }
    m_manual = manual;
    if (manual) {
        StopThread(lock);
    } else if (!m_subscribers.empty()) {
        StartThread(lock);
    }
}

bool DisplayTimerService::Manual() const
{
    std::lock_guard lock(m_lock);
    return m_manual;
}

int DisplayTimerService::SubscriberCount() const
{
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_subscribers.size());
}

bool DisplayTimerService::Running() const
{
    std::lock_guard lock(m_lock);
    return m_thread.joinable();
}

void DisplayTimerService::Tick()
{
    std::lock_guard lock(m_lock);
    if (m_inTick) {
        return;
    }
    m_inTick = true;
    for (auto& s : m_subscribers) {
        if (s.pauseCount != 0) {
            continue;
        }
        s.elapsed += kDisplayTimerTick;
        if (s.elapsed >= s.interval) {
            s.elapsed = 0;
            s.callback(s.handle, s.data);
        }
    }
    m_inTick = false;
}

void DisplayTimerService::StartThread(std::unique_lock<std::mutex>& lock)
{
    (void)lock;
    if (m_thread.joinable()) {
        return;
    }
    m_thread = std::thread(&DisplayTimerService::ThreadMain, this, ++m_generation);
}

void DisplayTimerService::StopThread(std::unique_lock<std::mutex>& lock)
{
    if (!m_thread.joinable()) {
        return;
    }
    ++m_generation;
    m_wake.notify_all();
    std::thread thread = std::move(m_thread);
    lock.unlock();
    if (thread.get_id() != std::this_thread::get_id()) {
        thread.join();
    } else {
        thread.detach();
    }
    lock.lock();
}

void DisplayTimerService::ThreadMain(std::uint64_t generation)
{
    using Clock = std::chrono::steady_clock;
    constexpr auto period = std::chrono::milliseconds(kDisplayTimerTick);
    std::unique_lock lock(m_lock);
    auto next = Clock::now() + period;
    // A newer generation means this thread was told to stop, even if another one started since.
    const auto stopped = [&] { return m_generation != generation; };
    for (;;) {
        if (m_wake.wait_until(lock, next, stopped)) {
            break;
        }
        lock.unlock();
        Tick();
        lock.lock();
        if (stopped()) {
            break;
        }
        // A late tick is not made up for: ticks that fell due meanwhile are skipped.
        next += period;
        const auto now = Clock::now();
        if (next <= now) {
            next = now + period;
        }
    }
}

} // namespace zv
