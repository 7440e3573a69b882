// How well a palette serves a set of pictures: bench_palette_measure [--map=OUT.png] PALETTE IMAGE.png...
// PALETTE: 3 bytes per entry, up to 256 entries. Every pixel takes its nearest entry by CIEDE2000, ties to the
// first (PerceptualSearch, which finds what a search of all entries finds); prints "PIXELS SUM", the pixels
// and the sum of their CIEDE2000 to that entry. --map writes the first image mapped through the palette.

#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "colour/Lab.h"
#include "colour/PerceptualSearch.h"

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_palette_measure: %s\n", message.c_str());
    std::exit(1);
}

struct Picture {
    png_image png{};
    std::vector<std::uint8_t> rgb;
};

Picture readPng(const char* path) {
    Picture picture;
    picture.png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&picture.png, path)) fail(std::string(path) + ": " + picture.png.message);
    picture.png.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(picture.png));
    if (!png_image_finish_read(&picture.png, nullptr, picture.rgb.data(), 0, nullptr)) fail(std::string(path) + ": " + picture.png.message);
    return picture;
}

}  // namespace

int main(int argc, char** argv) {
    int arg = 1;
    std::string map;
    if (arg < argc && std::strncmp(argv[arg], "--map=", 6) == 0) map = argv[arg++] + 6;
    if (argc - arg < 2) {
        std::fprintf(stderr, "usage: bench_palette_measure [--map=OUT.png] PALETTE IMAGE.png...\n");
        return 2;
    }
    std::ifstream file(argv[arg], std::ios::binary);
    const std::vector<char> table{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (table.empty() || table.size() % 3 || table.size() > 768) fail(std::string(argv[arg]) + ": not 1 to 256 entries of 3 bytes");
    // a shorter palette is padded with copies of its first entry, which never win a tie
    std::vector<std::uint8_t> colours(768);
    for (std::size_t i = 0; i < 768; ++i) colours[i] = std::uint8_t(i < table.size() ? table[i] : table[i % 3]);
    const colour::PerceptualSearch search(colours.data());
    // per colour met: the nearest entry and its difference
    std::unordered_map<std::uint32_t, std::pair<std::size_t, double>> nearest;
    std::size_t pixels = 0;
    double sum = 0;
    for (int n = arg + 1; n < argc; ++n) {
        Picture picture = readPng(argv[n]);
        for (std::size_t i = 0; i < picture.rgb.size(); i += 3) {
            std::uint8_t* p = &picture.rgb[i];
            auto [at, added] = nearest.try_emplace(std::uint32_t(p[0]) << 16 | p[1] << 8 | p[2], 0, 0.0);
            if (added) {
                const colour::Lab lab = colour::labFromSrgb(p[0], p[1], p[2]);
                at->second.first = search.nearest(lab);
                at->second.second = colour::ciede2000(lab, search.entry(unsigned(at->second.first)));
            }
            sum += at->second.second;
            if (n == arg + 1 && !map.empty()) std::memcpy(p, &colours[3 * at->second.first], 3);
        }
        pixels += picture.rgb.size() / 3;
        if (n == arg + 1 && !map.empty() && !png_image_write_to_file(&picture.png, map.c_str(), 0, picture.rgb.data(), 0, nullptr))
            fail(map + ": " + picture.png.message);
    }
    std::printf("%zu %.6f\n", pixels, sum);
    return 0;
}
