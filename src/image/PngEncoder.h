#pragma once

#include <cstdint>
#include <vector>

// A PNG file made in memory in the constructor from 8-bit samples: `channels` 1 (grey, or indices
// under the 256 RGB entries of `palette` when it is given), 3 (RGB) or 4 (RGBA). With `bottomUp`
// the first stored row becomes the bottom row of the picture; with `negative` every sample is
// written as 255 minus itself. Rows are filtered as libpng chooses by default (the least sum of
// absolute differences; colour-mapped ones not at all) or all by Paeth with `paeth`, then deflated
// (Deflate.h).
// The page's writer; the native programs write with libpng and DevIL.
class PngEncoder {
public:
    struct Options {
        bool bottomUp = false;
        bool negative = false;
        bool paeth = false;  // every row by Paeth
    };

    PngEncoder(std::uint32_t width, std::uint32_t height, unsigned channels, const std::uint8_t* samples,
               const std::uint8_t* palette, Options options);

    const std::vector<std::uint8_t>& bytes() const { return file; }

private:
    std::vector<std::uint8_t> file;
};

// The CRC-32 of PNG chunks (and zlib's gzip), continued from `crc`.
std::uint32_t pngCrc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
