// Compiled into page_image over the page's readers, and into each caller over its own.
#include "fs/Error.h"
#include "image/PngImage.h"
#include "palette/PalettePng.h"
#include "support/PageImage.h"

ImageRead readImage(const char* path, unsigned channels, const std::uint8_t* colours) {
    ImageRead out;
    try {
        const PngImage image(path, channels, colours);
        out.read = true;
        out.width = image.width();
        out.height = image.height();
        out.alpha = image.hasAlpha();
        out.indexed = image.indexed();
        const std::size_t count = std::size_t{image.width()} * image.height() * (image.indexed() ? 1 : channels);
        out.samples.assign(image.samples(), image.samples() + count);
        for (unsigned n = 0; n < 256; ++n) out.opacity.push_back(image.opacity(static_cast<std::uint8_t>(n)));
    } catch (const Error& error) {
        out.reason = error.what();
    }
    return out;
}

PaletteRead readPalette(const std::uint8_t* data, std::size_t size) {
    PaletteRead out;
    try {
        out.colours = palette::pngPalette(data, size).colours;
        out.read = true;
    } catch (const Error& error) {
        out.reason = error.what();
    }
    return out;
}
