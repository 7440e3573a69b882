#include "image/PngImage.h"

#include <cstring>
#include <vector>

#include "fs/InputFile.h"
#include "iff/FormatError.h"
#include "image/PageBuild.h"
#include "image/PngDecoder.h"
#include "fs/Limits.h"

namespace {

// libpng's default weights for grey from RGB, as the native reader applies them.
std::uint8_t grey(const std::uint8_t* rgb) { return static_cast<std::uint8_t>((6968 * rgb[0] + 23434 * rgb[1] + 2366 * rgb[2] + 16384) >> 15); }

std::vector<std::uint8_t> wholeFile(const std::string& path) {
    const InputFile input(path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(input.size()));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), input.stream()) != bytes.size())
        throw FormatError("Read Error");
    return bytes;
}

// The checks the native reader makes on the header before it decodes, with its words.
void checkSize(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 24 || std::memcmp(bytes.data() + 12, "IHDR", 4) != 0) return;
    const auto read32 = [&](std::size_t at) {
        return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
    };
    const std::uint32_t w = read32(16), h = read32(20);
    if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return;
    const std::int64_t pixels = convertiblePixels(w, h);
    if (pixels < 0) throw FormatError("the image size " + std::to_string(w) + " x " + std::to_string(h) + " cannot be converted");
    if (static_cast<std::uint64_t>(pixels / 8 / 1032) > bytes.size())
        throw FormatError("the image size " + std::to_string(w) + " x " + std::to_string(h) + " is more than the file holds");
}

}  // namespace

PngImage::PngImage(const std::string& path, unsigned channels, const std::uint8_t* colours) {
    PngDecoder png = [&] {
        const std::vector<std::uint8_t> bytes = wholeFile(path);
        checkSize(bytes);
        return PngDecoder(bytes.data(), bytes.size(), "Read Error");
    }();
    w = png.width();
    h = png.height();
    if (convertiblePixels(w, h) < 0)
        throw FormatError("the image size " + std::to_string(w) + " x " + std::to_string(h) + " cannot be converted");
    alpha = png.hasTransparency();
    const int type = png.colourType();
    const bool mapped = type == 3, greyFile = type == 0 || type == 4;
    const std::size_t count = std::size_t{w} * h;
    const std::uint8_t* in = png.pixels().data();
    const unsigned stored = png.channels();
    if (mapped) {
        std::memcpy(entries, png.entries(), sizeof entries);
        indices = colours != nullptr;
        bool other[256] = {}, any = false;  // entries that do not show the colour of the same index
        for (unsigned n = 0; indices && n < 256; ++n)
            any |= other[n] = int(n) >= png.entryCount() || std::memcmp(&entries[4 * n], colours + 3 * n, 3) != 0;
        for (std::size_t p = 0; any && indices && p < count; ++p) indices = !other[in[p]];
        data.reset(new std::uint8_t[count * (indices ? 1 : channels)]);
        if (indices) {
            std::memcpy(data.get(), in, count);
            return;
        }
        for (std::size_t p = 0; p < count; ++p) {
            const std::uint8_t* entry = &entries[4 * in[p]];
            if (channels == 1) data[p] = grey(entry);
            else std::memcpy(&data[4 * p], entry, 4);
        }
        return;
    }
    data.reset(new std::uint8_t[count * channels]);
    if (channels == 4 && stored == 4 && !greyFile) {
        std::memcpy(data.get(), in, count * 4);
        return;
    }
    for (std::size_t p = 0; p < count; ++p, in += stored) {
        // grey as stored, its alpha left out; anything else as RGBA, grey copied into red, green and blue
        if (channels == 1 && greyFile) {
            data[p] = in[0];
            continue;
        }
        std::uint8_t rgba[4];
        const bool colour = !greyFile;
        rgba[0] = in[0];
        rgba[1] = colour ? in[1] : in[0];
        rgba[2] = colour ? in[2] : in[0];
        const unsigned colourSamples = colour ? 3 : 1;
        rgba[3] = stored > colourSamples ? in[colourSamples] : 255;
        if (channels == 1) data[p] = grey(rgba);
        else std::memcpy(&data[4 * p], rgba, 4);
    }
}

PngImage::~PngImage() = default;

std::string PngImage::library() {
    return "PNG reading: this project's PngDecoder, inflating with stb_image (Debian's libstb-dev)\n" + pageBuild();
}
