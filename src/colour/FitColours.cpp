#include "colour/FitColours.h"

#include <algorithm>
#include <numeric>

#include "colour/Parallel.h"

namespace colour {

void Colours::place(Parallel& parallel) {
    points.resize(lab.size()), tangents.resize(lab.size());
    parallel.inParts(lab.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) points[i] = pointOf(lab[i]), tangents[i] = fitSpace().tangentOf(lab[i]);
    });
}

Colours mergedInCells(const Colours& every, Parallel& parallel) {
    const auto cell = [&](std::size_t i) {
        const Rgb& c = every.codes[i];
        return std::uint32_t(c[0] >> 1) << 14 | std::uint32_t(c[1] >> 1) << 7 | std::uint32_t(c[2] >> 1);
    };
    std::vector<std::uint32_t> order(every.codes.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) { return cell(x) < cell(y); });
    Colours merged;
    for (std::size_t n = 0, m; n < order.size(); n = m) {
        double w = 0, sum[3] = {};
        std::uint32_t commonest = order[n];
        for (m = n; m < order.size() && cell(order[m]) == cell(order[n]); ++m) {
            const std::uint32_t i = order[m];
            const double wi = every.weight[i];
            w += wi, sum[0] += wi * every.lab[i].L, sum[1] += wi * every.lab[i].a, sum[2] += wi * every.lab[i].b;
            if (wi > every.weight[commonest]) commonest = i;
        }
        merged.add(every.codes[commonest], {sum[0] / w, sum[1] / w, sum[2] / w}, w);
    }
    merged.place(parallel);
    return merged;
}

}  // namespace colour
