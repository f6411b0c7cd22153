// The scored note model: the stages of frames.h and note_layer.h put together over a stream.
// Samples in (any block size), notes out with their onset's sample position.  NoteDetector runs
// it when its parameters ask for the "scored" model.
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
    void ownClick(int64_t sample, bool accent);
    double levelDb() const { return levelDb_; }
    int currentMidi() const { return layer_.currentMidi(); }
    double currentCents() const { return layer_.currentCents(); }
    int64_t samplesFed() const { return fed_; }
    int hopSize() const { return hop_; }
    int window() const { return analyser_.window(); }

private:
    void hop(std::vector<DetectedNote>& out);
    // One block's mean square, and that of the samples less the held note a period earlier.
    void block(int64_t start, double energy, double residual);
    bool nearClick(int64_t sample) const;
    // Whether a click of a kind not yet heard alone may sound between the two samples.
    bool unknownClickIn(int64_t from, int64_t to) const;

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
    int64_t fed_ = 0;
    int sinceHop_ = 0;
    double blockEnergy_ = 0.0;
    int inBlock_ = 0;
    std::deque<double> envelope_;         // the last two periods' blocks' mean squares
    std::deque<double> residualEnvelope_; // the same less the held note, while it is held
    double heldPeriod_ = 0.0;             // samples; 0: no note held
    int64_t heldOnset_ = 0;
    int heldMidi_ = 0;
    double blockResidual_ = 0.0;
    std::deque<double> clickEnvelope_; // what the program's clicks are expected to add to them
    double rising_ = 0.0;              // the strongest pluck of the rise going on
    double risingDb_ = 0.0;
    int64_t risingSample_ = 0;
    int64_t quietUntil_ = 0;
    double hopPluck_ = 0.0;
    int64_t hopPluckSample_ = 0;
    double levelDb_ = -120.0;
    OwnClicks ownClicks_;
    std::deque<std::pair<int64_t, bool>> clicks_; // announced: sample, accent
    double gatePower_;
};

} // namespace listen
