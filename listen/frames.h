// Frame candidates: what each short stretch of the input could be as a bass note.
//
// A frame is the last window() samples.  Its normalised difference (McLeod's NSDF) says how well
// the frame repeats at every lag; each positive lobe's peak is a candidate period.  A waveform
// that repeats at a period also repeats at twice and three times it, so the peaks alone cannot
// settle the octave or the twelfth.  The harmonics do: for a period T, the part of the periodic
// energy that does not repeat at T/2 is the odd harmonics' share (the normalised difference at
// T/2 is 1 - 2 x that share), and the part that does not repeat at T/3 is the share of the
// harmonics that are no multiple of three, and so on for every prime.  A candidate is its own note
// only when every such share is there; a period k times the note's has none at k.
#pragma once

#include "layers/listen.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace listen {

inline double midiToHz(double midi) {
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

inline double hzToMidi(double hz) {
    return 69.0 + 12.0 * std::log2(hz / 440.0);
}

struct PitchCandidate {
    double midi = 0.0;    // the pitch of the period, in fractional MIDI notes
    double clarity = 0.0; // the normalised difference at the period (1: repeats exactly)
    // The least, over the primes k, of the share of the energy in harmonics that are no
    // multiple of k: near 0 for a multiple of the true period.
    double own = 0.0;
};

struct FrameEvidence {
    double power = 0.0; // the frame's mean square
    // The candidates in the bass's range, the clearest first.
    std::vector<PitchCandidate> candidates;
    // The clearest candidate that is its own note (candidates.end() index when none).
    int best = -1;
    const PitchCandidate* bestCandidate() const {
        return best < 0 ? nullptr : &candidates[static_cast<std::size_t>(best)];
    }
};

// The share of the energy a candidate's own harmonics must hold for it to be its note and not a
// multiple of the note's period.  A plucked string's odd harmonics hold a fifth or more of its
// energy even where the pluck or the pickup sits near the middle of the string; a multiple of
// the period has none, but the decay over a frame and the noise make up about 1 %.
inline constexpr double kOwnShare = 0.03;

class FrameAnalyser {
public:
    // Candidates from lowestMidi to highestMidi, with a semitone's room on either side for a bass
    // tuned off concert pitch and for vibrato.
    FrameAnalyser(int sampleRate, int lowestMidi = 28, int highestMidi = 68);
    ~FrameAnalyser();
    FrameAnalyser(const FrameAnalyser&) = delete;
    FrameAnalyser& operator=(const FrameAnalyser&) = delete;

    // Samples a frame holds: two periods of the lowest candidate.
    int window() const { return window_; }
    int sampleRate() const { return rate_; }
    // The frame of window() samples starting at frame[0].
    FrameEvidence analyse(const float* frame);
    // The normalised difference of the last frame analysed at a (fractional) lag.
    double nsdfAt(double lag) const;

private:
    struct Fft;
    int rate_;
    int lowestMidi_;
    int highestMidi_;
    int window_;
    int maxLag_;
    int minLag_;
    std::unique_ptr<Fft> fft_;
    std::vector<double> nsdf_;
};

} // namespace listen
