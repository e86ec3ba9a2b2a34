#pragma once

// What the end-to-end tests of the mixer and the capture against a private sound server share: an
// event pump with a deadline, and a knob read as a share of its range.

#include "audio/MMWheel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cmath>

namespace test {

// Runs the event loop until done() or the deadline; done() as it stands then.
template <typename Done> bool PumpUntil(Done done, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The knob's share of its range, in percent; -1 for a knob without a range.
inline int KnobPercent(const TMMCustomWheel& knob)
{
    return knob.Maximum() > 0 ? int(std::lround(100.0 * knob.Value() / knob.Maximum())) : -1;
}

} // namespace test
