#pragma once

#include <cstdint>
#include <memory>

#include "colour/PerceptualSearch.h"

// Maps 24-bit colours (0xRRGGBB) to palette indices: a colour of the palette to
// its lowest index, any other to the nearest entry by CIEDE2000 (perceptual) or
// by squared RGB distance, ties to the lowest index. Each distinct colour is
// searched for only once.
class ColourMap {
public:
    // `colours`: 256 entries of red, green, blue.
    ColourMap(const std::uint8_t* colours, bool perceptual);
    ~ColourMap();
    ColourMap(const ColourMap&) = delete;
    ColourMap& operator=(const ColourMap&) = delete;

    // The index, plus `offPalette` when the colour is not in the palette.
    static constexpr unsigned offPalette = 0x100;
    unsigned lookup(std::uint32_t rgb) {
        for (std::size_t slot = hash(rgb);; slot = (slot + 1) & mask) {
            if (keys[slot] == rgb + 1) return values[slot];
            if (keys[slot] == 0) return insert(slot, rgb);
        }
    }

    // The same without searching: offPalette alone for a colour not in the palette and not yet searched for.
    unsigned find(std::uint32_t rgb) const {
        for (std::size_t slot = hash(rgb);; slot = (slot + 1) & mask) {
            if (keys[slot] == rgb + 1) return values[slot];
            if (keys[slot] == 0) return offPalette;
        }
    }

private:
    std::size_t hash(std::uint32_t rgb) const { return (rgb * 0x9E3779B1u) >> shift; }
    unsigned insert(std::size_t slot, std::uint32_t rgb);
    unsigned nearest(std::uint32_t rgb) const;
    void store(std::size_t slot, std::uint32_t rgb, unsigned value);
    void grow();

    // the palette by channel, so that the search over all entries runs in vector registers
    std::int32_t reds[256], greens[256], blues[256];
    std::unique_ptr<colour::PerceptualSearch> perceptual;
    // open addressing; a key is the colour plus one, so that zero marks a free slot
    std::unique_ptr<std::uint32_t[]> keys;
    std::unique_ptr<std::uint16_t[]> values;
    std::size_t mask = 0, used = 0;
    unsigned shift = 0;
};
