#pragma once

#include "layers/rules.h"

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

// A beat lasts 60000 / tempo ms.
constexpr int32_t kMillisPerMinute = 60000;
