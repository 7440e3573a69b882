#pragma once

#include <cmath>

// The numbers every colour computation here shares: sRGB's primaries, D65 white, CIELAB's curve
// and CIEDE2000's constants, in double precision; the float loops take them rounded once.
namespace colour {

// sRGB's primaries and D65 white (x 0.3127, y 0.3290) to XYZ (IEC 61966-2-1)
inline constexpr double srgbToXyz[3][3] = {
    {0.4124564, 0.3575761, 0.1804375}, {0.2126729, 0.7151522, 0.0721750}, {0.0193339, 0.1191920, 0.9503041}};
// white is the row sums, so that R = G = B gives a = b = 0
inline constexpr double white[3] = {srgbToXyz[0][0] + srgbToXyz[0][1] + srgbToXyz[0][2],
                                    srgbToXyz[1][0] + srgbToXyz[1][1] + srgbToXyz[1][2],
                                    srgbToXyz[2][0] + srgbToXyz[2][1] + srgbToXyz[2][2]};
// Y of each primary: the luminance weights of linear light
inline constexpr const double (&luminance)[3] = srgbToXyz[1];

// CIELAB's curve f of a tristimulus value relative to white
inline double labCurve(double t) {
    constexpr double edge = 6.0 / 29;
    return t > edge * edge * edge ? std::cbrt(t) : t / (3 * edge * edge) + 4.0 / 29;
}

// CIEDE2000: 25 to the 7th, and the cosines and sines of T's hue angles
inline constexpr double pow25to7 = 6103515625.0;
inline constexpr double cos30 = 0.86602540378443865, cos6 = 0.99452189536827334, sin6 = 0.10452846326765347;
inline constexpr double cos63 = 0.45399049973954675, sin63 = 0.89100652418836787;

}  // namespace colour
