#include "colour/PaletteFit.h"

#include <algorithm>
#include <stdexcept>

#include "colour/Fitter.h"
#include "colour/Lab.h"
#include "colour/Parallel.h"
#include "colour/PerceptualSearch.h"

namespace colour {

PaletteFit::PaletteFit(const std::vector<ColourCount>& histogram, unsigned entries, const std::vector<KeptEntry>& kept) {
    if (entries < 1 || entries > 256) throw std::invalid_argument("the number of entries to fit is not 1 to 256");
    std::vector<bool> taken(256, false);
    for (const KeptEntry& entry : kept) {
        if (entry.index > 255 || taken[entry.index]) throw std::invalid_argument("a kept entry's index is above 255 or given twice");
        taken[entry.index] = true;
        palette[3 * entry.index] = entry.r, palette[3 * entry.index + 1] = entry.g, palette[3 * entry.index + 2] = entry.b;
    }
    std::vector<unsigned> freeIndices;
    for (unsigned n = 0; n < 256; ++n)
        if (!taken[n]) freeIndices.push_back(n);
    if (entries > freeIndices.size()) throw std::invalid_argument("more entries to fit than free indices");

    // the palette with these fitted entries, darkest first in the free indices
    const auto finish = [&](std::vector<Rgb> fitted) {
        std::sort(fitted.begin(), fitted.end(), [](const Rgb& x, const Rgb& y) {
            const double lx = labOf(x).L, ly = labOf(y).L;
            return lx != ly ? lx < ly : x < y;
        });
        Palette made = palette;
        for (std::size_t k = 0; k < fitted.size(); ++k) std::copy(fitted[k].begin(), fitted[k].end(), made.begin() + 3 * freeIndices[k]);
        return made;
    };
    Parallel parallel;
    const std::vector<Rgb> fitted = Fitter(histogram, entries, palette, freeIndices, parallel).fit();
    Palette made = finish(fitted);
    // Kept entries steer the fit into other local optima, now and then worse than fitting as if they were not
    // there; that fit, with the kept entries then put back, is tried too, so that keeping never costs more.
    if (!kept.empty() && fitted.size() == entries) {
        if (const double least = meanError(histogram, made); least > 0) {
            const Palette black{};
            const Palette other = finish(Fitter(histogram, entries, black, freeIndices, parallel).fit());
            if (meanError(histogram, other) < least) made = other;
        }
    }
    palette = made;
}

double meanError(const std::vector<ColourCount>& histogram, const Palette& palette) {
    const PerceptualSearch search(palette.data());
    std::vector<double> differences(histogram.size());
    Parallel().inParts(histogram.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            const std::uint32_t rgb = histogram[i].rgb;
            differences[i] = search.match(labFromSrgb(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb))).difference;
        }
    });
    double sum = 0, pixels = 0;
    for (std::size_t i = 0; i < histogram.size(); ++i) sum += double(histogram[i].count) * differences[i], pixels += double(histogram[i].count);
    return pixels > 0 ? sum / pixels : 0.0;
}

}  // namespace colour
