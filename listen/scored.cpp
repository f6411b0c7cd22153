#include "listen/scored.h"

#include <algorithm>
#include <cmath>

namespace listen {

namespace {

// A pluck is a rise of the input's energy measured over a period of the lowest note (so that a
// low note's own waveform does not swing it): the energy over the last period against the period
// before.  A rise of this much is a sure pluck, half of it none; a string plucked again while it
// rings rises by a few dB at least.
constexpr double kPluckRiseDb = 6.0;
// A frame repeating less clearly than this holds no note: noise (or what the hum leaves).
constexpr double kNoiseClarity = 0.5;

std::size_t heldRoom(const DetectorParams& p) {
    return static_cast<std::size_t>(std::ceil(p.sampleRate / midiToHz(p.lowestMidi - 1.0))) + 2;
}

// A new note under one held shows in the frame with the held note taken out (the frame less
// itself a period of the held note earlier, which cancels every harmonic of it): where that
// keeps this share of the frame's power and more, it is a new sound (the held note's own decay
// and stiffness leave a few per cent); under a third of it, nothing new.
constexpr double kNewShare = 0.05;
constexpr double kSureNewShare = 0.2;
// Where the held note leaves less of itself (a sampled note's loop), a new sound is one that
// leaves four times what it does, and a share of 1 % at least (a pluck's rise over noise).
constexpr double kNewOverLeft = 4.0;
constexpr double kLeastNewShare = 0.01;
// What does not repeat at the held period rises for a note played into a ringing one, which
// adds to the energy if only a little, and for a string plucked again: the finger damps it as
// it plucks, so a softer re-pluck loses up to half the energy the string rang with.  Under half,
// the change is a note let go (its damping stops it repeating too).  A rise with the energy
// fallen waits for the attack after it, and stands on its own only if the string still sounds
// two periods of the lowest note later within this of what it rang with (-8 dB): a note let go
// has died by then.  (At 1.0 no re-pluck softer than the string rang was heard at all.)
constexpr double kAddsEnergy = 0.5;
constexpr double kStillSounds = 0.15;

// The note last named still rings, when the layer has left it, while the frame repeats at its
// period this much (the normalised difference there is about its share of the power, less
// what the newer note takes away): a tenth.  A note let go falls under it within a few tens
// of milliseconds, and its period then only misleads the frame taken less it.
constexpr double kStillRings = 0.1;
// A click's own sound is over within 60 ms; the accent's bass drum thumps for 150.
constexpr double kClickSeconds = 0.060;
constexpr double kAccentSeconds = 0.150;
// The layer decides a frame this many hops after it ends.
constexpr int kDecidedHops = 4;
// A note begun on a click, in another pitch class than its beat asks for, may be the click's own
// sound: a drum's thud named as a note, a ringing note plucked again by the thud's energy, or a
// pitch made of the thud and a ringing note's harmonic.  It is named once the click's sound is
// over, if it still sounds within 10 dB of its level when it was named (a drum's thud is 30 dB
// down by then, a string a few dB), and either no quieter than what rang before the click (a
// ringing note only dies away) or, begun under a note of another pitch, with this share of the
// whole not repeating at that note's period.
constexpr double kOutlasts = 0.1;
constexpr double kLouder = 1.0;
constexpr double kFresh = 0.1;
// A click learnt from clicks heard alone whose loudest block is 15 dB and more under the note
// holds nothing up (the input does not hear the metronome).
constexpr double kAudible = 0.03;

// How surely a candidate is its own note, from the share of its energy in harmonics that are
// no multiple of any prime (frames.h): a plucked string's odd harmonics hold a fifth or more of
// it, an acoustic bass's somewhat less, so 15 % counts fully.  Under that, the candidate counts
// in proportion: a multiple of a note's period shows a few per cent there where another note
// sounds beside it (E1 under a B2 with an A1 dying away), which a threshold at kOwnShare let
// through whole.
constexpr double kSureOwn = 0.15;
// Where a pluck is heard to begin: the first block of its rise whose energy over what rang
// before reaches a hundredth of the most it adds (a tenth of the amplitude).  A sample that
// takes a while to speak begins there, not at its first faint sample.
constexpr double kHeard = 0.01;
// A note's pitch is settled within this (the note layer's measure for naming a note).
constexpr double kSettledCents = 15.0;
// See restarted(): what a re-pluck changes repeats at half the period by 0.7 at most.
constexpr double kHigherRepeats = 0.8;
double ownWeight(double own) {
    return std::clamp(own / kSureOwn, 0.0, 1.0);
}

NoteLayerParams layerParams(const DetectorParams& p, int hop, int64_t window) {
    NoteLayerParams lp;
    lp.lowestMidi = p.lowestMidi;
    lp.highestMidi = p.highestMidi;
    (void)hop;
    // A note's pitch shows in the frames within two windows of its pluck (one to fill the
    // window, one more for a note played into a ringing one to win over it), and at the latest
    // when the window is half full of it.
    lp.pluckMemorySamples = 2 * window;
    lp.onsetBackSamples = window / 2;
    return lp;
}

} // namespace

ScoredDetector::ScoredDetector(const DetectorParams& params)
    : p_(params), analyser_(params.sampleRate, params.lowestMidi, params.highestMidi),
      layer_(layerParams(params, std::max(1, params.sampleRate * 256 / 48000), analyser_.window())),
      steady_(params.sampleRate), hop_(std::max(1, params.sampleRate * 256 / 48000)),
      block_(std::max(1, hop_ / 2)),
      spanBlocks_(static_cast<std::size_t>(std::ceil(
          params.sampleRate / (440.0 * std::pow(2.0, (params.lowestMidi - 69) / 12.0)) / block_))),
      dcCoeff_(1.0 - 2.0 * M_PI * 10.0 / std::max(8000, params.sampleRate)),
      // The frame, and before it a period of the lowest note, for the frame with the held
      // note taken out.
      ring_(2 * static_cast<std::size_t>(analyser_.window()) + heldRoom(params), 0.0f),
      frame_(ring_.size(), 0.0f), residual_(static_cast<std::size_t>(analyser_.window()), 0.0f),
      continuation_(residual_.size(), 0.0f),
      ownClicks_(
          block_,
          static_cast<int>(std::ceil(params.clickSlackMs * params.sampleRate / 1000.0 / block_)),
          static_cast<int>(std::ceil(kClickSeconds * params.sampleRate / block_)),
          static_cast<int>(std::ceil(kAccentSeconds * params.sampleRate / block_)),
          // By a quarter of a second any note begun on a click has been named.
          static_cast<int>(std::ceil(0.250 * params.sampleRate / block_))),
      gatePower_(std::pow(10.0, params.gateDb / 10.0)),
      slackSamples_(static_cast<int64_t>(params.clickSlackMs * params.sampleRate / 1000.0)),
      clickSamples_(static_cast<int64_t>(params.clickMs * params.sampleRate / 1000.0)) {}

void ScoredDetector::ownClick(int64_t sample, bool accent, int expectedMidi) {
    if (sample < 0) {
        return;
    }
    ownClicks_.announce(sample, accent);
    const Announced click{sample, accent, expectedMidi};
    clicks_.insert(std::upper_bound(clicks_.begin(), clicks_.end(), click), click);
    while (clicks_.size() > 64) {
        clicks_.pop_front();
    }
}

bool ScoredDetector::unknownClickIn(int64_t from, int64_t to) const {
    const int64_t slack = slackSamples_;
    const int64_t length = clickSamples_;
    for (const Announced& a : clicks_) {
        if (!ownClicks_.learnt(a.accent) && a.sample - slack < to && a.sample + length > from) {
            return true;
        }
    }
    return false;
}

bool ScoredDetector::nearClick(int64_t sample) const {
    const int64_t slack = slackSamples_;
    const int64_t length = clickSamples_;
    for (const Announced& click : clicks_) {
        const int64_t c = click.sample;
        if (sample >= c - slack && sample <= c + length) {
            return true;
        }
    }
    return false;
}

void ScoredDetector::block(int64_t start, double energy, double residual) {
    ownClicks_.push(start, energy);
    if (energies_.empty()) {
        energiesStart_ = start;
    }
    energies_.push_back(energy);
    // Half a second: from before a click to when what began on it is decided.
    while (energies_.size() > static_cast<std::size_t>(p_.sampleRate / 2 / block_)) {
        energies_.pop_front();
        energiesStart_ += block_;
    }
    envelope_.push_back(energy);
    residualEnvelope_.push_back(residual);
    clickEnvelope_.push_back(ownClicks_.expected(start));
    if (envelope_.size() > 2 * spanBlocks_) {
        envelope_.pop_front();
        clickEnvelope_.pop_front();
    }
    while (residualEnvelope_.size() > envelope_.size()) {
        residualEnvelope_.pop_front();
    }
    if (envelope_.size() < 2 * spanBlocks_) {
        return;
    }
    double past = 0.0;
    double present = 0.0;
    double pastClick = 0.0;
    double presentClick = 0.0;
    for (std::size_t i = 0; i < spanBlocks_; ++i) {
        past += envelope_[i];
        present += envelope_[i + spanBlocks_];
        pastClick += clickEnvelope_[i];
        presentClick += clickEnvelope_[i + spanBlocks_];
    }
    const auto span = static_cast<double>(spanBlocks_);
    past /= span;
    present /= span;
    pastClick = std::max(pastClick, 0.0) / span;
    presentClick = std::max(presentClick, 0.0) / span;
    // What the program's clicks add is no rise: the present is measured against what rang
    // before without them (at least half of what rang, since a click's energy is not known
    // to the last per cent), and the clicks now.
    auto without = [&](double before, double clickBefore, double clickNow) {
        return clickBefore > 0.0 || clickNow > 0.0
                   ? std::max(before - clickBefore, 0.5 * before) + clickNow
                   : before;
    };
    // Where the present period begins: the pluck's place when this rise is the greatest.
    const auto spanSamples = static_cast<int64_t>(spanBlocks_) * block_;
    const int64_t boundary = start + block_ - spanSamples;
    // Below the gate or near the noise floor nothing is plucked.
    const bool heard = present > gatePower_ && present > 2.0 * steady_.noiseFloor();
    auto rise = [&](double now, double before) {
        return heard && now > before ? 10.0 * std::log10(now / std::max(before, 1e-12)) : 0.0;
    };
    auto strengthOf = [](double db) {
        return std::clamp((db - kPluckRiseDb / 2) / (kPluckRiseDb / 2), 0.0, 1.0);
    };
    double riseDb = rise(present, without(past, pastClick, presentClick));
    double strength = strengthOf(riseDb);
    // Under a held note a new one shows as a rise of what does not repeat at the held period
    // (the difference doubles the power of what is new, and of a click), however loud the held
    // note rings: a note played into a ringing one, a hammer-on.  It counts as far as what is
    // new is a share of the whole.
    // After a pluck since the held note began, what follows it is that pluck's note (named or
    // not yet) until a note's pitch would have shown.
    // A click does not repeat at the held period either: under one not yet heard alone (so
    // not known to the envelope), what is new is not to be told from it.
    if (residualEnvelope_.size() == 2 * spanBlocks_ &&
        !unknownClickIn(boundary - spanSamples, boundary + spanSamples) &&
        present >= kAddsEnergy * past &&
        (lastPluckSample_ <= heldOnset_ + spanSamples ||
         boundary > lastPluckSample_ + 2 * static_cast<int64_t>(analyser_.window()))) {
        double pastNew = 0.0;
        double presentNew = 0.0;
        for (std::size_t i = 0; i < spanBlocks_; ++i) {
            pastNew += residualEnvelope_[i];
            presentNew += residualEnvelope_[i + spanBlocks_];
        }
        pastNew /= span;
        presentNew /= span;
        // Measured from what the held note's own decay and stiffness leave at least, so that
        // the first few samples of what is new (a held note cancels well) are no rise yet and
        // the rise is greatest, as the plain one, where the present period holds the attack.
        // A sampled note's loop repeats almost exactly and leaves far less than a string:
        // what the held note leaves of itself is measured on the period before, and a new
        // sound is one that leaves four times as much (6 dB over it), a few per cent at most.
        const double leaves = std::clamp(kNewOverLeft * pastNew / (2.0 * std::max(past, 1e-12)),
                                         kLeastNewShare, kNewShare);
        const double newDb =
            rise(presentNew, std::max(without(pastNew, 2.0 * pastClick, 2.0 * presentClick),
                                      2.0 * leaves * past));
        const double share = presentNew / (2.0 * std::max(present, 1e-12));
        const double newStrength =
            strengthOf(newDb) *
            std::clamp((share - leaves) / (kSureNewShare / kNewShare - 1.0) / leaves, 0.0, 1.0);
        // The place is where either rise is greatest.
        if (newStrength > 0.0) {
            strength = std::max(strength, newStrength);
            riseDb = std::max(riseDb, newDb);
        }
    }
    if (strength > 0.0 && nearClick(boundary)) {
        // The program's own click rises as sharply as a pluck: over one, only a rise that
        // leaves no doubt counts, and as the half of it.
        strength *= 0.5;
    }
    // One pluck a rise: the greatest strength while it lasts, given once the rise has passed
    // (fallen to half of it, or held for a period); the rise's tail, seen from the boundaries
    // after it, is no new pluck.
    if (fallenSample_ >= 0 && boundary > fallenSample_ + 2 * spanSamples) {
        // With no attack after it, a string plucked again still sounds; one let go has died.
        const double before = meanEnergy(fallenSample_ - spanSamples, fallenSample_);
        if (before < 0.0 || present >= kStillSounds * before) {
            pluck(fallenSample_, fallen_);
        }
        fallenSample_ = -1;
    }
    if (boundary < quietUntil_) {
        return;
    }
    // The place is where the rise itself is greatest (from silence every rise is a sure pluck,
    // and the greatest is where the present period holds the whole attack).
    if (strength > 0.0 && riseDb > risingDb_) {
        rising_ = std::max(rising_, strength);
        risingDb_ = riseDb;
        risingSample_ = boundary;
        risingFell_ = present < past;
    } else if (rising_ > 0.0 &&
               (riseDb < risingDb_ - kPluckRiseDb / 2 || boundary - risingSample_ >= spanSamples)) {
        const int64_t heard = heardFrom(risingSample_);
        // A string damped as it is plucked again: what does not repeat rises as the energy
        // falls, and the attack rises after it.  Both are one pluck, placed at the attack
        // when one follows within two periods of the lowest note.
        if (risingFell_) {
            if (fallenSample_ < 0 || rising_ > fallen_) {
                fallenSample_ = heard;
                fallen_ = rising_;
            }
        } else {
            double strength = rising_;
            if (fallenSample_ >= 0) {
                strength = std::max(strength, fallen_);
                fallenSample_ = -1;
            }
            pluck(heard, strength);
        }
        rising_ = 0.0;
        risingDb_ = 0.0;
        quietUntil_ = risingSample_ + (risingFell_ ? 0 : spanSamples);
    }
}

void ScoredDetector::pluck(int64_t sample, double strength) {
    lastPluckSample_ = sample;
    if (strength > hopPluck_) {
        hopPluck_ = strength;
        hopPluckSample_ = sample;
    }
}

double ScoredDetector::takeOut(double period, double power) {
    const std::size_t h = frame_.size();
    const std::size_t w = residual_.size();
    const auto whole = static_cast<std::size_t>(period);
    const double part = period - static_cast<double>(whole);
    double left = 0.0;
    for (std::size_t i = 0; i < w; ++i) {
        const std::size_t at = h - w + i;
        const double before = (1.0 - part) * frame_[at - whole] + part * frame_[at - whole - 1];
        residual_[i] = static_cast<float>(frame_[at] - before);
        left += static_cast<double>(residual_[i]) * residual_[i];
    }
    // The difference doubles the power of what does not repeat at the period.
    return left / static_cast<double>(w) / (2.0 * power);
}

double ScoredDetector::restarted(std::size_t first, double period) const {
    // The frame's samples since the pluck (x) against the held note carried on over it (x less
    // the continuation): the share of x that no scaling of the carried-on note explains is what
    // the pluck changed.  A string plucked again starts anew at a phase of its own, and that
    // change repeats at the period; a thump, a click or the release's damping leaves either
    // the phase or nothing periodic.
    const std::size_t w = continuation_.size();
    const std::size_t h = frame_.size();
    if (first >= w || static_cast<double>(w - first) < 2.0 * period) {
        return 0.0;
    }
    // The latest three periods at most: a pluck is placed to within a period of the lowest
    // note, and what lies between its place and the string's new start repeats the old note.
    first = std::max(first, w - std::min(w, static_cast<std::size_t>(3.0 * period)));
    double xx = 0.0, rr = 0.0, xr = 0.0;
    for (std::size_t i = first; i < w; ++i) {
        const double x = frame_[h - w + i];
        const double r = x - continuation_[i];
        xx += x * x;
        rr += r * r;
        xr += x * r;
    }
    if (xx <= 0.0 || rr <= 0.0) {
        return 0.0;
    }
    // A string ringing on only dies away: the carried-on note scaled by 0 to 1 (a phase turned
    // over is no ringing on).
    const double gain = std::clamp(xr / rr, 0.0, 1.0);
    const double changed = std::clamp(1.0 - (2.0 * gain * xr - gain * gain * rr) / xx, 0.0, 1.0);
    // How the change repeats at the period: its normalised correlation a period on.
    auto change = [&](double i) {
        const auto k = static_cast<std::size_t>(std::floor(i));
        const double f = i - static_cast<double>(k);
        auto at = [&](std::size_t j) {
            const double x = frame_[h - w + j];
            return x - gain * (x - continuation_[j]);
        };
        return (1.0 - f) * at(k) + (f > 0.0 && k + 1 < w ? f * at(k + 1) : 0.0);
    };
    auto repeats = [&](double lag) {
        double ee = 0.0, pp = 0.0, ep = 0.0;
        for (std::size_t i = first + static_cast<std::size_t>(std::ceil(period)); i < w; ++i) {
            const double e = change(static_cast<double>(i));
            const double q = change(static_cast<double>(i) - lag);
            ee += e * e;
            pp += q * q;
            ep += e * q;
        }
        return ee > 0.0 && pp > 0.0 ? std::max(0.0, ep / std::sqrt(ee * pp)) : 0.0;
    };
    // A change that repeats at a half or a third of the period as well is a note an octave or a
    // twelfth over the ringing one, begun as it was let go: a string plucked again keeps its odd
    // harmonics (kSureOwn), so its own change repeats at half its period by 0.7 at most.
    for (const double k : {2.0, 3.0}) {
        if (repeats(period / k) >= kHigherRepeats) {
            return 0.0;
        }
    }
    return changed * repeats(period);
}

void ScoredDetector::name(const DetectedNote& note, double ringingPeriod, bool again,
                          std::vector<DetectedNote>& out) {
    const double rate = p_.sampleRate;
    const int64_t slack = slackSamples_;
    for (const Announced& c : clicks_) {
        // Begun while the click sounds, as far as the frames can place it (a note named
        // without a pluck is placed half a window back).
        const double sound = c.accent ? kAccentSeconds : kClickSeconds;
        const int64_t reach = slack + analyser_.window() / 2;
        if (c.expectedMidi == 0 || note.onsetSample < c.sample - reach ||
            note.onsetSample > c.sample + reach + static_cast<int64_t>(sound * rate) ||
            (note.midi - c.expectedMidi) % 12 == 0) {
            continue;
        }
        const int64_t span = static_cast<int64_t>(spanBlocks_) * block_;
        if (ownClicks_.learnt(c.accent) &&
            ownClicks_.loudest(c.accent) < kAudible * meanEnergy(fed_ - span, fed_)) {
            break;
        }
        const int64_t checkAt = c.sample + slack + static_cast<int64_t>(sound * rate) +
                                analyser_.window() + kDecidedHops * hop_;
        held_.push_back(
            {note, c.sample, checkAt, ringingPeriod, again, meanEnergy(fed_ - span, fed_)});
        return;
    }
    report(note, out);
}

void ScoredDetector::report(const DetectedNote& note, std::vector<DetectedNote>& out) {
    lastMidi_ = note.midi;
    lastPeriod_ = p_.sampleRate / midiToHz(note.midi + note.cents / 100.0);
    out.push_back(note);
}

double ScoredDetector::newShare(double period) const {
    const std::size_t h = ring_.size();
    const auto w = static_cast<std::size_t>(analyser_.window());
    const auto whole = static_cast<std::size_t>(period);
    const double part = period - static_cast<double>(whole);
    if (whole + 1 + w > h) {
        return 0.0;
    }
    double power = 0.0;
    double residual = 0.0;
    for (std::size_t i = 0; i < w; ++i) {
        const std::size_t at = (ringPos_ + h - w + i) % h;
        const std::size_t back = (at + h - whole) % h;
        const double before = (1.0 - part) * ring_[back] + part * ring_[(back + h - 1) % h];
        power += static_cast<double>(ring_[at]) * ring_[at];
        residual += (ring_[at] - before) * (ring_[at] - before);
    }
    return residual / std::max(2.0 * power, 1e-30);
}

int64_t ScoredDetector::heardFrom(int64_t boundary) const {
    const auto span = static_cast<int64_t>(spanBlocks_) * block_;
    const double before = meanEnergy(boundary - span, boundary);
    if (before < 0.0 || boundary < energiesStart_) {
        return boundary;
    }
    const auto first = static_cast<std::size_t>((boundary - energiesStart_) / block_);
    const std::size_t last = std::min(first + 2 * spanBlocks_, energies_.size());
    double added = 0.0;
    for (std::size_t i = first; i < last; ++i) {
        added = std::max(added, energies_[i] - before);
    }
    // A rise of less than 6 dB over what rang (a string plucked again, a note played into a
    // louder one) is placed by the rise itself.
    if (added < 3.0 * before) {
        return boundary;
    }
    for (std::size_t i = first; i < last; ++i) {
        if (energies_[i] - before >= kHeard * added) {
            return energiesStart_ + static_cast<int64_t>(i) * block_;
        }
    }
    return boundary;
}

double ScoredDetector::meanEnergy(int64_t from, int64_t to) const {
    if (from < energiesStart_ || to <= from) {
        return -1.0;
    }
    const auto first = static_cast<std::size_t>((from - energiesStart_) / block_);
    const auto last = static_cast<std::size_t>((to - energiesStart_ + block_ - 1) / block_);
    if (last > energies_.size()) {
        return -1.0;
    }
    double sum = 0.0;
    for (std::size_t i = first; i < last; ++i) {
        sum += energies_[i];
    }
    return sum / static_cast<double>(last - first);
}

void ScoredDetector::release(std::vector<DetectedNote>& out) {
    for (auto it = held_.begin(); it != held_.end();) {
        if (fed_ < it->checkAt) {
            ++it;
            continue;
        }
        // Still the note decided, with the frames clear of the click.  A note that is a
        // harmonic of the one before repeats at its period too; it is heard by its level.
        const int64_t slack = slackSamples_;
        const int64_t span = static_cast<int64_t>(spanBlocks_) * block_;
        const double before = meanEnergy(it->click - slack - span, it->click - slack);
        const double now = meanEnergy(fed_ - span, fed_);
        const bool louder = before >= 0.0 && now >= kLouder * before;
        const bool fresh =
            !it->again && it->ringingPeriod > 0.0 && newShare(it->ringingPeriod) >= kFresh;
        const bool outlasted = now >= kOutlasts * it->named && (louder || fresh);
        if (layer_.currentMidi() == it->note.midi && outlasted) {
            report(it->note, out);
        }
        it = held_.erase(it);
    }
}

std::vector<DetectedNote> ScoredDetector::feed(const float* samples, std::size_t count) {
    std::vector<DetectedNote> out;
    if (!samples) {
        return out;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const double x = std::isfinite(samples[i]) ? std::clamp(samples[i], -8.0f, 8.0f) : 0.0f;
        dcOut_ = x - dcIn_ + dcCoeff_ * dcOut_;
        dcIn_ = x;
        const float y = steady_.filter(static_cast<float>(dcOut_));
        ring_[ringPos_] = y;
        ringPos_ = (ringPos_ + 1) % ring_.size();
        ++fed_;
        blockEnergy_ += static_cast<double>(y) * y;
        if (heldPeriod_ > 0.0) {
            // The sample less the held note a period earlier.
            const auto whole = static_cast<std::size_t>(heldPeriod_);
            const double part = heldPeriod_ - static_cast<double>(whole);
            const std::size_t n = ring_.size();
            const std::size_t at = (ringPos_ + n - 1 - whole) % n;
            const double before = (1.0 - part) * ring_[at] + part * ring_[(at + n - 1) % n];
            const double r = y - before;
            blockResidual_ += r * r;
        }
        if (++inBlock_ == block_) {
            block(fed_ - block_, blockEnergy_ / block_, blockResidual_ / block_);
            blockEnergy_ = 0.0;
            blockResidual_ = 0.0;
            inBlock_ = 0;
        }
        if (++sinceHop_ == hop_) {
            sinceHop_ = 0;
            hop(out);
        }
    }
    return out;
}

void ScoredDetector::hop(std::vector<DetectedNote>& out) {
    const std::size_t h = ring_.size();
    const auto w = static_cast<std::size_t>(analyser_.window());
    std::copy(ring_.begin() + static_cast<std::ptrdiff_t>(ringPos_), ring_.end(), frame_.begin());
    std::copy(ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(ringPos_),
              frame_.begin() + static_cast<std::ptrdiff_t>(h - ringPos_));
    const float* last = frame_.data() + (h - w);
    const FrameEvidence evidence = analyser_.analyse(last);
    levelDb_ = evidence.power > 1e-12 ? 10.0 * std::log10(evidence.power) : -120.0;
    // The note that rings: the one the layer holds, or else the one last named while the frame
    // still repeats at its period (the layer may leave it for silence, or for a note in the
    // making, some frames before that note settles): what is new beside it is what sounds
    // beside it until it has died away.
    const double beforeRepeats = beforePeriod_ > 0.0 ? analyser_.nsdfAt(beforePeriod_) : 0.0;
    int ringing = layer_.currentMidi();
    double ringingPeriod =
        ringing != 0 ? p_.sampleRate / midiToHz(ringing + layer_.currentCents() / 100.0) : 0.0;
    // While the frame still repeats clearly at its period, the note last named rings whatever
    // the layer holds (two notes together each repeat less clearly than either alone, and the
    // layer may leave both for silence).
    if ((ringing == lastMidi_ && ringing != 0) ||
        (lastMidi_ != 0 && lastPeriod_ > 0.0 && analyser_.nsdfAt(lastPeriod_) >= kNoiseClarity)) {
        lastHeldSample_ = fed_;
    }
    if (ringing == 0 && lastMidi_ != 0 && lastPeriod_ > 0.0 &&
        fed_ - lastHeldSample_ <= 2 * static_cast<int64_t>(analyser_.window()) &&
        analyser_.nsdfAt(lastPeriod_) >= kStillRings) {
        ringing = lastMidi_;
        ringingPeriod = lastPeriod_;
    }

    const int pitches = p_.highestMidi - p_.lowestMidi + 1;
    LayerFrame frame;
    frame.endSample = fed_;
    frame.salience.assign(static_cast<std::size_t>(pitches), 0.0);
    frame.pitch.assign(static_cast<std::size_t>(pitches), 0.0);
    frame.periodic.assign(static_cast<std::size_t>(pitches), 0.0);
    for (const PitchCandidate& c : evidence.candidates) {
        const int midi = static_cast<int>(std::lround(c.midi));
        if (midi < p_.lowestMidi || midi > p_.highestMidi) {
            continue;
        }
        const auto i = static_cast<std::size_t>(midi - p_.lowestMidi);
        const double value = c.clarity * ownWeight(c.own);
        if (value > frame.salience[i]) {
            frame.salience[i] = value;
            frame.pitch[i] = c.midi;
            frame.periodic[i] = evidence.power * std::max(c.clarity, 0.0);
        }
    }
    {
        const auto at = static_cast<std::size_t>(ringing - p_.lowestMidi);
        ringingPitches_.emplace_back(fed_, ringing != 0 && at < frame.pitch.size() &&
                                                   std::abs(frame.pitch[at] - ringing) < 0.5
                                               ? frame.pitch[at]
                                               : 0.0);
        if (ringingPitches_.size() > 32) {
            ringingPitches_.pop_front();
        }
    }
    // A note held: what sounds beside it, from the frame with it taken out.
    // Without a new pluck since the held note began, the note before it, still ringing, is no
    // new note beside it.
    const int held = layer_.currentMidi();
    const std::vector<double> wholeFrame = frame.salience; // the whole frame's own evidence
    if (held != 0 && held != heldNow_) {
        heldBefore_ = heldNow_;
        beforePeriod_ = nowPeriod_;
        heldNow_ = held;
    }
    if (held == heldNow_ && held != 0) {
        nowPeriod_ = p_.sampleRate / midiToHz(held + layer_.currentCents() / 100.0);
    }
    // The residual's envelope follows the ringing note; a new one (or none) starts it again.
    const double heldPeriod = ringingPeriod;
    if (heldPeriod == 0.0 || heldPeriod_ == 0.0 ||
        std::abs(heldPeriod / heldPeriod_ - 1.0) > 0.03) {
        residualEnvelope_.clear();
    }
    heldPeriod_ = heldPeriod;
    // The held note's onset, taken when it is named (the layer's own onset moves on to a note
    // in the making before that one is named).
    if (held == 0) {
        heldOnset_ = 0;
        ownClicks_.silenceAt(fed_);
    } else if (held != heldMidi_) {
        heldOnset_ = layer_.currentOnset();
    }
    heldMidi_ = held;
    const bool newPluck = lastPluckSample_ > layer_.currentOnset() + static_cast<int64_t>(w) / 2;
    if (ringing != 0 && evidence.power > 0.0) {
        const double period = ringingPeriod;
        const double share = takeOut(period, evidence.power);
        ringingLeaves_.emplace_back(fed_, share);
        if (ringingLeaves_.size() > 32) {
            ringingLeaves_.pop_front();
        }
        const double weight =
            std::clamp((share - kNewShare) / (kSureNewShare - kNewShare), 0.0, 1.0);
        // After a new pluck, the frame less the ringing note as it rang before the pluck, carried
        // on period by period: a new note that is a harmonic of the ringing one (E4 over a ringing
        // E1 is its eighth) repeats at the ringing period too and cancels above, not here.
        const int64_t frameStart = fed_ - static_cast<int64_t>(w);
        const int64_t pluck = lastPluckSample_;
        if (pluck > frameStart - static_cast<int64_t>(w) && pluck < fed_) {
            // A string plucked again keeps its pitch; two notes together repeat at a period that
            // is neither's (E1 and D4, its seventh harmonic less a third of a semitone, at an E1
            // 30 cents sharp): a ringing pitch moved further than a settled note may is no
            // re-pluck of it.
            const auto ringingAt = static_cast<std::size_t>(ringing - p_.lowestMidi);
            double rang = 0.0;
            for (const auto& [end, pitch] : ringingPitches_) {
                if (end <= pluck && pitch > 0.0 && std::lround(pitch) == ringing) {
                    rang = pitch;
                }
            }
            if (rang > 0.0 && ringingAt < frame.pitch.size() && frame.pitch[ringingAt] > 0.0) {
                const double moved = 100.0 * std::abs(frame.pitch[ringingAt] - rang);
                frame.salience[ringingAt] *=
                    std::clamp((2.0 * kSettledCents - moved) / kSettledCents, 0.0, 1.0);
            }
            const int64_t oldest = fed_ - static_cast<int64_t>(h);
            double newPower = 0.0;
            bool whole_ = true;
            std::size_t first = w;
            for (std::size_t i = 0; i < w; ++i) {
                const int64_t at = frameStart + static_cast<int64_t>(i);
                if (at < pluck) {
                    continuation_[i] = 0.0f;
                    continue;
                }
                first = std::min(first, i);
                const double back =
                    std::ceil(static_cast<double>(at - pluck + 1) / period) * period;
                const double ref = static_cast<double>(at) - back;
                const auto r0 = static_cast<int64_t>(std::floor(ref));
                if (r0 - oldest < 0) {
                    whole_ = false;
                    break;
                }
                const double f = ref - static_cast<double>(r0);
                const auto j = static_cast<std::size_t>(r0 - oldest);
                const double before = (1.0 - f) * frame_[j] + f * frame_[j + 1];
                continuation_[i] = static_cast<float>(frame_[h - w + i] - before);
                newPower += static_cast<double>(continuation_[i]) * continuation_[i];
            }
            if (whole_) {
                frame.restart = restarted(first, period);
                frame.restartSample = pluck;
            }
            const double newShare = newPower / static_cast<double>(w) / (2.0 * evidence.power);
            // Measured, as under a held note, against what the ringing note left of itself.
            double left = kNewShare;
            for (const auto& [end, leftShare] : ringingLeaves_) {
                if (end <= pluck) {
                    left = std::clamp(kNewOverLeft * leftShare, kLeastNewShare, kNewShare);
                }
            }
            const double newWeight =
                std::clamp((newShare - left) / (kSureNewShare / kNewShare - 1.0) / left, 0.0, 1.0);
            if (whole_ && newWeight > 0.0) {
                const FrameEvidence added = analyser_.analyse(continuation_.data());
                // The note heard is the one just begun: where what is new is another pitch, the
                // one ringing under it is no longer the note.
                const PitchCandidate* top = added.bestCandidate();
                const auto ringingIndex = static_cast<std::size_t>(ringing - p_.lowestMidi);
                if (top && std::lround(top->midi) != ringing &&
                    ringingIndex < frame.salience.size()) {
                    frame.salience[ringingIndex] *= 1.0 - newWeight * top->clarity;
                }
                for (const PitchCandidate& c : added.candidates) {
                    const int midi = static_cast<int>(std::lround(c.midi));
                    if (midi < p_.lowestMidi || midi > p_.highestMidi || midi == ringing) {
                        continue;
                    }
                    const auto i = static_cast<std::size_t>(midi - p_.lowestMidi);
                    const double value = newWeight * c.clarity * ownWeight(c.own);
                    if (value > frame.salience[i]) {
                        frame.salience[i] = value;
                        frame.pitch[i] = c.midi;
                        frame.periodic[i] = evidence.power * newShare * std::max(c.clarity, 0.0);
                    }
                }
            }
        }
        if (weight > 0.0) {
            const FrameEvidence beside = analyser_.analyse(residual_.data());
            // Two notes together repeat, nearly, at a period that is neither's: A1 and D#4 at
            // six D#4 periods, which A1 nearly repeats at too (G#1).  A pitch of the whole frame
            // is a note beside the ringing one only as far as what is new beside it has that
            // pitch as its own note too.
            std::vector<double> besideSalience(frame.salience.size(), 0.0);
            for (const PitchCandidate& c : beside.candidates) {
                const long at = std::lround(c.midi) - p_.lowestMidi;
                if (at >= 0 && at < static_cast<long>(besideSalience.size())) {
                    auto& v = besideSalience[static_cast<std::size_t>(at)];
                    v = std::max(v, c.clarity * ownWeight(c.own));
                }
            }
            for (std::size_t i = 0; i < frame.salience.size(); ++i) {
                const int midi = p_.lowestMidi + static_cast<int>(i);
                if (midi != ringing && wholeFrame[i] > 0.0 && frame.salience[i] == wholeFrame[i]) {
                    frame.salience[i] = (1.0 - weight) * wholeFrame[i] +
                                        weight * std::min(wholeFrame[i], besideSalience[i]);
                }
            }
            for (const PitchCandidate& c : beside.candidates) {
                const int midi = static_cast<int>(std::lround(c.midi));
                if (midi < p_.lowestMidi || midi > p_.highestMidi || midi == ringing ||
                    (midi == heldBefore_ && !newPluck)) {
                    continue;
                }
                const auto i = static_cast<std::size_t>(midi - p_.lowestMidi);
                const double value = weight * c.clarity * ownWeight(c.own);
                if (value > frame.salience[i]) {
                    frame.salience[i] = value;
                    frame.pitch[i] = c.midi;
                    frame.periodic[i] = evidence.power * share * std::max(c.clarity, 0.0);
                }
            }
        }
    }
    // The held note over the one before it, still ringing: a low note makes a higher one's
    // waveform look like a multiple of a longer period, so the held note's own evidence is
    // also taken from the frame less the note under it, where the whole frame has it unclear.
    const auto heldAt = static_cast<std::size_t>(std::max(0, held - p_.lowestMidi));
    if (held != 0 && heldBefore_ != 0 && heldBefore_ != held && beforePeriod_ > 0.0 &&
        beforeRepeats >= kStillRings && evidence.power > 0.0 && heldAt < frame.salience.size() &&
        frame.salience[heldAt] < kNoiseClarity) {
        const double share = takeOut(beforePeriod_, evidence.power);
        const double weight =
            std::clamp((share - kNewShare) / (kSureNewShare - kNewShare), 0.0, 1.0);
        const auto i = static_cast<std::size_t>(held - p_.lowestMidi);
        if (weight > 0.0 && i < frame.salience.size()) {
            for (const PitchCandidate& c : analyser_.analyse(residual_.data()).candidates) {
                const double value = weight * c.clarity * ownWeight(c.own);
                if (std::lround(c.midi) == held && value > frame.salience[i]) {
                    frame.salience[i] = value;
                    frame.pitch[i] = c.midi;
                    frame.periodic[i] = evidence.power * share * std::max(c.clarity, 0.0);
                }
            }
        }
    }
    // The noise floor is no note: a frame only a little above it has little of one.
    const double noise = steady_.noiseFloor();
    const double voicing = evidence.power <= gatePower_
                               ? 0.0
                               : std::clamp(1.0 - 2.0 * noise / evidence.power, 0.0, 1.0);
    for (double& s : frame.salience) {
        s *= voicing;
    }
    // The noise floor is measured on frames that hold no note: in a performance the quietest
    // frames of the last seconds are often a note dying away, which must not become the floor.
    const PitchCandidate* best = evidence.bestCandidate();
    if (!best || best->clarity < kNoiseClarity) {
        steady_.addPower(evidence.power);
    }
    frame.power = evidence.power;
    frame.pluck = hopPluck_;
    frame.pluckSample = hopPluckSample_;
    hopPluck_ = 0.0;

    for (const LayerNote& n : layer_.push(frame)) {
        DetectedNote note;
        note.onsetSample = std::max<int64_t>(0, n.onsetSample);
        note.midi = n.midi;
        note.cents = n.cents;
        note.confidence = n.confidence;
        note.levelDb = levelDb_;
        ownClicks_.noteAt(note.onsetSample);
        name(note, lastPeriod_, lastMidi_ == n.midi, out);
    }
    const int64_t old = fed_ - static_cast<int64_t>(10 * h);
    release(out);
    while (!clicks_.empty() && clicks_.front().sample < old) {
        clicks_.pop_front();
    }
}

} // namespace listen
