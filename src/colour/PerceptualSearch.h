#pragma once

#include <cstdint>

#include "colour/Lab.h"

namespace colour {

// The palette entry nearest to a colour by CIEDE2000, ties to the lowest index, exactly as a search
// of all entries would find it. The entries are sorted by lightness; only those that a lower bound of the
// difference does not rule out are compared in full.
class PerceptualSearch {
public:
    // `colours`: `count` entries (1 to 256) of red, green, blue
    explicit PerceptualSearch(const std::uint8_t* colours, unsigned count = 256);

    // the nearest entry and its CIEDE2000 to the colour
    struct Match {
        unsigned index;
        double difference;
    };

    // `colour` with L from 0 to 100, as every sRGB colour has.
    Match match(const Lab& colour) const;
    unsigned nearest(const Lab& colour) const { return match(colour).index; }
    unsigned nearest(std::uint8_t r, std::uint8_t g, std::uint8_t b) const { return nearest(labFromSrgb(r, g, b)); }
    // The nearest entry among those at most `limit` from the colour; an index of count() where none is. It spares
    // the first guess and most of the bounds where the colour has an entry that near already.
    Match within(const Lab& colour, double limit) const;
    const Lab& entry(unsigned index) const { return lab[index]; }
    unsigned count() const { return size; }

private:
    // the nearest of `best` and the entries in the lightness window that `best` leaves, `skip` (a sorted
    // position) aside
    Match refine(const Lab& colour, Match best, unsigned skip) const;

    unsigned size;
    Lab lab[256];
    // the entries by ascending L (ties by index), as floats for the bounds: L, a, b and chroma
    alignas(32) float sortedL[256], sortedA[256], sortedB[256], sortedC[256];
    // the same in steps of a quarter, for a first guess
    alignas(32) std::int16_t quarterL[256], quarterA[256], quarterB[256];
    std::uint8_t order[256];
};

}  // namespace colour
