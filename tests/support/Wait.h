#pragma once

// Waiting in tests: one way to wait for a condition with a bound, in place of deadline loops and
// sleeps written out in each test. The bound is generous (the machine may be loaded); a test that
// waits well never fails because the machine is slow, only because the condition never came.

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <thread>

namespace zv::test {

using namespace std::chrono_literals;

// Polls done() every `step` until it holds or `bound` has passed; done() as it stands then, so a
// condition that comes at the last moment still counts.
template <typename Done>
bool WaitUntil(Done&& done, std::chrono::milliseconds bound = 10s, std::chrono::milliseconds step = 20ms)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        std::this_thread::sleep_for(step);
    }
    return true;
}

// The same for code whose events are delivered on this thread (windows, sockets, timers): the event
// loop runs between the polls. Needs a Qt application object.
template <typename Done> bool PumpUntil(Done&& done, std::chrono::milliseconds bound = 10s)
{
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            return done();
        },
        bound, 1ms);
}

// Runs the event loop for a while, for what has no condition to wait for (a picture that must not
// change, say).
inline void Pump(std::chrono::milliseconds time)
{
    PumpUntil([] { return false; }, time);
}

} // namespace zv::test
