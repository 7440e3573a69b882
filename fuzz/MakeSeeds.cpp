// Writes the fuzzers' seed corpora: make_fuzz_seeds DIR PNGDIR PICTUREDIR writes one file per valid shape
// for mat2png into DIR, for png2mat (the MAT, its image, maybe its palette) into PNGDIR, and one PNG of
// every colour type, depth and interlace, with PLTE and tRNS, for the PNG readers into PICTUREDIR.

#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/IffWriter.h"

using namespace iff;

namespace {

const Bytes separator = text("\n--pal--\n"), pngSeparator = text("\n--png--\n");

// The image mat2png would write for `m` (bottom stored row on top), in `format`.
Bytes image(const Mat& m, std::uint32_t format, const Bytes& table = colours()) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = std::uint32_t(m.width), png.height = std::uint32_t(m.height), png.format = format;
    const unsigned channels = PNG_IMAGE_SAMPLE_CHANNELS(format);
    const bool mapped = format & PNG_FORMAT_FLAG_COLORMAP;  // the table as PLTE, the stored indices as samples
    png.colormap_entries = mapped ? 256 : 0;
    Bytes samples;
    for (int y = m.height - 1; y >= 0; --y)
        for (int x = 0; x < m.width; ++x) {
            const std::size_t p = std::size_t(y) * m.width + x;
            if (mapped) {
                samples.push_back(m.pixels[p]);
                continue;
            }
            for (unsigned c = 0; c < std::min(channels, 3u); ++c) samples.push_back(table[3 * m.pixels[p] + c]);
            if (channels == 4) samples.push_back(std::uint8_t(255 - (m.alpha ? (*m.alpha)[p] : 0)));
        }
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&png, nullptr, &size, 0, samples.data(), 0, mapped ? table.data() : nullptr);
    Bytes bytes(size);
    png_image_write_to_memory(&png, bytes.data(), &size, 0, samples.data(), 0, mapped ? table.data() : nullptr);
    return bytes;
}

// A 5 x 3 PNG as libpng writes it, `samples` one byte each (pairs at depth 16), with a tRNS key or entries.
Bytes picture(int type, int depth, int interlace, bool transparent) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const int channels = type == PNG_COLOR_TYPE_RGB ? 3 : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1;
    const int bytes = depth == 16 ? 2 : 1, width = 5, height = 3;
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_set_write_fn(png, &out, [](png_structp p, png_bytep data, std::size_t size) {
        auto* bytes = static_cast<Bytes*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + size);
    }, nullptr);
    png_set_IHDR(png, info, width, height, depth, type, interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color entries[256];
    for (int n = 0; n < 256; ++n) entries[n] = {std::uint8_t(n * 3), std::uint8_t(255 - n), std::uint8_t(n * 7)};
    const Bytes opacity = {0, 128, 255};
    png_color_16 key{};
    key.gray = key.red = key.green = key.blue = 1;
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, entries, 1 << depth);
    if (transparent) png_set_tRNS(png, info, opacity.data(), type == PNG_COLOR_TYPE_PALETTE ? std::min(3, 1 << depth) : 0, &key);
    png_write_info(png, info);
    png_set_packing(png);
    Bytes row(std::size_t(width * channels * bytes));
    for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
        for (int y = 0; y < height; ++y) {
            for (std::size_t i = 0; i < row.size(); ++i) row[i] = std::uint8_t((i * 5 + std::size_t(y) * 3) % (depth < 8 ? 1u << depth : 256u));
            png_write_row(png, row.data());
        }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes ramp(std::size_t count, unsigned step) {
    Bytes b;
    for (std::size_t i = 0; i < count; ++i) b.push_back(std::uint8_t(i * step));
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const Bytes hots = chunk("HOTS", le32(1) + le32(2));
    const Mat plain, named{3, 3, 1, name("p"), ramp(9, 29), {}, {}};
    const struct {
        const char* file;
        Bytes bytes;
    } seeds[] = {
        {"plain", plain.bytes()},
        {"hots", Mat{2, 2, 7, cmap(), {3, 2, 1, 0}, {}, hots}.bytes()},
        {"alpha", Mat{2, 2, 1, cmap(), {0, 1, 2, 3}, Bytes{0, 64, 128, 255}, {}}.bytes()},
        {"alpha-hots-odd", Mat{3, 5, 2, cmap(), ramp(15, 17), ramp(15, 13), hots}.bytes()},
        {"alpha-short", Mat{2, 2, 1, cmap(), {0, 1, 2, 3}, Bytes{1, 2, 3}, {}}.bytes()},
        {"odd-1x1", Mat{1, 1, 0, cmap(), {200}, {}, {}}.bytes()},
        {"odd-7x3", Mat{7, 3, -1, cmap(), ramp(21, 11), {}, {}}.bytes()},
        {"wide-64x1", Mat{64, 1, 1, cmap(), ramp(64, 4), {}, {}}.bytes()},
        {"tall-1x64", Mat{1, 64, 1, cmap(), ramp(64, 3), ramp(64, 5), {}}.bytes()},
        {"square-32", Mat{32, 32, 1, cmap(), ramp(1024, 7), ramp(1024, 1), hots}.bytes()},
        {"unpadded", [] { Bytes b = Mat{3, 1, 1, cmap(), {1, 2, 3}, {}, {}}.bytes(); b.pop_back(); return b; }()},
        {"named", named.bytes() + separator + paletteFile()},
        {"named-case", Mat{2, 2, 1, name("P"), {9, 8, 7, 6}, {}, {}}.bytes() + separator + paletteFile()},
        {"named-alpha-hots", Mat{4, 2, 3, name("p"), ramp(8, 31), ramp(8, 30), hots}.bytes() + separator + paletteFile()},
        {"named-long-palette", named.bytes() + separator + paletteFile(colours() + Bytes{1, 2, 3}) + chunk("MORE", {1})},
        {"named-missing", named.bytes()},
        {"named-short-palette", named.bytes() + separator + paletteFile(Bytes(300, 5))},
        {"named-sub-missing", Mat{2, 2, 1, name("sub\\p"), {1, 2, 3, 4}, {}, {}}.bytes() + separator + paletteFile()},
        {"anim", form("ANIM", form("FRAM", chunk("INFO", le32(1) + le32(1) + le32(0))))},
        {"pxls-short", Mat{2, 2, 1, cmap(), {1, 2, 3}, {}, {}}.bytes()},
    };
    for (const auto& seed : seeds) save(dir / seed.file, seed.bytes);

    const std::filesystem::path pngdir = argv[2];
    std::filesystem::create_directories(pngdir);
    const Mat alpha{3, 5, 2, cmap(), ramp(15, 17), ramp(15, 13), hots};
    Mat resized = plain;
    resized.width = 4, resized.height = 1;
    const struct {
        const char* file;
        Bytes bytes;
    } pngSeeds[] = {
        {"rgb", plain.bytes() + pngSeparator + image(plain, PNG_FORMAT_RGB)},
        {"rgba", alpha.bytes() + pngSeparator + image(alpha, PNG_FORMAT_RGBA)},
        {"rgb-of-alpha", alpha.bytes() + pngSeparator + image(alpha, PNG_FORMAT_RGB)},
        {"indexed", alpha.bytes() + pngSeparator + image(alpha, PNG_FORMAT_RGB_COLORMAP)},
        {"grey", plain.bytes() + pngSeparator + image(plain, PNG_FORMAT_GRAY)},
        {"resized", plain.bytes() + pngSeparator + image(resized, PNG_FORMAT_RGB)},
        {"named", named.bytes() + pngSeparator + image(named, PNG_FORMAT_RGB) + separator + paletteFile()},
        {"anim", form("ANIM", Bytes(2, 0)) + pngSeparator + image(plain, PNG_FORMAT_RGB)},
    };
    for (const auto& seed : pngSeeds) save(pngdir / seed.file, seed.bytes);

    const std::filesystem::path picturedir = argv[3];
    std::filesystem::create_directories(picturedir);
    const struct {
        int type;
        const char* name;
        std::vector<int> depths;
    } kinds[] = {{PNG_COLOR_TYPE_GRAY, "grey", {1, 2, 4, 8, 16}}, {PNG_COLOR_TYPE_RGB, "rgb", {8, 16}}, {PNG_COLOR_TYPE_PALETTE, "mapped", {1, 2, 4, 8}},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, "grey-alpha", {8, 16}}, {PNG_COLOR_TYPE_RGB_ALPHA, "rgba", {8, 16}}};
    for (const auto& kind : kinds)
        for (const int depth : kind.depths)
            for (const int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7}) {
                // tRNS where the type takes one, on the interlaced ones
                const bool transparent = interlace && !(kind.type & PNG_COLOR_MASK_ALPHA);
                const std::string name = std::string(kind.name) + "-" + std::to_string(depth) + (interlace ? "-adam7" : "") + (transparent ? "-trns" : "");
                save(picturedir / name, picture(kind.type, depth, interlace, transparent));
            }
    return 0;
}
