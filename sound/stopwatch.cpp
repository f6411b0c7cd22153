#include "sound/stopwatch.h"

#include "platform/clock.h"

CStopWatch::CStopWatch() {
    platform::TimeCaps caps;
    platform::timeGetDevCaps(caps);
    minimumResolution = static_cast<int32_t>(caps.periodMin);
    maximumResolution = static_cast<int32_t>(caps.periodMax);
    platform::timeBeginPeriod(1);
    Reset();
}

CStopWatch::~CStopWatch() {
    platform::timeEndPeriod(1);
}

void CStopWatch::Reset() {
    // Start on a millisecond edge, never part-way through one that is already running.
    const uint32_t first = platform::timeGetTime();
    while (platform::timeGetTime() == first) {
    }
    startTime = static_cast<int32_t>(platform::timeGetTime());
}

int32_t CStopWatch::Elapsed() const {
    // Unsigned subtraction wraps with the count; the result read as signed is the true
    // difference while it stays below 2^31 ms.
    const uint32_t now = platform::timeGetTime();
    return static_cast<int32_t>(now - static_cast<uint32_t>(startTime));
}
