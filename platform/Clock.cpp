#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace zv {

namespace {

class QtTimer final : public ITimer {
public:
    QtTimer()
    {
        timer_.setInterval(1000);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (handler_) {
                handler_();
            }
        });
    }

    void SetInterval(int milliseconds) override { timer_.setInterval(std::max(milliseconds, 1)); }
    int Interval() const override { return timer_.interval(); }
    void SetEnabled(bool enabled) override
    {
        if (enabled && !timer_.isActive()) {
            timer_.start();
        } else if (!enabled) {
            timer_.stop();
        }
    }
    bool Enabled() const override { return timer_.isActive(); }
    void SetOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

private:
    QTimer timer_;
    std::function<void()> handler_;
};

const QElapsedTimer& ProcessTimer()
{
    static const QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

} // namespace

std::unique_ptr<ITimer> QtClock::CreateTimer()
{
    return std::make_unique<QtTimer>();
}

std::int64_t QtClock::NowMs() const
{
    return ProcessTimer().elapsed();
}

class VirtualClock::Timer final : public ITimer {
public:
    explicit Timer(VirtualClock* clock)
        : clock_(clock)
    {
        clock_->timers_.push_back(this);
    }
    ~Timer() override
    {
        if (clock_) {
            std::erase(clock_->timers_, this);
        }
    }

    void SetInterval(int milliseconds) override
    {
        interval_ = std::max(milliseconds, 1);
        if (enabled_ && clock_) {
            clock_->Schedule(this);
        }
    }
    int Interval() const override { return interval_; }
    void SetEnabled(bool enabled) override
    {
        if (enabled == enabled_) {
            return;
        }
        enabled_ = enabled;
        if (enabled_ && clock_) {
            clock_->Schedule(this);
        }
    }
    bool Enabled() const override { return enabled_; }
    void SetOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

    VirtualClock* clock_;
    int interval_ = 1000;
    bool enabled_ = false;
    std::int64_t due_ = 0;
    std::uint64_t order_ = 0;
    std::function<void()> handler_;
};

VirtualClock::~VirtualClock()
{
    for (Timer* timer : timers_) {
        timer->clock_ = nullptr;
    }
}

std::unique_ptr<ITimer> VirtualClock::CreateTimer()
{
    return std::make_unique<Timer>(this);
}

void VirtualClock::Schedule(Timer* timer)
{
    timer->due_ = now_ + timer->interval_;
    timer->order_ = ++sequence_;
}

void VirtualClock::Advance(std::int64_t milliseconds)
{
    const std::int64_t target = now_ + std::max<std::int64_t>(milliseconds, 0);
    for (;;) {
        Timer* next = nullptr;
        for (Timer* timer : timers_) {
            if (timer->enabled_ && timer->due_ <= target
                && (!next || timer->due_ < next->due_
                    || (timer->due_ == next->due_ && timer->order_ < next->order_))) {
                next = timer;
            }
        }
        if (!next) {
            break;
        }
        now_ = next->due_;
        // The next period is counted from this firing, before the handler may change the timer.
        next->due_ = now_ + next->interval_;
        next->order_ = ++sequence_;
        if (next->handler_) {
            // A copy: the handler may replace itself.
            const auto handler = next->handler_;
            handler();
        }
    }
    now_ = target;
}

} // namespace zv
