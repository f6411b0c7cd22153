// The median of a handful of figures (the middle two's mean for an even count; 0 for none).
#pragma once

#include "layers/rules.h"

#include <algorithm>
#include <vector>

namespace listen {

inline double median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

} // namespace listen
