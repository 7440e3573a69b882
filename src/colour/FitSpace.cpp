#include "colour/FitSpace.h"

#include <algorithm>
#include <cmath>

#include "colour/Terms.h"

namespace colour {

namespace {

// the length of (a, b), rounded the same everywhere, unlike hypot
double chroma(double a, double b) { return std::sqrt(a * a + b * b); }

// the chroma compressed by 1 / SC: the integral of 1 / (1 + 0.045 c); and back
double compressed(double c) { return logOnePlus(0.045 * c) / 0.045; }
double expanded(double r) { return exponentialMinusOne(0.045 * r) / 0.045; }

}  // namespace

FitSpace::FitSpace() {
    // lightness: the integral of 1 / SL, in steps of a tenth
    double sum = 0;
    for (int n = 0; n <= steps; ++n) {
        lightness[n] = sum;
        const double m = (n + 0.5) / 10 - 50;
        sum += 0.1 / lightnessWeight(m);
    }
}

Point FitSpace::of(const Lab& lab) const {
    const double at = std::clamp(lab.L * 10, 0.0, double(steps) - 1e-9);
    const int n = int(at);
    const double l = lightness[n] + (lightness[n + 1] - lightness[n]) * (at - n);
    const double a1 = lab.a * aScale(chroma(lab.a, lab.b)), c = chroma(a1, lab.b);
    const double k = c > 0 ? compressed(c) / c : 1;
    return {float(l), float(a1 * k), float(lab.b * k)};
}

Lab FitSpace::lab(const Point& p) const {
    const int n = int(std::upper_bound(lightness, lightness + steps + 1, double(p.L)) - lightness);
    double L = n <= 0 ? 0 : n > steps ? 100 : (n - 1 + (p.L - lightness[n - 1]) / (lightness[n] - lightness[n - 1])) / 10;
    const double r = chroma(p.a, p.b), k = r > 0 ? expanded(r) / r : 1;
    const double a1 = p.a * k, b = p.b * k;
    // a from a1 = a (1 + G(C)), where G falls as C grows: a fixed point
    double a = a1 / 1.5;
    for (int step = 0; step < 40; ++step) a = a1 / aScale(chroma(a, b));
    return {L, a, b};
}

Tangent FitSpace::tangentOf(const Lab& lab) const {
    const double a1 = lab.a * aScale(chroma(lab.a, lab.b)), c = chroma(a1, lab.b);
    if (c < 1e-9) return {0, 0, 0};
    const double ratio = c / hueWeight(c, hueTerm(a1 / c, lab.b / c)) / compressed(c);
    return {float(-lab.b / c), float(a1 / c), float(ratio * ratio - 1)};
}

const FitSpace& fitSpace() {
    static const FitSpace space;
    return space;
}

}  // namespace colour
