// The millisecond clock of the stopwatch: a 32-bit count of milliseconds from the monotonic
// clock.  Tests replace the source to set the count (and to make it wrap).
#pragma once

#include "layers/platform.h"

#include <cstdint>
#include <functional>

namespace platform {

struct TimeCaps {
    uint32_t periodMin = 0;
    uint32_t periodMax = 0;
};

uint32_t timeGetTime();
uint32_t timeGetDevCaps(TimeCaps& caps);
// The monotonic clock already has millisecond resolution: a period request changes nothing.
uint32_t timeBeginPeriod(uint32_t period);
uint32_t timeEndPeriod(uint32_t period);

// Replace the millisecond source; an empty function goes back to the monotonic clock.
void setClock(std::function<uint32_t()> source);

// Nanoseconds of the monotonic clock, for time stamps of captured messages.
int64_t monotonicNanos();

} // namespace platform
