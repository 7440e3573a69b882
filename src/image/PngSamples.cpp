#include "image/PngSamples.h"

#include <cstring>

std::uint64_t filteredSize(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel, bool interlaced) {
    // Adam7's first column and row of each pass and the steps between them
    static constexpr unsigned x0[7] = {0, 4, 0, 2, 0, 1, 0}, y0[7] = {0, 0, 4, 0, 2, 0, 1}, dx[7] = {8, 8, 4, 4, 2, 2, 1},
                              dy[7] = {8, 8, 8, 4, 4, 2, 2};
    const auto rows = [&](std::uint64_t w, std::uint64_t h) { return w && h ? h * ((w * bitsPerPixel + 7) / 8 + 1) : 0; };
    if (!interlaced) return rows(width, height);
    std::uint64_t total = 0;
    for (int pass = 0; pass < 7; ++pass)
        total += rows(width > x0[pass] ? (width - x0[pass] + dx[pass] - 1) / dx[pass] : 0,
                      height > y0[pass] ? (height - y0[pass] + dy[pass] - 1) / dy[pass] : 0);
    return total;
}

bool deflateCanHold(std::uint64_t filtered, std::uint64_t fileSize) { return filtered / 1032 <= fileSize; }

std::uint8_t greyOf(const std::uint8_t* rgb) { return static_cast<std::uint8_t>((6968 * rgb[0] + 23434 * rgb[1] + 2366 * rgb[2] + 16384) >> 15); }

std::unique_ptr<std::uint8_t[]> entrySamples(const std::uint8_t* indices, std::size_t count, const std::uint8_t* entries,
                                             int entryCount, const std::uint8_t* colours, unsigned channels) {
    if (colours) {
        bool other[256] = {}, any = false;  // entries that do not show the colour of the same index
        for (unsigned n = 0; n < 256; ++n) any |= other[n] = int(n) >= entryCount || std::memcmp(&entries[4 * n], colours + 3 * n, 3) != 0;
        bool kept = true;
        for (std::size_t p = 0; any && kept && p < count; ++p) kept = !other[indices[p]];
        if (kept) return nullptr;
    }
    std::unique_ptr<std::uint8_t[]> samples(new std::uint8_t[count * channels]);
    for (std::size_t p = 0; p < count; ++p) {
        const std::uint8_t* entry = &entries[4 * indices[p]];
        if (channels == 1) samples[p] = greyOf(entry);
        else std::memcpy(&samples[4 * p], entry, 4);
    }
    return samples;
}
