#include "colour/Fitter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "colour/EuclideanSearch.h"
#include "colour/Lab.h"
#include "colour/LabToSrgb.h"
#include "colour/Terms.h"

namespace colour {

std::vector<Rgb> Fitter::polish(std::vector<Rgb> fitted) const {
    const double n = double(points.size());
    if (double(count) * n * (256 + 6 + n) > 4e6) return fitted;
    std::vector<double> rest(points.size());
    for (bool improved = true; improved;) {
        improved = false;
        for (unsigned k = 0; k < count; ++k) {
            // each colour's distance to its nearest entry but this one
            const Palette palette = paletteOf(fitted);
            std::vector<Lab> others;
            for (unsigned e = 0; e < 256; ++e)
                if (e != freeIndices[k]) others.push_back(labFromSrgb(palette[3 * e], palette[3 * e + 1], palette[3 * e + 2]));
            for (std::size_t i = 0; i < points.size(); ++i) {
                rest[i] = std::numeric_limits<double>::infinity();
                for (const Lab& other : others) rest[i] = std::min(rest[i], ciede2000(lab[i], other));
            }
            const auto error = [&](const Rgb& code) {
                const Lab at = labOf(code);
                double sum = 0;
                for (std::size_t i = 0; i < points.size(); ++i) sum += weight[i] * std::min(rest[i], ciede2000(lab[i], at));
                return sum;
            };
            double least = error(fitted[k]);
            std::vector<Rgb> candidates = codes;
            for (int move = 0; move < 6; ++move) {
                Rgb code = fitted[k];
                const int c = move / 2, v = code[c] + (move % 2 ? 1 : -1);
                if (v < 0 || v > 255) continue;
                code[c] = std::uint8_t(v);
                candidates.push_back(code);
            }
            for (const Rgb& code : candidates)
                if (const double e = error(code); e < least * (1 - 1e-12)) least = e, fitted[k] = code, improved = true;
        }
    }
    return fitted;
}

}  // namespace colour
