#pragma once

#include "layers/platform.h"

#include <cstdint>

// Measures in whole milliseconds how long a beat's own work took.  Holds a 1 ms timer period for
// as long as it exists.
class CStopWatch {
public:
    CStopWatch();
    ~CStopWatch();
    CStopWatch(const CStopWatch&) = delete;
    CStopWatch& operator=(const CStopWatch&) = delete;

    int32_t Elapsed() const;
    int32_t MinimumResolution() const { return minimumResolution; }
    int32_t MaximumResolution() const { return maximumResolution; }
    // Starts a new measurement on the next change of the millisecond count.
    void Reset();

private:
    int32_t startTime = 0;
    int32_t minimumResolution = 0;
    int32_t maximumResolution = 0;
};
