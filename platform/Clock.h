#pragma once

// Timers on an injectable clock, so that behaviour over seconds and minutes is tested in virtual time.
//
// A timer fires its handler every Interval() milliseconds while enabled. Enabling a disabled timer
// starts a new period; enabling an enabled one changes nothing (its running period is kept); changing
// the interval of an enabled timer starts a new period. Handlers run on the thread that drives the
// clock: the user-interface thread for QtClock, the test's thread for VirtualClock. A handler may
// change any timer of the clock, itself included. Timers must not outlive their clock.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zv {

class ITimer {
public:
    virtual ~ITimer() = default;

    virtual void SetInterval(int milliseconds) = 0;
    virtual int Interval() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetOnTimer(std::function<void()> handler) = 0;
};

class IClock {
public:
    virtual ~IClock() = default;

    // A new timer, disabled, interval 1000 ms, no handler.
    virtual std::unique_ptr<ITimer> CreateTimer() = 0;
    // Milliseconds on this clock's monotonic time line.
    virtual std::int64_t NowMs() const = 0;
};

// Real time over the Qt event loop (QTimer); needs a running Qt event loop on the creating thread.
class QtClock final : public IClock {
public:
    std::unique_ptr<ITimer> CreateTimer() override;
    std::int64_t NowMs() const override;
};

// Virtual time: nothing fires until Advance moves the time on.
class VirtualClock final : public IClock {
public:
    VirtualClock() = default;
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;
    ~VirtualClock() override;

    std::unique_ptr<ITimer> CreateTimer() override;
    std::int64_t NowMs() const override { return now_; }

    // Moves the time on by milliseconds, firing every due timer in time order (timers due at the same
    // moment fire in the order their periods began).
    void Advance(std::int64_t milliseconds);

private:
    class Timer;
    friend class Timer;

    void Schedule(Timer* timer);

    std::vector<Timer*> timers_;
    std::int64_t now_ = 0;
    std::uint64_t sequence_ = 0;
};

} // namespace zv
