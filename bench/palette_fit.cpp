// Fits a palette to a set of pictures and writes its 768 bytes, as `matpal make` will:
// bench_palette_fit [--entries=N] [--keep=FIRST-LAST,... --from=PALETTE] OUT IMAGE.png...
// --keep takes those entries of PALETTE (768 bytes) unchanged; N defaults to the indices left free.

#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "colour/PaletteFit.h"

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_palette_fit: %s\n", message.c_str());
    std::exit(1);
}

void addPng(const char* path, ColourHistogram& histogram) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path)) fail(std::string(path) + ": " + png.message);
    png.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr)) fail(std::string(path) + ": " + png.message);
    histogram.add(rgba.data(), std::size_t{png.width} * png.height);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned entries = 0;
    std::string keep, from;
    int arg = 1;
    for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
        const std::string option = argv[arg];
        if (option.rfind("--entries=", 0) == 0) entries = unsigned(std::stoul(option.substr(10)));
        else if (option.rfind("--keep=", 0) == 0) keep = option.substr(7);
        else if (option.rfind("--from=", 0) == 0) from = option.substr(7);
        else fail("unknown option " + option);
    }
    if (argc - arg < 2 || keep.empty() != from.empty()) {
        std::fprintf(stderr, "usage: bench_palette_fit [--entries=N] [--keep=FIRST-LAST,... --from=PALETTE] OUT IMAGE.png...\n");
        return 2;
    }
    std::vector<KeptEntry> kept;
    if (!keep.empty()) {
        std::ifstream file(from, std::ios::binary);
        const std::vector<char> table{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (table.size() != 768) fail(from + ": not 768 bytes");
        for (std::size_t at = 0; at < keep.size();) {
            const std::size_t comma = std::min(keep.find(',', at), keep.size()), dash = keep.find('-', at);
            const unsigned first = unsigned(std::stoul(keep.substr(at))), last = dash < comma ? unsigned(std::stoul(keep.substr(dash + 1))) : first;
            for (unsigned n = first; n <= last && n < 256; ++n)
                kept.push_back({n, std::uint8_t(table[3 * n]), std::uint8_t(table[3 * n + 1]), std::uint8_t(table[3 * n + 2])});
            at = comma + 1;
        }
    }
    if (entries == 0) entries = 256 - unsigned(kept.size());
    ColourHistogram histogram;
    for (int n = arg + 1; n < argc; ++n) addPng(argv[n], histogram);
    const PaletteFit fit(histogram.colours(), entries, kept);
    std::ofstream out(argv[arg], std::ios::binary);
    out.write(reinterpret_cast<const char*>(fit.colours().data()), 768);
    if (!out) fail(std::string(argv[arg]) + ": cannot write");
    return 0;
}
