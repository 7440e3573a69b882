#pragma once

// Test-side PNG decoding with libpng, independent of the image library under test.

#include <png.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct Png {
    unsigned width = 0, height = 0, channels = 0;
    std::vector<png_byte> samples;  // top row first

    const png_byte* at(unsigned x, unsigned y) const { return &samples[(y * width + x) * channels]; }
};

// Decodes an 8-bit, non-interlaced PNG without any transformation.
inline std::optional<Png> readPng(const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::nullopt;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::optional<Png> result;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        Png image{png_get_image_width(png, info), png_get_image_height(png, info), png_get_channels(png, info), {}};
        if (png_get_bit_depth(png, info) == 8 && png_get_interlace_type(png, info) == PNG_INTERLACE_NONE) {
            image.samples.resize(std::size_t(image.width) * image.height * image.channels);
            std::vector<png_bytep> rows;
            for (unsigned y = 0; y < image.height; ++y) rows.push_back(&image.samples[y * image.width * image.channels]);
            png_read_image(png, rows.data());
            result = std::move(image);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return result;
}
