// Fitting a palette to a histogram, checked against brute force: every pixel's nearest entry by a search of
// all 256 entries, and the error of every single move of an entry.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <stdexcept>

#include "colour/EuclideanSearch.h"
#include "colour/Lab.h"
#include "colour/LabToSrgb.h"
#include "colour/PaletteFit.h"
#include "colour/Parallel.h"

using namespace colour;

namespace {

std::uint32_t rgbAt(const Palette& palette, unsigned index) {
    return std::uint32_t(palette[3 * index]) << 16 | std::uint32_t(palette[3 * index + 1]) << 8 | palette[3 * index + 2];
}

Lab labOf(std::uint32_t rgb) { return labFromSrgb(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb)); }

// the weighted mean CIEDE2000 of the histogram to its nearest entry, by comparing all entries
double bruteError(const std::vector<ColourCount>& histogram, const Palette& palette) {
    // each colour of the palette once: the unused entries are all black
    std::set<std::uint32_t> distinct;
    for (unsigned n = 0; n < 256; ++n) distinct.insert(rgbAt(palette, n));
    std::vector<Lab> entries;
    for (std::uint32_t rgb : distinct) entries.push_back(labOf(rgb));
    double sum = 0, pixels = 0;
    for (const ColourCount& c : histogram) {
        double least = 1e300;
        for (const Lab& entry : entries) least = std::min(least, ciede2000(labOf(c.rgb), entry));
        sum += double(c.count) * least, pixels += double(c.count);
    }
    return pixels > 0 ? sum / pixels : 0;
}

// `size` colours with counts 1 to 50: spread over the cube, or crowded near one colour
std::vector<ColourCount> histogram(std::size_t size, unsigned seed, bool crowded) {
    std::mt19937 random(seed);
    std::set<std::uint32_t> seen;
    std::vector<ColourCount> colours;
    while (colours.size() < size) {
        std::uint32_t rgb = random() & 0xFFFFFF;
        if (crowded) rgb = (0x80 + (rgb >> 16) % 24) << 16 | (0x50 + (rgb >> 8 & 0xFF) % 24) << 8 | (0x30 + (rgb & 0xFF) % 24);
        if (seen.insert(rgb).second) colours.push_back({rgb, 1 + random() % 50});
    }
    std::sort(colours.begin(), colours.end(), [](const ColourCount& x, const ColourCount& y) { return x.rgb < y.rgb; });
    return colours;
}

std::vector<KeptEntry> greys(std::initializer_list<unsigned> indices) {
    std::vector<KeptEntry> kept;
    for (unsigned n : indices) kept.push_back({n, std::uint8_t(n), std::uint8_t(n), std::uint8_t(n)});
    return kept;
}

// the kept entries are at their indices, and the free ones hold the fitted entries darkest first, then black
void expectLayout(const Palette& palette, const std::vector<KeptEntry>& kept, unsigned fitted) {
    std::vector<unsigned> free;
    for (unsigned n = 0; n < 256; ++n)
        if (std::none_of(kept.begin(), kept.end(), [&](const KeptEntry& k) { return k.index == n; })) free.push_back(n);
    for (const KeptEntry& k : kept) EXPECT_EQ(rgbAt(palette, k.index), std::uint32_t(k.r) << 16 | k.g << 8 | k.b) << k.index;
    for (std::size_t n = 1; n < std::min<std::size_t>(fitted, free.size()); ++n)
        EXPECT_LE(labOf(rgbAt(palette, free[n - 1])).L, labOf(rgbAt(palette, free[n])).L) << free[n];
    for (std::size_t n = fitted; n < free.size(); ++n) EXPECT_EQ(rgbAt(palette, free[n]), 0u) << free[n];
}

}  // namespace

TEST(PaletteFit, FewColoursEachGetAnEntry) {
    const struct {
        const char* name;
        std::vector<ColourCount> colours;
        unsigned entries;
        std::vector<KeptEntry> kept;
        unsigned fitted;  // the colours that need an entry
    } cases[] = {
        {"one colour", {{0x336699, 7}}, 1, {}, 1},
        {"as many as entries", histogram(256, 1, false), 256, {}, 256},
        {"fewer than entries", histogram(9, 2, true), 20, {}, 9},
        {"some on kept entries", {{0x101010, 5}, {0x202020, 9}, {0xFF0000, 1}, {0x00FF00, 3}}, 2, greys({0x10, 0x20, 0xF0}), 2},
        {"all on kept entries", {{0x000000, 5}, {0x808080, 2}}, 10, greys({0, 0x80}), 0},
        {"empty", {}, 16, greys({3, 250}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PaletteFit fit(c.colours, c.entries, c.kept);
        EXPECT_EQ(meanError(c.colours, fit.colours()), 0);
        EXPECT_EQ(bruteError(c.colours, fit.colours()), 0);
        expectLayout(fit.colours(), c.kept, c.fitted);
    }
}

TEST(PaletteFit, NoSingleMoveOfAnEntryLowersTheError) {
    const struct {
        const char* name;
        std::vector<ColourCount> colours;
        unsigned entries;
        std::vector<KeptEntry> kept;
    } cases[] = {
        {"one entry", histogram(40, 3, false), 1, {}},
        {"spread", histogram(60, 4, false), 5, {}},
        {"crowded", histogram(60, 5, true), 4, {}},
        {"beside kept entries", histogram(50, 6, false), 3, greys({0, 128, 255})},
        {"beside kept entries, crowded", histogram(50, 7, true), 3, {{7, 0x90, 0x58, 0x38}, {200, 0x84, 0x60, 0x40}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PaletteFit fit(c.colours, c.entries, c.kept);
        const double error = bruteError(c.colours, fit.colours());
        EXPECT_NEAR(meanError(c.colours, fit.colours()), error, 1e-9);
        expectLayout(fit.colours(), c.kept, c.entries);
        // every fitted entry moved to every colour of the histogram, or one step in a channel
        // the fitted entries: the first free indices (the rest are black, not fitted)
        for (unsigned n = 0, fitted = 0; n < 256 && fitted < c.entries; ++n) {
            if (std::any_of(c.kept.begin(), c.kept.end(), [&](const KeptEntry& k) { return k.index == n; })) continue;
            ++fitted;
            const std::uint32_t entry = rgbAt(fit.colours(), n);
            std::vector<std::uint32_t> moves;
            for (const ColourCount& colour : c.colours) moves.push_back(colour.rgb);
            for (int shift : {0, 8, 16})
                for (int step : {-1, 1})
                    if (const int v = int(entry >> shift & 0xFF) + step; v >= 0 && v <= 255)
                        moves.push_back((entry & ~(0xFFu << shift)) | std::uint32_t(v) << shift);
            for (const std::uint32_t move : moves) {
                Palette moved = fit.colours();
                moved[3 * n] = std::uint8_t(move >> 16), moved[3 * n + 1] = std::uint8_t(move >> 8), moved[3 * n + 2] = std::uint8_t(move);
                ASSERT_GE(bruteError(c.colours, moved), error * (1 - 1e-9)) << "entry " << n << " to " << std::hex << move;
            }
        }
    }
}

TEST(PaletteFit, FewEntriesGainByAStepOfOneCode) {
    // crowded colours, too many for the exhaustive polish, where rounding alone leaves entries a step from better;
    // the steps are ranked in an approximate space, so that now and then one that helps is missed
    const struct {
        const char* name;
        std::vector<ColourCount> colours;
        unsigned entries;
    } cases[] = {
        {"crowded", histogram(600, 13, true), 16},
        {"crowded, more entries", histogram(900, 12, true), 24},
        {"crowded, one entry", histogram(2000, 14, true), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PaletteFit fit(c.colours, c.entries);
        const double error = bruteError(c.colours, fit.colours());
        unsigned improvable = 0;
        for (unsigned n = 0; n < c.entries; ++n) {
            bool helps = false;
            for (int move = 0; move < 27 && !helps; ++move) {
                Palette moved = fit.colours();
                bool inside = true;
                for (int channel = 0; channel < 3; ++channel) {
                    const int v = moved[3 * n + channel] + (move / (channel == 0 ? 9 : channel == 1 ? 3 : 1) % 3 - 1);
                    inside = inside && v >= 0 && v <= 255;
                    moved[3 * n + channel] = std::uint8_t(v);
                }
                helps = inside && moved != fit.colours() && bruteError(c.colours, moved) < error * (1 - 1e-9);
            }
            improvable += helps;
        }
        EXPECT_LE(improvable, c.entries / 8) << "of " << c.entries;
    }
}

TEST(PaletteFit, KeptEntriesNeverCostMoreThanLeavingThemOut) {
    // a ramp of 16 greys at indices 0 to 15, and two browns amid the crowded colours
    std::vector<KeptEntry> rampAndBrowns = {{100, 0x88, 0x58, 0x38}, {101, 0x90, 0x60, 0x40}};
    for (unsigned n = 0; n < 16; ++n) rampAndBrowns.push_back({n, std::uint8_t(n * 17), std::uint8_t(n * 17), std::uint8_t(n * 17)});
    const struct {
        const char* name;
        std::vector<ColourCount> colours;
        unsigned entries;
        std::vector<KeptEntry> kept;
    } cases[] = {
        {"greys among spread colours", histogram(400, 10, false), 20, greys({0, 17, 34, 51, 68, 85, 102, 119, 136, 153})},
        {"far from crowded colours", histogram(300, 11, true), 12, {{0, 0, 0, 255}, {1, 0, 255, 0}, {2, 255, 255, 255}}},
        // one where fitting around the kept entries alone ends in a worse local optimum
        {"amid crowded colours", histogram(400, 27, true), 24, rampAndBrowns},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PaletteFit withKept(c.colours, c.entries, c.kept), without(c.colours, c.entries);
        expectLayout(withKept.colours(), c.kept, c.entries);
        EXPECT_LE(meanError(c.colours, withKept.colours()), meanError(c.colours, without.colours()) * (1 + 1e-12));
    }
}

TEST(PaletteFit, AllEntriesOnManyColours) {
    // more colours than entries: every entry serves, and the fit beats taking the commonest colours
    const std::vector<ColourCount> colours = histogram(700, 8, false);
    const PaletteFit fit(colours, 256);
    std::set<std::uint32_t> distinct;
    for (unsigned n = 0; n < 256; ++n) distinct.insert(rgbAt(fit.colours(), n));
    EXPECT_EQ(distinct.size(), 256u);
    std::vector<ColourCount> commonest = colours;
    std::stable_sort(commonest.begin(), commonest.end(), [](const ColourCount& x, const ColourCount& y) { return x.count > y.count; });
    Palette baseline{};
    for (unsigned n = 0; n < 256; ++n)
        baseline[3 * n] = std::uint8_t(commonest[n].rgb >> 16), baseline[3 * n + 1] = std::uint8_t(commonest[n].rgb >> 8), baseline[3 * n + 2] = std::uint8_t(commonest[n].rgb);
    EXPECT_NEAR(meanError(colours, fit.colours()), bruteError(colours, fit.colours()), 1e-9);
    EXPECT_LT(meanError(colours, fit.colours()), bruteError(colours, baseline));
}

TEST(PaletteFit, SameBytesWhateverTheOrderOfThePictures) {
    // pictures of random pixels, some transparent, and the same added in another order and pixel order
    std::mt19937 random(9);
    std::vector<std::vector<std::uint8_t>> pictures(3);
    for (auto& picture : pictures)
        for (int p = 0; p < 20000; ++p) {
            const std::uint32_t v = random();
            // few reds and blues, so that colours repeat
            picture.insert(picture.end(), {std::uint8_t(v % 40 * 6), std::uint8_t(v >> 8), std::uint8_t(v >> 16 & 0x1F), std::uint8_t(v >> 24 < 16 ? 0 : 255)});
        }
    ColourHistogram forward, backward;
    for (const auto& picture : pictures) forward.add(picture.data(), picture.size() / 4);
    for (auto p = pictures.rbegin(); p != pictures.rend(); ++p) {
        std::vector<std::uint8_t> reversed;
        for (std::size_t i = p->size(); i > 0; i -= 4) reversed.insert(reversed.end(), p->begin() + long(i - 4), p->begin() + long(i));
        ColourHistogram part;
        part.add(reversed.data(), reversed.size() / 4);
        backward.add(part);
    }
    const std::vector<ColourCount> colours = forward.colours();
    ASSERT_EQ(colours, backward.colours());
    std::uint64_t opaque = 0;
    for (const auto& picture : pictures)
        for (std::size_t i = 3; i < picture.size(); i += 4) opaque += picture[i] != 0;
    std::uint64_t counted = 0;
    for (const ColourCount& c : colours) counted += c.count;
    EXPECT_EQ(counted, opaque);
    EXPECT_TRUE(std::is_sorted(colours.begin(), colours.end(), [](const ColourCount& x, const ColourCount& y) { return x.rgb < y.rgb; }));
}

TEST(PaletteFit, RefusesWhatCannotBeFitted) {
    const std::vector<ColourCount> colours = {{0x123456, 1}};
    const struct {
        unsigned entries;
        std::vector<KeptEntry> kept;
    } cases[] = {{0, {}}, {257, {}}, {255, greys({1, 2})}, {1, greys({3, 3})}, {1, {{256, 0, 0, 0}}}};
    for (const auto& c : cases) EXPECT_THROW(PaletteFit(colours, c.entries, c.kept), std::invalid_argument) << c.entries;
}

TEST(PaletteFit, EuclideanSearchFindsWhatComparingEveryCentreFinds) {
    // centres spread and crowded, some repeated and many at one lightness, so that ties are common; colours
    // with and without a hue weight; every kind of guess
    std::mt19937 random(7);
    const auto uniform = [&](float low, float high) { return low + (high - low) * float(random() % 100000) / 100000; };
    for (std::size_t size : {1, 2, 9, 300}) {
        std::vector<Point> centres;
        for (std::size_t n = 0; n < size; ++n)
            centres.push_back(n % 7 == 3 ? centres[n / 2] : Point{n % 5 == 0 ? 50.0f : uniform(0, 100), uniform(-60, 60), uniform(-60, 60)});
        const EuclideanSearch search(centres);
        for (int q = 0; q < 2000; ++q) {
            const Point p = q % 10 == 0 ? centres[std::size_t(q) % size] : Point{uniform(-5, 105), uniform(-80, 80), uniform(-80, 80)};
            const float angle = uniform(0, 6.3f);
            const Tangent t = q % 3 == 0 ? Tangent{0, 0, 0} : Tangent{std::cos(angle), std::sin(angle), uniform(-0.9f, 3)};
            std::vector<float> distances;
            for (const Point& c : centres) distances.push_back(spaceDistance2(p, t, c));
            std::vector<float> sorted = distances;
            std::sort(sorted.begin(), sorted.end());
            // ties go to the centre first by L, then by index
            unsigned first = 0;
            for (unsigned n = 1; n < size; ++n)
                if (distances[n] < distances[first] || (distances[n] == distances[first] && centres[n].L < centres[first].L)) first = n;
            const unsigned guess = unsigned(random() % size);
            float least = -1, next = -1;
            // nearest() keeps the guess where it ties, so that colours do not change hands between equals
            EXPECT_EQ(search.nearest(p, t, guess, least), distances[guess] == sorted[0] ? guess : first) << size << " " << q;
            EXPECT_EQ(least, sorted[0]);
            EXPECT_EQ(search.nearestTwo(p, t, guess, least, next), first) << size << " " << q;
            EXPECT_EQ(least, sorted[0]);
            EXPECT_EQ(next, sorted[std::min<std::size_t>(1, size - 1)]) << size << " " << q;
        }
    }
}

TEST(PaletteFit, CodesComeBackFromTheirCielab) {
    // every 8-bit colour is the code nearest to its own CIELAB: the cube's corners and edges, greys, near-greys
    // and dark colours, where the curve turns linear, and colours at random; beyond the cube in lightness, white and black
    std::vector<Rgb> codes;
    for (int corner = 0; corner < 8; ++corner) codes.push_back({std::uint8_t(corner & 4 ? 255 : 0), std::uint8_t(corner & 2 ? 255 : 0), std::uint8_t(corner & 1 ? 255 : 0)});
    for (int v = 0; v < 256; v += 5) {
        codes.push_back({std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)});
        codes.push_back({std::uint8_t(v), std::uint8_t(v ^ 1), 0});
        codes.push_back({0, std::uint8_t(v % 12), std::uint8_t(v)});
    }
    std::mt19937 random(11);
    for (int n = 0; n < 3000; ++n) codes.push_back({std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random())});
    for (const Rgb& code : codes) ASSERT_EQ(codeOfLab(labOf(code)), code) << int(code[0]) << "," << int(code[1]) << "," << int(code[2]);
    EXPECT_EQ(codeOfLab({104, 0, 0}), (Rgb{255, 255, 255}));
    EXPECT_EQ(codeOfLab({-3, 0, 0}), (Rgb{0, 0, 0}));
}

TEST(PaletteFit, ThreadsCoverEveryPartOnceAndPassOnFailures) {
    for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{5}}) {  // the caller alone, and beside it
        colour::Parallel parallel(threads);
        // below the size worth threads, at it, and far past it; and uneven work
        for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4096}, std::size_t{100003}}) {
            for (int run = 0; run < 3; ++run) {  // the same threads, again
                std::vector<int> visits(count, 0);
                parallel.inParts(count, [&](std::size_t first, std::size_t last) {
                    for (std::size_t i = first; i < last; ++i) ++visits[i];
                });
                EXPECT_EQ(std::count(visits.begin(), visits.end(), 1), std::ptrdiff_t(count)) << threads << " " << count;
                std::vector<int> each(count % 1000, 0);
                parallel.each(each.size(), [&](std::size_t n) { ++each[n]; });
                EXPECT_EQ(std::count(each.begin(), each.end(), 1), std::ptrdiff_t(each.size())) << threads << " " << count;
            }
        }
        // a failure in any part, the caller's or another thread's, reaches the caller
        for (const std::size_t failing : {std::size_t{0}, std::size_t{99999}}) {
            EXPECT_THROW(parallel.inParts(100000, [&](std::size_t first, std::size_t last) {
                if (first <= failing && failing < last) throw std::runtime_error("part failed");
            }), std::runtime_error);
            EXPECT_THROW(parallel.each(8, [&](std::size_t n) {
                if (n == failing % 8) throw std::bad_alloc();
            }), std::bad_alloc);
        }
        // and the threads still work after it
        std::atomic<std::size_t> sum{0};
        parallel.inParts(10000, [&](std::size_t first, std::size_t last) { sum += last - first; });
        EXPECT_EQ(sum, 10000u) << threads;
    }
}
