#include "listen/detector.h"

#include "listen/scored.h"

#include <algorithm>
#include <cmath>

namespace listen {

DetectorParams DetectorParams::forRate(int sampleRate) {
    DetectorParams p;
    p.sampleRate = sampleRate;
    return p;
}

NoteDetector::NoteDetector(const DetectorParams& params) : params_(params) {
    // A rate or a range the analysis cannot use leaves the detector inert.
    if (params.sampleRate >= 8000 && params.sampleRate <= 768000 && params.lowestMidi >= 12 &&
        params.lowestMidi <= params.highestMidi && params.highestMidi <= 108) {
        scored_ = std::make_unique<ScoredDetector>(params);
    }
}

NoteDetector::~NoteDetector() = default;

std::vector<DetectedNote> NoteDetector::feed(const float* samples, std::size_t count) {
    if (scored_) {
        return scored_->feed(samples, count);
    }
    if (samples) {
        fed_ += static_cast<int64_t>(count);
        if (count > 0) {
            const float s = samples[count - 1];
            levelDb_ = std::isfinite(s) && s != 0.0f ? 20.0 * std::log10(std::fabs(s)) : -120.0;
        }
    }
    return {};
}

void NoteDetector::ownClick(int64_t sample, bool accent, int expectedMidi) {
    if (scored_) {
        scored_->ownClick(sample, accent, expectedMidi);
    }
}

double NoteDetector::levelDb() const {
    return scored_ ? scored_->levelDb() : levelDb_;
}

int NoteDetector::currentMidi() const {
    return scored_ ? scored_->currentMidi() : 0;
}

double NoteDetector::currentCents() const {
    return scored_ ? scored_->currentCents() : 0.0;
}

int64_t NoteDetector::samplesFed() const {
    return scored_ ? scored_->samplesFed() : fed_;
}

} // namespace listen
