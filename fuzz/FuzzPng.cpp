// libFuzzer target: one input is a PNG file, read through both PngImage back ends (libpng's natively, the page's
// in page_image) as the programs ask for it: grey, RGBA, and indices under the file's own palette. Both must refuse
// it, or both give the same size, alpha, indices, samples and opacities; the two palette imports must agree too.
// The same bytes then go through the page's writers: Deflate must give them back through zlib, and PngEncoder
// a picture that libpng reads back sample for sample.

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Scratch.h"
#include "image/Deflate.h"
#include "image/PngEncoder.h"
#include "support/PageImage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void differ(const char* what, const std::string& native, const std::string& page) {
    std::fprintf(stderr, "the back ends differ on %s: native \"%s\", page \"%s\"\n", what, native.c_str(), page.c_str());
    std::abort();
}

void compare(const std::string& path, unsigned channels, const std::uint8_t* colours) {
    const ImageRead native = readImage(path.c_str(), channels, colours);
    ImageRead page;
    readPageImage(path.c_str(), channels, colours, &page);
    if (native.read != page.read) differ("whether the file is read", native.reason, page.reason);
    if (native.width != page.width || native.height != page.height) differ("the size", "", "");
    if (native.alpha != page.alpha || native.indexed != page.indexed) differ("alpha or indices", "", "");
    if (native.samples != page.samples) differ("the samples", "", "");
    if (native.opacity != page.opacity) differ("the opacities", "", "");
}

// The round trip of the page's writers, the input taken as samples: the first byte chooses the shape.
void roundTrip(const std::uint8_t* data, std::size_t size) {
    const Bytes packed = zlibCompress(data, size);
    Bytes back(size);
    uLongf length = back.size();
    if (uncompress(back.data(), &length, packed.data(), packed.size()) != Z_OK || length != size || back != Bytes(data, data + size))
        std::abort();
    if (size < 2) return;
    const unsigned channels[] = {1, 3, 4, 1}, chosen = channels[data[0] & 3], width = 1 + (data[0] >> 2);
    const bool mapped = (data[0] & 3) == 3;
    const std::size_t rows = (size - 1) / (std::size_t{width} * chosen);
    if (rows == 0) return;
    Bytes palette(768);
    for (std::size_t n = 0; n < palette.size(); ++n) palette[n] = static_cast<std::uint8_t>(n * 7 + data[0]);
    const std::uint8_t* samples = data + 1;
    const PngEncoder png(width, static_cast<std::uint32_t>(rows), chosen, samples, mapped ? palette.data() : nullptr, {false, false, (data[1] & 1) != 0});
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.bytes().data(), png.bytes().size())) std::abort();
    image.format = mapped ? PNG_FORMAT_RGB : chosen == 1 ? PNG_FORMAT_GRAY : chosen == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
    Bytes read(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, read.data(), 0, nullptr)) std::abort();
    const unsigned shown = mapped ? 3 : chosen;  // libpng gives a colour-mapped picture as RGB
    for (std::size_t p = 0; p < std::size_t{width} * rows; ++p)
        for (unsigned c = 0; c < shown; ++c)
            if (read[p * shown + c] != (mapped ? palette[3 * samples[p] + c] : samples[p * chosen + c])) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        fuzz::makeScratch("png");
        return (fuzz::scratch / "in.png").string();
    }();
    fuzz::write(path.c_str(), std::string_view(reinterpret_cast<const char*>(data), size));
    compare(path, 1, nullptr);
    compare(path, 4, nullptr);
    PaletteRead nativePalette = readPalette(data, size), pagePalette;
    readPagePalette(data, size, &pagePalette);
    if (nativePalette.read != pagePalette.read) differ("whether the palette is read", nativePalette.reason, pagePalette.reason);
    if (nativePalette.colours != pagePalette.colours) differ("the palette", "", "");
    if (nativePalette.read) {
        // the file's own palette, so that its indices are kept
        nativePalette.colours.resize(768);
        compare(path, 4, nativePalette.colours.data());
    }
    roundTrip(data, size);
    return 0;
}
