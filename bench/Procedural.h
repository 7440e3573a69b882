#pragma once

// Procedural pictures for the benchmarks: value hashing, gradient noise, its fractal sum, and a
// few colour helpers, the same for every generator so that their pictures stay comparable.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace procedural {

using Rgb = std::array<double, 3>;  // sRGB-encoded, 0 to 1

inline std::uint32_t hash(std::int64_t x, std::int64_t y, std::uint32_t seed) {
    std::uint64_t h = std::uint64_t(x) * 0x9E3779B97F4A7C15ull ^ std::uint64_t(y) * 0xC2B2AE3D27D4EB4Full ^ seed * 0x165667B19E3779F9ull;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return std::uint32_t(h >> 32);
}
inline double unit(std::int64_t x, std::int64_t y, std::uint32_t seed) { return hash(x, y, seed) / 4294967296.0; }

// Gradient noise, about -0.7 to 0.7; with a `period`, the same every `period` units in x and in y.
inline double noise(double x, double y, std::uint32_t seed, std::int64_t period = 0) {
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = std::int64_t(fx), iy = std::int64_t(fy);
    const double dx = x - fx, dy = y - fy;
    auto lattice = [&](std::int64_t i) { return period ? (i % period + period) % period : i; };
    auto grad = [&](std::int64_t i, std::int64_t j, double u, double v) {
        const double a = unit(lattice(ix + i), lattice(iy + j), seed) * 6.283185307179586;
        return std::cos(a) * u + std::sin(a) * v;
    };
    auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double u = fade(dx), v = fade(dy);
    const double top = grad(0, 0, dx, dy) + u * (grad(1, 0, dx - 1, dy) - grad(0, 0, dx, dy));
    const double bottom = grad(0, 1, dx, dy - 1) + u * (grad(1, 1, dx - 1, dy - 1) - grad(0, 1, dx, dy - 1));
    return top + v * (bottom - top);
}

// Fractal sum of octaves, about 0 to 1.
inline double fbm(double x, double y, int octaves, std::uint32_t seed, double gain = 0.5) {
    double sum = 0, amplitude = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * noise(x, y, seed + o * 7919);
        norm += amplitude;
        amplitude *= gain;
        x = x * 2.03 + 17.1;
        y = y * 1.97 - 5.3;
    }
    return std::clamp(0.5 + sum / norm, 0.0, 1.0);
}

// Fractal sum of octaves that tiles: x and y from 0 to `period` make one tile, each octave twice the last's detail.
inline double tiledFbm(double x, double y, std::int64_t period, int octaves, std::uint32_t seed, double gain = 0.5) {
    double sum = 0, amplitude = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o, x *= 2, y *= 2, period *= 2, amplitude *= gain) {
        sum += amplitude * noise(x, y, seed + o * 7919, period);
        norm += amplitude;
    }
    return std::clamp(0.5 + sum / norm, 0.0, 1.0);
}

inline double smooth(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}
inline Rgb mix(const Rgb& a, const Rgb& b, double t) { return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t}; }
inline Rgb scale(const Rgb& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }

}  // namespace procedural
