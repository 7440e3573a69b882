#pragma once

// Test-side PNG decoding with libpng, independent of the image library under test.

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/Workdir.h"

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

// Writes `png` back as a file, in the format its image field names.
inline bool writePng(const fs::path& path, Png png) {
    return png_image_write_to_file(&png.image, path.c_str(), 0, png.samples.data(), 0, nullptr);
}

// Both images of `mat` against the MAT file; the first stored row must be the PNG's bottom row.
inline void expectImages(const Workdir& w, const std::string& mat, const iff::Mat& m, const iff::Bytes& table = iff::colours()) {
    using iff::Bytes;
    const auto colour = readPng(w / (mat + ".png"));
    const auto alpha = readPng(w / (mat + "_alpha.png"));
    ASSERT_TRUE(colour && bool(alpha) == bool(m.alpha)) << mat;
    ASSERT_EQ(colour->channels(), m.alpha ? 4u : 3u);
    ASSERT_EQ(colour->image.width * colour->image.height, m.pixels.size());
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            const std::size_t p = std::size_t(m.height - 1 - y) * m.width + x;
            const png_byte* got = colour->at(x, y);
            EXPECT_EQ(Bytes(got, got + 3), Bytes(&table[3 * m.pixels[p]], &table[3 * m.pixels[p] + 3])) << p;
            if (!m.alpha) continue;
            EXPECT_EQ(got[3], 255 - (*m.alpha)[p]) << p;
            EXPECT_EQ(alpha->channels(), 1u);
            EXPECT_EQ(*alpha->at(x, y), 255 - (*m.alpha)[p]) << p;
        }
}

// A PNG as stored, read or written through libpng's regular API: IHDR fields, PLTE (RGB entries), tRNS, and one
// byte per sample unexpanded (big-endian pairs at depth 16), top row first. Reading also tells which ancillary
// chunks are there (png_get_valid flags) and the gAMA value; writing adds the chunks `chunks` sets.
struct RawPng {
    png_uint_32 width = 0, height = 0;
    int type = -1, depth = 8, interlace = PNG_INTERLACE_NONE;
    iff::Bytes palette, trns, samples;
    png_uint_32 valid = 0;
    double gamma = 0;
    std::function<void(png_structp, png_infop)> chunks = [](png_structp, png_infop) {};
};

inline RawPng readRaw(const fs::path& path) {
    RawPng raw;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (file && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_read_info(png, info);
        png_get_IHDR(png, info, &raw.width, &raw.height, &raw.depth, &raw.type, &raw.interlace, nullptr, nullptr);
        raw.valid = png_get_valid(png, info, ~0u);
        png_get_gAMA(png, info, &raw.gamma);
        png_colorp plte = nullptr;
        png_bytep trns = nullptr;
        int entries = 0;
        if (png_get_PLTE(png, info, &plte, &entries))
            for (int n = 0; n < entries; ++n) raw.palette.insert(raw.palette.end(), {plte[n].red, plte[n].green, plte[n].blue});
        if (png_get_tRNS(png, info, &trns, &entries, nullptr) && trns) raw.trns.assign(trns, trns + entries);
        png_set_packing(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const std::size_t stride = png_get_rowbytes(png, info);
        raw.samples.resize(stride * raw.height);
        std::vector<png_bytep> rows(raw.height);
        for (png_uint_32 y = 0; y < raw.height; ++y) rows[y] = &raw.samples[y * stride];
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (file) std::fclose(file);
    return raw;
}

inline bool writePng(const fs::path& path, const RawPng& raw) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool ok = !setjmp(png_jmpbuf(png));
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, raw.width, raw.height, raw.depth, raw.type, raw.interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!raw.palette.empty()) png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(raw.palette.data()), int(raw.palette.size() / 3));
        if (!raw.trns.empty()) png_set_tRNS(png, info, raw.trns.data(), int(raw.trns.size()), nullptr);
        raw.chunks(png, info);
        png_write_info(png, info);
        png_set_packing(png);
        const std::size_t stride = raw.samples.size() / raw.height;
        for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
            for (png_uint_32 y = 0; y < raw.height; ++y) png_write_row(png, &raw.samples[y * stride]);
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return ok;
}
