#include "palette/PalettePng.h"

#include <png.h>

#include <cstring>
#include <new>

#include "fs/Limits.h"
#include "fs/TerminalText.h"
#include "iff/FormatError.h"
#include "image/PngMessage.h"
#include "image/PngSamples.h"
#include "fs/WriteError.h"

namespace palette {

namespace {

// a file in memory for libpng
struct Stream {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0, at = 0;
    Bytes* out = nullptr;
};

void PNGCBAPI readBytes(png_structp png, png_bytep into, std::size_t count) {
    Stream& stream = *static_cast<Stream*>(png_get_io_ptr(png));
    if (count > stream.size - stream.at) png_error(png, "cut short: the PNG ends early");
    std::memcpy(into, stream.data + stream.at, count);
    stream.at += count;
}

void PNGCBAPI writeBytes(png_structp png, png_bytep data, std::size_t count) {
    Stream& stream = *static_cast<Stream*>(png_get_io_ptr(png));
    // an exception must not unwind through libpng's C frames
    try {
        stream.out->insert(stream.out->end(), data, data + count);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void PNGCBAPI flushBytes(png_structp) {}

// Everything libpng may leave by longjmp, kept apart from objects with destructors.
bool encode(png_structp png, png_infop info, const colour::Palette& entries, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, swatchSide, swatchSide, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(entries.data()), 256);
    png_write_info(png, info);
    for (png_uint_32 y = 0; y < swatchSide; ++y) {
        for (png_uint_32 x = 0; x < swatchSide; ++x) row[x] = swatchIndex(x, y);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

// 0 when the file decoded to its end with a palette, 1 on libpng's error, 2 for a file that is not colour-mapped,
// 3 for pixels that the file's bytes could never hold.
int decode(png_structp png, png_infop info, std::size_t size, Bytes& row, int& entryCount, png_colorp& entries) {
    if (setjmp(png_jmpbuf(png))) return 1;
    png_set_user_limits(png, png_uint_32{maxSide}, png_uint_32{maxSide});
    png_read_info(png, info);
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE) return 2;
    if (!png_get_PLTE(png, info, &entries, &entryCount) || entryCount < 1) return 2;
    // the pixels are read too, so that a damaged or cut file is refused, one row at a time
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    // a forged size must not make us allocate a row the file cannot fill
    const unsigned storedBits = png_get_bit_depth(png, info) * png_get_channels(png, info);
    if (!deflateCanHold(filteredSize(png_get_image_width(png, info), height, storedBits, passes > 1), size)) return 3;
    row.resize(png_get_rowbytes(png, info));
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, row.data(), nullptr);
    png_read_end(png, nullptr);
    return 0;
}

}  // namespace

Bytes swatchPng(const colour::Palette& entries) {
    Bytes out;
    Stream stream;
    stream.out = &out;
    PngMessage error;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, PngMessage::keep, PngMessage::drop);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    png_byte row[swatchSide];
    const bool encoded = info && (png_set_write_fn(png, &stream, writeBytes, flushBytes), encode(png, info, entries, row));
    png_destroy_write_struct(&png, &info);
    if (!encoded) throw WriteError(std::string("cannot encode the palette as PNG: ") + error.text);
    return out;
}

Imported pngPalette(const std::uint8_t* data, std::size_t size) {
    Stream stream;
    stream.data = data;
    stream.size = size;
    PngMessage error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, PngMessage::keep, PngMessage::drop);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    Bytes row;
    int entryCount = 0;
    png_colorp entries = nullptr;
    int outcome = 1;
    if (info) {
        png_set_read_fn(png, &stream, readBytes);
        outcome = decode(png, info, size, row, entryCount, entries);
    }
    Imported result{Format::png, {}};
    if (outcome == 0)
        for (int n = 0; n < entryCount && n < paletteEntries; ++n) result.colours.insert(result.colours.end(), {entries[n].red, entries[n].green, entries[n].blue});
    png_destroy_read_struct(&png, &info, nullptr);
    if (outcome == 2) throw FormatError("a PNG with no palette");
    if (outcome == 3) throw FormatError("cut short: the image size is more than the PNG holds");
    if (outcome == 1) {
        const std::string message = terminalText(error.text);
        throw FormatError(message.rfind("cut short", 0) == 0 ? message : "a damaged PNG: " + message);
    }
    return result;
}

}  // namespace palette
