// The colour map against a search over the whole palette, for many colours at once, so that the
// cache grows several times and every answer after a growth is checked again.

#include <gtest/gtest.h>

#include "png2mat/ColourMap.h"
#include "support/IffWriter.h"

using namespace iff;

TEST(ColourMap, AgreesWithASearchOfThePalette) {
    Bytes table = noise(768, 21);
    std::copy(table.begin(), table.begin() + 3, table.begin() + 30);  // entry 10 repeats entry 0
    std::copy(table.begin() + 60, table.begin() + 63, table.begin() + 765);  // the last repeats entry 20
    ColourMap map(table.data(), false);
    const auto expected = [&](std::uint32_t rgb) {
        unsigned best = 0;
        long bestDistance = -1;
        for (unsigned n = 0; n < 256; ++n) {
            const long dr = long(rgb >> 16) - table[3 * n], dg = long(rgb >> 8 & 255) - table[3 * n + 1], db = long(rgb & 255) - table[3 * n + 2];
            const long distance = dr * dr + dg * dg + db * db;
            if (bestDistance < 0 || distance < bestDistance) best = n, bestDistance = distance;
        }
        return best | (bestDistance ? ColourMap::offPalette : 0);
    };
    const Bytes colours = noise(3 * 20000, 22);
    for (int pass = 0; pass < 2; ++pass) {  // the second pass reads the cached answers
        for (unsigned n = 0; n < 256; ++n) {
            const std::uint32_t rgb = std::uint32_t(table[3 * n]) << 16 | table[3 * n + 1] << 8 | table[3 * n + 2];
            ASSERT_EQ(map.lookup(rgb), expected(rgb)) << n;
        }
        for (std::size_t i = 0; i < colours.size(); i += 3) {
            const std::uint32_t rgb = std::uint32_t(colours[i]) << 16 | colours[i + 1] << 8 | colours[i + 2];
            ASSERT_EQ(map.lookup(rgb), expected(rgb)) << std::hex << rgb;
        }
    }
    // equidistant from entry 0 and all the others: the lowest index wins
    Bytes greys(768, 0);
    std::fill(greys.begin() + 3, greys.end(), 2);
    ColourMap ties(greys.data(), false);
    EXPECT_EQ(ties.lookup(0x010101), 0u | ColourMap::offPalette);
    EXPECT_EQ(ties.lookup(0x020202), 1u);
}
