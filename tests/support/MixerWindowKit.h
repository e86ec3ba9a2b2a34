#pragma once

// What the end-to-end tests of the mixer and the capture against a private sound server share: the
// bounded event pump, and a knob read as a share of its range.

#include "audio/MMWheel.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <cmath>

namespace test {

// The shared bounded waits, on the event loop.
using zv::test::Pump;
using zv::test::PumpUntil;

// The knob's share of its range, in percent; -1 for a knob without a range.
inline int KnobPercent(const TMMCustomWheel& knob)
{
    return knob.Maximum() > 0 ? int(std::lround(100.0 * knob.Value() / knob.Maximum())) : -1;
}

} // namespace test
