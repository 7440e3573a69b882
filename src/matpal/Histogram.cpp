#include "matpal/Histogram.h"

#include <algorithm>

void Histogram::addPixels(const std::uint8_t* rgba, std::size_t count) {
    for (std::size_t p = 0; p < count; ++p, rgba += 4)
        if (rgba[3] != 0) ++counts[std::uint32_t{rgba[0]} << 16 | rgba[1] << 8 | rgba[2]];
}

std::vector<Histogram::Bin> Histogram::bins() const {
    std::vector<Bin> sorted;
    sorted.reserve(counts.size());
    for (const auto& [rgb, count] : counts) sorted.push_back({rgb, count});
    std::sort(sorted.begin(), sorted.end(), [](const Bin& a, const Bin& b) { return a.rgb < b.rgb; });
    return sorted;
}
