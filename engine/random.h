// The program's one uniform generator of values in [0, 1).  It starts every run from the same
// fixed state; `randomize` mixes a number into the state, as the classic BASIC generators do,
// rather than replacing it.  Tests install a scripted source to fix the values.
#pragma once

#include "layers/rules.h"

#include <cstdint>
#include <vector>

class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual double next() = 0;              // 0 <= r < 1
    virtual void randomize(float seed) = 0; // mix the number into the state
};

class BasicRandom : public RandomSource {
public:
    double next() override;
    void randomize(float seed) override;
    uint64_t state() const { return s; }

private:
    uint64_t s = 0x9E3779B97F4A7C15ULL; // the fixed starting state
};

// Returns the given values in turn, then repeats the last one; records the seeds it was given.
class ScriptedRandom : public RandomSource {
public:
    explicit ScriptedRandom(std::vector<double> values) : values_(std::move(values)) {}
    double next() override;
    void randomize(float seed) override { seeds.push_back(seed); }
    std::vector<float> seeds;
    std::size_t drawn = 0;

private:
    std::vector<double> values_;
};
