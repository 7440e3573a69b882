// The png2mat floor: for every mat/NAME.mat with mat/NAME.mat.png, the PNG decoded through libpng's
// simplified API and every pixel looked up exactly in the file's palette, and nothing else (no checks
// beyond staying inside the file, no output, buffers reused). Run in a working directory like png2mat.
// With --indexed, the PNGs are indexed: their indices, and the alpha images beside them, are decoded through
// libpng's regular API instead.

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ReadFile.h"

namespace {


// The CMAP content of the MAT file, or of the palette file its NAME chunk points to.
const std::uint8_t* palette(const Bytes& mat, Bytes& palettefile) {
    for (std::size_t at = 12; at + 8 <= mat.size();) {
        const std::string id(reinterpret_cast<const char*>(&mat[at]), 4);
        const std::size_t size = be32(&mat[at + 4]);
        if (id == "FORM") {
            at += 12;
            continue;
        }
        if (size > mat.size() - at - 8) return nullptr;
        if (id == "CMAP" && size >= 768) return &mat[at + 8];
        if (id == "NAME") {
            std::string name(reinterpret_cast<const char*>(&mat[at + 8]), size);
            name = name.substr(0, name.find('\0'));
            for (char& c : name) c = c == '\\' ? '/' : c;
            if (!slurp("pal/" + name + ".pal", palettefile) || palettefile.size() < 20 + 768) return nullptr;
            return palettefile.data() + 20;
        }
        at += 8 + size + size % 2;
    }
    return nullptr;
}

Bytes file, palettefile, rgba, indices;
std::vector<png_bytep> rows;
bool indexed = false;

bool decodeIndices(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool ok = !setjmp(png_jmpbuf(png));
    if (ok) {
        png_init_io(png, in);
        png_read_info(png, info);
        png_set_packing(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const std::size_t stride = png_get_rowbytes(png, info), height = png_get_image_height(png, info);
        indices.resize(stride * height);
        rows.resize(height);
        for (std::size_t y = 0; y < height; ++y) rows[y] = &indices[y * stride];
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return ok;
}

bool rebuild(const std::string& path) {
    if (!slurp(path, file)) return false;
    const std::uint8_t* colours = palette(file, palettefile);
    if (!colours) return false;
    // an indexed image holds no alpha, so the alpha image is read too, as png2mat must
    struct stat st;
    if (indexed) return decodeIndices(path + ".png") && (stat((path + "_alpha.png").c_str(), &st) != 0 || decodeIndices(path + "_alpha.png"));
    // exact lookup: open addressing over the 256 entries, first entry of a colour wins
    std::uint32_t keys[1024] = {};
    std::uint8_t values[1024];
    for (unsigned n = 0; n < 256; ++n) {
        const std::uint32_t key = (std::uint32_t(colours[3 * n]) << 16 | colours[3 * n + 1] << 8 | colours[3 * n + 2]) + 1;
        std::uint32_t slot = (key * 0x9E3779B1u) >> 22;
        while (keys[slot] && keys[slot] != key) slot = (slot + 1) & 1023;
        if (!keys[slot]) keys[slot] = key, values[slot] = std::uint8_t(n);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, (path + ".png").c_str())) return false;
    image.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return false;
    const std::size_t count = std::size_t(image.width) * image.height;
    indices.resize(count);
    for (std::size_t p = 0; p < count; ++p) {
        const std::uint8_t* px = &rgba[4 * p];
        const std::uint32_t key = (std::uint32_t(px[0]) << 16 | px[1] << 8 | px[2]) + 1;
        std::uint32_t slot = (key * 0x9E3779B1u) >> 22;
        while (keys[slot] && keys[slot] != key) slot = (slot + 1) & 1023;
        indices[p] = keys[slot] ? values[slot] : 0;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    indexed = argc > 1 && std::string(argv[1]) == "--indexed";
    DIR* dir = opendir("mat");
    if (!dir) return 2;
    bool failed = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st;
        if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".mat") == 0 &&
            stat(("mat/" + name + ".png").c_str(), &st) == 0)
            failed |= !rebuild("mat/" + name);
    }
    closedir(dir);
    return failed ? 1 : 0;
}
