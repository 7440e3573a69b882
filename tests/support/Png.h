#pragma once

// Test-side PNG decoding with libpng, independent of the image library under test.

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Png {
    unsigned width = 0, height = 0, channels = 0;
    std::vector<std::uint8_t> samples;  // top row first, as stored in the PNG

    const std::uint8_t* at(unsigned x, unsigned y) const { return &samples[(std::size_t(y) * width + x) * channels]; }
};

// Decodes an 8-bit grey, RGB or RGBA PNG without any transformation.
inline std::optional<Png> readPng(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::nullopt;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::optional<Png> result;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        Png image;
        image.width = png_get_image_width(png, info);
        image.height = png_get_image_height(png, info);
        image.channels = png_get_channels(png, info);
        if (png_get_bit_depth(png, info) == 8 && png_get_interlace_type(png, info) == PNG_INTERLACE_NONE) {
            image.samples.resize(std::size_t(image.width) * image.height * image.channels);
            std::vector<png_bytep> rows(image.height);
            for (unsigned y = 0; y < image.height; ++y) rows[y] = &image.samples[std::size_t(y) * image.width * image.channels];
            png_read_image(png, rows.data());
            png_read_end(png, nullptr);
            result = std::move(image);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return result;
}
