#include "png2mat/ColourMapping.h"

#include <cstdio>
#include <cstring>

#include "colour/Dither.h"
#include "driver/Console.h"
#include "iff/FormatError.h"
#include "png2mat/ColourMap.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hexColour(std::uint32_t rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", rgb);
    return text;
}

std::string pixelsText(std::int64_t count) { return std::to_string(count) + (count == 1 ? " pixel" : " pixels"); }

// The rows of `indices` in the other order: the image's top row first becomes the stored order.
Bytes turned(const Bytes& indices, std::uint32_t width, std::uint32_t height) {
    Bytes stored(indices.size());
    for (std::uint32_t y = 0; y < height; ++y)
        std::memcpy(stored.data() + std::size_t{height - 1 - y} * width, indices.data() + std::size_t{y} * width, width);
    return stored;
}

}  // namespace

Bytes mapColours(const PngImage& image, const std::uint8_t* colours, const std::uint8_t* current,
                 const std::optional<Bytes>& alpha, const std::string& imagename, const MappingRules& rules, const Console& console) {
    const std::uint32_t width = image.width(), height = image.height();
    // indices painted in an editor's indexed mode are the ones meant, even where the palette repeats a colour
    if (image.indexed()) return turned(Bytes(image.samples(), image.samples() + std::size_t{width} * height), width, height);
    // in the image's order, top row first, as dithering runs; `current` and `alpha` are in stored order
    Bytes indices(std::size_t{width} * height), open(rules.dither ? indices.size() : 0);
    ColourMap map(colours, !rules.rgb);
    std::int64_t off = 0;
    std::uint32_t firstColour = 0, firstX = 0, firstY = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::size_t at = std::size_t{y} * width, stored = std::size_t{height - 1 - y} * width;
        const std::uint8_t* in = image.samples() + at * 4;
        for (std::uint32_t x = 0; x < width; ++x, in += 4) {
            // a pixel still showing its stored index's colour keeps that index, even where the palette repeats the colour
            if (current && std::memcmp(colours + 3 * current[stored + x], in, 3) == 0) {
                indices[at + x] = current[stored + x];
                continue;
            }
            const std::uint32_t rgb = std::uint32_t{in[0]} << 16 | in[1] << 8 | in[2];
            // a transparent pixel takes the nearest colour and no error; a dithered one needs no nearest colour
            const bool spread = rules.dither && !(alpha && (*alpha)[stored + x] == 255);
            const unsigned value = spread ? map.find(rgb) : map.lookup(rgb);
            indices[at + x] = static_cast<std::uint8_t>(value);
            if (!(value & ColourMap::offPalette)) continue;
            if (spread) open[at + x] = 1;
            // the first in stored order is reported: the bottom row's first
            if (off++ == 0 || y > firstY || (y == firstY && x < firstX)) {
                firstColour = rgb;
                firstX = x;
                firstY = y;
            }
        }
    }
    if (off && rules.exact)
        throw FormatError(pixelsText(off) + " not in the palette, the first " + hexColour(firstColour) + " at x " +
                          std::to_string(firstX) + ", y " + std::to_string(firstY) + " of " + imagename);
    if (off) console.printDiagnostic(imagename, pixelsText(off) + " not in the palette, " + (rules.dither ? "dithered" : "mapped to the nearest colour"));
    if (rules.dither && off) colour::dither(image.samples(), width, height, colours, open.data(), indices.data(), !rules.untiled);
    return turned(indices, width, height);
}
