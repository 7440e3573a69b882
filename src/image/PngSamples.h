#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// What both PNG readers (libpng natively, PngDecoder in the page) do alike: the size check they make
// before decoding, and what they make of the samples once decoded. Each reader only decodes.

// The bytes of a PNG's filtered rows, a filter byte each, Adam7's passes summed when interlaced.
std::uint64_t filteredSize(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel, bool interlaced);

// The bytes of pixel data in a PNG file of `size` bytes: its IDAT chunks from the first up to the first other
// chunk, all that libpng inflates, told from the chunks' lengths. `read(at, count, into)` reads the file's bytes.
std::uint64_t pixelDataBytes(std::uint64_t size, const std::function<bool(std::uint64_t, std::size_t, std::uint8_t*)>& read);

// Whether `pixelData` bytes can hold `filtered` bytes of rows: deflate packs at most 1032 bytes into one,
// so a forged size is refused before anything is reserved for it.
bool deflateCanHold(std::uint64_t filtered, std::uint64_t pixelData);

// libpng's default weights for grey from RGB, applied to the stored values so that r = g = b gives r.
std::uint8_t greyOf(const std::uint8_t* rgb);

// A colour-mapped picture's samples for its `count` indices: none when `colours` (256 RGB entries) is given
// and the palette (`entries` RGBA, `entryCount` of them from the file) shows it at every index used, so
// the indices are kept; else each pixel's entry as grey (`channels` 1) or RGBA (4).
std::unique_ptr<std::uint8_t[]> entrySamples(const std::uint8_t* indices, std::size_t count, const std::uint8_t* entries,
                                             int entryCount, const std::uint8_t* colours, unsigned channels);
