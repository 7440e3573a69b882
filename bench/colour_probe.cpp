// The bytes the colour code decides, for comparing builds (bench/colour_probe.sh: g++ against em++).
// colour_probe [PICTURE.ppm...] fits a palette to the pictures (binary PPM) and to a few generated ones, as
// `matpal make` does (256 fitted, and 224 around 32 kept entries), then maps each picture through the fitted
// palette and a general one, perceptually (png2mat's default) and with --dither's error diffusion. It prints
// the palettes in hexadecimal and a 64-bit FNV-1a hash of each picture's indices: equal lines, equal bytes.
// Uses the colour library only, so that it builds for WebAssembly as it is.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "colour/Dither.h"
#include "colour/PaletteFit.h"
#include "colour/PerceptualSearch.h"

using namespace colour;

namespace {

struct Picture {
    std::string name;
    std::uint32_t width, height;
    std::vector<std::uint8_t> rgba;
};

std::uint64_t fnv(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 14695981039346656037u;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211u;
    return hash;
}

// xorshift: the same numbers on every platform, unlike <random>'s distributions
struct Noise {
    std::uint64_t state;
    std::uint32_t operator()() {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        return std::uint32_t(state >> 32);
    }
};

// grain over smooth ramps (most pixels a colour of their own), few colours (ties everywhere), greys
std::vector<Picture> generated() {
    std::vector<Picture> pictures;
    Noise noise{0x9E3779B97F4A7C15u};
    for (int kind = 0; kind < 3; ++kind) {
        Picture p{"generated" + std::to_string(kind), 97, 61, {}};
        for (std::uint32_t y = 0; y < p.height; ++y)
            for (std::uint32_t x = 0; x < p.width; ++x) {
                const std::uint32_t r = noise();
                int c[3] = {int(x * 255 / p.width), int(y * 255 / p.height), int((x + y) * 3 % 256)};
                if (kind == 0)
                    for (int& v : c) v = std::max(0, std::min(255, v + int(r % 33) - 16));
                if (kind == 1)
                    for (int k = 0; k < 3; ++k) c[k] = int((r >> (8 * k)) % 6) * 51;
                if (kind == 2) c[0] = c[1] = c[2] = int(r % 7) + c[0];
                for (int k = 0; k < 3; ++k) p.rgba.push_back(std::uint8_t(c[k]));
                p.rgba.push_back(kind == 0 && r % 97 == 0 ? 0 : 255);
            }
        pictures.push_back(std::move(p));
    }
    return pictures;
}

Picture readPpm(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    unsigned width = 0, height = 0, maximum = 0;
    file >> magic >> width >> height >> maximum;
    file.get();
    if (!file || magic != "P6" || maximum != 255) throw std::runtime_error(path + ": not a binary 8-bit PPM");
    std::vector<std::uint8_t> rgb(std::size_t{width} * height * 3);
    file.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    if (!file) throw std::runtime_error(path + ": cut short");
    Picture p{path.substr(path.find_last_of('/') + 1), width, height, {}};
    for (std::size_t i = 0; i < rgb.size(); i += 3) p.rgba.insert(p.rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 255});
    return p;
}

void printPalette(const char* name, const Palette& colours) {
    std::printf("%s ", name);
    for (std::uint8_t v : colours) std::printf("%02x", v);
    std::printf("\n");
}

// a general palette: 16 greys, a 6 x 6 x 6 cube, 24 greys
Palette general() {
    Palette colours{};
    for (unsigned n = 0; n < 256; ++n) {
        const unsigned cube = n - 16;
        const std::uint8_t grey = std::uint8_t(n < 16 ? n * 17 : 8 + (n - 240) * 10);
        for (unsigned c = 0; c < 3; ++c)
            colours[3 * n + c] = n < 16 || n >= 232 ? grey : std::uint8_t((cube / (c == 0 ? 36 : c == 1 ? 6 : 1) % 6) * 51);
    }
    return colours;
}

void mapEach(const char* palette, const Palette& colours, const std::vector<Picture>& pictures) {
    const PerceptualSearch search(colours.data());
    for (const Picture& p : pictures) {
        const std::size_t pixels = std::size_t{p.width} * p.height;
        std::vector<std::uint8_t> indices(pixels), open(pixels, 1);
        for (std::size_t i = 0; i < pixels; ++i) indices[i] = std::uint8_t(search.nearest(p.rgba[4 * i], p.rgba[4 * i + 1], p.rgba[4 * i + 2]));
        std::printf("perceptual %s %s %016llx\n", palette, p.name.c_str(), (unsigned long long)fnv(indices.data(), pixels));
        dither(p.rgba.data(), p.width, p.height, colours.data(), open.data(), indices.data());
        std::printf("dither %s %s %016llx\n", palette, p.name.c_str(), (unsigned long long)fnv(indices.data(), pixels));
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<Picture> pictures = generated();
        for (int n = 1; n < argc; ++n) pictures.push_back(readPpm(argv[n]));
        ColourHistogram histogram;
        for (const Picture& p : pictures) histogram.add(p.rgba.data(), std::size_t{p.width} * p.height);
        const std::vector<ColourCount> counts = histogram.colours();
        std::printf("colours %zu\n", counts.size());
        const PaletteFit fit(counts, 256);
        printPalette("fitted", fit.colours());
        std::printf("error %.17g\n", meanError(counts, fit.colours()));
        const Palette others = general();
        std::vector<KeptEntry> kept;
        for (unsigned n = 0; n < 256; ++n)
            if (n < 16 || n >= 240) kept.push_back({n, others[3 * n], others[3 * n + 1], others[3 * n + 2]});
        printPalette("kept", PaletteFit(counts, 224, kept).colours());
        mapEach("fitted", fit.colours(), pictures);
        mapEach("general", others, pictures);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "colour_probe: %s\n", e.what());
        return 1;
    }
}
