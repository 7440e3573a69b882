#include "palette/PalettePng.h"

#include <cstring>

#include "fs/TerminalText.h"
#include "iff/FormatError.h"
#include "image/PngDecoder.h"
#include "image/PngEncoder.h"

namespace palette {

Bytes swatchPng(const colour::Palette& entries) {
    std::vector<std::uint8_t> indices(swatchSide * swatchSide);
    for (std::uint32_t y = 0; y < swatchSide; ++y)
        for (std::uint32_t x = 0; x < swatchSide; ++x) indices[y * swatchSide + x] = swatchIndex(x, y);
    const PngEncoder png(swatchSide, swatchSide, 1, indices.data(), entries.data(), {});
    return Bytes(png.bytes().begin(), png.bytes().end());
}

Imported pngPalette(const std::uint8_t* data, std::size_t size) {
    const auto damaged = [](const FormatError& error) {
        const std::string message = terminalText(error.what());
        return FormatError(message.rfind("cut short", 0) == 0 ? message : "a damaged PNG: " + message);
    };
    // what the decoder refuses is reported as a damaged PNG, but a file cut short
    const auto checked = [&](auto step) {
        try {
            return step();
        } catch (const FormatError& error) {
            throw damaged(error);
        }
    };
    PngDecoder png = checked([&] { return PngDecoder(data, size, "cut short: the PNG ends early"); });
    if (png.colourType() != 3 || png.entryCount() < 1) throw FormatError("a PNG with no palette");
    // the pixels are decoded too, so that a damaged or cut file is refused
    checked([&] { png.decode(); });
    Imported result{Format::png, {}};
    for (int n = 0; n < png.entryCount(); ++n) result.colours.insert(result.colours.end(), png.entries() + 4 * n, png.entries() + 4 * n + 3);
    return result;
}

}  // namespace palette
