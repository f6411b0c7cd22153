#pragma once

#include <cstdint>

// numerator / divisor rounded to the nearest whole number, an exact half to the even neighbour
// (55775 / 50 = 1115.5 gives 1116, 55775 / 46 = 1212.5 gives 1212).  Both are positive.
constexpr int32_t divRoundHalfEven(int32_t numerator, int32_t divisor) {
    const int32_t q = numerator / divisor;
    const int32_t twiceRest = 2 * (numerator % divisor);
    if (twiceRest > divisor || (twiceRest == divisor && (q % 2) != 0)) {
        return q + 1;
    }
    return q;
}

// The beat loop's two interval rules.
constexpr int32_t kIntervalNumeratorOutsideTick = 55775;
constexpr int32_t kIntervalNumeratorInsideTick = 70000;

// The wait set at the end of a tick: what is left of the beat after the tick's own work, at
// least 1 ms, less a fifth of it rounded down.
constexpr int32_t nextTickInterval(int32_t timerInterval, int32_t elapsed) {
    int32_t left = timerInterval - elapsed;
    if (left < 1) {
        left = 1;
    }
    return left - left / 5;
}
