#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

// Saves DevIL's bound image as a PNG file under `name`. The image is written
// to a temporary file in the same directory and renamed over `name` only when
// it is complete, so `name` never holds a partial image and a symbolic link
// there is replaced, not followed; its modification time is `modified`, that of
// the MAT file it was made from; `program` names the temporary file. Raises WriteError when anything
// fails.
void saveImage(const std::string& name, const timespec& modified, const char* program);

// Writes a whole encoded PNG file under `name` as saveImage() does: the page's writer.
void saveEncoded(const std::string& name, const std::vector<std::uint8_t>& bytes, const timespec& modified, const char* program);

// Saves `height` rows of `width` 8-bit samples, the first row at the bottom, as saveImage() does:
// indices of an 8-bit colour-mapped PNG under the 256 RGB entries of `palette`, or grey levels when
// `palette` is null, each 255 minus the sample with `negative`. Written with libpng, since DevIL
// cannot set the row filters and compression that make such images small.
void saveSamples(const std::string& name, std::int32_t width, std::int32_t height, const std::uint8_t* samples,
                 const std::uint8_t* palette, const timespec& modified, const char* program, bool negative = false);

// Whether Paeth-filtered rows (compressed as runs) will beat the samples as they are (compressed by
// libpng's defaults): only where neighbouring samples are near in value (indices of an ordered
// palette, smooth grey), which a sample of every 8th row tells by the entropy of the filtered bytes
// against that of the samples.
inline bool filterRows(std::int32_t width, std::int32_t height, const std::uint8_t* indices) {
    std::size_t raw[256] = {}, filtered[256] = {}, count = 0;
    // in the image, the row above a stored row is the next one stored
    for (std::int32_t y = 0; y + 1 < height; y += 8) {
        const std::uint8_t* row = indices + std::size_t(width) * y;
        const std::uint8_t* up = row + width;
        for (std::int32_t x = 0; x < width; ++x, ++count) {
            const int a = x ? row[x - 1] : 0, b = up[x], c = x ? up[x - 1] : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            ++raw[row[x]];
            ++filtered[std::uint8_t(row[x] - predicted)];
        }
    }
    const auto bits = [count](const std::size_t* histogram) {
        double sum = 0;
        for (int i = 0; i < 256; ++i)
            if (histogram[i]) sum -= double(histogram[i]) * std::log2(double(histogram[i]) / double(count));
        return sum;
    };
    // ordered palettes measure about half, unordered ones about 1: filtering these would cost bytes
    return count > 0 && bits(filtered) < 0.75 * bits(raw);
}
