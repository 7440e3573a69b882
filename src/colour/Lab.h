#pragma once

#include <cstdint>

namespace colour {

// CIELAB under D65 from sRGB (IEC 61966-2-1's transfer curve, the matrix from its primaries), and the
// CIEDE2000 colour difference. Linear light is the sRGB primaries' intensity, 0 to 1.
struct Lab {
    double L, a, b;
};

// The linear light of an 8-bit sRGB component, from a table.
double linearFromSrgb(std::uint8_t v);
Lab labFromLinear(double r, double g, double b);
Lab labFromSrgb(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// CIEDE2000 with kL = kC = kH = 1 (Sharma, Wu and Dalal 2005); symmetric in its arguments.
double ciede2000(const Lab& x, const Lab& y);

}  // namespace colour
