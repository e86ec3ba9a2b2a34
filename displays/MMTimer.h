#pragma once

// The shared display timer lives beside the other platform timers, so that the connector (audio)
// can feed silence through it too.
#include "platform/DisplayTimer.h"
