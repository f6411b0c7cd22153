// Deterministic value noise for the procedural skins: a hashed lattice, smooth interpolation and
// a sum of octaves.  The same seed gives the same picture on every machine.
#pragma once

#include <cmath>
#include <cstdint>

namespace artwork {

class ValueNoise {
public:
    explicit ValueNoise(uint32_t seed) : seed_(seed) {}

    // Noise in [0, 1) at a point; one lattice cell per unit.
    double at(double x, double y) const {
        const double fx = std::floor(x);
        const double fy = std::floor(y);
        const auto ix = static_cast<int32_t>(fx);
        const auto iy = static_cast<int32_t>(fy);
        const double tx = smooth(x - fx);
        const double ty = smooth(y - fy);
        const double a = lattice(ix, iy);
        const double b = lattice(ix + 1, iy);
        const double c = lattice(ix, iy + 1);
        const double d = lattice(ix + 1, iy + 1);
        return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
    }

    // Sum of `octaves` layers, each twice as fine and half as strong; result in [0, 1).
    double fractal(double x, double y, int octaves) const {
        double sum = 0;
        double weight = 0;
        double amplitude = 1;
        for (int i = 0; i < octaves; ++i) {
            sum += amplitude * at(x + i * 17.31, y - i * 9.77);
            weight += amplitude;
            amplitude *= 0.5;
            x *= 2;
            y *= 2;
        }
        return sum / weight;
    }

    // A hashed value in [0, 1) for a lattice point; also handy as a fixed random number.
    double lattice(int32_t x, int32_t y) const {
        uint32_t h = seed_ ^ (static_cast<uint32_t>(x) * 0x8da6b343u) ^
                     (static_cast<uint32_t>(y) * 0xd8163841u);
        h ^= h >> 15;
        h *= 0x2c1b3c6du;
        h ^= h >> 12;
        h *= 0x297a2d39u;
        h ^= h >> 15;
        return (h & 0xffffffu) / 16777216.0;
    }

private:
    static double smooth(double t) { return t * t * (3 - 2 * t); }
    uint32_t seed_;
};

} // namespace artwork
