#include "platform/stream_clock.h"

#include <algorithm>

namespace platform {

namespace {
constexpr int64_t kMaxStepNanos = 1'000'000;
}

void StreamClock::reset() {
    anchored_ = false;
    position_ = 0;
    trackedFrames_ = 0;
}

int64_t StreamClock::nanosAt(int64_t position) const {
    // Whole seconds and the rest apart, so that hours of samples do not overflow.
    const int64_t seconds = position / rate_;
    const int64_t rest = position % rate_;
    return anchorNanos_ + seconds * 1'000'000'000LL + rest * 1'000'000'000LL / rate_;
}

StreamClock::Block StreamClock::block(int64_t nowNanos, int64_t frames, int rate,
                                      int64_t latencyFrames, bool overflowed,
                                      int64_t reportedLost) {
    if (rate <= 0) {
        return {nowNanos, 0};
    }
    frames = std::max<int64_t>(frames, 0);
    latencyFrames = std::max<int64_t>(latencyFrames, 0);
    // Where the callback's own time puts the block's first sample.
    const int64_t heard = nowNanos - (frames + latencyFrames) * 1'000'000'000LL / rate;
    Block out;
    if (anchored_ && rate == rate_) {
        int64_t lost = 0;
        if (overflowed) {
            lost =
                reportedLost >= 0
                    ? reportedLost
                    : std::max<int64_t>(0, (heard - nanosAt(position_)) * rate / 1'000'000'000LL);
        }
        position_ += lost;
        out.lostFrames = lost;
        const int64_t apart = heard - nanosAt(position_);
        if (apart > kResyncNanos || apart < -kResyncNanos) {
            anchored_ = false;
        } else {
            leastApart_ = trackedFrames_ == 0 ? apart : std::min(leastApart_, apart);
            trackedFrames_ += frames;
            if (trackedFrames_ >= rate_) {
                anchorNanos_ += std::clamp<int64_t>(leastApart_ / 2, -kMaxStepNanos, kMaxStepNanos);
                trackedFrames_ = 0;
            }
        }
    }
    if (!anchored_ || rate != rate_) {
        anchored_ = true;
        rate_ = rate;
        anchorNanos_ = heard;
        position_ = 0;
        trackedFrames_ = 0;
    }
    out.firstNanos = nanosAt(position_);
    position_ += frames;
    return out;
}

} // namespace platform
