// The program's own clicks as the input hears them.  A click bleeding into the input (through a
// microphone, or a speaker near the pickup) rises as sharply as a pluck, and the bar's first
// click brings a bass drum's thump under it.  Each kind of click (the beat's, the accent's) adds
// much the same energy, block by block, every time it sounds: that is learnt from the clicks
// heard alone (the energy back down to what it was before the click by the end of it), and is
// what the pluck envelope expects of a click, so that a click is no pluck and a pluck on a click
// is measured against the click as well as what rang before.  Pure: blocks' energies in.
#pragma once

#include "layers/listen.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace listen {

class OwnClicks {
public:
    // blockSamples: the energy blocks' length; slackBlocks: how far a click may be from where it
    // is announced; the beat click's energy is learnt over beatBlocks, the accent's (with its
    // drum) over accentBlocks.
    // A click is learnt from once decideBlocks have passed after it, when any note begun on it
    // has been named (noteAt).
    OwnClicks(int blockSamples, int slackBlocks, int beatBlocks, int accentBlocks,
              int decideBlocks);

    // A click is to sound at about this stream sample (announced ahead of it, or late by less
    // than the slack).
    void announce(int64_t sample, bool accent);
    // The mean square of the block that starts at blockStart (blocks in order, without gaps);
    // learns from the clicks it completes.
    void push(int64_t blockStart, double energy);
    // The energy the clicks announced are expected to add to the block starting at blockStart
    // (0 before a click of its kind has been heard alone; a block's own figure may be below 0,
    // its sum over a few periods not).
    double expected(int64_t blockStart) const;
    // A note begun at this sample was named: a click on it was not heard alone...
    void noteAt(int64_t sample);
    // ... unless silence came again before the click was learnt from: what was named was the
    // click itself (its own ring can hold a pitch for a few frames), and a note plucked on a
    // click from silence does not pass the energy test anyway.  frameEnd: the end of a frame
    // decided as silence.
    void silenceAt(int64_t frameEnd);
    // Whether the clicks of this kind have been heard alone, so that expected() knows them.
    bool learnt(bool accent) const;
    // The most a click of this kind adds to a block (0 before it is learnt).
    double loudest(bool accent) const;

private:
    struct Click {
        int64_t sample;
        bool accent;
        bool learnt;      // its blocks looked at
        bool played;      // a note begun on it
        int64_t playedAt; // that note's onset
    };
    struct Kind {
        int blocks = 0;
        std::deque<std::vector<double>> heard; // the last heard alone, from a block before
                                               // the onset
        std::deque<int> offsets;               // their onsets less the block they were announced in
        std::vector<double> profile;           // the blockwise median of heard
        int offset = 0;                        // the median offset
    };
    void learn(const Click& c);
    Kind& kind(bool accent) { return accent ? accent_ : beat_; }
    const Kind& kind(bool accent) const { return accent ? accent_ : beat_; }

    int block_;
    int slack_;
    int decide_;
    Kind beat_;
    Kind accent_;
    std::deque<Click> clicks_;
    std::deque<double> history_; // block energies, the first starting at historyStart_
    int64_t historyStart_ = -1;
};

} // namespace listen
