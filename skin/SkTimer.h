#pragma once

#include <functional>
#include <memory>

namespace zv {

// A periodic timer of the user-interface thread, as the buttons use it for hover checks and
// auto-repeat. Time is a parameter: tests hand the buttons a source on a virtual clock.
class SkTimer {
public:
    virtual ~SkTimer() = default;
    // (Re)starts the timer: OnTimer runs every intervalMs from now.
    virtual void Start(int intervalMs) = 0;
    // Changes the period; a running timer counts the new period from now.
    virtual void SetInterval(int intervalMs) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;

    std::function<void()> OnTimer;
};

class SkTimerSource {
public:
    virtual ~SkTimerSource() = default;
    virtual std::unique_ptr<SkTimer> CreateTimer() = 0;
};

// Timers on the Qt event loop of the calling thread.
SkTimerSource& QtTimerSource();

} // namespace zv
