#include "png2mat/ColourMap.h"

#include <algorithm>

namespace {

std::uint32_t rgbOf(const std::uint8_t* entry) { return std::uint32_t{entry[0]} << 16 | entry[1] << 8 | entry[2]; }

}  // namespace

ColourMap::ColourMap(const std::uint8_t* colours, bool perceptual)
    : perceptual(perceptual ? std::make_unique<colour::PerceptualSearch>(colours) : nullptr) {
    for (unsigned index = 0; index < 256; ++index) {
        reds[index] = colours[3 * index];
        greens[index] = colours[3 * index + 1];
        blues[index] = colours[3 * index + 2];
    }
    grow();
    // the first entry of each colour wins, since later ones find it already stored
    for (unsigned index = 0; index < 256; ++index) {
        const std::uint32_t rgb = rgbOf(colours + 3 * index);
        std::size_t slot = hash(rgb);
        while (keys[slot] != 0 && keys[slot] != rgb + 1) slot = (slot + 1) & mask;
        if (keys[slot] == 0) store(slot, rgb, index);
    }
}

ColourMap::~ColourMap() = default;

void ColourMap::store(std::size_t slot, std::uint32_t rgb, unsigned value) {
    keys[slot] = rgb + 1;
    values[slot] = static_cast<std::uint16_t>(value);
    ++used;
}

unsigned ColourMap::insert(std::size_t slot, std::uint32_t rgb) {
    const unsigned value = nearest(rgb) | offPalette;
    store(slot, rgb, value);
    if (used * 2 > mask) grow();
    return value;
}

unsigned ColourMap::nearest(std::uint32_t rgb) const {
    const std::int32_t r = rgb >> 16, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    if (perceptual) return perceptual->nearest(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b));
    std::int32_t distances[256];
    for (unsigned index = 0; index < 256; ++index) {
        const std::int32_t dr = r - reds[index], dg = g - greens[index], db = b - blues[index];
        distances[index] = dr * dr + dg * dg + db * db;
    }
    // min_element returns the first of equal distances: ties go to the lowest index
    return static_cast<unsigned>(std::min_element(distances, distances + 256) - distances);
}

void ColourMap::grow() {
    const std::size_t oldSize = keys ? mask + 1 : 0;
    auto oldKeys = std::move(keys);
    auto oldValues = std::move(values);
    const std::size_t size = oldSize ? oldSize * 2 : 1024;
    keys = std::make_unique<std::uint32_t[]>(size);
    values = std::make_unique<std::uint16_t[]>(size);
    mask = size - 1;
    shift = 32;
    for (std::size_t s = size; s > 1; s >>= 1) --shift;
    used = 0;
    for (std::size_t old = 0; old < oldSize; ++old) {
        if (oldKeys[old] == 0) continue;
        std::size_t slot = hash(oldKeys[old] - 1);
        while (keys[slot] != 0) slot = (slot + 1) & mask;
        keys[slot] = oldKeys[old];
        values[slot] = oldValues[old];
        ++used;
    }
}
