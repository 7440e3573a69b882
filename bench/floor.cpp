// The encode floor: the conversion done straight through libpng with its default settings and
// nothing else (no checks beyond staying inside the file, no messages, no temporary files, one
// read per file, no copies, buffers reused, freed memory kept).
// Run in a working directory like mat2png; writes the same images with the same orientation.
// bench_floor converts every .mat file in mat/; bench_floor NAME... converts only mat/NAME for
// each NAME, so that several floors can share out one directory. With --times first, it also
// prints each file's conversion time, "SECONDS NAME" a line, for sharing out the work evenly.
// With --indexed (after --times, if any), the colour image is the stored indices under the
// 256-entry palette, colour type 3, with the row filter and compression mat2png --indexed chooses
// (Paeth rows compressed as runs where the palette is ordered, else libpng's defaults), and the
// alpha image is chosen for in the same way (Paeth and runs where its grey levels are smooth).

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <png.h>
#include <zlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ReadFile.h"
#include "mat2png/SaveImage.h"

namespace {

std::int32_t le32(const std::uint8_t* p) { return std::int32_t(p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24); }

// Flat walk over FORM BITM > FORM FRAM > chunks, entering every FORM.
struct Chunks {
    const Bytes& data;
    std::size_t at = 0;
    bool next(std::string& id, const std::uint8_t*& content, std::size_t& size) {
        while (at + 8 <= data.size()) {
            id.assign(reinterpret_cast<const char*>(&data[at]), 4);
            size = be32(&data[at + 4]);
            if (id == "FORM") {
                at += 12;
                continue;
            }
            content = &data[at + 8];
            if (size > data.size() - at - 8) return false;
            at += 8 + size + size % 2;
            return true;
        }
        return false;
    }
};

// Rows are handed over last stored row first, as mat2png's images come out. With a palette,
// `pixels` are one index each. With `choose`, the rows are filtered as mat2png --indexed chooses.
bool writePng(const std::string& name, int width, int height, int channels, const std::uint8_t* pixels,
              const std::uint8_t* palette = nullptr, bool choose = false) {
    FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    const int type = palette ? PNG_COLOR_TYPE_PALETTE
                     : channels == 1 ? PNG_COLOR_TYPE_GRAY
                     : channels == 3 ? PNG_COLOR_TYPE_RGB
                                     : PNG_COLOR_TYPE_RGBA;
    png_set_IHDR(png, info, width, height, 8, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (palette) png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(palette), 256);
    if (choose && filterRows(width, height, pixels)) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
        png_set_compression_strategy(png, Z_RLE);
    }
    png_write_info(png, info);
    const std::size_t stride = std::size_t(width) * channels;
    for (int y = height - 1; y >= 0; --y) png_write_row(png, pixels + stride * y);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

// Buffers kept from file to file, as a tuned converter would.
Bytes file, palettefile, colour, mask;
bool indexed = false;

bool writeMask(const std::string& path, int width, int height, const std::uint8_t* alpha, std::size_t count) {
    mask.resize(count);
    for (std::size_t p = 0; p < count; ++p) mask[p] = std::uint8_t(255 - alpha[p]);
    // mat2png --indexed writes its alpha images with the indexed images' writer
    return writePng(path + "_alpha.png", width, height, 1, mask.data(), nullptr, indexed);
}

bool convert(const std::string& path) {
    if (!slurp(path, file)) return false;
    Chunks chunks{file};
    std::string id;
    const std::uint8_t* content = nullptr;
    std::size_t size = 0;
    int width = 0, height = 0;
    const std::uint8_t *palette = nullptr, *pixels = nullptr, *alpha = nullptr;
    std::size_t pixelsSize = 0, alphaSize = 0;
    while (chunks.next(id, content, size)) {
        if (id == "INFO" && size >= 8) {
            width = le32(content);
            height = le32(content + 4);
        } else if (id == "CMAP" && size >= 768) {
            palette = content;
        } else if (id == "NAME") {
            std::string name(reinterpret_cast<const char*>(content), size);
            name = name.substr(0, name.find('\0'));
            for (char& c : name) c = c == '\\' ? '/' : c;
            if (!slurp("pal/" + name + ".pal", palettefile) || palettefile.size() < 20 + 768) return false;
            palette = palettefile.data() + 20;
        } else if (id == "PXLS") {
            pixels = content;
            pixelsSize = size;
        } else if (id == "ALPH") {
            alpha = content;
            alphaSize = size;
        }
    }
    const std::size_t count = std::size_t(width) * height;
    if (width <= 0 || height <= 0 || !palette || pixelsSize != count) return false;
    if (alphaSize != count) alpha = nullptr;
    if (indexed) {
        if (alpha && !writeMask(path, width, height, alpha, count)) return false;
        return writePng(path + ".png", width, height, 1, pixels, palette, true);
    }
    const int channels = alpha ? 4 : 3;
    colour.resize(count * channels);
    std::uint8_t* out = colour.data();
    for (std::size_t p = 0; p < count; ++p) {
        const std::uint8_t* entry = palette + 3 * pixels[p];
        *out++ = entry[0];
        *out++ = entry[1];
        *out++ = entry[2];
        if (alpha) *out++ = std::uint8_t(255 - alpha[p]);
    }
    if (alpha && !writeMask(path, width, height, alpha, count)) return false;
    return writePng(path + ".png", width, height, channels, colour.data());
}

bool times = false;

bool convertTimed(const std::string& name) {
    if (!times) return convert("mat/" + name);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = convert("mat/" + name);
    std::printf("%.6f %s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), name.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    int first = 1;
    if (argc > first && std::string(argv[first]) == "--times") times = ++first;
    if (argc > first && std::string(argv[first]) == "--indexed") indexed = ++first;
    bool failed = false;
    if (argc > first) {
        for (int i = first; i < argc; ++i) failed |= !convertTimed(argv[i]);
        return failed ? 1 : 0;
    }
    DIR* dir = opendir("mat");
    if (!dir) return 2;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".mat") == 0)
            failed |= !convertTimed(name);
    }
    closedir(dir);
    return failed ? 1 : 0;
}
