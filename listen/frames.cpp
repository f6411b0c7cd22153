#include "listen/frames.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace listen {

namespace {} // namespace

// The autocorrelation by way of aubio's FFT (FFTW underneath): the frame zero-padded to at least
// window + the longest lag, so that the circular correlation is the plain one at every lag used.
struct FrameAnalyser::Fft {
    explicit Fft(uint_t size)
        : n(size), fft(new_aubio_fft(size)), in(new_fvec(size)), spec(new_fvec(size)),
          out(new_fvec(size)) {}
    ~Fft() {
        del_fvec(out);
        del_fvec(spec);
        del_fvec(in);
        if (fft) {
            del_aubio_fft(fft);
        }
    }
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    // r[tau] for tau in 0..maxLag.  aubio keeps the real parts of bins 0..n/2 first and the
    // imaginary part of bin k at n - k.
    void autocorrelate(const float* x, int count, int maxLag, std::vector<double>& r) {
        std::fill(in->data, in->data + n, 0.0f);
        std::copy(x, x + count, in->data);
        aubio_fft_do_complex(fft, in, spec);
        float* c = spec->data;
        const uint_t half = n / 2;
        c[0] = c[0] * c[0];
        c[half] = c[half] * c[half];
        for (uint_t k = 1; k < half; ++k) {
            c[k] = c[k] * c[k] + c[n - k] * c[n - k];
            c[n - k] = 0.0f;
        }
        aubio_fft_rdo_complex(fft, spec, out);
        r.resize(static_cast<std::size_t>(maxLag) + 1);
        for (int tau = 0; tau <= maxLag; ++tau) {
            r[static_cast<std::size_t>(tau)] = out->data[tau];
        }
    }

    uint_t n;
    aubio_fft_t* fft;
    fvec_t* in;
    fvec_t* spec;
    fvec_t* out;
};

FrameAnalyser::FrameAnalyser(int sampleRate, int lowestMidi, int highestMidi)
    : rate_(std::max(sampleRate, 8000)), lowestMidi_(lowestMidi), highestMidi_(highestMidi) {
    maxLag_ = static_cast<int>(std::ceil(rate_ / midiToHz(lowestMidi_ - 1.0)));
    minLag_ = std::max(2, static_cast<int>(std::floor(rate_ / midiToHz(highestMidi_ + 1.0))));
    window_ = 2 * maxLag_;
    uint_t size = 1;
    while (size < static_cast<uint_t>(window_ + maxLag_)) {
        size *= 2;
    }
    fft_ = std::make_unique<Fft>(size);
}

FrameAnalyser::~FrameAnalyser() = default;

double FrameAnalyser::nsdfAt(double lag) const {
    if (nsdf_.empty() || lag < 0.0) {
        return 0.0;
    }
    const double top = static_cast<double>(nsdf_.size() - 1);
    lag = std::min(lag, top);
    const auto i = static_cast<std::size_t>(std::floor(lag));
    if (static_cast<double>(i) >= top) {
        return nsdf_.back();
    }
    const double t = lag - static_cast<double>(i);
    return nsdf_[i] + t * (nsdf_[i + 1] - nsdf_[i]);
}

FrameEvidence FrameAnalyser::analyse(const float* frame) {
    FrameEvidence evidence;
    std::vector<double> r;
    fft_->autocorrelate(frame, window_, maxLag_, r);

    // n(tau) = 2 r(tau) / m(tau), m(tau) the energy of the two overlapping parts.
    nsdf_.assign(static_cast<std::size_t>(maxLag_) + 1, 0.0);
    double m = 0.0;
    for (int j = 0; j < window_; ++j) {
        m += 2.0 * static_cast<double>(frame[j]) * frame[j];
    }
    evidence.power = m / (2.0 * window_);
    if (m <= 1e-20) {
        return evidence;
    }
    for (int tau = 0; tau <= maxLag_; ++tau) {
        if (tau > 0) {
            const double a = frame[tau - 1];
            const double b = frame[window_ - tau];
            m -= a * a + b * b;
        }
        nsdf_[static_cast<std::size_t>(tau)] =
            m > 1e-20 ? 2.0 * r[static_cast<std::size_t>(tau)] / m : 0.0;
    }

    // Each positive lobe's peak, from the shortest candidate lag on.
    const double lowMidi = lowestMidi_ - 1.0;
    const double highMidi = highestMidi_ + 1.0;
    int tau = 0;
    while (tau < maxLag_ && nsdf_[static_cast<std::size_t>(tau)] > 0.0) {
        ++tau; // the lobe around lag 0 is no candidate
    }
    while (tau < maxLag_) {
        while (tau < maxLag_ && nsdf_[static_cast<std::size_t>(tau)] <= 0.0) {
            ++tau;
        }
        int peak = tau;
        while (tau < maxLag_ && nsdf_[static_cast<std::size_t>(tau)] > 0.0) {
            if (nsdf_[static_cast<std::size_t>(tau)] > nsdf_[static_cast<std::size_t>(peak)]) {
                peak = tau;
            }
            ++tau;
        }
        if (peak <= minLag_ || peak >= maxLag_ || nsdf_[static_cast<std::size_t>(peak)] <= 0.0) {
            continue;
        }
        // A parabola through the peak and its neighbours places it between the lags.
        const double a = nsdf_[static_cast<std::size_t>(peak - 1)];
        const double b = nsdf_[static_cast<std::size_t>(peak)];
        const double c = nsdf_[static_cast<std::size_t>(peak + 1)];
        const double denom = a - 2.0 * b + c;
        const double shift = denom < 0.0 ? std::clamp(0.5 * (a - c) / denom, -0.5, 0.5) : 0.0;
        const double lag = peak + shift;
        const double clarity = b - 0.25 * (a - c) * shift;
        PitchCandidate candidate;
        candidate.midi = hzToMidi(rate_ / lag);
        if (candidate.midi < lowMidi || candidate.midi > highMidi) {
            continue;
        }
        candidate.clarity = std::min(clarity, 1.0);
        // For each prime k, the share of the harmonics that are no multiple of k: where the
        // waveform also repeats at lag / k, the candidate is k times too low.  (A harmonic h of
        // a period repeats at lag / k as cos(2 pi h / k), which averages -1 / (k - 1) over the
        // harmonics no multiple of k.)  Every multiple of the true period up to the longest lag
        // has a prime factor among these.
        candidate.own = 1.0;
        for (const int k : {2, 3, 5, 7, 11}) {
            if (lag / k < 1.0) {
                break;
            }
            const double share = (k - 1.0) / k * (candidate.clarity - nsdfAt(lag / k));
            candidate.own = std::min(candidate.own, share);
        }
        evidence.candidates.push_back(candidate);
    }
    std::sort(
        evidence.candidates.begin(), evidence.candidates.end(),
        [](const PitchCandidate& x, const PitchCandidate& y) { return x.clarity > y.clarity; });
    for (std::size_t i = 0; i < evidence.candidates.size(); ++i) {
        if (evidence.candidates[i].own >= kOwnShare) {
            evidence.best = static_cast<int>(i);
            break;
        }
    }
    return evidence;
}

} // namespace listen
