#include "skin/SkTimer.h"

#include <QTimer>

namespace zv {

namespace {

class QtSkTimer final : public SkTimer {
public:
    QtSkTimer()
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (OnTimer) {
                OnTimer();
            }
        });
    }
    void Start(int intervalMs) override { FTimer.start(intervalMs); }
    void SetInterval(int intervalMs) override { FTimer.setInterval(intervalMs); }
    void Stop() override { FTimer.stop(); }
    bool Active() const override { return FTimer.isActive(); }

private:
    QTimer FTimer;
};

class QtSkTimerSource final : public SkTimerSource {
public:
    std::unique_ptr<SkTimer> CreateTimer() override { return std::make_unique<QtSkTimer>(); }
};

} // namespace

SkTimerSource& QtTimerSource()
{
    static QtSkTimerSource source;
    return source;
}

} // namespace zv
