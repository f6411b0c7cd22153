#include "listen/steady.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace listen {

namespace {

constexpr double kLowestLineHz = 25.0;
constexpr double kHighestLineHz = 1000.0;
// A line stands this far over the spectrum around it (the median of the bins nearby): hum at
// -40 dBFS under nothing but noise stands 40 dB and more, a harmonic of a note in a chord of
// them stands less and is not steady anyway.
constexpr double kProminenceDb = 12.0;
constexpr std::size_t kMostNotches = 16;
// How fast a line's sinusoid follows the input while nothing else sounds: within a fifth of a
// second (the mains' own drift is far slower; a note's start is seen as loud within
// milliseconds and freezes it first).
constexpr double kAdaptSeconds = 0.2;
// The input counts as quiet (the steady part alone) within this of the least power lately.
constexpr double kQuietRatio = 2.0;
constexpr int kNeighbours = 15;

} // namespace

struct SteadyTones::Spectrum {
    explicit Spectrum(uint_t size)
        : n(size), fft(new_aubio_fft(size)), in(new_fvec(size)), out(new_cvec(size)), window(size) {
        for (uint_t i = 0; i < size; ++i) {
            window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / size));
        }
    }
    ~Spectrum() {
        del_cvec(out);
        del_fvec(in);
        if (fft) {
            del_aubio_fft(fft);
        }
    }
    Spectrum(const Spectrum&) = delete;
    Spectrum& operator=(const Spectrum&) = delete;
    uint_t n;
    aubio_fft_t* fft;
    fvec_t* in;
    cvec_t* out;
    std::vector<float> window;
};

SteadyTones::SteadyTones(int sampleRate)
    : rate_(std::max(8000, sampleRate)), lookEvery_(std::max(1, rate_ / 10)) {
    shortCoeff_ = std::exp(-1.0 / (1.0 / kLowestLineHz * rate_));
    adaptRate_ = 2.0 / (kAdaptSeconds * rate_);
    uint_t size = 1;
    while (size < static_cast<uint_t>(rate_ / 3)) {
        size *= 2;
    }
    spectrum_ = std::make_unique<Spectrum>(size);
    recent_.assign(size, 0.0f);
}

SteadyTones::~SteadyTones() = default;

std::vector<double> SteadyTones::lines() const {
    std::vector<double> out;
    for (const Notch& n : notches_) {
        out.push_back(n.hz);
    }
    return out;
}

float SteadyTones::filter(float x) {
    recent_[recentPos_] = x;
    recentPos_ = (recentPos_ + 1) % recent_.size();
    if (++sinceLook_ >= lookEvery_) {
        sinceLook_ = 0;
        look();
    }
    double hum = 0.0;
    for (const Notch& n : notches_) {
        hum += n.c * n.cosine + n.s * n.sine;
    }
    const double e = static_cast<double>(x) - hum;
    // What is left once the lines are out, over a period of the lowest: near the least it has
    // been lately, nothing but the steady part and noise sound.
    shortPower_ = shortCoeff_ * shortPower_ + (1.0 - shortCoeff_) * e * e;
    if (warm_ < rate_ / 10) {
        ++warm_; // the smoothing settles first
    } else if (quietPower_ < 0.0 || shortPower_ < quietPower_) {
        quietPower_ = shortPower_;
    } else {
        quietPower_ *= 1.0 + 2.0 / rate_; // rising by 17 dB a second, to follow a floor that rises
    }
    const bool quiet = shortPower_ <= kQuietRatio * quietPower_;
    for (Notch& n : notches_) {
        if (quiet) {
            n.c += adaptRate_ * e * n.cosine;
            n.s += adaptRate_ * e * n.sine;
        }
        const double c = n.cosine * n.stepCos - n.sine * n.stepSin;
        n.sine = n.sine * n.stepCos + n.cosine * n.stepSin;
        n.cosine = c;
    }
    if (++sinceNormal_ >= 4096) {
        sinceNormal_ = 0;
        for (Notch& n : notches_) {
            const double r = std::hypot(n.cosine, n.sine);
            n.cosine /= r;
            n.sine /= r;
        }
    }
    return static_cast<float>(e);
}

void SteadyTones::addPower(double power) {
    blockMin_ = blockMin_ < 0.0 ? power : std::min(blockMin_, power);
    if (++inBlock_ < powersPerBlock_) {
        return;
    }
    powers_.push_back(blockMin_);
    if (powers_.size() > 8) {
        powers_.pop_front();
    }
    noise_ = *std::min_element(powers_.begin(), powers_.end());
    blockMin_ = -1.0;
    inBlock_ = 0;
}

void SteadyTones::look() {
    Spectrum& s = *spectrum_;
    for (uint_t i = 0; i < s.n; ++i) {
        s.in->data[i] = recent_[(recentPos_ + i) % s.n] * s.window[i];
    }
    aubio_fft_do(s.fft, s.in, s.out);
    const double binHz = static_cast<double>(rate_) / s.n;
    const auto top = static_cast<std::size_t>(
        std::min<double>(kHighestLineHz / binHz + kNeighbours, s.n / 2 - 1));
    std::vector<float> db(top + 1);
    for (std::size_t k = 0; k <= top; ++k) {
        db[k] = static_cast<float>(20.0 * std::log10(s.out->norm[k] + 1e-9));
    }
    std::vector<float> phase(top + 1);
    for (std::size_t k = 0; k <= top; ++k) {
        phase[k] = s.out->phas[k];
    }
    looks_.push_back(db);
    std::swap(lastPhase_, phase); // phase now holds the previous look's
    const auto keep = static_cast<std::size_t>(kSteadySeconds * 10.0);
    if (looks_.size() > keep) {
        looks_.pop_front();
    }
    const auto around = [&](std::size_t k) {
        std::vector<float> near;
        for (int d = -kNeighbours; d <= kNeighbours; ++d) {
            const auto j = static_cast<std::ptrdiff_t>(k) + d;
            if (j >= 0 && j <= static_cast<std::ptrdiff_t>(top) && std::abs(d) > 2) {
                near.push_back(db[static_cast<std::size_t>(j)]);
            }
        }
        std::nth_element(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(near.size() / 2),
                         near.end());
        return near[near.size() / 2];
    };

    // The lines being taken out: still there, or gone for as long as a line must hold.
    for (Notch& n : notches_) {
        const auto k = static_cast<std::size_t>(std::lround(n.hz / binHz));
        const bool there = k <= top && db[k] >= around(k) + kProminenceDb / 2;
        n.missing = there ? 0 : n.missing + 1;
    }
    notches_.erase(
        std::remove_if(notches_.begin(), notches_.end(),
                       [&](const Notch& n) { return n.missing > static_cast<int>(keep); }),
        notches_.end());
    if (looks_.size() < keep) {
        return;
    }
    const auto first = static_cast<std::size_t>(std::ceil(kLowestLineHz / binHz));
    const auto last = static_cast<std::size_t>(kHighestLineHz / binHz);
    for (std::size_t k = std::max<std::size_t>(first, 1); k <= last && k < top; ++k) {
        if (db[k] < db[k - 1] || db[k] < db[k + 1] || db[k] < around(k) + kProminenceDb) {
            continue;
        }
        // Steady: the line's lower half holds its level.  A pluck's broadband attack only adds
        // to a bin for a look or two; a note's own line swings with every pluck's decay.
        std::vector<float> levels;
        levels.reserve(looks_.size());
        for (const auto& l : looks_) {
            levels.push_back(l[k]);
        }
        std::sort(levels.begin(), levels.end());
        const float lo = levels[levels.size() / 10];
        const float mid = levels[levels.size() / 2];
        // Now as it has mostly been: a look where something else sounds at the line (a note's
        // partial, a pluck) says nothing of the line's own frequency.
        if (mid - lo > kSteadyDb || std::abs(db[k] - mid) > kSteadyDb) {
            continue;
        }
        const double a = db[k - 1];
        const double b = db[k];
        const double c = db[k + 1];
        const double denom = a - 2.0 * b + c;
        const double shift = denom < 0.0 ? std::clamp(0.5 * (a - c) / denom, -0.5, 0.5) : 0.0;
        double hz = (static_cast<double>(k) + shift) * binHz;
        // The phase's advance since the last look gives the line's frequency to a small
        // fraction of a bin (the notch must sit within a tenth of its width of the hum): the
        // bin's estimate is within half a bin, which the advance over a tenth of a second
        // settles unambiguously.
        if (phase.size() > k) {
            const double hop = lookEvery_;
            const double expected = 2.0 * M_PI * hz * hop / rate_;
            double d = lastPhase_[k] - phase[k] - expected;
            d -= 2.0 * M_PI * std::round(d / (2.0 * M_PI));
            const double refined = hz + d * rate_ / (2.0 * M_PI * hop);
            if (std::abs(refined - hz) < binHz) {
                hz = refined;
            }
        }
        const auto known = std::find_if(notches_.begin(), notches_.end(), [&](const Notch& n) {
            return std::abs(n.hz - hz) < 1.5 * binHz;
        });
        if (known != notches_.end()) {
            // The mains drift, slowly: the sinusoid follows the line's measured frequency by
            // at most a twentieth of a hertz a look.
            known->tune(known->hz + std::clamp(hz - known->hz, -0.05, 0.05), rate_);
            continue;
        }
        if (notches_.size() >= kMostNotches) {
            continue;
        }
        Notch n;
        n.tune(hz, rate_);
        notches_.push_back(n);
    }
}

} // namespace listen
