// Places a capture stream's blocks on the monotonic clock by the stream's own count of samples:
// the first block's callback time (less the block and the stream's latency) anchors sample 0, and
// each later block lies its sample count after that at the stream's rate.  A callback that runs
// late therefore does not move its block.  Samples the stream lost (an input overflow) move the
// count on: by what the stream reports, or, when it reports only that some were lost, by how far
// the callback came later than the count says.  The card's clock and the monotonic one drift
// apart (tens of parts per million: a tenth of a second in half an hour), so the anchor follows
// the earliest of each second's callbacks, half the way each second and at most 1 ms;
// callbacks that come late never pull it.  Pure: the caller passes the callback time.
#pragma once

#include "layers/platform.h"

#include <cstdint>

namespace platform {

class StreamClock {
public:
    // Beyond this the callback times and the count have parted for some other reason (the
    // system slept, the card's clock runs apart from the monotonic one): the clock anchors
    // afresh.
    static constexpr int64_t kResyncNanos = 250'000'000;

    struct Block {
        int64_t firstNanos = 0; // when the block's first sample was heard
        int64_t lostFrames = 0; // samples taken as lost just before it
    };

    // A restarted stream: the next block anchors afresh.
    void reset();
    // A block of `frames` samples at `rate` whose callback ran at `nowNanos`; `latencyFrames` is
    // the stream's latency.  `overflowed`: the stream lost samples before this block,
    // `reportedLost` of them when it knows (negative: it does not).
    Block block(int64_t nowNanos, int64_t frames, int rate, int64_t latencyFrames,
                bool overflowed = false, int64_t reportedLost = -1);
    // Samples counted since the anchor (delivered and lost).
    int64_t position() const { return position_; }

private:
    int64_t nanosAt(int64_t position) const;

    bool anchored_ = false;
    int rate_ = 0;
    int64_t anchorNanos_ = 0;
    int64_t position_ = 0;
    // The least that a callback's own time lay from the count, over the second so far.
    int64_t leastApart_ = 0;
    int64_t trackedFrames_ = 0;
};

} // namespace platform
