// The note layer: frames of evidence in, notes out.
//
// Each frame gives every semitone of the bass a salience (how clearly the frame repeats at that
// pitch as its own note) and a pluck strength (how sharply the energy rose).  A hidden state per
// frame, silence or one pitch held, is decoded by Viterbi with a fixed lag: staying costs nothing,
// a note begins from silence only with a pluck, a new pitch costs little after a pluck and much
// without one (a hammer-on or a note played into a ringing one must show itself over several
// frames), and a pluck on the pitch already held starts it again.  A note is reported once its
// pitch has held for a few frames; a pitch held for less that leads into another without a new
// pluck (a slide's first frets) gives the note its onset and no note of its own.
#pragma once

#include "layers/listen.h"
#include "listen/frames.h"

#include <array>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace listen {

struct LayerFrame {
    int64_t endSample = 0; // one past the frame's last sample
    // Per semitone from the layer's lowest to its highest: 0 (not this pitch) to 1.
    std::vector<double> salience;
    // The fractional MIDI pitch behind each salience (for the cents).
    std::vector<double> pitch;
    // The periodic power at each semitone (the frame's power times its clarity there).
    std::vector<double> periodic;
    // The frame's power (its mean square).
    double power = 0.0;
    // 0 to 1: how surely a string was plucked since the previous frame, and where.
    double pluck = 0.0;
    int64_t pluckSample = 0;
    // 0 to 1: how surely the pitch held began its waveform anew since the last pluck (a string
    // plucked again), beyond what its energy says.
    double restart = 0.0;
    int64_t restartSample = 0; // the pluck it counts from
};

struct LayerNote {
    int64_t onsetSample = 0;
    int midi = 0;
    double cents = 0.0;
    double confidence = 0.0;
};

struct NoteLayerParams {
    int lowestMidi = 28;
    int highestMidi = 68;
    // Frames a decision waits for the frames after it: long enough for a pluck's pitch to win
    // over the ringing one's, short against the verdict's latency.
    int lagFrames = 3;
    // Frames a pitch must hold to be a note: shorter is a slide's passing fret, a ghost note's
    // thud or a click.
    int holdFrames = 4;
    // How long after a pluck the frames may first show its note (about a frame's length): a
    // note may begin, or take over from a ringing one cheaply, for this long after it.
    int64_t pluckMemorySamples = 4096;
    // Where the frames show the note first (the frame ends this many samples after the pluck),
    // for a note that comes without a pluck.
    int64_t onsetBackSamples = 1024;
};

class NoteLayer {
public:
    explicit NoteLayer(const NoteLayerParams& params);
    std::vector<LayerNote> push(const LayerFrame& frame);
    // The decided pitch now (0: silence) and its cents, for a tuner.
    int currentMidi() const { return currentMidi_; }
    double currentCents() const { return currentCents_; }
    // Where the decided note began (meaningful while currentMidi() is not 0).
    int64_t currentOnset() const { return runOnset_; }
    int states() const { return pitches_ + 1; }

private:
    struct Step {
        std::vector<int> from; // the best predecessor of each state
        LayerFrame frame;
    };
    void decide(int state, const Step& step, std::vector<LayerNote>& out);
    // The note of this state begun at the run's onset.
    LayerNote note(int state, double pitch, double confidence) const;

    NoteLayerParams p_;
    int pitches_;
    std::vector<double> score_;
    std::deque<Step> steps_;
    // The note being decided: its pitch state, onset and how long it has held.
    int runState_ = 0;
    int runFrames_ = 0;
    int64_t runOnset_ = 0;
    bool runReported_ = false;
    double runSalience_ = 0.0;
    double runPitch_ = 0.0;
    // A pluck on the pitch that rings: the periodic power there when it came (it must rise for
    // a new note; a note played into the ringing one, a release or a click does not raise it).
    bool runReplucked_ = false;
    double runPluckPeriodic_ = 0.0;
    double runRestart_ = 0.0; // the surest restart seen since that pluck
    double runPeak_ = 0.0;    // the held pitch's greatest periodic power
    double lastRunPeak_ = 0.0;
    int beforeState_ = 0;   // the note reported before the one held
    int earlierState_ = 0;  // and the one before that
    int reportedState_ = 0; // the last note reported, and its onset
    int64_t reportedOnset_ = -1;
    int64_t lastVoiced_ = -1; // the end of the last frame decided as a pitch
    // Whether a pitch may begin without a pluck at a frame ending here: only as a change from a
    // note held within the pluck memory.
    bool changeStarts(int64_t endSample) const {
        return lastVoiced_ >= 0 && endSample - lastVoiced_ <= p_.pluckMemorySamples;
    }
    std::deque<double> runPitches_; // its last frames' pitches
    struct Pluck {
        int64_t sample;
        double strength;
        int64_t until;  // the last frame end it may start a note at
        double loudest; // the loudest frame since it
    };
    // Whether a pluck may start a note at a frame ending here.
    static bool live(const Pluck& k, int64_t endSample) {
        return k.sample <= endSample && k.until >= endSample;
    }
    std::deque<Pluck> plucks_; // those within the memory
    // The periodic power of the pitch held over its last frames (frame end, power).
    std::deque<std::pair<int64_t, double>> history_;
    // Every pitch's periodic power over the last frames decided (frame end, powers): what a
    // note ringing under the held one had before a pluck.
    std::deque<std::pair<int64_t, std::vector<double>>> recent_;
    int historyState_ = 0;
    int currentMidi_ = 0;
    double currentCents_ = 0.0;
};

} // namespace listen
