#include "colour/ColourHistogram.h"

#include <algorithm>

namespace colour {

void ColourHistogram::add(const std::uint8_t* rgba, std::size_t pixels) {
    // runs of one colour, common in painted pictures, cost one look-up
    std::uint32_t last = 0;
    std::uint64_t* lastCount = nullptr;
    for (std::size_t i = 0; i < pixels; ++i, rgba += 4) {
        if (rgba[3] == 0) continue;
        const std::uint32_t rgb = std::uint32_t(rgba[0]) << 16 | std::uint32_t(rgba[1]) << 8 | rgba[2];
        if (!lastCount || rgb != last) lastCount = &counts[last = rgb];
        ++*lastCount;
    }
}

void ColourHistogram::add(const ColourHistogram& other) {
    for (const auto& [rgb, count] : other.counts) counts[rgb] += count;
}

std::vector<ColourCount> ColourHistogram::colours() const {
    std::vector<ColourCount> list;
    list.reserve(counts.size());
    for (const auto& [rgb, count] : counts) list.push_back({rgb, count});
    std::sort(list.begin(), list.end(), [](const ColourCount& x, const ColourCount& y) { return x.rgb < y.rgb; });
    return list;
}

}  // namespace colour
