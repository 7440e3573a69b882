// Writes the benchmark workloads: make_corpus DIR creates DIR/tiny, DIR/typical, DIR/alpha and
// DIR/large, each a working directory with mat/ (and pal/ where files name their palette); make_corpus DIR
// many N makes DIR the update runs' workload of N files, make_corpus DIR typical N the typical workload of N
// files, and make_corpus DIR sizes N N files of 64 x 64, 128 x 128 and 256 x 256 in turn (the page's memory).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

#include "support/IffWriter.h"

using namespace iff;
namespace fs = std::filesystem;

namespace {

// Smooth value noise over a grid of `cell` pixels, with a little grain on top: it
// compresses about like painted art, unlike flat colour or pure noise.
Bytes texture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    const int cell = 8 << (seed % 3);
    const int gw = width / cell + 2, gh = height / cell + 2;
    std::vector<double> grid(std::size_t(gw) * gh);
    for (double& v : grid) v = std::uniform_real_distribution<double>(0, 200)(random);
    std::uniform_int_distribution<int> grain(-3, 3);
    Bytes pixels(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int gx = x / cell, gy = y / cell;
            const double fx = double(x % cell) / cell, fy = double(y % cell) / cell;
            auto at = [&](int i, int j) { return grid[std::size_t(j) * gw + i]; };
            const double top = at(gx, gy) * (1 - fx) + at(gx + 1, gy) * fx;
            const double bottom = at(gx, gy + 1) * (1 - fx) + at(gx + 1, gy + 1) * fx;
            const double stripes = 24 * std::sin((x + 2 * y) / 11.0);
            const int v = int(top * (1 - fy) + bottom * fy + stripes) + 16 + (random() % 4 == 0 ? grain(random) : 0);
            pixels[std::size_t(y) * width + x] = std::uint8_t(std::clamp(v, 0, 255));
        }
    return pixels;
}

// Opaque in the middle, with a soft edge and fully transparent corners.
Bytes mask(int width, int height) {
    Bytes alpha(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double d = std::hypot(x / double(width) - 0.5, y / double(height) - 0.5);
            alpha[std::size_t(y) * width + x] = std::uint8_t(std::clamp((d - 0.35) * 1500, 0.0, 255.0));
        }
    return alpha;
}

Bytes ramp(unsigned seed) {
    Bytes table;
    const int r = 120 + seed * 37 % 136, g = 120 + seed * 59 % 136, b = 120 + seed * 83 % 136;
    for (int n = 0; n < 256; ++n) table = table + Bytes{std::uint8_t(n * r / 255), std::uint8_t(n * g / 255), std::uint8_t(n * b / 255)};
    return table;
}

// Files of one size; every `alphaEvery`th has an alpha plane (the soft-edged mask, or with
// `noisyAlpha` value noise of its own), every `namedEvery`th names one of eight palettes in
// pal/tex (0 for never).
void workload(const fs::path& dir, int count, int side, int alphaEvery, int namedEvery, bool noisyAlpha = false,
              bool sides = false) {
    fs::create_directories(dir / "mat");
    if (namedEvery) {
        fs::create_directories(dir / "pal/tex");
        for (unsigned p = 0; p < 8; ++p) save(dir / ("pal/tex/set" + std::to_string(p) + ".pal"), paletteFile(ramp(p)));
    }
    for (int i = 0; i < count; ++i) {
        if (sides) side = 64 << (i % 3);
        Mat mat{side, side, 1, cmap(ramp(unsigned(i))), texture(side, side, unsigned(i)), {}, {}};
        // a seed apart from the colours', so that the alpha plane is not the same picture
        if (alphaEvery && i % alphaEvery == 0) mat.alpha = noisyAlpha ? texture(side, side, unsigned(i) + 1001) : mask(side, side);
        if (namedEvery && i / 2 % namedEvery == 0) mat.palette = name("tex\\set" + std::to_string(i % 8));
        char file[32];
        std::snprintf(file, sizeof file, "mat/t%04d.mat", i);
        save(dir / file, mat.bytes());
    }
}

// `count` files of 32 x 32 for update runs, cycling through 16 textures: every fourth with an alpha
// plane, every other one naming one of the eight palettes.
void many(const fs::path& dir, int count) {
    fs::create_directories(dir / "mat");
    fs::create_directories(dir / "pal/tex");
    for (unsigned p = 0; p < 8; ++p) save(dir / ("pal/tex/set" + std::to_string(p) + ".pal"), paletteFile(ramp(p)));
    std::vector<Bytes> files;
    for (int i = 0; i < 16; ++i) {
        Mat mat{32, 32, 1, cmap(ramp(unsigned(i))), texture(32, 32, unsigned(i)), {}, {}};
        if (i % 4 == 0) mat.alpha = mask(32, 32);
        if (i % 2 == 0) mat.palette = name("tex\\set" + std::to_string(i / 2 % 8));
        files.push_back(mat.bytes());
    }
    for (int i = 0; i < count; ++i) {
        char file[32];
        std::snprintf(file, sizeof file, "mat/m%06d.mat", i);
        save(dir / file, files[std::size_t(i % 16)]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // "make_corpus DIR many N": only the update workload, N files in DIR
    if (argc == 4 && std::string(argv[2]) == "many") {
        many(argv[1], std::stoi(argv[3]));
        return 0;
    }
    if (argc == 4 && std::string(argv[2]) == "typical") {
        workload(argv[1], std::stoi(argv[3]), 256, 2, 2);
        return 0;
    }
    if (argc == 4 && std::string(argv[2]) == "sizes") {
        workload(argv[1], std::stoi(argv[3]), 64, 2, 2, false, true);
        return 0;
    }
    if (argc != 2) return 2;
    const fs::path dir = argv[1];
    workload(dir / "tiny", 2000, 32, 0, 0);
    workload(dir / "typical", 300, 256, 2, 2);
    workload(dir / "alpha", 300, 256, 2, 2, true);
    workload(dir / "large", 3, 2048, 3, 0);
    return 0;
}
