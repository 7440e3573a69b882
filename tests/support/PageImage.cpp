// page_image's visible functions: the readers of ImageRead.cpp over the page's back end, built into the same library.
#include "support/PageImage.h"

#define VISIBLE extern "C" __attribute__((visibility("default")))

VISIBLE void readPageImage(const char* path, unsigned channels, const std::uint8_t* colours, ImageRead* out) {
    *out = readImage(path, channels, colours);
}

VISIBLE void readPagePalette(const std::uint8_t* data, std::size_t size, PaletteRead* out) { *out = readPalette(data, size); }
