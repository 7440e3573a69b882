// Measures how far mapped images are from their sources: bench_quality PALETTE.png SOURCE RESULT...
// prints, per pair, "PIXELS PLAIN SEEN OFF EDGE EDGESEEN": the sums over the pixels of CIEDE2000 between
// source and result (plain) and between both after a Gaussian blur of sigma 1 in linear light with
// wrap-around edges (seen), the number of result pixels whose colour is not in the palette, and the
// pixels of the band 2 wide along the four edges, where copies of a tiled texture meet, with their seen sum.

#include <png.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "colour/Lab.h"

namespace {

constexpr std::size_t edgeBand = 2;  // pixels

struct Picture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};

Picture readPng(const char* path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (png_image_begin_read_from_file(&png, path)) {
        png.format = PNG_FORMAT_RGB;
        picture.width = png.width;
        picture.height = png.height;
        picture.rgb.resize(PNG_IMAGE_SIZE(png));
        if (png_image_finish_read(&png, nullptr, picture.rgb.data(), 0, nullptr)) return picture;
    }
    std::fprintf(stderr, "bench_quality: %s: %s\n", path, png.message);
    std::exit(1);
}

using Linear = std::vector<std::array<float, 3>>;

// The image in linear light, blurred by a Gaussian of sigma 1 (radius 4), wrapping at the edges.
Linear blurred(const Picture& picture, const std::array<double, 256>& linear) {
    const int w = int(picture.width), h = int(picture.height), radius = 4;
    std::array<double, 2 * radius + 1> kernel{};
    double total = 0;
    for (int k = -radius; k <= radius; ++k) total += kernel[k + radius] = std::exp(-0.5 * k * k);
    for (double& k : kernel) k /= total;
    Linear in(std::size_t(w) * h), across(in.size()), out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        for (int c = 0; c < 3; ++c) in[i][c] = float(linear[picture.rgb[3 * i + c]]);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int k = -radius; k <= radius; ++k) sum += kernel[k + radius] * in[std::size_t(y) * w + (x + k + w * radius) % w][c];
                across[std::size_t(y) * w + x][c] = float(sum);
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int k = -radius; k <= radius; ++k) sum += kernel[k + radius] * across[std::size_t((y + k + h * radius) % h) * w + x][c];
                out[std::size_t(y) * w + x][c] = float(sum);
            }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc % 2) {
        std::fprintf(stderr, "usage: bench_quality PALETTE.png SOURCE RESULT [SOURCE RESULT]...\n");
        return 2;
    }
    std::array<double, 256> linear{};
    for (int v = 0; v < 256; ++v) linear[v] = colour::linearFromSrgb(std::uint8_t(v));
    const Picture palette = readPng(argv[1]);
    std::set<std::uint32_t> entries;
    for (std::size_t i = 0; i < palette.rgb.size(); i += 3) entries.insert(palette.rgb[i] << 16 | palette.rgb[i + 1] << 8 | palette.rgb[i + 2]);
    for (int arg = 2; arg < argc; arg += 2) {
        const Picture source = readPng(argv[arg]), result = readPng(argv[arg + 1]);
        if (source.width != result.width || source.height != result.height) {
            std::fprintf(stderr, "bench_quality: %s: not the size of %s\n", argv[arg + 1], argv[arg]);
            return 1;
        }
        const std::size_t pixels = std::size_t(source.width) * source.height;
        double plain = 0, seen = 0;
        std::size_t off = 0;
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint8_t* s = &source.rgb[3 * i];
            const std::uint8_t* r = &result.rgb[3 * i];
            plain += colour::ciede2000(colour::labFromSrgb(s[0], s[1], s[2]), colour::labFromSrgb(r[0], r[1], r[2]));
            off += !entries.count(r[0] << 16 | r[1] << 8 | r[2]);
        }
        const Linear a = blurred(source, linear), b = blurred(result, linear);
        double edgeSeen = 0;
        std::size_t edge = 0;
        for (std::size_t i = 0; i < pixels; ++i) {
            const double d = colour::ciede2000(colour::labFromLinear(a[i][0], a[i][1], a[i][2]), colour::labFromLinear(b[i][0], b[i][1], b[i][2]));
            const std::size_t x = i % source.width, y = i / source.width;
            const bool band = x < edgeBand || y < edgeBand || x + edgeBand >= source.width || y + edgeBand >= source.height;
            seen += d;
            edgeSeen += band ? d : 0;
            edge += band;
        }
        std::printf("%zu %.6f %.6f %zu %zu %.6f\n", pixels, plain, seen, off, edge, edgeSeen);
    }
    return 0;
}
