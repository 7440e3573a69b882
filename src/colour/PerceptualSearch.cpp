#include "colour/PerceptualSearch.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "colour/Terms.h"

namespace {

using namespace colour;

// the largest value of CIEDE2000's hue weighting T, and of sin(2 dTheta) with dTheta at most 30 degrees
constexpr float maxT = 1.5725f, maxSinTheta = 0.8661f;
// what float rounding may add to a bound computed in floats, relative and absolute (far more than it does)
constexpr double slack = 1e-3, absoluteSlack = 1e-3;

}  // namespace

PerceptualSearch::PerceptualSearch(const std::uint8_t* colours, unsigned count) : size(count) {
    for (unsigned n = 0; n < size; ++n) lab[n] = labFromSrgb(colours[3 * n], colours[3 * n + 1], colours[3 * n + 2]);
    unsigned indices[256];
    std::iota(indices, indices + size, 0u);
    std::stable_sort(indices, indices + size, [&](unsigned x, unsigned y) { return lab[x].L < lab[y].L; });
    for (unsigned n = 0; n < size; ++n) {
        const Lab& e = lab[indices[n]];
        order[n] = static_cast<std::uint8_t>(indices[n]);
        sortedL[n] = static_cast<float>(e.L);
        sortedA[n] = static_cast<float>(e.a);
        sortedB[n] = static_cast<float>(e.b);
        sortedC[n] = static_cast<float>(std::sqrt(e.a * e.a + e.b * e.b));
        quarterL[n] = static_cast<std::int16_t>(std::lround(e.L * 4));
        quarterA[n] = static_cast<std::int16_t>(std::lround(e.a * 4));
        quarterB[n] = static_cast<std::int16_t>(std::lround(e.b * 4));
    }
}

// the first guess and the bound loop run twice as wide where the processor has AVX2
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
PerceptualSearch::Match PerceptualSearch::match(const Lab& colour) const {
    // a first guess that is usually right: the nearest entry in CIELAB, in steps of a quarter, the position beside
    // the squared distance so that one minimum finds both
    const std::int32_t l4 = std::lround(colour.L * 4), a4 = std::lround(colour.a * 4), b4 = std::lround(colour.b * 4);
    std::uint32_t nearestKey = ~0u;
    for (unsigned n = 0; n < size; ++n) {
        const std::int32_t dl = quarterL[n] - l4, da = quarterA[n] - a4, db = quarterB[n] - b4;
        nearestKey = std::min(nearestKey, static_cast<std::uint32_t>(dl * dl + da * da + db * db) << 8 | n);
    }
    const unsigned guess = nearestKey & 0xFF;
    return refine(colour, {order[guess], ciede2000(colour, lab[order[guess]])}, guess);
}

PerceptualSearch::Match PerceptualSearch::within(const Lab& colour, double limit) const {
    // no entry yet: the index past the last loses every tie
    return refine(colour, {size, limit}, size);
}

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
PerceptualSearch::Match PerceptualSearch::refine(const Lab& colour, Match found, unsigned skip) const {
    const float l1 = static_cast<float>(colour.L), a1 = static_cast<float>(colour.a), b1 = static_cast<float>(colour.b);
    unsigned best = found.index;
    double bestDifference = found.difference;

    // CIEDE2000 squared is (dL'/SL)^2 + Q, where Q >= 0 since |RT| < 2: only entries with |dL'| <= SL * best can win
    const auto threshold = [](double difference) { return difference * (1 + slack) + absoluteSlack; };
    // (the bounds hold for L from 0 to 100, where SL stays below its largest)
    float reach = static_cast<float>(threshold(bestDifference) * maxLightnessWeight);
    // and SL is at most its value at the far end of that window
    const float far = std::max(std::abs(l1 + reach / 2 - 50), std::abs(l1 - reach / 2 - 50));
    reach = std::min(reach, static_cast<float>(threshold(bestDifference)) * lightnessWeight(far) * 1.0001f);
    const unsigned first = static_cast<unsigned>(std::lower_bound(sortedL, sortedL + size, l1 - reach) - sortedL);
    const unsigned last = static_cast<unsigned>(std::upper_bound(sortedL, sortedL + size, l1 + reach) - sortedL);

    // A lower bound of each difference in the window: the formula itself in floats, with the mean hue taken
    // from the bisector of the two hue directions instead of angles, and RT at its largest for that hue.
    constexpr float toBlueU = float(cos275), toBlueV = float(sin275);
    const float c1 = std::sqrt(a1 * a1 + b1 * b1);
    alignas(32) float bound[256];
    for (unsigned n = first; n < last; ++n) {
        // |dH'| = 2 sqrt(C1' C2') |sin(dh'/2)| = sqrt(C1' C2') |u1 - u2|
        const auto [dl, sl, cp1, cp2, dc, u1, v1, u2, v2, dh2] = differences(l1, a1, b1, c1, sortedL[n], sortedA[n], sortedB[n], sortedC[n]);
        const float dh = std::sqrt(dh2);
        // the mean hue as the bisector; nearly opposite hues leave it in doubt, and T at its largest
        const float wu = u1 + u2, wv = v1 + v2, w2 = wu * wu + wv * wv;
        const bool known = w2 > 0.01f;
        const float rw = 1 / std::sqrt(std::max(w2, 0.01f)), c = wu * rw, s = wv * rw;
        const float t = known ? hueTerm(c, s) : maxT;
        // dTheta = 30 exp(-((h - 275) / 25)^2) is below 7.1 degrees 30 degrees from 275, and below 0.095 at 60
        const float toBlue = known ? c * toBlueU + s * toBlueV : 1;
        const float sinTheta = toBlue > 0.866f ? maxSinTheta : toBlue > 0.5f ? 0.2456f : 0.0034f;
        const float cBarP = (cp1 + cp2) / 2;
        const float y = std::abs(dc) / chromaWeight(cBarP), z = dh / hueWeight(cBarP, t);
        const float r = sinTheta * rotationChroma(cBarP);
        // the least of y^2 + z^2 - r y z given |RT| <= r
        bound[n] = dl * dl / (sl * sl) + y * y + z * z - r * y * z;
    }
    // the candidates by ascending bound, so that the first is nearly always the winner
    std::uint16_t candidates[256];
    unsigned count = 0;
    const float firstLimit = static_cast<float>(threshold(bestDifference) * threshold(bestDifference));
    for (unsigned n = first; n < last; ++n)
        if (n != skip && bound[n] <= firstLimit) candidates[count++] = static_cast<std::uint16_t>(n);
    std::sort(candidates, candidates + count, [&](unsigned x, unsigned y) { return bound[x] != bound[y] ? bound[x] < bound[y] : x < y; });
    for (unsigned k = 0; k < count; ++k) {
        const unsigned n = candidates[k];
        if (bound[n] > static_cast<float>(threshold(bestDifference) * threshold(bestDifference))) break;
        const unsigned index = order[n];
        const double difference = ciede2000(colour, lab[index]);
        if (difference < bestDifference || (difference == bestDifference && index < best)) {
            best = index;
            bestDifference = difference;
        }
    }
    return {best, bestDifference};
}
