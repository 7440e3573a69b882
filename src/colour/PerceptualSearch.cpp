#include "colour/PerceptualSearch.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// The bounds hold for L from 0 to 100: there SL, 1 + 0.015 (L' - 50)^2 / sqrt(20 + (L' - 50)^2), stays below this.
constexpr double maxSL = 1.7471;
// the largest value of CIEDE2000's hue weighting T, and of sin(2 dTheta) with dTheta at most 30 degrees
constexpr float maxT = 1.5725f, maxSinTheta = 0.8661f;
// what float rounding may add to a bound computed in floats, relative and absolute (far more than it does)
constexpr double slack = 1e-3, absoluteSlack = 1e-3;

float pow7(float x) {
    const float x2 = x * x, x3 = x2 * x;
    return x3 * x3 * x;
}

}  // namespace

PerceptualSearch::PerceptualSearch(const std::uint8_t* colours) {
    for (unsigned n = 0; n < 256; ++n) lab[n] = labFromSrgb(colours[3 * n], colours[3 * n + 1], colours[3 * n + 2]);
    unsigned indices[256];
    std::iota(indices, indices + 256, 0u);
    std::stable_sort(indices, indices + 256, [&](unsigned x, unsigned y) { return lab[x].L < lab[y].L; });
    for (unsigned n = 0; n < 256; ++n) {
        const Lab& e = lab[indices[n]];
        order[n] = static_cast<std::uint8_t>(indices[n]);
        sortedL[n] = static_cast<float>(e.L);
        sortedA[n] = static_cast<float>(e.a);
        sortedB[n] = static_cast<float>(e.b);
        sortedC[n] = static_cast<float>(std::sqrt(e.a * e.a + e.b * e.b));
    }
}

unsigned PerceptualSearch::nearest(const Lab& colour) const {
    const float l1 = static_cast<float>(colour.L), a1 = static_cast<float>(colour.a), b1 = static_cast<float>(colour.b);
    // a first guess that is usually right: the nearest entry in CIELAB itself
    alignas(32) float distance[256];
    for (unsigned n = 0; n < 256; ++n) {
        const float dl = sortedL[n] - l1, da = sortedA[n] - a1, db = sortedB[n] - b1;
        distance[n] = dl * dl + da * da + db * db;
    }
    const unsigned guess = static_cast<unsigned>(std::min_element(distance, distance + 256) - distance);
    unsigned best = order[guess];
    double bestDifference = ciede2000(colour, lab[best]);

    // CIEDE2000 squared is (dL'/SL)^2 + Q, where Q >= 0 since |RT| < 2: only entries with |dL'| <= SL * best can win
    const auto threshold = [](double difference) { return difference * (1 + slack) + absoluteSlack; };
    const float reach = static_cast<float>(threshold(bestDifference) * maxSL);
    const unsigned first = static_cast<unsigned>(std::lower_bound(sortedL, sortedL + 256, l1 - reach) - sortedL);
    const unsigned last = static_cast<unsigned>(std::upper_bound(sortedL, sortedL + 256, l1 + reach) - sortedL);

    // A lower bound of each difference in the window, from everything but the hue angles: dC' and C' exactly,
    // dH' from the hue directions as unit vectors, SH at most 1 + 0.015 C' maxT, |RT| at most RC maxSinTheta.
    constexpr float p25 = 6103515625.0f;
    const float c1 = std::sqrt(a1 * a1 + b1 * b1);
    alignas(32) float bound[256];
    for (unsigned n = first; n < last; ++n) {
        const float dl = sortedL[n] - l1, m = (sortedL[n] + l1) / 2 - 50;
        const float sl = 1 + 0.015f * m * m / std::sqrt(20 + m * m);
        const float cBar = (sortedC[n] + c1) / 2, c7 = pow7(cBar);
        const float g = 1.5f - 0.5f * std::sqrt(c7 / (c7 + p25));
        const float a2 = g * sortedA[n], a1p = g * a1, b2 = sortedB[n];
        const float cp1 = std::sqrt(a1p * a1p + b1 * b1), cp2 = std::sqrt(a2 * a2 + b2 * b2);
        // |dH'| = 2 sqrt(C1' C2') |sin(dh'/2)| = sqrt(C1' C2') |u1 - u2|, free of the cancellation of other forms
        const float r1 = 1 / (cp1 + 1e-30f), r2 = 1 / (cp2 + 1e-30f);
        const float du = a2 * r2 - a1p * r1, dv = b2 * r2 - b1 * r1;
        const float dc = cp2 - cp1, dh = std::sqrt(cp1 * cp2 * (du * du + dv * dv));
        const float cBarP = (cp1 + cp2) / 2, cp7 = pow7(cBarP);
        const float y = std::abs(dc) / (1 + 0.045f * cBarP), z = dh / (1 + 0.015f * maxT * cBarP);
        const float r = 2 * maxSinTheta * std::sqrt(cp7 / (cp7 + p25));
        // the least of y^2 + t^2 - r y t over t >= z
        const float q = 2 * z >= r * y ? y * y + z * z - r * y * z : y * y * (1 - r * r / 4);
        bound[n] = dl * dl / (sl * sl) + q;
    }
    float limit = static_cast<float>(threshold(bestDifference) * threshold(bestDifference));
    for (unsigned n = first; n < last; ++n) {
        const unsigned index = order[n];
        if (n == guess || bound[n] > limit) continue;
        const double difference = ciede2000(colour, lab[index]);
        if (difference < bestDifference || (difference == bestDifference && index < best)) {
            best = index;
            bestDifference = difference;
            limit = static_cast<float>(threshold(bestDifference) * threshold(bestDifference));
        }
    }
    return best;
}
