// A plucked bass string, modelled as a sum of decaying partials: what a real bass sounds like in
// the ways that trouble a note detector, without any soundfont's samples.  Each note has
//   - partials k = 1, 2, ... at k f0 sqrt((1 + B k^2) / (1 + B)) (stiff-string inharmonicity; the
//     fundamental is the note's own pitch, the upper partials sharp as B says),
//   - amplitudes comb-filtered by where it is plucked and where the pickup sits
//     (sin(k pi pluck) sin(k pi pickup) / k), and rolled off by the attack (a finger is dull,
//     a pick bright),
//   - per-partial damping that grows with frequency, and a release after the note-off that
//     damps the string within about 80 ms instead of cutting it,
//   - a short noise burst at the attack (the finger or the pick on the string), a fret squeak on
//     fretted notes and a little finger noise at the release,
//   - and optionally a slide up into the note, a hammer-on (the new pitch without a new attack),
//     vibrato, and the whole instrument tuned off by some cents.
// Ghost notes (a muted string struck) are a short pitchless thud.  Everything is deterministic
// from a seed.  Header only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace bench::strings {

inline double midiHz(double midi) {
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

enum class Attack { Finger, Pick };

struct StringNote {
    int64_t onset = 0; // samples
    int64_t off = 0;   // note-off, samples (the release starts here)
    int midi = 40;
    double velocity = 0.8; // 0..1, the peak level of the partials before the roll-off
    Attack attack = Attack::Finger;
    double pluck = 0.2;   // where it is plucked, a fraction of the string from the bridge
    double pickup = 0.15; // where the pickup sits, likewise
    double inharmonicity = 2e-4;
    double slideSemitones = 0; // > 0: the pitch glides up this far into the note
    double slideMs = 50;
    bool hammer = false;     // sounds without an attack of its own, ending the note before it
    double vibratoCents = 0; // depth, either way
    double vibratoHz = 5;
    bool fretted = true; // an open string makes no fret squeak
    bool ghost = false;  // a muted string struck: a thud, no pitch
};

struct StringParams {
    int rate = 48000;
    double tuningCents = 0; // the whole instrument, added to every note
    // The fundamental's decay (1/s) and how much faster partials decay per Hz squared.
    double damping = 0.6;
    double dampingPerHz2 = 6e-6;
    // Extra damping after the note-off (1/s), reached over a few milliseconds.
    double releaseDamping = 90.0;
    double highestPartialHz = 6000.0;
    int maxPartials = 48;
    double noiseLevel = 1.0; // scales the attack, fret and finger noises
};

// Frequency of partial k (1-based) of a string whose fundamental sounds at f1.
inline double partialHz(double f1, int k, double b) {
    const double kk = static_cast<double>(k);
    return f1 * kk * std::sqrt((1.0 + b * kk * kk) / (1.0 + b));
}

class StringModel {
public:
    explicit StringModel(const StringParams& params = {}, unsigned seed = 1)
        : p_(params), random_(seed) {}
    const StringParams& params() const { return p_; }

    // The notes mixed into out (which grows as needed).  A hammer-on ends the note sounding
    // before it (the previous one in the list) at its onset; so does the same pitch plucked
    // again while it sounds, the finger or the pick stopping the string as it plucks it.
    void render(const std::vector<StringNote>& notes, std::vector<float>& out) {
        for (std::size_t i = 0; i < notes.size(); ++i) {
            StringNote n = notes[i];
            std::size_t next = i + 1;
            while (next < notes.size() && notes[next].ghost) {
                ++next;
            }
            const bool stopped =
                !n.ghost && next < notes.size() &&
                (notes[next].hammer || (notes[next].midi == n.midi && notes[next].onset <= n.off));
            if (stopped) {
                n.off = std::min(n.off, notes[next].onset);
            }
            renderNote(n, out, stopped);
        }
    }

    std::vector<float> render(const std::vector<StringNote>& notes, int64_t frames) {
        std::vector<float> out(static_cast<std::size_t>(frames), 0.0f);
        render(notes, out);
        out.resize(static_cast<std::size_t>(frames));
        return out;
    }

private:
    double noise() { return uniform_(random_); }

    void grow(std::vector<float>& out, int64_t to) const {
        if (static_cast<int64_t>(out.size()) < to) {
            out.resize(static_cast<std::size_t>(to), 0.0f);
        }
    }

    // A burst of noise, one-pole low-passed at cutoffHz, rising over riseMs and decaying with
    // time constant tauMs, lasting lengthMs.
    void burst(std::vector<float>& out, int64_t at, double level, double cutoffHz, double riseMs,
               double tauMs, double lengthMs) {
        const double rate = p_.rate;
        const auto length = static_cast<int64_t>(lengthMs * rate / 1000.0);
        grow(out, at + length);
        const double a = std::exp(-2.0 * M_PI * cutoffHz / rate);
        double y1 = 0, y2 = 0;
        for (int64_t i = 0; i < length; ++i) {
            const double t = static_cast<double>(i) * 1000.0 / rate;
            const double env = std::min(1.0, t / std::max(riseMs, 0.01)) * std::exp(-t / tauMs);
            y1 = a * y1 + (1 - a) * noise();
            y2 = a * y2 + (1 - a) * y1;
            out[static_cast<std::size_t>(at + i)] += static_cast<float>(level * env * y2);
        }
    }

    void renderNote(const StringNote& n, std::vector<float>& out, bool stoppedByHammer) {
        const double rate = p_.rate;
        if (n.ghost) {
            // The strings muted under the fretting hand: low, dull and gone within 60 ms. The
            // double low-pass loses level; scaled so that the thud peaks near the velocity.
            burst(out, n.onset, 6.0 * n.velocity, 350.0, 1.5, 12.0, 60.0);
            return;
        }
        const double f1 = midiHz(n.midi + p_.tuningCents / 100.0);
        const double roll = n.attack == Attack::Pick ? 22.0 : 7.0; // partial number of -8.7 dB
        struct Partial {
            int k;
            double amp, ratio, sigma, phase;
        };
        std::vector<Partial> partials;
        double norm = 0;
        for (int k = 1; k <= p_.maxPartials; ++k) {
            const double fk = partialHz(f1, k, n.inharmonicity);
            if (fk > std::min(p_.highestPartialHz, 0.45 * rate)) {
                break;
            }
            const double kk = static_cast<double>(k);
            double amp = std::sin(kk * M_PI * n.pluck) * std::sin(kk * M_PI * n.pickup) / kk;
            amp *= std::exp(-(kk - 1.0) / roll);
            if (n.hammer) {
                amp *= std::exp(-(kk - 1.0) / 4.0); // no fresh pluck: the top is gone
            }
            norm += std::fabs(amp);
            partials.push_back(
                {k, amp, fk / f1, p_.damping + p_.dampingPerHz2 * fk * fk, 2.0 * M_PI * noise()});
        }
        if (partials.empty() || norm <= 0) {
            return;
        }
        const double scale = n.velocity * (n.hammer ? 0.6 : 1.0) / norm;
        // Long enough for the release to take the string under -100 dB.
        const int64_t releaseLen = static_cast<int64_t>(0.25 * rate);
        const int64_t end = std::max(n.off, n.onset) + releaseLen;
        grow(out, end);
        const auto length = static_cast<std::size_t>(end - n.onset);
        // The fundamental's frequency over the note: a slide's glide (smooth in log frequency)
        // and the vibrato, which fades in over 200 ms.
        std::vector<double> f0(length);
        const double slideLen = n.slideMs * rate / 1000.0;
        for (std::size_t i = 0; i < length; ++i) {
            const double t = static_cast<double>(i) / rate;
            double cents = 0;
            if (n.slideSemitones > 0 && static_cast<double>(i) < slideLen) {
                const double x = static_cast<double>(i) / slideLen;
                cents -= 100.0 * n.slideSemitones * (1.0 - x * x * (3.0 - 2.0 * x));
            }
            if (n.vibratoCents != 0) {
                cents +=
                    n.vibratoCents * std::min(1.0, t / 0.2) * std::sin(2 * M_PI * n.vibratoHz * t);
            }
            f0[i] = f1 * std::pow(2.0, cents / 1200.0);
        }
        // The damping on top of each partial's own: the release after the note-off, reached
        // over 5 ms (a hammer-on stops the string at once: 1 ms).
        const auto offAt = static_cast<std::size_t>(std::max<int64_t>(0, n.off - n.onset));
        const double rampLen = (stoppedByHammer ? 0.001 : 0.005) * rate;
        const double releaseSigma = stoppedByHammer ? 6.0 * p_.releaseDamping : p_.releaseDamping;
        // The attack: the partials rise over 1 ms (a finger 2 ms), a hammer-on's over 3 ms.
        const double riseLen = (n.hammer ? 0.003 : n.attack == Attack::Pick ? 0.001 : 0.002) * rate;
        std::vector<double> extra(length, 0.0);
        double envLog = 0;
        for (std::size_t i = 0; i < length; ++i) {
            if (i >= offAt) {
                const double r = std::min(1.0, static_cast<double>(i - offAt) / rampLen);
                envLog -= releaseSigma * r / rate;
            }
            extra[i] = envLog;
        }
        for (Partial& q : partials) {
            double phase = q.phase;
            const double a = scale * q.amp;
            for (std::size_t i = 0; i < length; ++i) {
                const double t = static_cast<double>(i) / rate;
                const double logEnv = -q.sigma * t + extra[i];
                if (logEnv < -12.0) { // -104 dB: nothing more to hear
                    break;
                }
                const double rise = std::min(1.0, static_cast<double>(i) / riseLen);
                out[static_cast<std::size_t>(n.onset) + i] +=
                    static_cast<float>(a * rise * std::exp(logEnv) * std::sin(phase));
                phase += 2.0 * M_PI * f0[i] * q.ratio / rate;
            }
        }
        if (!n.hammer) {
            if (n.attack == Attack::Pick) {
                burst(out, n.onset, 0.5 * n.velocity * p_.noiseLevel, 6000.0, 0.2, 2.0, 8.0);
            } else {
                burst(out, n.onset, 0.6 * n.velocity * p_.noiseLevel, 1200.0, 0.5, 3.0, 12.0);
            }
            if (n.fretted) {
                burst(out, n.onset, 0.05 * n.velocity * p_.noiseLevel, 3000.0, 0.3, 4.0, 15.0);
            }
        }
        if (!stoppedByHammer && n.off > n.onset) {
            burst(out, n.off, 0.03 * n.velocity * p_.noiseLevel, 2500.0, 1.0, 8.0, 30.0);
        }
    }

    StringParams p_;
    std::mt19937 random_;
    std::uniform_real_distribution<double> uniform_{-1.0, 1.0};
};

} // namespace bench::strings
