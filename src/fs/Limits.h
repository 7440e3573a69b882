#pragma once

#include <cstdint>

// The limits the programs share, each written once.

// libpng refuses wider or taller images, and its refusal would crash inside DevIL
inline constexpr std::int64_t maxSide = 1000000;
// an RGBA buffer must fit a signed 32-bit size, as DevIL computes it that way
inline constexpr std::int64_t maxPixels = 0x7FFFFFFF / 4;
// the entries of a palette
inline constexpr int paletteEntries = 256;
// -j at most, which is also how many workers the signal handler keeps in its fixed storage
inline constexpr long maxJobs = 1024;
// a palette file, or a picture of one, is far smaller: this keeps a wrong file from filling memory
inline constexpr std::uint64_t maxPaletteFile = std::uint64_t{256} << 20;

// The pixels of an image of `width` x `height`, or -1 when it is too large to convert or not positive.
inline std::int64_t convertiblePixels(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0 || width > maxSide || height > maxSide) return -1;
    const std::int64_t count = width * height;
    return count <= maxPixels ? count : -1;
}
