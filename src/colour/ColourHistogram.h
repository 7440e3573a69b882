#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace colour {

// One colour of a set of pictures, 0xRRGGBB, and the number of pixels that have it.
struct ColourCount {
    std::uint32_t rgb;
    std::uint64_t count;
    bool operator==(const ColourCount&) const = default;
};

// The colours of a set of pictures with their counts, fully transparent pixels left out. What it lists
// does not depend on the order in which pictures or pixels were added.
class ColourHistogram {
public:
    // `rgba`: `pixels` pixels of red, green, blue and alpha.
    void add(const std::uint8_t* rgba, std::size_t pixels);
    void add(const ColourHistogram& other);
    // by ascending 0xRRGGBB
    std::vector<ColourCount> colours() const;

private:
    std::unordered_map<std::uint32_t, std::uint64_t> counts;
};

}  // namespace colour
