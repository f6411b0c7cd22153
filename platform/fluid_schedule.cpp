#include "platform/fluid_schedule.h"

#include "platform/fluid_engine.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace platform {

namespace {
struct EventDeleter {
    void operator()(fluid_event_t* event) const { delete_fluid_event(event); }
};
} // namespace

FluidScheduler::FluidScheduler(fluid_synth_t* synth) {
    if (synth == nullptr) {
        return;
    }
    // Not the system timer: the sequencer advances with the samples the synthesiser renders.
    sequencer_ = new_fluid_sequencer2(0);
    if (sequencer_ == nullptr) {
        return;
    }
    synthDest_ = fluid_sequencer_register_fluidsynth(sequencer_, synth);
    if (synthDest_ == FLUID_FAILED) {
        delete_fluid_sequencer(sequencer_);
        sequencer_ = nullptr;
    }
}

FluidScheduler::~FluidScheduler() {
    if (sequencer_ != nullptr) {
        delete_fluid_sequencer(sequencer_);
    }
}

int64_t FluidScheduler::nowNanos() const {
    if (sequencer_ == nullptr) {
        return 0;
    }
    return static_cast<int64_t>(fluid_sequencer_get_tick(sequencer_)) * 1'000'000LL;
}

bool FluidScheduler::sendAt(uint32_t message, int64_t atNanos) {
    std::size_t size = 0;
    if (sequencer_ == nullptr || !shortMessageSize(message, size)) {
        return false;
    }
    const std::unique_ptr<fluid_event_t, EventDeleter> event(new_fluid_event());
    if (!event) {
        return false;
    }
    fluid_event_t* e = event.get();
    fluid_event_set_source(e, -1);
    fluid_event_set_dest(e, synthDest_);
    const int status = static_cast<int>(message & 0xFFu);
    const int channel = status & 0x0F;
    const int data1 = static_cast<int>((message >> 8) & 0x7Fu);
    const int data2 = static_cast<int>((message >> 16) & 0x7Fu);
    switch (status & 0xF0) {
    case 0x80:
        fluid_event_noteoff(e, channel, static_cast<short>(data1));
        break;
    case 0x90:
        // A note-on with velocity 0 ends the note.
        if (data2 == 0) {
            fluid_event_noteoff(e, channel, static_cast<short>(data1));
        } else {
            fluid_event_noteon(e, channel, static_cast<short>(data1), static_cast<short>(data2));
        }
        break;
    case 0xA0:
        fluid_event_key_pressure(e, channel, static_cast<short>(data1), data2);
        break;
    case 0xB0:
        fluid_event_control_change(e, channel, static_cast<short>(data1), data2);
        break;
    case 0xC0:
        fluid_event_program_change(e, channel, data1);
        break;
    case 0xD0:
        fluid_event_channel_pressure(e, channel, data1);
        break;
    case 0xE0:
        fluid_event_pitch_bend(e, channel, data1 | (data2 << 7));
        break;
    default:
        if (status == 0xFF) {
            fluid_event_system_reset(e);
            break;
        }
        return true; // other system messages mean nothing to the synthesiser
    }
    const int64_t nowTick = fluid_sequencer_get_tick(sequencer_);
    const int64_t tick =
        std::max<int64_t>(std::llround(static_cast<double>(atNanos) / 1e6), nowTick);
    fluid_sequencer_send_at(sequencer_, e, static_cast<unsigned int>(tick), 1);
    return true;
}

void FluidScheduler::cancel() {
    if (sequencer_ != nullptr) {
        fluid_sequencer_remove_events(sequencer_, -1, -1, -1);
    }
}

} // namespace platform
