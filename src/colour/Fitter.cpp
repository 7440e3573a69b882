#include "colour/Fitter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

#include "colour/EuclideanSearch.h"
#include "colour/Lab.h"
#include "colour/LabToSrgb.h"
#include "colour/Parallel.h"
#include "colour/Terms.h"

namespace colour {

Fitter::Fitter(const std::vector<ColourCount>& histogram, unsigned entries, const Palette& base,
       const std::vector<unsigned>& freeIndices, Parallel& parallel)
    : parallel(parallel), count(entries), base(base), freeIndices(freeIndices) {
    Colours every;
    for (const ColourCount& c : histogram)
        if (c.count > 0) every.add({std::uint8_t(c.rgb >> 16), std::uint8_t(c.rgb >> 8), std::uint8_t(c.rgb)}, {}, double(c.count));
    parallel.inParts(every.lab.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) every.lab[i] = labOf(every.codes[i]);
    });
    every.place(parallel);
    if (every.codes.size() > mergeAbove) {
        Colours merged = mergedInCells(every, parallel);
        take(merged);
        exact = std::move(every);
    } else {
        take(every);
    }
    owner.assign(points.size(), 0);
    // the entries not fitted, each colour once: they take pixels as any entry does
    std::vector<bool> isFree(256, false);
    for (unsigned k = 0; k < count; ++k) isFree[freeIndices[k]] = true;
    for (unsigned n = 0; n < 256; ++n) {
        const Rgb code{base[3 * n], base[3 * n + 1], base[3 * n + 2]};
        if (!isFree[n] && std::find(fixedCodes.begin(), fixedCodes.end(), code) == fixedCodes.end()) fixedCodes.push_back(code);
    }
}

std::vector<Rgb> Fitter::fit() {
    std::vector<Rgb> distinct;
    for (const Rgb& code : codes)
        if (std::find(fixedCodes.begin(), fixedCodes.end(), code) == fixedCodes.end()) distinct.push_back(code);
    if (distinct.size() <= count) return distinct;
    // means first, then towards medians: the error measured is a sum of distances, not of their squares
    std::vector<Point> centres = euclideanRounds(seeds(), false, 12);
    centres = euclideanRounds(std::move(centres), true, 12);
    std::vector<Rgb> fitted = perceptualRounds(relocate(std::move(centres)));
    // the last stages measure every colour as it is
    if (!exact.codes.empty()) take(exact);
    return polish(nudge(std::move(fitted)));
}

void Fitter::take(Colours& other) {
    std::swap(codes, other.codes), std::swap(lab, other.lab), std::swap(points, other.points);
    std::swap(tangents, other.tangents), std::swap(weight, other.weight);
}

double Fitter::assign(const Palette& palette, Assignment& found, std::vector<float>& distance) const {
    const PerceptualSearch search(palette.data());
    // the entries changed since the last measure, on their own
    std::vector<bool> changed(256, true);
    Palette changedColours{};
    std::vector<unsigned> changedIndex;
    for (unsigned e = 0; e < 256; ++e) {
        if (found.measured) changed[e] = !std::equal(palette.begin() + 3 * e, palette.begin() + 3 * e + 3, found.palette.begin() + 3 * e);
        if (!changed[e]) continue;
        std::copy(palette.begin() + 3 * e, palette.begin() + 3 * e + 3, changedColours.begin() + 3 * changedIndex.size());
        changedIndex.push_back(e);
    }
    found.nearest.resize(points.size()), found.exact.resize(points.size());
    // needed only where some entries stayed and some changed
    std::optional<PerceptualSearch> changedSearch;
    if (!changedIndex.empty() && changedIndex.size() < 256) changedSearch.emplace(changedColours.data(), unsigned(changedIndex.size()));
    parallel.inParts(points.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            if (changed[found.nearest[i]]) {
                const auto [index, difference] = search.match(lab[i]);
                found.nearest[i] = std::uint8_t(index), found.exact[i] = difference;
            } else if (changedSearch) {
                const auto [index, difference] = changedSearch->within(lab[i], found.exact[i]);
                if (index < changedIndex.size() && (difference < found.exact[i] || changedIndex[index] < found.nearest[i]))
                    found.nearest[i] = std::uint8_t(changedIndex[index]), found.exact[i] = difference;
            }
            distance[i] = float(found.exact[i]);
        }
    });
    found.palette = palette, found.measured = true;
    double error = 0;
    for (std::size_t i = 0; i < points.size(); ++i) error += weight[i] * distance[i];
    return error;
}

Palette Fitter::paletteOf(const std::vector<Rgb>& fitted) const {
    Palette palette = base;
    for (unsigned k = 0; k < count; ++k) std::copy(fitted[k].begin(), fitted[k].end(), palette.begin() + 3 * freeIndices[k]);
    return palette;
}

}  // namespace colour
