// The steady part of the input, measured while listening and kept out of the notes: mains hum
// and its harmonics (or an amplifier's buzz) as spectral lines that hold their level for seconds,
// and the noise floor.  A bass note is never steady: it is plucked and dies away, and even a note
// plucked again and again swings by more than a steady line may.
#pragma once

#include "layers/listen.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace listen {

// Spectral lines that have held within kSteadyDb for kSteadySeconds, found from a spectrum every
// tenth of a second, and a notch on each (a line lost for as long goes).
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
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        int missing = 0; // looks without the line
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
    int powersPerBlock_ = 90;
    double blockMin_ = -1.0;
    int inBlock_ = 0;
};

} // namespace listen
