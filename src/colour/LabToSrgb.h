#pragma once

#include <array>
#include <cstdint>

#include "colour/Lab.h"

// From CIELAB back to 8-bit sRGB codes, for the palette fit's means.
namespace colour {

using Rgb = std::array<std::uint8_t, 3>;

// The 8-bit colour nearest in CIELAB to a wanted colour given in linear light (a first guess, each channel
// 0 to 1) and in CIELAB: the best corner of the sRGB cell that holds the guess.
Rgb nearestCode(const double* linear, const Lab& want);

// The linear light whose CIELAB is `want`, by Newton's method on labFromLinear, so that the conversion is
// the one every other part uses; clamped to the cube, where a mean in CIELAB may fall just outside it.
void linearFromLab(const Lab& want, double* rgb);

// the code nearest in CIELAB to `want`: an sRGB colour's own code, an unreachable colour's nearest at the cube's edge
Rgb codeOfLab(const Lab& want);

inline Lab labOf(const Rgb& code) { return labFromSrgb(code[0], code[1], code[2]); }

}  // namespace colour
