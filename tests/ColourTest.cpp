// The colour science: CIELAB from sRGB, CIEDE2000 on the published reference pairs, and the
// perceptual palette search against a search of every entry.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "colour/DitherPalette.h"
#include "colour/PerceptualSearch.h"
#include "support/IffWriter.h"

using namespace iff;

TEST(Colour, LabAndCiede2000) {
    const struct {
        std::uint8_t r, g, b;
        Lab lab;
    } colours[] = {
        {0, 0, 0, {0, 0, 0}}, {255, 255, 255, {100, 0, 0}}, {128, 128, 128, {53.5850, 0, 0}},
        {255, 0, 0, {53.2408, 80.0925, 67.2032}},
    };
    for (const auto& c : colours) {
        const Lab lab = labFromSrgb(c.r, c.g, c.b);
        EXPECT_NEAR(lab.L, c.lab.L, 0.001) << int(c.r);
        EXPECT_NEAR(lab.a, c.lab.a, 0.001) << int(c.r);
        EXPECT_NEAR(lab.b, c.lab.b, 0.001) << int(c.r);
    }
    std::ifstream table(DATA_DIR "/ciede2000-pairs.tsv");
    int pairs = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Lab x, y;
        double expected;
        fields >> x.L >> x.a >> x.b >> y.L >> y.a >> y.b >> expected;
        ASSERT_TRUE(fields) << line;
        EXPECT_NEAR(ciede2000(x, y), expected, 0.00005) << line;
        EXPECT_NEAR(ciede2000(y, x), expected, 0.00005) << line;
        ++pairs;
    }
    EXPECT_EQ(pairs, 34);
}

namespace {

// Palettes for the searches: random entries, some repeated; few distinct colours, so that ties are everywhere;
// greys and near-greys, where the hue is undefined or flips; a ramp of one hue, dense in lightness.
std::vector<Bytes> palettes() {
    std::vector<Bytes> tables = {noise(768, 1), noise(768, 2), Bytes(768, 0), Bytes(768, 0), Bytes(768, 0)};
    for (int n = 0; n < 40; ++n) std::copy_n(tables[0].begin() + 3 * (n * 7 % 256), 3, tables[0].begin() + 3 * (255 - n));
    for (int n = 0; n < 256; ++n) {
        const Bytes few = noise(3, 3 + n % 5), grey{std::uint8_t(n), std::uint8_t(n + n % 2), std::uint8_t(n)};
        std::copy_n(few.begin(), 3, tables[2].begin() + 3 * n);
        std::copy_n(grey.begin(), 3, tables[3].begin() + 3 * n);
        tables[4][3 * n] = std::uint8_t(n), tables[4][3 * n + 1] = std::uint8_t(n / 2), tables[4][3 * n + 2] = std::uint8_t(n / 4);
    }
    return tables;
}

}  // namespace

TEST(Colour, PerceptualSearchAgreesWithAFullSearch) {
    const auto fullSearch = [](const PerceptualSearch& entries, const Lab& colour) {
        unsigned best = 0;
        double least = ciede2000(colour, entries.entry(0));
        for (unsigned n = 1; n < 256; ++n)
            if (const double d = ciede2000(colour, entries.entry(n)); d < least) best = n, least = d;
        return best;
    };
    const std::vector<Bytes> tables = palettes();
    const Bytes colours = noise(3 * 4000, 9);
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const PerceptualSearch search(tables[t].data());
        for (std::size_t i = 0; i < colours.size() + 768; i += 3) {
            // every entry too, and colours one step from one
            const std::uint8_t* c = i < colours.size() ? &colours[i] : &tables[t][i - colours.size()];
            const std::uint8_t r = c[0], g = std::uint8_t(c[1] + (i < colours.size() ? 0 : i % 2)), b = c[2];
            ASSERT_EQ(search.nearest(r, g, b), fullSearch(search, labFromSrgb(r, g, b))) << t << " " << int(r) << "," << int(g) << "," << int(b);
        }
    }
}

TEST(Colour, DitherSearchAgreesWithAFullSearch) {
    // colours of any linear light, as error diffusion makes them, and any entry as the guess
    const Bytes colours = noise(4 * 10000, 10);
    for (const Bytes& table : palettes()) {
        const DitherPalette palette(table.data());
        for (std::size_t i = 0; i < colours.size(); i += 4) {
            const float rgb[3] = {colours[i] / 255.0f, (colours[i + 1] + colours[i + 3] / 256.0f) / 256, colours[i + 2] / 255.0f};
            float lab[3];
            DitherPalette::labOf(rgb, lab);
            unsigned best = 0;
            for (unsigned n = 1; n < 256; ++n)
                if (palette.difference(lab, n) < palette.difference(lab, best)) best = n;
            ASSERT_EQ(palette.nearest(lab, colours[i + 3]), best) << i;
        }
    }
}
