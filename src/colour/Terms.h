#pragma once

#include <algorithm>
#include <cmath>

#include "colour/Constants.h"
#include "colour/Maths.h"

// The formulas every colour computation here shares, each written once, for double (the reference) and for
// float (the fast searches and dithering): the sRGB transfer curve both ways, CIELAB's curve, and the terms
// of CIEDE2000 (Sharma, Wu and Dalal 2005) with kL = kC = kH = 1. Always inlined, so that the search loops
// that use them stay in vector registers.
namespace colour {

// IEC 61966-2-1's transfer curve: linear light from an encoded value and back, each 0 to 1
inline double decodeSrgb(double v) { return v <= 0.04045 ? v / 12.92 : power((v + 0.055) / 1.055, 2.4); }
inline double encodeSrgb(double linear) { return linear <= 0.0031308 ? 12.92 * linear : 1.055 * power(linear, 1 / 2.4) - 0.055; }

// CIELAB's curve f of a tristimulus value relative to white
inline double labCurve(double t) {
    constexpr double edge = 6.0 / 29;
    return t > edge * edge * edge ? cubeRoot(t) : t / (3 * edge * edge) + 4.0 / 29;
}

template <typename Real>
[[gnu::always_inline]] inline Real pow7(Real x) {
    const Real x2 = x * x, x3 = x2 * x;
    return x3 * x3 * x;
}

// 1 + G, the factor of a' over a, for the mean chroma of the two colours
template <typename Real>
[[gnu::always_inline]] inline Real aScale(Real meanChroma) {
    const Real c7 = pow7(meanChroma);
    return Real(1.5) - Real(0.5) * std::sqrt(c7 / (c7 + Real(pow25to7)));
}

// SL, for the mean lightness less 50
template <typename Real>
[[gnu::always_inline]] inline Real lightnessWeight(Real fromMiddle) {
    return 1 + Real(0.015) * fromMiddle * fromMiddle / std::sqrt(20 + fromMiddle * fromMiddle);
}

// SC and SH, for the mean chroma C' and T
template <typename Real>
[[gnu::always_inline]] inline Real chromaWeight(Real meanChroma) {
    return 1 + Real(0.045) * meanChroma;
}
template <typename Real>
[[gnu::always_inline]] inline Real hueWeight(Real meanChroma, Real t) {
    return 1 + Real(0.015) * meanChroma * t;
}

// T, for the mean hue given as its cosine and sine: the multiple angles by their formulas, no angle needed
template <typename Real>
[[gnu::always_inline]] inline Real hueTerm(Real cos1, Real sin1) {
    const Real cos2 = 2 * cos1 * cos1 - 1, sin2 = 2 * sin1 * cos1;
    const Real cos3 = cos1 * (4 * cos1 * cos1 - 3), sin3 = sin1 * (3 - 4 * sin1 * sin1);
    const Real cos4 = 2 * cos2 * cos2 - 1, sin4 = 2 * sin2 * cos2;
    return 1 - Real(0.17) * (cos1 * Real(cos30) + sin1 * Real(0.5)) + Real(0.24) * cos2 +
           Real(0.32) * (cos3 * Real(cos6) - sin3 * Real(sin6)) - Real(0.20) * (cos4 * Real(cos63) + sin4 * Real(sin63));
}

// What CIEDE2000 weighs between colour 1 and colour 2, each given as L, a, b and chroma, as the fast searches
// take it: the lightness difference and SL; the chromas C' after 1 + G and their difference; the hue
// directions as unit vectors (none for a grey) and the hue difference squared, dH'^2 = C1' C2' |u1 - u2|^2,
// which spares the angles.
template <typename Real>
struct Differences {
    Real dl, sl, cp1, cp2, dc, u1, v1, u2, v2, dh2;
};
template <typename Real>
[[gnu::always_inline]] inline Differences<Real> differences(Real l1, Real a1, Real b1, Real c1, Real l2, Real a2, Real b2, Real c2) {
    Differences<Real> d;
    d.dl = l2 - l1, d.sl = lightnessWeight((l2 + l1) / 2 - 50);
    const Real g = aScale((c2 + c1) / 2), a2p = g * a2, a1p = g * a1;
    d.cp1 = std::sqrt(a1p * a1p + b1 * b1), d.cp2 = std::sqrt(a2p * a2p + b2 * b2), d.dc = d.cp2 - d.cp1;
    const Real r1 = 1 / (d.cp1 + Real(1e-30)), r2 = 1 / (d.cp2 + Real(1e-30));
    d.u1 = a1p * r1, d.v1 = b1 * r1, d.u2 = a2p * r2, d.v2 = b2 * r2;
    d.dh2 = d.cp1 * d.cp2 * ((d.u2 - d.u1) * (d.u2 - d.u1) + (d.v2 - d.v1) * (d.v2 - d.v1));
    return d;
}

// RC, the rotation term's weight for the mean chroma C': RT = -sin(2 dTheta) RC
template <typename Real>
[[gnu::always_inline]] inline Real rotationChroma(Real meanChroma) {
    const Real c7 = pow7(meanChroma);
    return 2 * std::sqrt(c7 / (c7 + Real(pow25to7)));
}

// A lower bound of CIEDE2000 squared between colour 1 and colour 2, each given as L, a, b and chroma, in floats
// for the fast searches: the formula itself, with the mean hue taken from the bisector of the two hue directions
// instead of angles, and RT at its largest for that hue. Compare it with boundLimit(difference) squared, which
// allows for its float rounding.
[[gnu::always_inline]] inline float differenceBound2(float l1, float a1, float b1, float c1, float l2, float a2, float b2, float c2) {
    // the largest value of T, and of sin(2 dTheta) with dTheta at most 30 degrees
    constexpr float maxT = 1.5725f, maxSinTheta = 0.8661f;
    constexpr float toBlueU = float(cos275), toBlueV = float(sin275);
    // |dH'| = 2 sqrt(C1' C2') |sin(dh'/2)| = sqrt(C1' C2') |u1 - u2|
    const auto [dl, sl, cp1, cp2, dc, u1, v1, u2, v2, dh2] = differences(l1, a1, b1, c1, l2, a2, b2, c2);
    const float dh = std::sqrt(dh2);
    // the mean hue as the bisector; nearly opposite hues leave it in doubt, and T at its largest
    const float wu = u1 + u2, wv = v1 + v2, w2 = wu * wu + wv * wv;
    const bool known = w2 > 0.01f;
    const float rw = 1 / std::sqrt(std::max(w2, 0.01f)), c = wu * rw, s = wv * rw;
    const float t = known ? hueTerm(c, s) : maxT;
    // dTheta = 30 exp(-((h - 275) / 25)^2) is below 7.1 degrees 30 degrees from 275, and below 0.095 at 60
    const float toBlue = known ? c * toBlueU + s * toBlueV : 1;
    const float sinTheta = toBlue > 0.866f ? maxSinTheta : toBlue > 0.5f ? 0.2456f : 0.0034f;
    const float cBarP = (cp1 + cp2) / 2;
    const float y = std::abs(dc) / chromaWeight(cBarP), z = dh / hueWeight(cBarP, t);
    const float r = sinTheta * rotationChroma(cBarP);
    // the least of y^2 + z^2 - r y z given |RT| <= r
    return dl * dl / (sl * sl) + y * y + z * z - r * y * z;
}

// a difference raised by far more than float rounding takes from differenceBound2, relative and absolute
inline double boundLimit(double difference) { return difference * (1 + 1e-3) + 1e-3; }

}  // namespace colour
