// The colour science: CIELAB from sRGB, CIEDE2000 on the published reference pairs, and the
// perceptual palette search against a search of every entry.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "colour/DitherPalette.h"
#include "colour/Maths.h"
#include "colour/PerceptualSearch.h"
#include "colour/Terms.h"
#include "support/IffWriter.h"

using namespace colour;
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

TEST(Colour, OwnMathsFollowTheLibrary) {
    // the functions the colour code decides with, written from + - * / and sqrt so that every machine rounds
    // them alike, against the C library's over the ranges the code uses and beyond: within 8e-16 of the
    // value's size (four units in the last place at most; glibc's cbrt alone is off by more than two near
    // 1e-100, where ours is within one), or of `least` where the value passes through 0
    const struct {
        const char* name;
        double (*own)(double);
        double (*library)(double);
        double from, to, least;
    } functions[] = {
        {"cubeRoot", colour::cubeRoot, [](double x) { return std::cbrt(x); }, -1e5, 1e5, 0},
        {"cubeRoot", colour::cubeRoot, [](double x) { return std::cbrt(x); }, 1e-300, 2e-3, 0},
        {"cubeRoot", colour::cubeRoot, [](double x) { return std::cbrt(x); }, 1e100, 1e308, 0},
        {"exponential", colour::exponential, [](double x) { return std::exp(x); }, -700, 700, 0},
        {"exponential", colour::exponential, [](double x) { return std::exp(x); }, -1, 1, 0},
        {"exponential", colour::exponential, [](double x) { return std::exp(x); }, -708, -700, 0},
        {"naturalLog", colour::naturalLog, [](double x) { return std::log(x); }, 1e-300, 1e300, 0},
        {"naturalLog", colour::naturalLog, [](double x) { return std::log(x); }, 0.5, 2, 0},
        {"logOnePlus", colour::logOnePlus, [](double x) { return std::log1p(x); }, -0.9, 40, 0},
        {"logOnePlus", colour::logOnePlus, [](double x) { return std::log1p(x); }, -1e-12, 1e-12, 0},
        {"exponentialMinusOne", colour::exponentialMinusOne, [](double x) { return std::expm1(x); }, -30, 40, 0},
        {"exponentialMinusOne", colour::exponentialMinusOne, [](double x) { return std::expm1(x); }, -1e-12, 1e-12, 0},
        {"sine", colour::sine, [](double x) { return std::sin(x); }, -100, 100, 1},
        {"cosine", colour::cosine, [](double x) { return std::cos(x); }, -100, 100, 1},
        {"arcTangent(x, 1)", [](double x) { return colour::arcTangent(x, 1.0); }, [](double x) { return std::atan2(x, 1.0); }, -1e3, 1e3, 1},
        {"arcTangent(1, x)", [](double x) { return colour::arcTangent(1.0, x); }, [](double x) { return std::atan2(1.0, x); }, -1e3, 1e3, 1},
        {"arcTangent(-0.5, x)", [](double x) { return colour::arcTangent(-0.5, x); }, [](double x) { return std::atan2(-0.5, x); }, -5, 5, 1},
    };
    for (const auto& f : functions) {
        // evenly, or evenly in the exponent where the range spans powers of ten
        const bool logarithmic = f.from > 0 && f.to > 1e6 * f.from;
        for (int n = 0; n <= 20000; ++n) {
            const double x = logarithmic ? std::exp(std::log(f.from) + (std::log(f.to) - std::log(f.from)) * n / 20000) : f.from + (f.to - f.from) * n / 20000;
            const double expected = f.library(x);
            ASSERT_NEAR(f.own(x), expected, 8e-16 * std::max(std::abs(expected), f.least)) << f.name << " of " << x;
        }
    }
    EXPECT_EQ(colour::power(0, 2.4), 0);
    EXPECT_NEAR(colour::power(0.5, 2.4), std::pow(0.5, 2.4), 4e-16);
    EXPECT_EQ(colour::arcTangent(0, 0), 0);
    EXPECT_NEAR(colour::arcTangent(0, -1), std::atan2(0, -1), 4e-16);
    EXPECT_EQ(colour::cubeRoot(27), 3);
    EXPECT_EQ(colour::cubeRoot(0.125), 0.5);
}

TEST(Colour, TransferCurvesMeetAndInvert) {
    // every 8-bit code comes back from its linear light, and each curve's two pieces meet at their edge
    for (int v = 0; v < 256; ++v) EXPECT_EQ(std::lround(colour::encodeSrgb(colour::decodeSrgb(v / 255.0)) * 255), v) << v;
    const double edge = 6.0 / 29;
    EXPECT_NEAR(colour::labCurve(std::nextafter(edge * edge * edge, 0.0)), colour::labCurve(std::nextafter(edge * edge * edge, 1.0)), 1e-12);
    EXPECT_NEAR(colour::decodeSrgb(0.04045), colour::decodeSrgb(std::nextafter(0.04045, 1.0)), 1e-7);
    EXPECT_NEAR(colour::encodeSrgb(0.0031308), colour::encodeSrgb(std::nextafter(0.0031308, 1.0)), 1e-7);
}

TEST(Colour, TermsInFloatFollowTheDoubles) {
    // the fast searches take the same terms in floats: each within float rounding of the reference, over the
    // range of sRGB's chromas and lightnesses and every hue, with T also against its form with angles
    const double rad = 3.14159265358979323846 / 180;
    for (double chroma : {0.0, 1e-3, 0.7, 12.5, 25.0, 60.0, 140.0})
        for (double fromMiddle : {-50.0, -17.3, 0.0, 0.4, 31.0, 50.0})
            for (double hue = 0; hue < 360; hue += 7.5) {
                const double u = std::cos(hue * rad), v = std::sin(hue * rad);
                const double t = colour::hueTerm(u, v);
                const double byAngles = 1 - 0.17 * std::cos((hue - 30) * rad) + 0.24 * std::cos(2 * hue * rad) +
                                        0.32 * std::cos((3 * hue + 6) * rad) - 0.20 * std::cos((4 * hue - 63) * rad);
                ASSERT_NEAR(t, byAngles, 1e-12) << hue;
                const auto near = [](double single, double reference) { return std::abs(single - reference) <= 4e-7 * (1 + std::abs(reference)); };
                const float c = float(chroma), m = float(fromMiddle);
                EXPECT_TRUE(near(colour::hueTerm(float(u), float(v)), t)) << hue;
                EXPECT_TRUE(near(colour::aScale(c), colour::aScale(chroma))) << chroma;
                EXPECT_TRUE(near(colour::lightnessWeight(m), colour::lightnessWeight(fromMiddle))) << fromMiddle;
                EXPECT_TRUE(near(colour::chromaWeight(c), colour::chromaWeight(chroma))) << chroma;
                EXPECT_TRUE(near(colour::hueWeight(c, float(t)), colour::hueWeight(chroma, t))) << chroma << " " << hue;
                EXPECT_TRUE(near(colour::rotationChroma(c), colour::rotationChroma(chroma))) << chroma;
                EXPECT_LE(colour::lightnessWeight(fromMiddle), colour::maxLightnessWeight);
            }
}

namespace {

// CIEDE2000 as its authors write it, with hue angles in degrees: what the program's form, with the hues as
// unit vectors, must give everywhere, and above all where the angles wrap, flip or are undefined.
double ciede2000ByAngles(const Lab& x, const Lab& y) {
    const double pi = 3.14159265358979323846, rad = pi / 180;
    const auto pow7 = [](double v) { return std::pow(v, 7); };
    const double cBar = (std::hypot(x.a, x.b) + std::hypot(y.a, y.b)) / 2;
    const double g = 0.5 * (1 - std::sqrt(pow7(cBar) / (pow7(cBar) + pow7(25))));
    const double a1 = (1 + g) * x.a, a2 = (1 + g) * y.a, c1 = std::hypot(a1, x.b), c2 = std::hypot(a2, y.b);
    const auto hue = [&](double b, double a) { return a == 0 && b == 0 ? 0 : std::fmod(std::atan2(b, a) / rad + 360, 360); };
    const double h1 = hue(x.b, a1), h2 = hue(y.b, a2);
    double dh = c1 * c2 == 0 ? 0 : h2 - h1;
    dh = dh > 180 ? dh - 360 : dh < -180 ? dh + 360 : dh;
    const double dH = 2 * std::sqrt(c1 * c2) * std::sin(dh / 2 * rad);
    double hBar = h1 + h2;
    if (c1 * c2 != 0) hBar = std::abs(h1 - h2) <= 180 ? hBar / 2 : hBar < 360 ? (hBar + 360) / 2 : (hBar - 360) / 2;
    const double t = 1 - 0.17 * std::cos((hBar - 30) * rad) + 0.24 * std::cos(2 * hBar * rad) + 0.32 * std::cos((3 * hBar + 6) * rad) -
                     0.20 * std::cos((4 * hBar - 63) * rad);
    const double cBarP = (c1 + c2) / 2, lBar = (x.L + y.L) / 2;
    const double sL = 1 + 0.015 * (lBar - 50) * (lBar - 50) / std::sqrt(20 + (lBar - 50) * (lBar - 50));
    const double sC = 1 + 0.045 * cBarP, sH = 1 + 0.015 * cBarP * t;
    const double rT = -2 * std::sqrt(pow7(cBarP) / (pow7(cBarP) + pow7(25))) * std::sin(60 * std::exp(-std::pow((hBar - 275) / 25, 2)) * rad);
    const double l = (y.L - x.L) / sL, c = (c2 - c1) / sC, h = dH / sH;
    return std::sqrt(l * l + c * c + h * h + rT * c * h);
}

}  // namespace

TEST(Colour, Ciede2000AsItsAuthorsWriteIt) {
    // pairs at hue angles chosen for their edges: the same, a hair either side of opposite (where the mean hue
    // jumps by 180 degrees; exactly opposite, rounding decides the side), across 0, near 275 and 150 degrees away
    // from it, greys; at several chromas and lightnesses
    const double angles[] = {0, 1e-9, 30, 90, 95, 125, 179.9999999, 180.0000001, 200, 275, 300, 359.9999999};
    const double chromas[] = {0, 1e-7, 3, 25, 70};
    int compared = 0;
    for (double h1 : angles)
        for (double h2 : angles)
            if (std::abs(std::abs(h1 - h2) - 180) > 1e-9)
            for (double c1 : chromas)
                for (double c2 : chromas)
                    for (double turn : {0.0, 0.3, 47.0}) {
                        const double rad = 3.14159265358979323846 / 180, p = (h1 + turn) * rad, q = (h2 + turn) * rad;
                        const Lab x{40, c1 * std::cos(p), c1 * std::sin(p)}, y{c1 == c2 ? 40.0 : 62.0, c2 * std::cos(q), c2 * std::sin(q)};
                        const double expected = ciede2000ByAngles(x, y);
                        ASSERT_NEAR(ciede2000(x, y), expected, 1e-9 * (1 + expected)) << h1 << " " << h2 << " " << c1 << " " << c2 << " " << turn;
                        ++compared;
                    }
    // every pair of angles but the exactly opposite ones (95 and 275, 179.9999999 and 359.9999999)
    EXPECT_EQ(compared, (12 * 12 - 4) * 5 * 5 * 3);
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
    // the nearest entry at most `limit` away, ties to the lowest index; count() where none is
    const auto fullSearch = [](const PerceptualSearch& entries, const Lab& colour, double limit) {
        unsigned best = entries.count();
        double least = limit;
        for (unsigned n = 0; n < entries.count(); ++n)
            if (const double d = ciede2000(colour, entries.entry(n)); d < least || (d == least && best == entries.count())) best = n, least = d;
        return best;
    };
    const std::vector<Bytes> tables = palettes();
    const Bytes colours = noise(3 * 4000, 9);
    for (std::size_t t = 0; t < tables.size(); ++t) {
        // the whole table, and its first entries alone, as the fit searches the entries it changed
        for (const unsigned count : {256u, 40u, 1u}) {
            const PerceptualSearch search(tables[t].data(), count);
            for (std::size_t i = 0; i < colours.size() + 3 * count; i += 3) {
                // every entry too, and colours one step from one
                const std::uint8_t* c = i < colours.size() ? &colours[i] : &tables[t][i - colours.size()];
                const std::uint8_t r = c[0], g = std::uint8_t(c[1] + (i < colours.size() ? 0 : i % 2)), b = c[2];
                const Lab lab = labFromSrgb(r, g, b);
                const auto [nearest, difference] = search.match(lab);
                ASSERT_EQ(nearest, fullSearch(search, lab, INFINITY)) << t << " " << count << " " << int(r) << "," << int(g) << "," << int(b);
                ASSERT_EQ(difference, ciede2000(lab, search.entry(nearest)));
                // within a limit: below the nearest's difference, at it exactly (the nearest, ties as above), past it
                for (const double limit : {difference * 0.999, difference, difference + 0.5, i % 7 * 1.5}) {
                    const auto found = search.within(lab, limit);
                    ASSERT_EQ(found.index, fullSearch(search, lab, limit)) << t << " " << count << " " << i << " " << limit;
                    if (found.index < count) {
                        ASSERT_EQ(found.difference, difference);
                    }
                }
            }
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
