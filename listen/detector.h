// The note detector: mono samples in, plucked notes out, each with the sample position of its
// onset.  Tuned for a four-string bass (E1, MIDI 28, to G#4, MIDI 68).  Pure apart from aubio:
// no threads, no clock; the listener maps sample positions to the monotonic clock.
#pragma once

#include "layers/listen.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace listen {

struct DetectorParams {
    int sampleRate = 48000;
    // Chosen by bench/bench_detect (see the README's figures).  The pitch window covers two
    // periods of the low E string (41.2 Hz); 0 takes the power of two that does so at the rate.
    int windowSize = 4096;
    // 0 takes a sixteenth of the window.
    int hopSize = 256;
    // aubio's pitch method ("yin", "yinfast", "yinfft", "mcomb") and its tolerance; 0 keeps
    // aubio's own tolerance for the method.  yinfft, by bench_detect: with this detector's
    // onsets and guards yin and yinfast name the same notes, but yin costs about 24 % of a core
    // at this window (yinfast 1.5 %, yinfft 1.1 %); yinfft makes fewer octave errors than
    // yinfast where a metronome click lands on the pluck; mcomb mistakes a fifth of the notes.
    // Onsets: aubio's "energy" function, the only one that still finds bass plucks in white
    // noise at 20 dB SNR (hfc, complex and mkl find none; specflux and kl most miss).
    std::string pitchMethod = "yinfft";
    double pitchTolerance = 0.0;
    // aubio's onset function, its peak-picking threshold and the shortest gap between onsets
    // (shorter than between notes, so that a pluck just after a click it rejects still gets an
    // onset of its own).  onsetWindow 0 takes a quarter of the pitch window.
    std::string onsetMethod = "energy";
    int onsetWindow = 0;
    double onsetThreshold = 0.3;
    double minInterOnsetMs = 40.0;
    // The shortest gap between two notes reported.
    double minNoteGapMs = 120.0;
    // Level gate: a note must reach this level (dBFS, per hop) after its onset.  Low, for a bass
    // at a low input level (a soft note 30 dB under a full-scale one is near -65 dBFS); noise
    // and hum are kept out by the periodicity and onset rules, not by level.
    double gateDb = -70.0;
    // How long after the onset the pitch is decided (the event's latency), and the least
    // periodicity (1 - the normalised difference at the period) a note needs.
    double decisionMs = 70.0;
    double minPeriodicity = 0.4;
    // A plucked note on the same pitch as the ringing one must raise the periodic energy by
    // this, or break the ringing waveform's continuation by this much (normalised difference
    // against the waveform whole periods before the onset).
    double retriggerRiseDb = 3.0;
    // The octave guard takes the longer period only when what repeats at it but not at the
    // shorter one loses less than this over the decision time (a drum's thump loses more).
    double fadeDb = 4.0;
    double retriggerBreak = 0.25;
    // A note whose level falls by more than this within the decision time is a thump, not a
    // plucked string.
    double sustainDropDb = 12.0;
    // An onset whose new energy (the samples less the continuation of what rang before) falls
    // by more than this within the decision time is a click or a drum, not a pluck.
    double transientDropDb = 6.0;
    // The program's own clicks, when it announces them (ownClick): how long a click's samples
    // are left out of a note's decision, and how far an announced time may be from where the
    // click is heard.
    double clickMs = 30.0;
    double clickSlackMs = 10.0;
    int lowestMidi = 28;
    int highestMidi = 68;
    // "rules": the rules below, kept for comparison; anything else: the scored note model
    // (listen/scored.h), which reads only the rate, the gate, the click times and the range.
    // CLEFWORK_DETECTOR in the environment chooses the default ("scored" when unset).
    std::string model = defaultModel();
    static std::string defaultModel();

    // The defaults with the window and hop scaled to the sample rate.
    static DetectorParams forRate(int sampleRate);
};

struct DetectedNote {
    int64_t onsetSample =
        0; // position in the stream of the onset, counted from the first sample fed
    int midi = 0;
    double cents = 0.0;
    double confidence = 0.0;
    double levelDb = -120.0;
};

class ScoredDetector;

class NoteDetector {
public:
    explicit NoteDetector(const DetectorParams& params = {});
    ~NoteDetector();
    NoteDetector(const NoteDetector&) = delete;
    NoteDetector& operator=(const NoteDetector&) = delete;

    // Feeds any number of samples (any block size); returns the notes whose pitch became known
    // during this block, in onset order.
    std::vector<DetectedNote> feed(const float* samples, std::size_t count);
    // The program sounds its own metronome click at about this stream position (within
    // clickSlackMs; it may lie ahead of what has been fed).  A note whose onset falls on a
    // click is placed on its own attack and decided on the samples after the click; a click
    // alone is not a note.  accent: the bar's first click, whose bass drum thumps under the
    // note; an octave lower is then believed only when the samples without the thump (above
    // the drum's range) repeat there too.  Without announcements the detector works as before.
    // expectedMidi: the note the click's beat asks for (0: none).  The scored model names a
    // note of another pitch class begun on the click only once it has outlasted the click's
    // sound: a drum's thud, or a ringing note with the thud under it, is no wrong note.
    void ownClick(int64_t sample, bool accent = false, int expectedMidi = 0);
    // Level of the most recent hop, in dBFS (for a level meter).
    double levelDb() const;
    // The pitch heard now (0 when none) and its cents, for a tuner.
    int currentMidi() const;
    double currentCents() const;
    int64_t samplesFed() const;
    // The parameters in use: windowSize and hopSize resolved (never 0).
    const DetectorParams& params() const;
    // False when aubio refused the parameters (an unusable rate or method): feed() then finds
    // nothing but still counts samples and the level.
    bool ok() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<ScoredDetector> scored_;
};

} // namespace listen
