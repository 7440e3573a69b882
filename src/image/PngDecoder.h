#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A PNG file in memory decoded in the constructor by this project's own chunk layer over stb_image's
// inflate: the page's reader (the native programs read with libpng). Every chunk's size is checked
// against the bytes left and every critical chunk's CRC; the pixels' size is checked against what the
// compressed data could hold before anything is allocated. Samples come out as stored, 8 bits each:
// 16-bit ones rounded as libpng's png_set_scale_16 does, grey of 1, 2 or 4 bits scaled up, indices
// kept; a grey or RGB file's tRNS key becomes an alpha sample (0 where the pixel matches). Errors
// raise FormatError with the reason, `endsEarly` for data cut short (as libpng's reader would say it).
class PngDecoder {
public:
    PngDecoder(const std::uint8_t* data, std::size_t size, const char* endsEarly);

    std::uint32_t width() const { return w; }
    std::uint32_t height() const { return h; }
    // the stored colour type: 0 grey, 2 RGB, 3 colour-mapped, 4 grey and alpha, 6 RGBA
    int colourType() const { return type; }
    // Samples per pixel in pixels(): 1 for an index, grey, grey and alpha, RGB or RGBA (a tRNS key adds alpha).
    unsigned channels() const { return samplesPerPixel; }
    bool hasTransparency() const { return transparency; }
    // PLTE entries as RGBA, tRNS giving their opacity (255 past its end and for entries the file lacks)
    const std::uint8_t* entries() const { return palette; }
    int entryCount() const { return paletteSize; }
    const std::vector<std::uint8_t>& pixels() const { return samples; }

private:
    std::uint32_t w = 0, h = 0;
    int type = 0, depth = 0;
    unsigned samplesPerPixel = 1;
    bool transparency = false;
    int paletteSize = 0;
    std::uint8_t palette[4 * 256] = {};
    std::vector<std::uint8_t> samples;
};
