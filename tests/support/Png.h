#pragma once

// Test-side PNG decoding with libpng, independent of the image library under test.

#include <gtest/gtest.h>
#include <png.h>

#include <optional>
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
