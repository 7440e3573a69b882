#include "colour/PerceptualSearch.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "colour/Terms.h"

namespace colour {

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
    // (the bounds hold for L from 0 to 100, where SL stays below its largest)
    float reach = static_cast<float>(boundLimit(bestDifference) * maxLightnessWeight);
    // and SL is at most its value at the far end of that window
    const float far = std::max(std::abs(l1 + reach / 2 - 50), std::abs(l1 - reach / 2 - 50));
    reach = std::min(reach, static_cast<float>(boundLimit(bestDifference)) * lightnessWeight(far) * 1.0001f);
    const unsigned first = static_cast<unsigned>(std::lower_bound(sortedL, sortedL + size, l1 - reach) - sortedL);
    const unsigned last = static_cast<unsigned>(std::upper_bound(sortedL, sortedL + size, l1 + reach) - sortedL);

    // a lower bound of each difference in the window
    const float c1 = std::sqrt(a1 * a1 + b1 * b1);
    alignas(32) float bound[256];
    for (unsigned n = first; n < last; ++n) bound[n] = differenceBound2(l1, a1, b1, c1, sortedL[n], sortedA[n], sortedB[n], sortedC[n]);
    // the candidates by ascending bound, so that the first is nearly always the winner
    std::uint16_t candidates[256];
    unsigned count = 0;
    const float firstLimit = static_cast<float>(boundLimit(bestDifference) * boundLimit(bestDifference));
    for (unsigned n = first; n < last; ++n)
        if (n != skip && bound[n] <= firstLimit) candidates[count++] = static_cast<std::uint16_t>(n);
    std::sort(candidates, candidates + count, [&](unsigned x, unsigned y) { return bound[x] != bound[y] ? bound[x] < bound[y] : x < y; });
    for (unsigned k = 0; k < count; ++k) {
        const unsigned n = candidates[k];
        if (bound[n] > static_cast<float>(boundLimit(bestDifference) * boundLimit(bestDifference))) break;
        const unsigned index = order[n];
        const double difference = ciede2000(colour, lab[index]);
        if (difference < bestDifference || (difference == bestDifference && index < best)) {
            best = index;
            bestDifference = difference;
        }
    }
    return {best, bestDifference};
}

}  // namespace colour
