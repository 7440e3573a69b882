#pragma once

// The page's PNG readers (PngImageInPage.cpp and PalettePngInPage.cpp over PngDecoder) built natively into a
// library of its own that shows nothing but the two functions below, so that a test or a fuzz target reads one
// file through both back ends in one process.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a PngImage made of a file: the reason when it refused the file, else everything it shows.
struct ImageRead {
    bool read = false;
    std::string reason;
    std::uint32_t width = 0, height = 0;
    bool alpha = false, indexed = false;
    std::vector<std::uint8_t> samples, opacity;
};

// What palette::pngPalette made of a PNG: the reason when it refused it, else the colours.
struct PaletteRead {
    bool read = false;
    std::string reason;
    std::vector<std::uint8_t> colours;
};

extern "C" void readPageImage(const char* path, unsigned channels, const std::uint8_t* colours, ImageRead* out);
extern "C" void readPagePalette(const std::uint8_t* data, std::size_t size, PaletteRead* out);

// The same through the readers linked into the caller (libpng's natively).
ImageRead readImage(const char* path, unsigned channels, const std::uint8_t* colours);
PaletteRead readPalette(const std::uint8_t* data, std::size_t size);
