#include "png2mat/ColourMap.h"

namespace {

std::uint32_t rgbOf(const std::uint8_t* entry) { return std::uint32_t{entry[0]} << 16 | entry[1] << 8 | entry[2]; }

}  // namespace

ColourMap::ColourMap(const std::uint8_t* colours) : colours(colours) {
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
    const int r = rgb >> 16, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    unsigned best = 0;
    int bestDistance = 1 << 30;
    for (unsigned index = 0; index < 256; ++index) {
        const std::uint8_t* entry = colours + 3 * index;
        const int dr = r - entry[0], dg = g - entry[1], db = b - entry[2];
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = index;
        }
    }
    const unsigned value = best | offPalette;
    store(slot, rgb, value);
    if (used * 2 > mask) grow();
    return value;
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
