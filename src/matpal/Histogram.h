#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// How many pixels of each colour a set of images holds, fully transparent pixels left out.
class Histogram {
public:
    struct Bin {
        std::uint32_t rgb;  // 0xRRGGBB
        std::uint64_t count;
    };

    // `count` pixels of red, green, blue, alpha.
    void addPixels(const std::uint8_t* rgba, std::size_t count);
    bool empty() const { return counts.empty(); }
    // Every colour once, in ascending order of 0xRRGGBB, whatever order the images came in.
    std::vector<Bin> bins() const;

private:
    std::unordered_map<std::uint32_t, std::uint64_t> counts;
};
