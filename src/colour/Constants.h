#pragma once

// The numbers every colour computation here shares: sRGB's primaries, D65 white, CIELAB's and CIEDE2000's
// constants, in double precision; the float loops take them rounded once. Terms.h builds the formulas from them.
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

// CIELAB's kappa, (29/3)^3: L of a relative luminance below (6/29)^3 is kappa times it
inline constexpr double kappa = 24389.0 / 27;

inline constexpr double pi = 3.14159265358979323846, degrees = pi / 180;

// CIEDE2000: 25 to the 7th, and the cosines and sines of T's hue angles
inline constexpr double pow25to7 = 6103515625.0;
inline constexpr double cos30 = 0.86602540378443865, cos6 = 0.99452189536827334, sin6 = 0.10452846326765347;
inline constexpr double cos63 = 0.45399049973954675, sin63 = 0.89100652418836787;
// the direction of a hue of 275 degrees, where the rotation term centres, and the cosine of 150 degrees
inline constexpr double cos275 = 0.087155742747658174, sin275 = -0.99619469809174553, cos150 = -0.86602540378443865;
// the largest lightness weight SL for L from 0 to 100 (at a mean L of 0 or 100: 1.747016), rounded up
inline constexpr double maxLightnessWeight = 1.7471;

}  // namespace colour
