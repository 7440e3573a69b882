#pragma once

// Test-side PNG decoding with libpng, independent of the image library under test.

#include <png.h>

#include <optional>
#include <vector>

struct Png {
    png_image image{};
    std::vector<png_byte> samples;  // top row first, in the file's own channel layout

    unsigned channels() const { return PNG_IMAGE_SAMPLE_CHANNELS(image.format); }
    const png_byte* at(unsigned x, unsigned y) const { return &samples[(y * image.width + x) * channels()]; }
};

inline std::optional<Png> readPng(const fs::path& path) {
    Png png;
    png.image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png.image, path.c_str())) return std::nullopt;
    png.samples.resize(PNG_IMAGE_SIZE(png.image));
    if (!png_image_finish_read(&png.image, nullptr, png.samples.data(), 0, nullptr)) return std::nullopt;
    return png;
}
