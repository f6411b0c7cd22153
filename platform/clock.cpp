#include "platform/clock.h"

#include <time.h>

namespace platform {

namespace {
std::function<uint32_t()>& source() {
    static std::function<uint32_t()> fn;
    return fn;
}
} // namespace

int64_t monotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

uint32_t timeGetTime() {
    if (source()) {
        return source()();
    }
    // Truncation to 32 bits is the wrap of the count, every 49.7 days.
    return static_cast<uint32_t>(monotonicNanos() / 1000000LL);
}

uint32_t timeGetDevCaps(TimeCaps& caps) {
    caps.periodMin = 1;
    caps.periodMax = 1000000;
    return 0;
}

uint32_t timeBeginPeriod(uint32_t) {
    return 0;
}
uint32_t timeEndPeriod(uint32_t) {
    return 0;
}

void setClock(std::function<uint32_t()> fn) {
    source() = std::move(fn);
}

} // namespace platform
