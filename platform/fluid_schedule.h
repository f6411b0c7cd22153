// Scheduled sound for the built-in synthesiser: FluidSynth's sequencer, advanced by the
// synthesiser as it renders, plays each message on the block of samples its time falls in, so
// that no thread's delay can move it.  Its clock is the synthesiser's sample clock in
// milliseconds: the samples rendered since the scheduler was made.
#pragma once

#include "layers/platform.h"

#include <fluidsynth.h>

#include <cstdint>

namespace platform {

class FluidScheduler {
public:
    explicit FluidScheduler(fluid_synth_t* synth);
    ~FluidScheduler();
    FluidScheduler(const FluidScheduler&) = delete;
    FluidScheduler& operator=(const FluidScheduler&) = delete;

    bool ok() const { return sequencer_ != nullptr; }
    // The time of the samples being rendered now, in nanoseconds (whole milliseconds).
    int64_t nowNanos() const;
    // Plays a packed short message at atNanos (at once when that has passed).  False for a
    // message that is not a complete MIDI message.
    bool sendAt(uint32_t message, int64_t atNanos);
    // Drops every message not yet played.
    void cancel();

private:
    fluid_sequencer_t* sequencer_ = nullptr;
    fluid_seq_id_t synthDest_ = -1;
};

} // namespace platform
