#include "engine/random.h"

#include <bit>
#include <cstdint>

namespace {

// The splitmix64 finaliser: every bit of the input reaches every bit of the output.
uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;

} // namespace

double BasicRandom::next() {
    s += kGolden;
    // The top 53 bits make a double in [0, 1): at most (2^53 - 1) / 2^53, never 1.0.
    return static_cast<double>(mix(s) >> 11) * kTwoToMinus53;
}

void BasicRandom::randomize(float seed) {
    // The seed's bits are mixed into the whole 64-bit state, not put in its place: the bars after
    // a re-seed still depend on everything drawn before, so a run never falls into a short cycle
    // of the hundred possible seeds.
    const uint64_t bits = std::bit_cast<uint32_t>(seed);
    s ^= mix(bits ^ 0xD1B54A32D192ED03ULL);
    s = mix(s + kGolden);
}

double ScriptedRandom::next() {
    double value = 0.0;
    if (!values_.empty()) {
        value = drawn < values_.size() ? values_[drawn] : values_.back();
    }
    ++drawn;
    return value;
}
