// The steady part of the input, measured while listening and kept out of the notes: mains hum
// and its harmonics (or an amplifier's buzz) as spectral lines that hold their level for seconds,
// and the noise floor.  A bass note is never steady: it is plucked and dies away, and even a note
// plucked again and again swings by more than a steady line may.
#pragma once

#include "layers/listen.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace listen {

// Spectral lines that have held within kSteadyDb for kSteadySeconds, found from a spectrum every
// tenth of a second, and each taken out by subtracting a sinusoid that follows it (a line lost
// for as long goes).  The sinusoid's amplitude and phase follow the input only while no note
// sounds over the hum: a narrow notch filter would ring on at the line's frequency after every
// note near it (for a tenth of a second and more, loud enough to be named), the frozen
// sinusoid goes on exactly as the mains do.
class SteadyTones {
public:
    explicit SteadyTones(int sampleRate);
    ~SteadyTones();
    SteadyTones(const SteadyTones&) = delete;
    SteadyTones& operator=(const SteadyTones&) = delete;

    // The next sample with the steady lines taken out.
    float filter(float x);
    // The frequencies of the lines being taken out now.
    std::vector<double> lines() const;
    // A frame's mean square: the least of the last few seconds' is the noise floor.
    void addPower(double power);
    double noiseFloor() const { return noise_; }

    // A line must hold its level within this for this long to be steady.  Mains hum holds within
    // a fraction of a dB; a bass note's attack and decay move its lines by several dB within a
    // tenth of a second, even when it is plucked again at every beat.
    static constexpr double kSteadyDb = 2.0;
    static constexpr double kSteadySeconds = 3.0;

private:
    struct Spectrum;
    struct Notch {
        double hz = 0.0;
        double cosine = 1.0; // the sinusoid's phase now, turned by the step every sample
        double sine = 0.0;
        double stepCos = 1.0;
        double stepSin = 0.0;
        double c = 0.0; // the weights of its cosine and sine
        double s = 0.0;
        int missing = 0; // looks without the line
        void tune(double f, int rate) {
            hz = f;
            stepCos = std::cos(2.0 * M_PI * f / rate);
            stepSin = std::sin(2.0 * M_PI * f / rate);
        }
    };
    void look();

    int rate_;
    std::unique_ptr<Spectrum> spectrum_;
    std::vector<float> recent_; // the last fft-size samples, before the notches
    std::size_t recentPos_ = 0;
    int sinceLook_ = 0;
    int lookEvery_;
    std::deque<std::vector<float>> looks_; // dB per bin, one a look
    std::vector<float> lastPhase_;         // the last look's phase per bin
    std::vector<Notch> notches_;
    std::deque<double> powers_;
    double noise_ = 0.0;
    // The input's power over the last few milliseconds and the least it has been lately: the
    // sinusoids adapt only while the input is near that least (nothing but the steady part).
    double shortPower_ = 0.0;
    double shortCoeff_ = 0.0;
    double quietPower_ = -1.0;
    double adaptRate_ = 0.0;
    int sinceNormal_ = 0;
    int warm_ = 0;
    int powersPerBlock_ = 90;
    double blockMin_ = -1.0;
    int inBlock_ = 0;
};

} // namespace listen
