#include "listen/note_layer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace listen {

namespace {

constexpr double kFloorLog = 1e-3; // the least salience a state's likelihood sees

// Log costs of the hidden state's moves.  A pluck of strength 1 makes a new note as cheap as
// holding one; without a pluck, a new pitch must win for several frames to pay its way.
// Silence to a pitch: a note never begins without a pluck (a steady hum, a note's release or a
// slow swell does not start one), and costs nothing after a sure one.
constexpr double kStartCost = 8.0;
constexpr double kChangeCost = 9.0; // one pitch to another, without a pluck
constexpr double kStopCost = 3.0;   // a pitch to silence
// A pluck on the ringing pitch is a new note when the periodic power there has risen by this
// (1 dB) over the frames it must hold: a string plucked again is louder than it was ringing.
constexpr double kRepluckRise = 1.26;
// ... within this many frames more than a note must hold (21 ms).
constexpr int kRepluckWaitFrames = 4;
// ... or when its waveform began anew this surely (a re-pluck as soft as the note rings).
constexpr double kRestarted = 0.5;
// A move that cannot happen (a note beginning without a pluck): far below anything a lifetime of
// frames could add up, so no length of steady tone pays for it.
constexpr double kImpossible = -1e12;
// A pluck this sure places a note's onset and may start the ringing pitch again (whether it
// does is the periodic power's rise to say): a rise of about 4 dB over the period before.
constexpr double kPlucked = 0.2;
// A note is named once its pitch has settled within this over the frames it must hold: a slide
// of two frets in 60 ms moves the frames' pitch (each a window long, so they lag and smooth it)
// by 7 cents a frame, 20 over the four; vibrato of 20 cents at 5 Hz by 10 at most.
constexpr double kSettledCents = 15.0;
// Without a pluck, a new pitch more than 15 dB under the note it follows is that note's tail.
constexpr double kTail = 0.03;
// A pluck's sound that has not yet shown its pitch (an attack's noise, a body's thump, a pitch
// that settles only after a few periods) is still that pluck's: while no note has been named
// from it and the sound keeps within 10 dB of its loudest, the pluck may start its note...
constexpr double kSoundGoesOn = 0.1;
// ... for up to three times the memory (about 250 ms): an open string's pitch has settled long
// before, and a sound that holds so long without one is no note.
constexpr int kOpenMemories = 3;

} // namespace

NoteLayer::NoteLayer(const NoteLayerParams& params)
    : p_(params), pitches_(std::max(1, params.highestMidi - params.lowestMidi + 1)),
      score_(static_cast<std::size_t>(pitches_) + 1, 0.0) {
    score_[0] = 0.0;
    for (int i = 1; i <= pitches_; ++i) {
        score_[static_cast<std::size_t>(i)] = kImpossible; // listening starts in silence
    }
}

std::vector<LayerNote> NoteLayer::push(const LayerFrame& frame) {
    const std::size_t n = static_cast<std::size_t>(pitches_) + 1;
    if (frame.pluck > 0.0) {
        plucks_.push_back({frame.pluckSample, std::min(frame.pluck, 1.0),
                           frame.pluckSample + p_.pluckMemorySamples, frame.power});
    }
    // A pluck no note has yet been named from stays open while its sound goes on.
    for (Pluck& k : plucks_) {
        if (k.sample > frame.endSample || k.until < frame.endSample - 2 * p_.pluckMemorySamples) {
            continue;
        }
        k.loudest = std::max(k.loudest, frame.power);
        const bool open = k.sample > reportedOnset_ && (runState_ == 0 || !runReported_);
        if (open && frame.power >= kSoundGoesOn * k.loudest && k.until >= frame.endSample) {
            k.until = std::clamp(frame.endSample + p_.pluckMemorySamples / 4, k.until,
                                 k.sample + kOpenMemories * p_.pluckMemorySamples);
        }
    }
    // Kept for twice the memory: the frames decided lag behind.
    while (!plucks_.empty() &&
           plucks_.front().until < frame.endSample - 2 * p_.pluckMemorySamples) {
        plucks_.pop_front();
    }
    double pluck = 0.0;
    for (const Pluck& k : plucks_) {
        if (k.until >= frame.endSample) {
            pluck = std::max(pluck, k.strength);
        }
    }
    double voiced = 0.0;
    for (int i = 0; i < pitches_ && i < static_cast<int>(frame.salience.size()); ++i) {
        voiced = std::max(voiced, frame.salience[static_cast<std::size_t>(i)]);
    }
    // The best and second best pitch state before this frame, for the moves between pitches.
    std::size_t first = 1;
    std::size_t second = n > 2 ? 2 : 1;
    for (std::size_t j = 1; j < n; ++j) {
        if (score_[j] > score_[first]) {
            second = first;
            first = j;
        } else if (j != first && (second == first || score_[j] > score_[second])) {
            second = j;
        }
    }
    Step step;
    step.frame = frame;
    step.from.assign(n, 0);
    std::vector<double> next(n, 0.0);
    // Silence: from silence, or a pitch stopping.
    {
        const double stay = score_[0];
        const double stop = score_[first] - kStopCost;
        next[0] = stay >= stop ? stay : stop;
        step.from[0] = stay >= stop ? 0 : static_cast<int>(first);
        next[0] += std::log(kFloorLog + (1.0 - voiced));
    }
    const double start = pluck > 0.0                     ? -kStartCost * (1.0 - pluck)
                         : changeStarts(frame.endSample) ? -kChangeCost
                                                         : kImpossible;
    const double change = -kChangeCost * (1.0 - pluck);
    for (std::size_t j = 1; j < n; ++j) {
        double best = score_[j];
        int from = static_cast<int>(j);
        const double fromSilence = score_[0] + start;
        if (fromSilence > best) {
            best = fromSilence;
            from = 0;
        }
        const std::size_t other = first == j ? second : first;
        if (other != j && score_[other] + change > best) {
            best = score_[other] + change;
            from = static_cast<int>(other);
        }
        const double s = j - 1 < frame.salience.size() ? frame.salience[j - 1] : 0.0;
        next[j] = best + std::log(kFloorLog + s);
        step.from[j] = from;
    }
    const double top = *std::max_element(next.begin(), next.end());
    for (double& v : next) {
        v -= top;
    }
    score_ = next;
    steps_.push_back(std::move(step));

    std::vector<LayerNote> out;
    if (static_cast<int>(steps_.size()) > p_.lagFrames) {
        // Trace the best path back to the oldest frame kept: its state is decided.
        int state =
            static_cast<int>(std::max_element(score_.begin(), score_.end()) - score_.begin());
        for (std::size_t k = steps_.size() - 1; k > 0; --k) {
            state = steps_[k].from[static_cast<std::size_t>(state)];
        }
        decide(state, steps_.front(), out);
        steps_.pop_front();
    }
    return out;
}

LayerNote NoteLayer::note(int state, double pitch, double confidence) const {
    LayerNote n;
    n.onsetSample = runOnset_;
    n.midi = p_.lowestMidi + state - 1;
    n.cents = 100.0 * (pitch - n.midi);
    n.confidence = confidence;
    return n;
}

void NoteLayer::decide(int state, const Step& step, std::vector<LayerNote>& out) {
    const LayerFrame& f = step.frame;
    // The strongest pluck within the memory before this frame's end, among those seen so far
    // (a pluck comes to light a little after its place, and the path decided may have taken it
    // up before its own frame is decided).  Any rise places an onset, even one too small to
    // say a ringing string was plucked again (a note played into a louder ringing one).
    int64_t pluckAt = -1;
    double pluckStrength = 0.0;
    for (const Pluck& k : plucks_) {
        if (live(k, f.endSample) && k.strength > pluckStrength) {
            pluckAt = k.sample;
            pluckStrength = k.strength;
        }
    }
    // A weaker rise within a window after a stronger one no note has taken is that pluck's own
    // swell (an acoustic bass's body speaking after its string): the note begins at the first.
    if (pluckAt >= 0) {
        for (const Pluck& k : plucks_) {
            if (k.sample < pluckAt && k.sample >= pluckAt - p_.pluckMemorySamples / 2 &&
                k.sample > reportedOnset_ && k.strength >= pluckStrength) {
                pluckAt = k.sample;
                pluckStrength = k.strength;
                break;
            }
        }
    }
    const auto index = static_cast<std::size_t>(state - 1);
    recent_.emplace_back(f.endSample, f.periodic);
    if (recent_.size() > 32) {
        recent_.pop_front();
    }
    const bool plucked = f.pluck >= kPlucked;
    if (state == 0) {
        if (runState_ != 0) {
            lastRunPeak_ = runPeak_;
        }
        // A note let go for silence may still ring under the next (two notes together each
        // repeat less clearly than either alone): it is the note before that one.
        if (runState_ != 0 && runReported_) {
            earlierState_ = beforeState_;
            beforeState_ = runState_;
        }
        runState_ = 0;
        runFrames_ = 0;
        runReported_ = false;
        currentMidi_ = 0;
        currentCents_ = 0.0;
        history_.clear();
        return;
    }
    // The decisions come a few frames late, each from the best path then, and two such paths
    // may not join up: silence, then a pitch with no pluck to start it, is no note, unless a
    // note held just before and this one is no tail of it (a change of pitch, heard through
    // the frames between where both sounded and neither was clear) nor that note itself, heard
    // again as one ringing with it is let go, with no pluck lately (a pluck the path took up
    // late is one).
    const double periodicHere = index < f.periodic.size() ? f.periodic[index] : 0.0;
    // (The pluck the note itself began with is none: it was let go, and is heard again.)
    const bool pluckedLately = std::any_of(plucks_.begin(), plucks_.end(), [&](const Pluck& k) {
        return k.sample <= f.endSample && k.sample >= f.endSample - 2 * p_.pluckMemorySamples &&
               (state != reportedState_ || k.sample > reportedOnset_);
    });
    if (runState_ == 0 && pluckAt < 0 &&
        (!changeStarts(f.endSample) || periodicHere < kTail * lastRunPeak_ ||
         (state == beforeState_ && !pluckedLately))) {
        return;
    }
    if (state != runState_ && runState_ != 0 && runReported_ && !plucked &&
        (periodicHere < kTail * runPeak_ || state == beforeState_ || state == earlierState_)) {
        // Another pitch, without a pluck and far under the note: the note's release tail (or
        // what rings through the filters after it), no note of its own.  Nor are the two notes
        // before it, still ringing under the new one (a note let ring under two more), without a
        // pluck of their own.
        return;
    }
    const double salience = index < f.salience.size() ? f.salience[index] : 0.0;
    const double pitch = index < f.pitch.size() && f.pitch[index] > 0.0
                             ? f.pitch[index]
                             : static_cast<double>(p_.lowestMidi + state - 1);
    const int64_t onset = pluckAt >= 0 ? pluckAt : f.endSample - p_.onsetBackSamples;
    const double periodic = index < f.periodic.size() ? f.periodic[index] : 0.0;
    // The same pitch plucked again: not within a frame's length of its onset, where the note's
    // own attack still fills the frames and no rise can tell a second pluck from it.
    const bool again =
        plucked && runReported_ && f.pluckSample >= runOnset_ + p_.pluckMemorySamples;
    // A pluck too soft to raise the energy (the string plucked again no louder than it rang)
    // still starts the waveform anew: the note is there as soon as that shows.
    if (state == runState_ && runReported_ && !again && f.restart >= kRestarted &&
        f.restartSample >= runOnset_ + p_.pluckMemorySamples) {
        runOnset_ = f.restartSample;
        reportedState_ = state;
        reportedOnset_ = runOnset_;
        runFrames_ = p_.holdFrames;
        runReplucked_ = false;
        runPeak_ = periodic;
        out.push_back(note(state, pitch, salience));
    }
    if (state == runState_ && !again) {
        ++runFrames_;
        if (plucked && !runReported_ && f.pluckSample < runOnset_) {
            runOnset_ = f.pluckSample; // the pluck came to light after its note's first frames
        }
    } else if (state == runState_) {
        runFrames_ = 1;
        runOnset_ = onset;
        runReported_ = false;
        runSalience_ = 0.0;
        runReplucked_ = true;
        runRestart_ = 0.0;
        // What the ringing pitch had before the pluck: the frames after it hold some of the
        // new attack already.
        runPluckPeriodic_ = history_.empty() ? periodic : history_.front().second;
        for (const auto& [end, power] : history_) {
            if (end <= f.pluckSample) {
                runPluckPeriodic_ = power;
            }
        }
    } else if (runState_ != 0 && !runReported_ && !plucked) {
        // A pitch that did not hold, leading into this one without a pluck: a slide's first
        // frets.  The note keeps its onset.
        runState_ = state;
        runFrames_ = 1;
        runSalience_ = 0.0;
        runReplucked_ = false;
    } else {
        // A pluck on a note still ringing under the one held is a new note only as far as it
        // raises that note, as a pluck on the held one must: a release, a click or a note
        // played beside it does not.
        // (Or the note just left for silence, taken up again: the frames between may have
        // lost it under a ghost note's noise.)
        const bool ringingUnder =
            (runState_ != 0 && runReported_ && (state == beforeState_ || state == earlierState_)) ||
            (runState_ == 0 && state == beforeState_ && changeStarts(f.endSample));
        if (runState_ != 0 && runReported_) {
            earlierState_ = beforeState_;
            beforeState_ = runState_;
        }
        runState_ = state;
        runFrames_ = 1;
        runOnset_ = onset;
        runReported_ = false;
        runSalience_ = 0.0;
        runReplucked_ = false;
        if (ringingUnder) {
            for (const auto& [end, powers] : recent_) {
                if (end <= onset && index < powers.size()) {
                    runReplucked_ = true;
                    runPluckPeriodic_ = powers[index];
                }
            }
            runRestart_ = 0.0;
        }
    }
    if (!history_.empty() && runState_ != historyState_) {
        history_.clear();
    }
    historyState_ = runState_;
    history_.emplace_back(f.endSample, periodic);
    if (history_.size() > 64) {
        history_.pop_front();
    }
    if (runFrames_ == 1) {
        runPeak_ = 0.0;
        runPitches_.clear();
    }
    runPeak_ = std::max(runPeak_, periodic);
    lastVoiced_ = f.endSample;
    runPitches_.push_back(pitch);
    if (runPitches_.size() > static_cast<std::size_t>(p_.holdFrames)) {
        runPitches_.pop_front();
    }
    const auto [low, high] = std::minmax_element(runPitches_.begin(), runPitches_.end());
    const bool settled = 100.0 * (*high - *low) <= kSettledCents;
    runSalience_ += salience;
    runPitch_ = pitch;
    runRestart_ = std::max(runRestart_, f.restart);
    if (!runReported_ && runFrames_ >= p_.holdFrames && settled) {
        if (runReplucked_ && periodic < kRepluckRise * runPluckPeriodic_ &&
            runRestart_ < kRestarted) {
            // Just after a pluck the frames mix the ringing waveform with the new one, which
            // repeats less clearly than either: the rise may show a few frames later.
            if (runFrames_ < p_.holdFrames + kRepluckWaitFrames) {
                return;
            }
            runReported_ = true;
            return; // the ringing note goes on
        }
        runReported_ = true;
        // One pluck is one note: the pitch named from it once already, come back after a few
        // frames of another that did not hold (a note under it showing through), goes on.
        if (state == reportedState_ && runOnset_ == reportedOnset_) {
            return;
        }
        reportedState_ = state;
        reportedOnset_ = runOnset_;
        out.push_back(note(state, runPitch_, runSalience_ / runFrames_));
    }
    if (runReported_) {
        currentMidi_ = p_.lowestMidi + state - 1;
        currentCents_ = 100.0 * (pitch - currentMidi_);
    }
}

} // namespace listen
