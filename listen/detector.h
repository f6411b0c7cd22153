// The note detector: mono samples in, plucked notes out, each with the sample position of its
// onset.  Tuned for a four-string bass (E1, MIDI 28, to G#4, MIDI 68).  Pure apart from aubio's
// FFT: no threads, no clock; the listener maps sample positions to the monotonic clock.
#pragma once

#include "layers/listen.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace listen {

struct DetectorParams {
    int sampleRate = 48000;
    // Level gate: a note must reach this level (dBFS).  Low, for a bass at a low input level (a
    // soft note 30 dB under a full-scale one is near -65 dBFS); noise and hum are kept out by
    // the noise floor and the steady tones measured while listening, not by level.
    double gateDb = -70.0;
    // How long after its onset a detector takes to name a note, as the benchmarks' fair verdicts
    // hear each note played (the model's own time varies with the note and what rings).
    double decisionMs = 70.0;
    // The program's own clicks, when it announces them (ownClick): how long a click's crack
    // lasts, and how far an announced time may be from where the click is heard.
    double clickMs = 30.0;
    double clickSlackMs = 10.0;
    int lowestMidi = 28;
    int highestMidi = 68;

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

// The scored note model (listen/scored.h) behind a stable face for the listener, the take judge
// and the benchmarks.
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
    // clickSlackMs; it may lie ahead of what has been fed).  A click alone is not a note, and a
    // pluck on a click is measured against the click as well as what rang before.  accent: the
    // bar's first click, whose bass drum thumps under the note.  expectedMidi: the note the
    // click's beat asks for (0: none); a note of another pitch class begun on the click is
    // named only once it has outlasted the click's sound: a drum's thud, or a ringing note with
    // the thud under it, is no wrong note.  Without announcements the detector works as before.
    void ownClick(int64_t sample, bool accent = false, int expectedMidi = 0);
    // Level of the most recent hop, in dBFS (for a level meter).
    double levelDb() const;
    // The pitch heard now (0 when none) and its cents, for a tuner.
    int currentMidi() const;
    double currentCents() const;
    int64_t samplesFed() const;
    const DetectorParams& params() const { return params_; }
    // False for a rate or range the analysis cannot use: feed() then finds nothing but still
    // counts samples and the level.
    bool ok() const { return scored_ != nullptr; }

private:
    DetectorParams params_;
    std::unique_ptr<ScoredDetector> scored_;
    int64_t fed_ = 0; // while inert
    double levelDb_ = -120.0;
};

} // namespace listen
