// The note detector: mono samples in, plucked notes out, each with the sample position of its
// onset.  Tuned for a four-string bass (E1, MIDI 28, to G#4, MIDI 68).  Pure apart from aubio:
// no threads, no clock; the listener maps sample positions to the monotonic clock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace listen {

struct DetectorParams {
    int sampleRate = 48000;
    // Chosen by bench/bench_detect (see the README's figures).
    int windowSize = 4096;
    int hopSize = 256;
    // Filled in by the detector's author with the values the benchmark picked.
};

struct DetectedNote {
    int64_t onsetSample = 0; // position in the stream of the onset, counted from the first sample fed
    int midi = 0;
    double cents = 0.0;
    double confidence = 0.0;
    double levelDb = -120.0;
};

class NoteDetector {
public:
    explicit NoteDetector(const DetectorParams& params = {});
    ~NoteDetector();
    NoteDetector(const NoteDetector&) = delete;
    NoteDetector& operator=(const NoteDetector&) = delete;

    // Feeds any number of samples (any block size); returns the notes whose pitch became known
    // during this block, in onset order.
    std::vector<DetectedNote> feed(const float* samples, std::size_t count);
    // Level of the most recent hop, in dBFS (for a level meter).
    double levelDb() const;
    // The pitch heard now (0 when none) and its cents, for a tuner.
    int currentMidi() const;
    double currentCents() const;
    int64_t samplesFed() const;
    const DetectorParams& params() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace listen
