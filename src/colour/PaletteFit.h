#pragma once

#include <cstdint>
#include <vector>

#include "colour/ColourHistogram.h"
#include "colour/Palette.h"

namespace colour {

// A palette entry taken as it is.
struct KeptEntry {
    unsigned index;
    std::uint8_t r, g, b;
};

// A palette of 256 entries fitted to a histogram: `entries` fitted entries, 1 to 256, that together with
// the kept ones leave the least mean CIEDE2000 between each pixel and its nearest entry by CIEDE2000 that
// the fit finds. Kept entries stay at their indices; the fitted ones fill the free indices in ascending order,
// darkest first (by CIELAB L, then 0xRRGGBB); free indices left over are black. With no more distinct colours
// than `entries` (beside the kept ones) each colour gets an entry of its own. Deterministic: the same
// histogram and kept entries give the same palette whatever the number of CPUs (no randomness, and threads
// only fill their own parts of an array).
// Throws std::invalid_argument for `entries` outside 1 to 256, a kept index above 255 or twice, or more
// entries than the free indices.
class PaletteFit {
public:
    PaletteFit(const std::vector<ColourCount>& histogram, unsigned entries, const std::vector<KeptEntry>& kept = {});

    // 256 entries of red, green, blue
    const Palette& colours() const { return palette; }

private:
    Palette palette{};
};

// the mean CIEDE2000 per pixel of the histogram, each pixel taking its nearest entry of the palette
double meanError(const std::vector<ColourCount>& histogram, const Palette& palette);

}  // namespace colour
