#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// What both PNG readers (libpng natively, PngDecoder in the page) do alike: the size check they make
// before decoding, and what they make of the samples once decoded. Each reader only decodes.

// The bytes of a PNG's filtered rows, a filter byte each, Adam7's passes summed when interlaced.
std::uint64_t filteredSize(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel, bool interlaced);

// Whether `fileSize` bytes can hold `filtered` bytes of rows: deflate packs at most 1032 bytes into one,
// so a forged size is refused before anything is reserved for it.
bool deflateCanHold(std::uint64_t filtered, std::uint64_t fileSize);

// libpng's default weights for grey from RGB, applied to the stored values so that r = g = b gives r.
std::uint8_t greyOf(const std::uint8_t* rgb);

// A colour-mapped picture's samples for its `count` indices: none when `colours` (256 RGB entries) is given
// and the palette (`entries` RGBA, `entryCount` of them from the file) shows it at every index used, so
// the indices are kept; else each pixel's entry as grey (`channels` 1) or RGBA (4).
std::unique_ptr<std::uint8_t[]> entrySamples(const std::uint8_t* indices, std::size_t count, const std::uint8_t* entries,
                                             int entryCount, const std::uint8_t* colours, unsigned channels);
