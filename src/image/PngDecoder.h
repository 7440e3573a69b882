#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// A PNG file in memory read as libpng 1.6 reads it for the native programs, with zlib's inflate fed as
// libpng feeds it: the page's reader. The constructor reads the chunks before the pixel data (png_read_info's
// rules on order, duplicates, lengths and CRCs); decode() inflates and unfilters the rows, then reads the
// chunks up to IEND (png_read_end's). What libpng only warns about is passed over the same way. Samples come
// out as stored, 8 bits each: 16-bit ones rounded as libpng's png_set_scale_16 does, grey of 1, 2 or 4 bits
// scaled up, indices kept; a grey or RGB file's tRNS key becomes an alpha sample (0 where the pixel matches).
// Errors raise FormatError with libpng's words, `endsEarly` for data cut short.
class PngDecoder {
public:
    PngDecoder(const std::uint8_t* data, std::size_t size, const char* endsEarly);
    ~PngDecoder();
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    std::uint32_t width() const { return w; }
    std::uint32_t height() const { return h; }
    // the stored colour type: 0 grey, 2 RGB, 3 colour-mapped, 4 grey and alpha, 6 RGBA
    int colourType() const { return type; }
    // The bytes of the filtered rows the header promises, before anything is allocated for them.
    std::uint64_t filteredBytes() const;
    // An alpha channel, or a tRNS chunk libpng kept.
    bool hasTransparency() const { return type == 4 || type == 6 || transparency; }
    // PLTE entries as RGBA (as many as the depth can index), tRNS giving their opacity (255 past its end and for
    // entries the file lacks)
    const std::uint8_t* entries() const { return palette; }
    int entryCount() const { return paletteSize; }

    void decode();
    // Samples per pixel in pixels(): 1 for an index, grey, grey and alpha, RGB or RGBA (a tRNS key adds alpha).
    unsigned channels() const { return samplesPerPixel; }
    const std::vector<std::uint8_t>& pixels() const { return samples; }

private:
    struct Chunk {
        std::size_t start = 0;  // where its length is
        std::uint32_t length = 0, name = 0;
    };
    Chunk readHeader();
    const std::uint8_t* body(const Chunk& chunk) const;
    bool crcHolds(const Chunk& chunk) const;
    bool skip(const Chunk& chunk);
    void readHeaderChunk(const Chunk& chunk);
    void readPalette(const Chunk& chunk);
    void readTransparency(const Chunk& chunk);
    void inflateInto(std::uint8_t* out, std::size_t count);
    void storeRow(const std::uint8_t* row, std::uint32_t y, std::uint32_t x0, std::uint32_t dx, std::uint32_t count);

    const std::uint8_t* file;
    std::size_t size, at = 8;
    const char* endsEarly;
    std::uint32_t w = 0, h = 0;
    int type = 0, depth = 0, interlace = 0;
    bool header = false, havePalette = false, transparency = false;
    unsigned keyed = 0;  // libpng's num_trans for a grey or RGB key (a PLTE after it cancels it)
    std::uint8_t key[6] = {};
    unsigned textLeft = 1000;  // libpng's chunk cache, which text and sPLT chunks count down
    int paletteSize = 0;
    std::uint8_t palette[4 * 256] = {};
    Chunk idat;  // the IDAT chunk being read
    std::uint32_t idatLeft = 0;
    z_stream zlib{};
    bool zlibOpen = false, streamStart = true, streamEnded = false;
    unsigned samplesPerPixel = 1;
    std::vector<std::uint8_t> samples;
};
