#include "colour/Fitter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "colour/EuclideanSearch.h"
#include "colour/Lab.h"
#include "colour/LabToSrgb.h"
#include "colour/Parallel.h"
#include "colour/Terms.h"

namespace colour {

std::vector<Point> Fitter::euclideanRounds(std::vector<Point> centres, bool median, int rounds) {
    std::vector<Point> all = centres;
    for (const Rgb& code : fixedCodes) all.push_back(pointOf(labOf(code)));
    std::vector<float> distance(points.size());
    double previous = std::numeric_limits<double>::infinity();
    for (int round = 0; round < rounds; ++round) {
        const EuclideanSearch search(all);
        parallel.inParts(points.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) owner[i] = search.nearest(points[i], tangents[i], owner[i], distance[i]);
        });
        std::vector<std::array<double, 4>> sums(count);
        double error = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const double d = median ? std::sqrt(double(distance[i])) : distance[i], w = median ? weight[i] / std::max(d, 0.1) : weight[i];
            error += weight[i] * d;
            if (owner[i] >= count) continue;
            auto& s = sums[owner[i]];
            s[0] += w, s[1] += w * points[i].L, s[2] += w * points[i].a, s[3] += w * points[i].b;
        }
        bool reseeded = false;
        for (unsigned k = 0; k < count; ++k) {
            if (sums[k][0] > 0) {
                all[k] = {float(sums[k][1] / sums[k][0]), float(sums[k][2] / sums[k][0]), float(sums[k][3] / sums[k][0])};
                continue;
            }
            all[k] = points[worst(distance, [&](std::size_t i, std::size_t p) { return distance2(points[i], points[p]); })];
            reseeded = true;
        }
        if (!reseeded && error >= previous * (1 - 1e-3)) break;
        previous = error;
    }
    all.resize(count);
    return all;
}

std::vector<Rgb> Fitter::perceptualRounds(const std::vector<Point>& centres) {
    std::vector<Rgb> fitted;
    for (const Point& p : centres) fitted.push_back(codeOfLab(fitSpace().lab(p)));
    std::vector<int> slot(256, -1);
    for (unsigned k = 0; k < count; ++k) slot[freeIndices[k]] = int(k);
    std::vector<Rgb> best = fitted;
    double bestError = std::numeric_limits<double>::infinity();
    Assignment found;
    const std::vector<std::uint8_t>& nearest = found.nearest;
    std::vector<float> distance(points.size());
    std::vector<Rgb> before;
    std::vector<std::uint8_t> nearestBefore;
    for (int round = 0; round < 6; ++round) {
        const double error = assign(paletteOf(fitted), found, distance);
        // An entry that kept its code and its colours (and so their differences) would move where it is: what it
        // moved to in the last round, itself. Only the others are worked out again.
        std::vector<bool> again(count, true);
        if (round > 0) {
            std::vector<bool> touched(256, false);
            for (std::size_t i = 0; i < points.size(); ++i)
                if (nearest[i] != nearestBefore[i]) touched[nearest[i]] = touched[nearestBefore[i]] = true;
            for (unsigned k = 0; k < count; ++k) again[k] = fitted[k] != before[k] || touched[freeIndices[k]];
        }
        before = fitted, nearestBefore = nearest;
        const bool better = error < bestError * (1 - 1e-4);
        if (error < bestError) bestError = error, best = fitted;
        if (!better && round > 0) break;
        // the members of each fitted entry
        std::vector<std::size_t> start(count + 1, 0);
        for (std::size_t i = 0; i < points.size(); ++i)
            if (slot[nearest[i]] >= 0) ++start[slot[nearest[i]] + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::vector<std::uint32_t> members(start[count]);
        std::vector<std::size_t> fill(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < points.size(); ++i)
            if (slot[nearest[i]] >= 0) members[fill[slot[nearest[i]]]++] = std::uint32_t(i);
        parallel.inParts(
            count,
            [&](std::size_t first, std::size_t last) {
                for (std::size_t k = first; k < last; ++k)
                    if (again[k] && start[k] < start[k + 1]) fitted[k] = bestCentre(fitted[k], members.data() + start[k], members.data() + start[k + 1], distance);
            },
            1);
        // entries left without colours go where the error is, one after another
        for (unsigned k = 0; k < count; ++k)
            if (start[k] == start[k + 1]) fitted[k] = codes[worst(distance, [&](std::size_t i, std::size_t p) { return float(ciede2000(lab[i], lab[p])); })];
    }
    return best;
}

Rgb Fitter::bestCentre(const Rgb& current, const std::uint32_t* first, const std::uint32_t* last, const std::vector<float>& distance) const {
    double w = 0, sum[3] = {}, linear[3] = {}, median[4] = {};
    for (const std::uint32_t* m = first; m != last; ++m) {
        const std::size_t i = *m;
        const double wi = weight[i], pull = wi / std::max(double(distance[i]), 0.05);
        w += wi;
        sum[0] += wi * lab[i].L, sum[1] += wi * lab[i].a, sum[2] += wi * lab[i].b;
        for (int c = 0; c < 3; ++c) linear[c] += wi * linearFromSrgb(codes[i][c]);
        median[0] += pull, median[1] += pull * lab[i].L, median[2] += pull * lab[i].a, median[3] += pull * lab[i].b;
    }
    for (int c = 0; c < 3; ++c) linear[c] /= w;
    std::vector<Rgb> candidates = {current, codeOfLab({sum[0] / w, sum[1] / w, sum[2] / w}),
                                   nearestCode(linear, labFromLinear(linear[0], linear[1], linear[2])),
                                   codeOfLab({median[1] / median[0], median[2] / median[0], median[3] / median[0]})};
    // the commonest members too: a sum of distances is often least on a colour that many pixels have
    std::vector<std::uint32_t> heaviest(first, last);
    const std::size_t top = std::min<std::size_t>(heaviest.size(), commonest);
    std::partial_sort(heaviest.begin(), heaviest.begin() + long(top), heaviest.end(), [&](std::uint32_t x, std::uint32_t y) {
        return weight[x] != weight[y] ? weight[x] > weight[y] : x < y;
    });
    for (std::size_t n = 0; n < top; ++n) candidates.push_back(codes[heaviest[n]]);
    const auto cost = [&](const Rgb& code) {
        const Lab at = labOf(code);
        double total = 0;
        for (const std::uint32_t* m = first; m != last; ++m) total += weight[*m] * ciede2000(lab[*m], at);
        return total;
    };
    Rgb best = current;
    double least = std::numeric_limits<double>::infinity();
    for (std::size_t n = 0; n < candidates.size(); ++n) {
        if (std::find(candidates.begin(), candidates.begin() + long(n), candidates[n]) != candidates.begin() + long(n)) continue;
        if (const double c = cost(candidates[n]); c < least) least = c, best = candidates[n];
    }
    return best;
}

}  // namespace colour
