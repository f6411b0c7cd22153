// The scored note model: the stages of frames.h and note_layer.h put together over a stream.
// Samples in (any block size), notes out with their onset's sample position.  NoteDetector runs
// it unless its parameters ask for the "rules" model.
#pragma once

#include "layers/listen.h"
#include "listen/detector.h"
#include "listen/frames.h"
#include "listen/note_layer.h"
#include "listen/own_clicks.h"
#include "listen/steady.h"

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace listen {

class ScoredDetector {
public:
    explicit ScoredDetector(const DetectorParams& params);
    std::vector<DetectedNote> feed(const float* samples, std::size_t count);
    void ownClick(int64_t sample, bool accent, int expectedMidi = 0);
    double levelDb() const { return levelDb_; }
    int currentMidi() const { return layer_.currentMidi(); }
    double currentCents() const { return layer_.currentCents(); }
    int64_t samplesFed() const { return fed_; }

private:
    void hop(std::vector<DetectedNote>& out);
    // One block's mean square, and that of the samples less the held note a period earlier.
    void block(int64_t start, double energy, double residual);
    void pluck(int64_t sample, double strength); // a pluck given to the hop
    bool nearClick(int64_t sample) const;
    // Whether a click of a kind not yet heard alone may sound between the two samples.
    bool unknownClickIn(int64_t from, int64_t to) const;
    // Notes named now: out at once, or held until they have outlasted the click they began on.
    void name(const DetectedNote& note, double ringingPeriod, bool again,
              std::vector<DetectedNote>& out);
    void release(std::vector<DetectedNote>& out);
    void report(const DetectedNote& note, std::vector<DetectedNote>& out);

    DetectorParams p_;
    FrameAnalyser analyser_;
    NoteLayer layer_;
    SteadyTones steady_;
    int hop_;
    int block_;              // the pluck envelope's step: half a hop
    std::size_t spanBlocks_; // blocks in a period of the lowest note
    // A one-pole high-pass at 10 Hz: a DC offset or a slow drift is no part of a note.
    double dcCoeff_;
    double dcIn_ = 0.0;
    double dcOut_ = 0.0;
    std::vector<float> ring_; // the last window() samples, oldest at ringPos_
    std::size_t ringPos_ = 0;
    std::vector<float> frame_;        // the ring in order, oldest first
    std::vector<float> residual_;     // the frame with the held note taken out
    std::vector<float> continuation_; // the frame less the held note carried on from a pluck
    int64_t lastPluckSample_ = -1;
    int heldNow_ = 0; // the note held, and the one held before it
    int heldBefore_ = 0;
    double nowPeriod_ = 0.0; // their periods (samples)
    double beforePeriod_ = 0.0;
    int64_t fed_ = 0;
    int sinceHop_ = 0;
    double blockEnergy_ = 0.0;
    int inBlock_ = 0;
    std::deque<double> envelope_;         // the last two periods' blocks' mean squares
    std::deque<double> residualEnvelope_; // the same less the held note, while it is held
    double heldPeriod_ = 0.0;             // samples; 0: no note held
    double lastPeriod_ = 0.0;             // the last note reported: its period (samples) and pitch
    int lastMidi_ = 0;
    int64_t lastHeldSample_ = 0; // when the layer last held that note
    // The pitch each frame gave the ringing note (frame end, fractional MIDI; 0: none): what it
    // rang at before a pluck.
    std::deque<std::pair<int64_t, double>> ringingPitches_;
    // And the share of the frame that did not repeat at its period (frame end, share): what
    // the ringing note left of itself before a pluck.
    std::deque<std::pair<int64_t, double>> ringingLeaves_;
    int64_t heldOnset_ = 0;
    int heldMidi_ = 0;
    double blockResidual_ = 0.0;
    std::deque<double> clickEnvelope_; // what the program's clicks are expected to add to them
    double rising_ = 0.0;              // the strongest pluck of the rise going on
    double risingDb_ = 0.0;
    bool risingFell_ = false;   // the energy fell over that rise's greatest boundary
    int64_t fallenSample_ = -1; // such a pluck, held for an attack after it
    double fallen_ = 0.0;
    int64_t risingSample_ = 0;
    int64_t quietUntil_ = 0;
    double hopPluck_ = 0.0;
    int64_t hopPluckSample_ = 0;
    double levelDb_ = -120.0;
    OwnClicks ownClicks_;
    struct Announced {
        int64_t sample;
        bool accent;
        int expectedMidi;
        bool operator<(const Announced& o) const { return sample < o.sample; }
    };
    std::deque<Announced> clicks_;
    struct Held {
        DetectedNote note;
        int64_t click;        // the click it began on
        int64_t checkAt;      // when the frames the layer decides lie after the click's sound
        double ringingPeriod; // samples: the note that rang when it began (0: none)
        bool again;           // that note was this pitch
        double named;         // the energy when it was named
    };
    // residual_ = the frame less itself a period earlier; returns the share of the frame's
    // power that does not repeat at the period.
    double takeOut(double period, double power);
    // How surely the held note began anew at the last pluck: the continuation_ from its first
    // sample after the pluck.
    double restarted(std::size_t first, double period) const;
    // The share of the last window's power that does not repeat at this period.
    double newShare(double period) const;
    // The mean block energy over [from, to) from the blocks kept (-1: not all kept).
    double meanEnergy(int64_t from, int64_t to) const;
    // Where the rise whose period begins at boundary is heard to begin (the attack).
    int64_t heardFrom(int64_t boundary) const;
    std::deque<double> energies_; // the last blocks' mean squares, the first at energiesStart_
    int64_t energiesStart_ = 0;
    std::vector<Held> held_;
    double gatePower_;
    int64_t slackSamples_; // how far a click may lie from where it was announced
    int64_t clickSamples_; // a click's crack
};

} // namespace listen
