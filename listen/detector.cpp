// The note detector.  Every hop goes through aubio's onset detector (a short window, for timing)
// and aubio's pitch tracker (a window of two periods of the low E string).  An onset opens a
// note: aubio's, or, for a note played over a louder or a related one ringing (which need not
// raise the energy), where the ringing note's waveform stops repeating at its period, or where
// the tracker moved to another key that the samples repeat at; decisionMs later the pitch estimates
// made since the onset are voted on, and the vote is checked against the samples after the onset
// alone:
//  - octave guard: a bass's fundamental is weak at the pluck, so the trackers often report the
//    second or third harmonic.  The normalised difference of the post-onset samples is measured
//    at one, two and three times the voted period; when a multiple repeats clearly better, the
//    note is that many times lower, unless what repeats there is an undertone with none of a
//    lower string's other harmonics (some samples carry one at the pluck).
//  - periodicity gate: noise, clicks and thumps are not periodic at any bass pitch.
//  - transient guard: what is new at the onset (the samples less the continuation of what rang
//    before) must last; a metronome's click or drum over a ringing string dies away.
//  - ringing guard: an onset on the pitch that is already sounding is a new pluck only when the
//    periodic energy (autocorrelation at the period) rises across it; a click over a ringing
//    note does not raise it.
#include "listen/detector.h"

#include "listen/frames.h"
#include "listen/scored.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>

namespace listen {

namespace {

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

int windowFor(int sampleRate) {
    const double twoPeriods = 2.0 * sampleRate / midiToHz(28.0);
    int window = 256;
    while (window < twoPeriods && window < (1 << 20)) {
        window *= 2;
    }
    return window;
}

} // namespace

std::string DetectorParams::defaultModel() {
    const char* model = std::getenv("CLEFWORK_DETECTOR");
    return model && *model ? model : "scored";
}

DetectorParams DetectorParams::forRate(int sampleRate) {
    DetectorParams p;
    p.sampleRate = sampleRate;
    p.windowSize = 0;
    p.hopSize = 0;
    return p;
}

struct NoteDetector::Impl {
    struct Estimate {
        int64_t end; // sample position just after the hop
        double midi; // 0 when the tracker found nothing
        double confidence;
        double levelDb;
    };
    struct Waiting {
        int64_t reported; // where aubio placed it
        int64_t onset;    // on the attack
        int64_t decideAt; // 0 until the onset is placed
        bool placed;      // placed again with the samples up to the decision
        bool second;      // not from aubio: where the ringing waveform broke, or the pitch moved
        bool change;      // where the pitch moved
    };

    DetectorParams p;
    bool usable = false;
    bool hasConfidence = true;
    aubio_onset_t* onset = nullptr;
    aubio_pitch_t* pitch = nullptr;
    fvec_t* hopIn = nullptr;
    fvec_t* onsetOut = nullptr;
    fvec_t* pitchOut = nullptr;

    std::vector<float> partial; // samples of a hop not yet complete
    int64_t fed = 0;
    int64_t analysed = 0; // samples gone through whole hops
    std::vector<float> ring;
    std::size_t ringMask = 0;
    std::deque<Estimate> history;
    std::deque<Waiting> waiting;
    double level = -120.0;
    int nowMidi = 0;
    double nowCents = 0.0;
    // The last note reported, for the ringing guard.
    double lastMidi = 0.0;
    int64_t lastRejected = -1; // the onset of aubio's that was last found no note
    int changeKey = 0; // a key the tracker has held since changeHops hops, not the last note's
    int changeHops = 0;
    int lastLag = 0;    // the period of the last note reported, in samples
    bool armed = false; // its waveform has been repeating since (a break is a new note)
    int64_t lastOnset = 0;
    int64_t lastOnsetSeen = -1; // aubio's last onset, to skip repeats of it
    int64_t lastAnyOnset = -1;
    std::deque<int64_t> clicks;  // the program's own clicks announced, in order
    std::deque<int64_t> accents; // those of them that are the bar's first (a bass drum)
    int minLag = 1;
    int maxLag = 1;

    explicit Impl(const DetectorParams& in) : p(in) {
        if (p.sampleRate < 4000 || p.sampleRate > 768000) {
            p.windowSize = std::max(p.windowSize, 0);
            p.hopSize = std::max(p.hopSize, 0);
            return;
        }
        if (!powerOfTwo(p.windowSize)) {
            p.windowSize = windowFor(p.sampleRate);
        }
        if (p.hopSize <= 0 || p.hopSize > p.windowSize) {
            p.hopSize = p.windowSize / 16;
        }
        if (!powerOfTwo(p.onsetWindow) || p.onsetWindow < p.hopSize) {
            p.onsetWindow = std::max(p.windowSize / 4, p.hopSize);
        }
        p.lowestMidi = std::clamp(p.lowestMidi, 20, 100);
        p.highestMidi = std::clamp(p.highestMidi, p.lowestMidi, 108);
        const auto rate = static_cast<uint_t>(p.sampleRate);
        const auto hop = static_cast<uint_t>(p.hopSize);
        onset =
            new_aubio_onset(p.onsetMethod.c_str(), static_cast<uint_t>(p.onsetWindow), hop, rate);
        pitch =
            new_aubio_pitch(p.pitchMethod.c_str(), static_cast<uint_t>(p.windowSize), hop, rate);
        hopIn = new_fvec(hop);
        onsetOut = new_fvec(1);
        pitchOut = new_fvec(1);
        if (!onset || !pitch || !hopIn || !onsetOut || !pitchOut) {
            return;
        }
        aubio_onset_set_threshold(onset, static_cast<smpl_t>(p.onsetThreshold));
        aubio_onset_set_minioi_ms(onset, static_cast<smpl_t>(p.minInterOnsetMs));
        aubio_onset_set_silence(onset, static_cast<smpl_t>(p.gateDb - 10.0));
        // aubio takes its peak-picking delay back from the onset time; measured on rendered
        // bass notes, the detection function peaks about this far after the pluck.
        aubio_onset_set_delay(onset, static_cast<uint_t>(4.3 * p.hopSize));
        aubio_pitch_set_unit(pitch, "midi");
        aubio_pitch_set_silence(pitch, static_cast<smpl_t>(p.gateDb - 10.0));
        if (p.pitchTolerance > 0.0) {
            aubio_pitch_set_tolerance(pitch, static_cast<smpl_t>(p.pitchTolerance));
        }
        hasConfidence = p.pitchMethod == "yin" || p.pitchMethod == "yinfast";
        minLag = static_cast<int>(p.sampleRate / midiToHz(p.highestMidi + 0.6));
        maxLag = static_cast<int>(std::ceil(p.sampleRate / midiToHz(p.lowestMidi - 0.6)));
        std::size_t ringSize = 1;
        while (ringSize < static_cast<std::size_t>(4 * p.windowSize + p.sampleRate / 4)) {
            ringSize *= 2;
        }
        ring.assign(ringSize, 0.0f);
        ringMask = ringSize - 1;
        partial.reserve(static_cast<std::size_t>(p.hopSize));
        usable = true;
    }

    ~Impl() {
        if (onset) {
            del_aubio_onset(onset);
        }
        if (pitch) {
            del_aubio_pitch(pitch);
        }
        for (fvec_t* v : {hopIn, onsetOut, pitchOut}) {
            if (v) {
                del_fvec(v);
            }
        }
    }

    float at(int64_t position) const { return ring[static_cast<std::size_t>(position) & ringMask]; }

    // The oldest sample still in the ring.
    int64_t ringStart() const {
        return std::max<int64_t>(0, analysed - static_cast<int64_t>(ring.size()));
    }

    // Normalised difference of [from, to - lag) against itself lag samples later: 0 for a signal
    // that repeats exactly after lag, about 1 for unrelated samples.
    double difference(int64_t from, int64_t to, int lag) const {
        double diff = 0.0, energy = 0.0;
        for (int64_t i = from; i + lag < to; ++i) {
            const double a = at(i), b = at(i + lag);
            diff += (a - b) * (a - b);
            energy += a * a + b * b;
        }
        return energy > 1e-12 ? diff / energy : 1.0;
    }

    // The best lag near lag (within 3 %) and its difference.
    std::pair<int, double> bestNear(int64_t from, int64_t to, double lag) const {
        const int lo = std::max(minLag, static_cast<int>(std::floor(lag * 0.97)));
        const int hi = std::min(maxLag, static_cast<int>(std::ceil(lag * 1.03)));
        std::pair<int, double> best{0, 2.0};
        for (int l = lo; l <= hi; ++l) {
            if (to - from - l < 2 * l / 3 + 64) {
                break;
            }
            const double d = difference(from, to, l);
            if (d < best.second) {
                best = {l, d};
            }
        }
        return best;
    }

    double meanSquare(int64_t from, int64_t to) const {
        double sum = 0.0;
        int64_t n = 0;
        for (int64_t i = std::max(from, ringStart()); i < to; ++i, ++n) {
            sum += static_cast<double>(at(i)) * at(i);
        }
        return n > 0 ? sum / static_cast<double>(n) : 0.0;
    }

    // Normalised difference of [from, to) against the samples shift earlier.
    double crossDifference(int64_t from, int64_t to, int64_t shift) const {
        double diff = 0.0, energy = 0.0;
        for (int64_t i = from; i < to; ++i) {
            const double a = at(i), b = at(i - shift);
            diff += (a - b) * (a - b);
            energy += a * a + b * b;
        }
        return energy > 1e-12 ? diff / energy : 0.0;
    }

    // Whether the part of [from, to) that does not repeat after lag loses more than
    // fadeDb between the first half and the second.
    bool shortFading(int64_t from, int64_t to, int lag) const {
        from = std::max(from, ringStart() + lag);
        const int64_t middle = from + (to - from) / 2;
        if (middle - from < lag) {
            return false;
        }
        auto residual = [&](int64_t a, int64_t b) {
            double sum = 0.0;
            for (int64_t i = a; i < b; ++i) {
                const double d = static_cast<double>(at(i)) - at(i - lag);
                sum += d * d;
            }
            return sum;
        };
        return residual(middle, to) < residual(from, middle) * std::pow(10.0, -p.fadeDb / 10.0);
    }

    // Whether what came in at onset dies away by now: the samples less the continuation of
    // whatever rang before (the shift, past the decision time, that best repeats the stretch
    // just before the onset), its energy over the first stretch after the onset against the
    // last one.  A click or a drum over a ringing string, or before a slow attack, fades; a
    // plucked string does not.  Past one of the program's own clicks (start after it) the new
    // energy is measured from start, and nothing new there (what rang on, at most faded: less
    // than a tenth of the last stretch's energy) counts as fading too.
    bool newEnergyFades(int64_t onset, int64_t start, int64_t now) const {
        const int64_t stretch = p.sampleRate / 50;
        if (now - start < (start == onset ? 3 : 2) * stretch) {
            return false;
        }
        const int64_t least = now - onset;
        const int64_t before = onset - stretch;
        // The shift that repeats the stretch before the onset best, searched over one longest
        // period; none when it did not repeat (silence, noise).
        int64_t shift = 0;
        double best = 0.5;
        if (before - least - maxLag >= ringStart() && meanSquare(before, onset) > 1e-9) {
            for (int64_t s = least; s <= least + maxLag; ++s) {
                const double d = crossDifference(before, onset, s);
                if (d < best) {
                    best = d;
                    shift = s;
                }
            }
        }
        auto residual = [&](int64_t a, int64_t b) {
            double sum = 0.0;
            for (int64_t i = a; i < b; ++i) {
                const double d = static_cast<double>(at(i)) - (shift > 0 ? at(i - shift) : 0.0f);
                sum += d * d;
            }
            return sum;
        };
        const double early = residual(start, start + stretch);
        const double late = residual(now - stretch, now);
        // What sounds at the end louder than what rang before is new (the same note plucked
        // again can repeat its waveform nearly in phase, and so leave little residual).
        if (late < early * std::pow(10.0, -p.transientDropDb / 10.0) &&
            (shift == 0 || meanSquare(now - stretch, now) <
                               1.5 * meanSquare(now - stretch - shift, now - shift))) {
            return true;
        }
        if (start == onset || shift == 0) {
            return false;
        }
        // The continuation scaled to the last stretch (a string only fades).
        double cross = 0.0, past = 0.0, total = 0.0;
        for (int64_t i = now - stretch; i < now; ++i) {
            cross += static_cast<double>(at(i)) * at(i - shift);
            past += static_cast<double>(at(i - shift)) * at(i - shift);
            total += static_cast<double>(at(i)) * at(i);
        }
        const double gain = past > 0.0 ? std::clamp(cross / past, 0.0, 1.0) : 0.0;
        double rest = 0.0;
        for (int64_t i = now - stretch; i < now; ++i) {
            const double d = static_cast<double>(at(i)) - gain * at(i - shift);
            rest += d * d;
        }
        return rest < 0.1 * total;
    }

    // Autocorrelation at lag over [from, to - lag), per sample.
    double periodicEnergy(int64_t from, int64_t to, int lag) const {
        double sum = 0.0;
        int64_t n = 0;
        for (int64_t i = std::max(from, ringStart()); i + lag < to; ++i, ++n) {
            sum += static_cast<double>(at(i)) * at(i + lag);
        }
        return n > 0 ? sum / static_cast<double>(n) : 0.0;
    }

    // The attack of the note aubio reported at reported, from the samples up to to: where the
    // 64-sample RMS rises to a tenth of the note's loudest and half as much again as whatever
    // sounded in the quietest stretch before it (a ringing note, noise).  The quietest stretch
    // is measured with the loudest RMS over half a period of the lowest note, so that the
    // troughs of a low note's waveform do not count as quiet.
    int64_t refine(int64_t reported, int64_t to) const {
        constexpr int step = 8;
        constexpr int half = 32;
        const int64_t from = std::max(ringStart() + half, reported - p.sampleRate * 3 / 40);
        to = std::min(to, analysed - half);
        const int64_t points = (to - from) / step;
        if (points < 8) {
            return reported;
        }
        std::vector<double> sums(static_cast<std::size_t>(to - from + 2 * half) + 1, 0.0);
        for (int64_t i = from - half; i < to + half; ++i) {
            const auto k = static_cast<std::size_t>(i - (from - half));
            sums[k + 1] = sums[k] + static_cast<double>(at(i)) * at(i);
        }
        auto rms = [&](int64_t centre) {
            const auto k = static_cast<std::size_t>(centre - from);
            return std::sqrt((sums[k + 2 * half] - sums[k]) / (2.0 * half));
        };
        std::vector<double> e(static_cast<std::size_t>(points));
        for (int64_t k = 0; k < points; ++k) {
            e[static_cast<std::size_t>(k)] = rms(from + k * step);
        }
        // The loudest point of the note: from a little before the reported onset on.
        const auto first = static_cast<std::size_t>(
            std::clamp<int64_t>((reported - p.sampleRate / 50 - from) / step, 0, points - 1));
        const auto peak = static_cast<std::size_t>(
            std::max_element(e.begin() + static_cast<long>(first), e.end()) - e.begin());
        const double loudest = e[peak];
        // The quietest stretch before the peak.
        const auto span = static_cast<std::size_t>(std::max(1, maxLag / 2 / step));
        double quietest = loudest;
        std::size_t quietAt = 0;
        for (std::size_t k = span; k <= peak; ++k) {
            const double m = *std::max_element(e.begin() + static_cast<long>(k - span),
                                               e.begin() + static_cast<long>(k) + 1);
            if (m < quietest) {
                quietest = m;
                quietAt = k;
            }
        }
        double threshold = std::max(0.1 * loudest, 1.5 * quietest);
        if (threshold >= loudest) {
            threshold = std::sqrt(quietest * loudest);
        }
        for (std::size_t k = quietAt; k <= peak; ++k) {
            if (e[k] >= threshold) {
                // To the sample.
                int64_t at = from + static_cast<int64_t>(k) * step;
                for (int64_t back = 1; back < step && at - 1 >= from; ++back) {
                    if (rms(at - 1) < threshold) {
                        break;
                    }
                    --at;
                }
                return at;
            }
        }
        return reported;
    }

    // The attack of a note whose onset was placed on one of the program's clicks: a slow attack
    // rises after the click, where the samples first grow half as loud again as in the onset's
    // first 4 ms (the click, or the note's own start when no click is heard), unless the note
    // sounded a period before that already (a low note's waveform swells once a period, and a
    // drum's thump can cancel its first swell): then a period earlier, as far back as it does.
    int64_t attackUnderClick(int64_t onset, int64_t now, int lag) const {
        constexpr int step = 8;
        constexpr int half = 32;
        const int64_t from = std::max(onset, ringStart() + lag + half);
        const int64_t reach = from + ms(4.0);
        if (now - half - reach < 2 * step) {
            return onset;
        }
        auto rms = [&](int64_t centre) {
            return std::sqrt(meanSquare(centre - half, centre + half));
        };
        double click = 0.0;
        for (int64_t t = from; t <= reach; t += step) {
            click = std::max(click, rms(t));
        }
        for (int64_t t = reach; t + half <= now; t += step) {
            if (rms(t) >= 1.5 * click) {
                // Back a period at a time while the waveform there is the note's already.
                const int64_t width = std::max<int64_t>(lag, ms(3.0));
                while (t - lag - ms(1.0) >= from && t - ms(1.0) + width <= now &&
                       crossDifference(t - ms(1.0), t - ms(1.0) + width, lag) < 0.6) {
                    t -= lag;
                }
                return t < reach ? onset : t;
            }
        }
        return onset;
    }

    // Where the waveform from `from` on first stops repeating what sounded shift samples
    // earlier: the first 2.5 ms whose difference from it reaches a third of their energy.
    int64_t breakPoint(int64_t from, int64_t shift) const {
        const int64_t piece = ms(2.5);
        from = std::max(from, ringStart() + shift);
        for (int64_t t = from; t + piece <= analysed; t += piece / 2) {
            if (crossDifference(t, t + piece, shift) > 0.3) {
                return t;
            }
        }
        return std::max<int64_t>(from, analysed - piece);
    }

    // Magnitudes of the samples in [from, to) at the given frequencies (Hann window, Goertzel).
    std::vector<double> magnitudes(int64_t from, int64_t to, const std::vector<double>& hz) const {
        std::vector<double> out;
        const auto n = static_cast<double>(to - from);
        for (double f : hz) {
            const double w = 2.0 * 3.14159265358979323846 * f / p.sampleRate;
            const double c = 2.0 * std::cos(w);
            double s1 = 0.0, s2 = 0.0;
            for (int64_t i = from; i < to; ++i) {
                const double hann = 0.5 - 0.5 * std::cos(2.0 * 3.14159265358979323846 *
                                                         static_cast<double>(i - from) / n);
                const double s0 = hann * at(i) + c * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            out.push_back(std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / n);
        }
        return out;
    }

    // A string an octave lower than the tracker's note sounds its third harmonic (the tracked
    // note's fifth above) as well, and one a twelfth lower its second.  A tone under the note
    // with nearly nothing there is an undertone of the sample (some acoustic basses carry one at
    // the pluck), not a lower string, unless the note's own tone is under half as strong as it.
    bool strayUndertone(int64_t from, int64_t to, double lowHz, int times) const {
        if (to - from < static_cast<int64_t>(2.0 * p.sampleRate / lowHz)) {
            return false;
        }
        const double other = times == 2 ? 3.0 : 2.0;
        const std::vector<double> m = magnitudes(from, to, {lowHz, times * lowHz, other * lowHz});
        return m[2] < 0.4 * m[0] && m[1] > 0.5 * m[0];
    }

    // The normalised differences of [from, to), high-passed above a bass drum's thump, at each
    // lag (1 each when too short to measure).
    std::vector<double> aboveThump(int64_t from, int64_t to, const std::vector<int>& lags) const {
        const int longest = *std::max_element(lags.begin(), lags.end());
        // Two second-order Butterworth high-pass sections at 75 Hz, warmed up over 20 ms.
        const int64_t warm = ms(20.0);
        from = std::max(from, ringStart() + warm);
        if (to - from < 2 * static_cast<int64_t>(longest)) {
            return std::vector<double>(lags.size(), 1.0);
        }
        const double w0 = 2.0 * 3.14159265358979323846 * 75.0 / p.sampleRate;
        const double alpha = std::sin(w0) / std::sqrt(2.0);
        const double a0 = 1.0 + alpha;
        const double b0 = (1.0 + std::cos(w0)) / 2.0 / a0, b1 = -(1.0 + std::cos(w0)) / a0;
        const double a1 = -2.0 * std::cos(w0) / a0, a2 = (1.0 - alpha) / a0;
        std::vector<double> x(static_cast<std::size_t>(to - from + warm));
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = at(from - warm + static_cast<int64_t>(i));
        }
        for (int pass = 0; pass < 2; ++pass) {
            double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
            for (double& v : x) {
                const double y = b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
                x2 = x1;
                x1 = v;
                y2 = y1;
                y1 = y;
                v = y;
            }
        }
        auto difference = [&](int lag) {
            double diff = 0.0, energy = 0.0;
            for (std::size_t i = static_cast<std::size_t>(warm);
                 i + static_cast<std::size_t>(lag) < x.size(); ++i) {
                const double a = x[i], b = x[i + static_cast<std::size_t>(lag)];
                diff += (a - b) * (a - b);
                energy += a * a + b * b;
            }
            return energy > 1e-12 ? diff / energy : 1.0;
        };
        std::vector<double> out;
        for (int lag : lags) {
            out.push_back(difference(lag));
        }
        return out;
    }

    // A click is heard when its loudest edges are this many times the power of those after it.
    static constexpr double clickEdgeRatio = 6.0;

    int64_t ms(double milliseconds) const {
        return static_cast<int64_t>(milliseconds * p.sampleRate / 1000.0);
    }

    // The latest of the program's own clicks announced from clickMs before the onset to at; -1
    // when none.
    int64_t clickOver(int64_t onset, int64_t at, bool accent = false) const {
        int64_t found = -1;
        // A bass drum's thump lasts longer than a click.
        const int64_t reach = ms(accent ? 100.0 : p.clickMs);
        for (int64_t c : accent ? accents : clicks) {
            if (c + reach >= onset && c - ms(p.clickSlackMs) <= at) {
                found = c;
            }
        }
        return found;
    }
    // Whether an onset lies on one of the program's clicks (within the slack of one).
    bool onClick(int64_t onset) const {
        const int64_t c = clickOver(onset, onset);
        return c >= 0 && onset <= c + ms(p.clickSlackMs);
    }
    // Where the samples of a click over a note end: 0 when none.
    int64_t clickEnd(int64_t onset, int64_t at) const {
        const int64_t c = clickOver(onset, at);
        return c < 0 ? 0 : c + ms(p.clickMs + p.clickSlackMs);
    }

    // Power of the first difference (the click's sharp, high part; a bass string has little of
    // it) per sample over [from, to).
    double edgePower(int64_t from, int64_t to) const {
        from = std::max(from, ringStart() + 1);
        double sum = 0.0;
        for (int64_t i = from; i < to; ++i) {
            const double d = static_cast<double>(at(i)) - at(i - 1);
            sum += d * d;
        }
        return to > from ? sum / static_cast<double>(to - from) : 0.0;
    }

    // Whether the click announced at about c is heard: the loudest 2.5 ms of its edges around c
    // against what follows the click.
    double clickEdge(int64_t c, int64_t after, int64_t now) const {
        const int64_t piece = ms(2.5);
        double loudest = 0.0;
        for (int64_t t = c - ms(p.clickSlackMs); t + piece <= c + ms(p.clickSlackMs + 5.0);
             t += piece / 2) {
            loudest = std::max(loudest, edgePower(t, t + piece));
        }
        return loudest / std::max(edgePower(after, now), 1e-12);
    }

    // Samples a decision measures after an onset: what the octave guard needs for the lowest
    // note's three periods.
    int64_t measured() const { return 2 * maxLag + p.hopSize; }

    void decide(const Waiting& w, int64_t now, bool cut, std::vector<DetectedNote>& out) {
        const int64_t click = clickOver(w.onset, now - measured());
        int64_t clickFree = clickEnd(w.onset, now - measured());
        if (const int64_t c = clickOver(w.onset, now);
            cut && c >= 0 && onClick(w.onset) &&
            now - (c + ms(p.clickMs + p.clickSlackMs)) < measured()) {
            // The next onset came before the click was over and the note measured: this one,
            // on the click, is the click, and a note after it has an onset of its own.
            return;
        }
        if (w.second && cut && now - w.onset < measured()) {
            // A break in the ringing waveform (the string damped, a click) just before an
            // onset that stands for the note.
            return;
        }
        if (now - clickFree < measured()) {
            clickFree = 0; // not enough after it: as without
        }
        if (clickFree > 0 && clickEdge(click, clickFree, now) < clickEdgeRatio) {
            clickFree = 0;
        }
        // The fading guards look at the decision time as it would be without clicks, unless a
        // click is heard (then from its end): a longer wait must not make a fading string look
        // like a fading click.
        const int64_t gateNow =
            clickFree > 0 ? now : std::min(now, heardFrom(w) + ms(p.decisionMs));
        // The estimates of the hops after the onset, and the loudest hop.
        std::vector<double> midis;
        double loudest = -120.0;
        for (const Estimate& e : history) {
            if (e.end <= w.onset || e.end > now) {
                continue;
            }
            loudest = std::max(loudest, e.levelDb);
            if (e.end - p.hopSize < w.onset + p.hopSize) {
                continue; // the hop of the pluck itself
            }
            // aubio's confidence is no use here: yinfft's and mcomb's stay 0, and yin's is low
            // while the window still holds the samples before the pluck.  The periodicity
            // check below gates the note instead.
            if (e.midi >= p.lowestMidi - 0.6 && e.midi <= p.highestMidi + 19.6) {
                midis.push_back(e.midi);
            }
        }
        if (loudest < p.gateDb || midis.empty()) {
            return;
        }
        // Vote by semitone, weighted by confidence, later estimates (more of the note in the
        // window) counting more.
        std::vector<std::pair<int, double>> votes;
        for (std::size_t i = 0; i < midis.size(); ++i) {
            const int key = static_cast<int>(std::lround(midis[i]));
            const double weight = 1.0 + static_cast<double>(i);
            auto it = std::find_if(votes.begin(), votes.end(),
                                   [&](const auto& v) { return v.first == key; });
            if (it == votes.end()) {
                votes.emplace_back(key, weight);
            } else {
                it->second += weight;
            }
        }
        int voted = std::max_element(votes.begin(), votes.end(), [](auto& a, auto& b) {
                        return a.second < b.second;
                    })->first;
        // Past a click on the pluck the estimates still hold the click (and a drum's thump):
        // of the keys voted for well, the one that repeats best after the click.
        if (clickFree > 0) {
            double top = 0.0;
            for (const auto& v : votes) {
                top = std::max(top, v.second);
            }
            auto repeats = [&](int key) {
                return bestNear(clickFree, now, p.sampleRate / midiToHz(key)).second;
            };
            // Another key only when it repeats clearly better.
            double best = 0.5 * repeats(voted);
            for (const auto& v : votes) {
                if (v.first == voted || v.second < 0.25 * top || v.first < p.lowestMidi - 1) {
                    continue;
                }
                if (const double d = repeats(v.first); d < best) {
                    best = d;
                    voted = v.first;
                }
            }
        }
        std::vector<double> near;
        for (double m : midis) {
            if (std::fabs(m - voted) < 0.6) {
                near.push_back(m);
            }
        }
        std::nth_element(near.begin(), near.begin() + static_cast<long>(near.size() / 2),
                         near.end());
        double midi = near[near.size() / 2];

        // Octave guard on the samples after the pluck: skipping its first few milliseconds, and
        // no more of them than the longest lag measured needs, so that a click on the pluck
        // stays out of the measure when the decision time leaves enough.
        const double period = p.sampleRate / midiToHz(midi);
        const int64_t need = 2 * std::min<int64_t>(maxLag, static_cast<int64_t>(3.0 * period) + 1);
        const int64_t from = std::max(
            {w.onset + p.sampleRate / 200, now - need - p.hopSize, ringStart(), clickFree});
        auto [lag, diff] = bestNear(from, now, period);
        if (lag == 0) {
            return;
        }
        int chosen = 1;
        double chosenDiff = diff;
        int chosenLag = lag;
        for (int k : {2, 3}) {
            if (period * k > maxLag * 1.0) {
                break;
            }
            auto [l, d] = bestNear(from, now, period * k);
            if (l != 0 && d < 0.5 * chosenDiff && chosenDiff > 0.04) {
                chosen = k;
                chosenDiff = d;
                chosenLag = l;
            }
        }
        // What repeats at the longer period but not at the shorter one is the weak
        // fundamental of a string, which lasts; a drum's thump under a higher note dies away.
        // Under the bar's first click the bass drum's thump, below the bass's second octave,
        // can make the samples repeat better at twice or three times a higher note's period.
        // A lower note's harmonics above the thump still repeat only at its own period.
        const bool accent = clickOver(w.onset, now, true) >= 0;
        if (chosen > 1 && accent) {
            if (const auto d = aboveThump(from, now, {lag, chosenLag}); d[1] >= 0.5 * d[0]) {
                chosen = 1;
                chosenDiff = diff;
                chosenLag = lag;
            }
        }
        if (chosen > 1 && shortFading(from, now, lag)) {
            chosen = 1;
            chosenDiff = diff;
            chosenLag = lag;
        }
        // An undertone is part of the note's sound: the note is the higher one, and its samples
        // are as periodic as they are at the undertone's period.
        if (chosen > 1 && strayUndertone(from, now, p.sampleRate / chosenLag, chosen)) {
            chosen = 1;
            chosenLag = lag;
        }
        // The other way: a drum's thump under a higher note can carry the vote.  When the samples
        // repeat as well at a half or a third of the period and what does not repeat there
        // dies away, the note is the higher one.  The shortest such period wins, and it is tried
        // again from there: a high note coming in over a low one the tracker still voted for
        // repeats at any multiple of its period.
        for (int base = lag, pass = 0; chosen <= 1 && pass < 4; ++pass) {
            const double baseDiff = chosenDiff;
            int up = 0;
            for (int k = 2; base / k >= minLag; ++k) {
                auto [l, d] = bestNear(from, now, base / static_cast<double>(k));
                // (Or they repeat there every bit as well: the tracker took the note an octave or
                // a twelfth low, as the ring of a note before can make it.  Or the tracker took
                // the sample's undertone, which lasts but is no string's.)  Only a period that
                // the voted one is a multiple of: samples that repeat at a period the vote is no
                // multiple of are another note's, which a third of the vote's can merely come
                // near.
                if (l == 0 || d >= std::max(0.25, 2.0 * baseDiff) ||
                    std::abs(k * l - base) > std::max(2, base / 50)) {
                    continue;
                }
                if (d <= std::max(0.02, 1.25 * baseDiff) || (k <= 3 && shortFading(from, now, l))) {
                    up = k;
                    chosenDiff = d;
                    chosenLag = l;
                } else if (k <= 3 &&
                           strayUndertone(from, now, p.sampleRate / static_cast<double>(base), k)) {
                    up = k;
                    chosenDiff = baseDiff;
                    chosenLag = l;
                }
            }
            if (up == 0) {
                break;
            }
            chosen = chosen == 1 ? -up : chosen * up;
            base = chosenLag;
        }
        if (const double measuredMidi = hzToMidi(p.sampleRate / static_cast<double>(chosenLag));
            chosen != 1 || std::fabs(measuredMidi - midi) > 0.35) {
            // From the measured lag: the tracker's estimate belonged to a harmonic, or it was
            // pulled off by a click on the pluck (a low note read a semitone sharp).
            midi = measuredMidi;
        }
        const double periodicity = 1.0 - chosenDiff;
        if (periodicity < p.minPeriodicity) {
            return;
        }
        const int key = static_cast<int>(std::lround(midi));
        if (key < p.lowestMidi || key > p.highestMidi) {
            return;
        }
        if (newEnergyFades(w.onset, std::max(w.onset, clickFree), gateNow)) {
            return;
        }
        // A thump (the metronome's bass drum) dies away within the decision time; a plucked
        // string does not.
        // Levels over whole periods, so that a spiky low waveform's troughs do not count.
        const int64_t tail =
            chosenLag * std::max<int64_t>(1, (p.sampleRate / 60 + chosenLag / 2) / chosenLag);
        const int64_t sounding = std::max(w.onset + p.sampleRate / 200, ringStart());
        if (gateNow - sounding >= 2 * tail) {
            double loudestSpan = 0.0;
            for (int64_t t = sounding; t + tail <= gateNow; t += tail / 2) {
                loudestSpan = std::max(loudestSpan, meanSquare(t, t + tail));
            }
            if (meanSquare(gateNow - tail, gateNow) <
                loudestSpan * std::pow(10.0, -p.sustainDropDb / 10.0)) {
                return;
            }
        }
        // Ringing guard: on the pitch that already sounds, a new pluck breaks the waveform's
        // continuation (or raises its periodic energy); a click over the ringing string does
        // neither.
        // aubio may report one pluck twice (its rise and its peak): both land on one attack.
        if (lastMidi > 0.0 && w.onset - lastOnset < p.sampleRate / 40) {
            return;
        }
        // aubio reports onsets closer together than notes come (so that one after a click it
        // rejected still finds the note): the shortest gap between notes is kept here.
        if (lastMidi > 0.0 &&
            static_cast<double>(w.onset - lastOnset) < p.minNoteGapMs * p.sampleRate / 1000.0) {
            return;
        }
        const int64_t span = std::max<int64_t>(2 * chosenLag, p.sampleRate / 50);
        const double before = periodicEnergy(w.onset - span - chosenLag, w.onset, chosenLag);
        const double after = periodicEnergy(from, now, chosenLag);
        const bool rose =
            before <= 0.0 || after >= before * std::pow(10.0, p.retriggerRiseDb / 10.0);
        // Whether the waveform after the onset breaks from the continuation of the ringing
        // note's (whole periods of it before the onset, and so before any click on it).
        auto breaks = [&](int lagBefore) {
            const int64_t skip = p.sampleRate * 15 / 1000;
            const int64_t width = std::max<int64_t>(chosenLag, p.sampleRate / 100);
            const int64_t start = std::max(w.onset + skip, clickFree);
            const int64_t shift =
                lagBefore * ((start - w.onset + width + lagBefore - 1) / lagBefore);
            double broken = 0.0;
            if (start + width <= now && start - shift >= ringStart()) {
                broken = crossDifference(start, start + width, shift);
            }
            return broken >= p.retriggerBreak;
        };
        if (!w.change && lastMidi > 0.0 && std::lround(lastMidi) != key && !rose &&
            before > 1e-3 * after) {
            // Nothing new at this pitch: what rang on (a click over a decayed note), unless
            // the ringing note's waveform breaks (a softer note over a louder one an octave or
            // two up repeats at this pitch's period too).
            const auto [lastLag, lastDiff] =
                bestNear(w.onset - 3 * maxLag, w.onset, p.sampleRate / midiToHz(lastMidi));
            if (lastLag == 0 || lastDiff > 0.2 || !breaks(lastLag)) {
                return;
            }
        }
        if (w.second && lastMidi > 0.0 && std::lround(lastMidi) == key) {
            // The ringing note's waveform broke, yet the note heard is the same: its damping.
            return;
        }
        if (lastMidi > 0.0 && std::lround(lastMidi) == key && !rose && !breaks(chosenLag)) {
            return;
        }
        lastMidi = midi;
        lastOnset = w.onset;
        lastLag = chosenLag;
        armed = false;
        DetectedNote note;
        note.onsetSample = onClick(w.onset) ? attackUnderClick(w.onset, now, chosenLag) : w.onset;
        note.midi = key;
        note.cents = (midi - key) * 100.0;
        note.confidence = std::clamp(periodicity, 0.0, 1.0);
        note.levelDb = loudest;
        out.push_back(note);
    }

    // Where the decision time of an onset starts: its attack, or when aubio heard it well after
    // the rise it was placed on (a click just before a slow attack), nearer the report, so that
    // the decision has as much of the note itself.
    int64_t heardFrom(const Waiting& w) const {
        return std::max(w.onset, w.reported - p.sampleRate / 50);
    }

    // When an onset is decided: decision after heardFrom, and when a click of the program's own
    // is heard in that time, late enough to measure the note on the samples after the click.
    int64_t decideAt(const Waiting& w, int64_t decision) const {
        const int64_t at = heardFrom(w) + decision;
        const int64_t clickFree = clickEnd(w.onset, at);
        return clickFree > 0 ? std::max(at, clickFree + measured()) : at;
    }

    void hop(std::vector<DetectedNote>& out) {
        const int64_t start = analysed;
        for (std::deque<int64_t>* list : {&clicks, &accents}) {
            while (!list->empty() && list->front() < start - static_cast<int64_t>(ring.size())) {
                list->pop_front();
            }
        }
        double sum = 0.0;
        for (int i = 0; i < p.hopSize; ++i) {
            const float s = partial[static_cast<std::size_t>(i)];
            hopIn->data[i] = s;
            ring[static_cast<std::size_t>(start + i) & ringMask] = s;
            sum += static_cast<double>(s) * s;
        }
        analysed += p.hopSize;
        level = 10.0 * std::log10(std::max(sum / p.hopSize, 1e-12));

        aubio_onset_do(onset, hopIn, onsetOut);
        if (onsetOut->data[0] > 0.0f) {
            // aubio counts samples in 32 bits: take its position relative to this hop.
            const auto last = aubio_onset_get_last(onset);
            const auto relative = static_cast<int32_t>(last - static_cast<uint_t>(start));
            const int64_t position = std::clamp<int64_t>(start + relative, 0, analysed);
            if (position != lastOnsetSeen) {
                lastOnsetSeen = position;
                // One the spectral detector reported just before stands for this one.
                if (!waiting.empty() && waiting.back().second && waiting.back().decideAt == 0 &&
                    position - waiting.back().reported < ms(p.minInterOnsetMs)) {
                    waiting.pop_back();
                }
                waiting.push_back({position, position, 0, false, false, false});
                lastAnyOnset = position;
            }
        }
        // A new note over a louder one may not raise the energy: it breaks the ringing note's
        // waveform, which has repeated at its period until then.
        if (lastLag > 0) {
            const int64_t width = std::max<int64_t>(lastLag, ms(10.0));
            const int64_t shift = lastLag * ((width + lastLag - 1) / lastLag);
            if (analysed - width - shift >= ringStart()) {
                const double d = crossDifference(analysed - width, analysed, shift);
                if (d < 0.15) {
                    armed = true;
                } else if (armed && d > 0.4 && level > p.gateDb) {
                    armed = false;
                    const int64_t position = breakPoint(analysed - width - p.hopSize, shift);
                    if (lastAnyOnset < 0 || position - lastAnyOnset >= ms(p.minInterOnsetMs)) {
                        waiting.push_back({position, position, 0, false, true, false});
                        lastAnyOnset = position;
                    }
                }
            }
        }
        // Place each onset once the samples after it are in: aubio's energy onset comes late
        // on a slow bass attack.
        const auto decision = static_cast<int64_t>(p.decisionMs * p.sampleRate / 1000.0);
        for (Waiting& w : waiting) {
            if (w.decideAt == 0 && analysed >= w.reported + p.sampleRate / 40) {
                w.onset = w.second ? w.reported : refine(w.reported, analysed);
                w.decideAt = std::max<int64_t>(analysed, decideAt(w, decision));
            }
        }

        aubio_pitch_do(pitch, hopIn, pitchOut);
        const double midi = pitchOut->data[0];
        const double confidence = aubio_pitch_get_confidence(pitch);
        history.push_back({analysed, std::isfinite(midi) ? midi : 0.0,
                           std::isfinite(confidence) ? confidence : 0.0, level});
        const auto keep = static_cast<std::size_t>(
            (p.decisionMs * p.sampleRate / 1000.0 + 4.0 * p.windowSize) / p.hopSize + 4);
        while (history.size() > keep) {
            history.pop_front();
        }
        updateTuner(midi, confidence);
        pitchChange();

        while (!waiting.empty() && waiting.front().decideAt != 0 &&
               waiting.front().decideAt <= analysed) {
            Waiting& next = waiting.front();
            // An onset of aubio's off the program's clicks and under the shortest gap between
            // notes before the next is the same pluck reported twice (its rise and its peak):
            // the decision measures past it.
            const bool cut = waiting.size() >= 2 && waiting[1].onset < analysed &&
                             (next.second || waiting[1].onset - next.onset >= ms(p.minNoteGapMs) ||
                              onClick(next.onset));
            const int64_t end = cut ? waiting[1].onset : analysed;
            if (!next.placed) {
                // The attack again, now that the note's loudest is in: when it rose later than
                // first thought, the decision waits for as much of the note.
                next.placed = true;
                next.onset = next.second ? next.reported : refine(next.reported, end);
                if (decideAt(next, decision) > analysed + p.hopSize) {
                    next.decideAt = decideAt(next, decision);
                    break;
                }
            }
            const Waiting w = next;
            waiting.pop_front();
            const std::size_t before = out.size();
            decide(w, end, cut, out);
            if (out.size() == before && !w.second) {
                lastRejected = w.onset;
            }
        }
    }

    // A new note played legato over one ringing at a related pitch (an octave, a fifth up) may
    // neither raise the energy nor break the ringing waveform: the tracker moves to it.  When it
    // has held another key for a few hops and the samples repeat at that key's period, the
    // note is taken to start where they began to.
    void pitchChange() {
        const Estimate& e = history.back();
        const int key = static_cast<int>(std::lround(e.midi));
        if (lastLag == 0 || e.levelDb < p.gateDb || e.midi <= 0.0 || key == std::lround(lastMidi) ||
            !waiting.empty() || analysed - lastOnset < ms(p.minNoteGapMs)) {
            changeKey = 0;
            changeHops = 0;
            return;
        }
        if (key != changeKey) {
            changeKey = key;
            changeHops = 1;
            return;
        }
        if (++changeHops != 4 || key < p.lowestMidi || key > p.highestMidi) {
            return;
        }
        const double period = p.sampleRate / midiToHz(key);
        const auto [lag, d] =
            bestNear(analysed - std::max<int64_t>(3 * static_cast<int64_t>(period), ms(20.0)),
                     analysed, period);
        if (lag == 0 || d > 0.15) {
            return;
        }
        // Back from now while 2.5 ms pieces repeat at the new period.
        const int64_t piece = ms(2.5);
        int64_t from = analysed - piece;
        const int64_t earliest =
            std::max(ringStart() + lag, analysed - p.windowSize - 4 * p.hopSize);
        while (from - piece / 2 >= earliest &&
               crossDifference(from - piece / 2, from - piece / 2 + piece, lag) < 0.3) {
            from -= piece / 2;
        }
        if (from - piece / 2 < earliest) {
            return; // it repeated there all along: a harmonic of the ringing note
        }
        // An onset of aubio's found no note just before (a click on it, a drum's thump fading
        // over it): the note began there.
        if (lastRejected > lastOnset + ms(p.minNoteGapMs) && lastRejected < from &&
            from - lastRejected < ms(150.0)) {
            from = lastRejected;
        }
        if (from - lastOnset < ms(p.minNoteGapMs)) {
            return;
        }
        waiting.push_back({from, from, 0, false, true, true});
        lastAnyOnset = from;
    }

    void updateTuner(double midi, double confidence) {
        if (level < p.gateDb || !(midi > 0.0) || (hasConfidence && confidence < 0.3)) {
            nowMidi = 0;
            nowCents = 0.0;
            return;
        }
        // Fold the harmonics a ringing note shows back onto it.
        if (lastMidi > 0.0) {
            for (double up : {12.0, 19.0, 24.0}) {
                if (std::fabs(midi - up - lastMidi) < 0.5) {
                    midi -= up;
                    break;
                }
            }
        }
        const long key = std::lround(midi);
        if (key < p.lowestMidi || key > p.highestMidi) {
            nowMidi = 0;
            nowCents = 0.0;
            return;
        }
        nowMidi = static_cast<int>(key);
        nowCents = (midi - static_cast<double>(key)) * 100.0;
    }
};

NoteDetector::NoteDetector(const DetectorParams& params) : impl_(std::make_unique<Impl>(params)) {
    // A rate or parameters the analysis cannot use leave the detector inert (it still counts
    // samples and the level) whichever model was asked for.
    if (params.model != "rules" && impl_->usable) {
        scored_ = std::make_unique<ScoredDetector>(impl_->p);
    }
}

NoteDetector::~NoteDetector() = default;

std::vector<DetectedNote> NoteDetector::feed(const float* samples, std::size_t count) {
    if (scored_) {
        return scored_->feed(samples, count);
    }
    std::vector<DetectedNote> out;
    Impl& d = *impl_;
    if (!samples) {
        return out;
    }
    for (std::size_t i = 0; i < count; ++i) {
        float s = samples[i];
        s = std::isfinite(s) ? std::clamp(s, -8.0f, 8.0f) : 0.0f;
        ++d.fed;
        if (!d.usable) {
            d.level = s != 0.0f ? 20.0 * std::log10(std::fabs(s)) : -120.0;
            continue;
        }
        d.partial.push_back(s);
        if (static_cast<int>(d.partial.size()) == d.p.hopSize) {
            d.hop(out);
            d.partial.clear();
        }
    }
    return out;
}

void NoteDetector::ownClick(int64_t sample, bool accent, int expectedMidi) {
    if (scored_) {
        scored_->ownClick(sample, accent, expectedMidi);
        return;
    }
    if (!impl_->usable || sample < 0) {
        return;
    }
    for (std::deque<int64_t>* list : {&impl_->clicks, accent ? &impl_->accents : nullptr}) {
        if (!list) {
            continue;
        }
        list->insert(std::upper_bound(list->begin(), list->end(), sample), sample);
        // Far more than the ring holds at any tempo: a caller announcing far ahead loses the
        // last.
        while (list->size() > 256) {
            list->pop_back();
        }
    }
}

double NoteDetector::levelDb() const {
    if (scored_) {
        return scored_->levelDb();
    }
    return impl_->level;
}

int NoteDetector::currentMidi() const {
    if (scored_) {
        return scored_->currentMidi();
    }
    return impl_->nowMidi;
}

double NoteDetector::currentCents() const {
    if (scored_) {
        return scored_->currentCents();
    }
    return impl_->nowCents;
}

int64_t NoteDetector::samplesFed() const {
    if (scored_) {
        return scored_->samplesFed();
    }
    return impl_->fed;
}

const DetectorParams& NoteDetector::params() const {
    return impl_->p;
}

bool NoteDetector::ok() const {
    return impl_->usable;
}

} // namespace listen
