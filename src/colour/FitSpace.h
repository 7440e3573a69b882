#pragma once

#include "colour/Lab.h"

// The space in which the palette fit takes means and splits, and what it measures there.
namespace colour {

struct Point {
    float L, a, b;
};

// a direction in the a-b plane of the space, and the weight beyond 1 of squared differences along it
struct Tangent {
    float u, v, extra;
};

// the squared distance in the space from a colour, with its hue weight, to a place
inline float spaceDistance2(const Point& p, const Tangent& t, const Point& at) {
    const float el = at.L - p.L, ea = at.a - p.a, eb = at.b - p.b, along = ea * t.u + eb * t.v;
    return el * el + ea * ea + eb * eb + t.extra * along * along;
}

inline float distance2(const Point& x, const Point& y) {
    const float dl = x.L - y.L, da = x.a - y.a, db = x.b - y.b;
    return dl * dl + da * da + db * db;
}

// A space in which straight distances come near CIEDE2000 (without its rotation term): lightness stretched by
// 1 / SL, the a axis by 1 + G as CIEDE2000 does, and chroma compressed by 1 / SC. Means and splits are taken
// there, since in CIELAB they would spend many entries on saturated colours that CIEDE2000 sees as near one
// another. Hue differences, which CIEDE2000 divides by SH with its hue-dependent T, get a weight of their own
// per colour (Tangent).
class FitSpace {
public:
    FitSpace();
    Point of(const Lab& lab) const;
    // the inverse of of(), L clamped to 0 to 100
    Lab lab(const Point& p) const;
    // The hue direction at a colour, and what a difference along it weighs beyond its length in the space:
    // CIEDE2000's C' dh / SH against the space's radius times dh.
    Tangent tangentOf(const Lab& lab) const;

private:
    static constexpr int steps = 1000;
    double lightness[steps + 1];
};

// the one space, its table built once
const FitSpace& fitSpace();
inline Point pointOf(const Lab& lab) { return fitSpace().of(lab); }

}  // namespace colour
