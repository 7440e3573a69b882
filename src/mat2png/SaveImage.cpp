#include "mat2png/SaveImage.h"

#include <IL/il.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <png.h>
#include <zlib.h>
#include <unistd.h>

#include "fs/TempFile.h"
#include "fs/WriteAll.h"
#include "fs/WriteError.h"
#include "image/PngMessage.h"

namespace {

// DevIL ignores write errors, so the callbacks record them here.
struct Output {
    const char* name;
    int fd;
    bool opened = false;
    bool failed = false;
    int error = 0;
    std::size_t used = 0;
    off_t flushed = 0;
    unsigned char buffer[1 << 16];
};

// DevIL's write callbacks take no context of ours: the one image being saved is the process's
Output* current = nullptr;

void flush(Output& out) {
    if (!out.failed && out.used) {
        out.error = writeAll(out.fd, out.buffer, out.used);
        out.failed = out.error != 0;
        if (!out.failed) out.flushed += static_cast<off_t>(out.used);
    }
    out.used = 0;
}

void append(Output& out, const unsigned char* data, std::size_t size) {
    while (size > 0 && !out.failed) {
        if (out.used == sizeof out.buffer) flush(out);
        const std::size_t step = std::min(size, sizeof out.buffer - out.used);
        std::memcpy(out.buffer + out.used, data, step);
        out.used += step;
        data += step;
        size -= step;
    }
}

ILHANDLE ILAPIENTRY openOutput(ILconst_string name) {
    // DevIL hands over the name given to ilSaveImage unchanged
    if (!current || current->opened || std::strcmp(name, current->name) != 0) return nullptr;
    current->opened = true;
    return current;
}

void ILAPIENTRY closeOutput(ILHANDLE handle) { flush(*static_cast<Output*>(handle)); }

ILint ILAPIENTRY putOutput(ILubyte byte, ILHANDLE handle) {
    append(*static_cast<Output*>(handle), &byte, 1);
    return byte;
}

ILint ILAPIENTRY writeOutput(const void* data, ILuint size, ILuint count, ILHANDLE handle) {
    Output& out = *static_cast<Output*>(handle);
    append(out, static_cast<const unsigned char*>(data), std::size_t{size} * count);
    return out.failed ? 0 : static_cast<ILint>(count);
}

ILint ILAPIENTRY seekOutput(ILHANDLE handle, ILint offset, ILint origin) {
    Output& out = *static_cast<Output*>(handle);
    flush(out);
    const int whence = origin == IL_SEEK_SET ? SEEK_SET : origin == IL_SEEK_CUR ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(out.fd, offset, whence);
    if (at < 0) {
        out.failed = true;
        out.error = errno;
        return -1;
    }
    out.flushed = at;
    return 0;
}

ILint ILAPIENTRY tellOutput(ILHANDLE handle) {
    const Output& out = *static_cast<Output*>(handle);
    return static_cast<ILint>(out.flushed + static_cast<off_t>(out.used));
}

void PNGCBAPI writePng(png_structp png, png_bytep data, std::size_t size) {
    append(*static_cast<Output*>(png_get_io_ptr(png)), data, size);
}

void PNGCBAPI flushPng(png_structp) {}

// Everything libpng may leave by longjmp, kept apart from objects with destructors.
bool encodeSamples(png_structp png, png_infop info, std::int32_t width, std::int32_t height, const std::uint8_t* indices,
                   const std::uint8_t* palette, bool filter, bool negative) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette) png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(palette), 256);
    if (filter) {
        // filtered smooth samples are mostly runs of small values: run-length matching finds them at a fraction of the time
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
        png_set_compression_strategy(png, Z_RLE);
    }
    png_write_info(png, info);
    // libpng inverts each row in its own copy of it: no inverted plane of ours
    if (negative) png_set_invert_mono(png);
    for (std::int32_t y = height; y-- > 0;) png_write_row(png, indices + std::size_t(width) * std::size_t(y));
    png_write_end(png, info);
    return true;
}

}  // namespace

void saveSamples(const std::string& name, std::int32_t width, std::int32_t height, const std::uint8_t* indices,
                 const std::uint8_t* palette, const timespec& modified, const char* program, bool negative) {
    if (width <= 0 || height <= 0)
        throw WriteError("cannot write an image of " + std::to_string(width) + " x " + std::to_string(height));
    TempFile file(name, "png", program);
    auto out = std::make_unique_for_overwrite<Output>();
    out->fd = file.fd();
    PngMessage error;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, PngMessage::keep, PngMessage::drop);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool encoded = info && (png_set_write_fn(png, out.get(), writePng, flushPng),
                                  encodeSamples(png, info, width, height, indices, palette,
                                                filterRows(width, height, indices), negative));
    png_destroy_write_struct(&png, &info);
    flush(*out);
    if (out->failed) file.fail(out->error);
    if (!encoded) throw WriteError("cannot encode " + name + ": " + error.text);
    file.commit(&modified);
}

void saveImage(const std::string& name, const timespec& modified, const char* program) {
    // the temporary name must end in ".png": DevIL picks the format from it
    TempFile file(name, "png", program);
    // the buffer is written before it is read; zeroing 64 KiB per image would cost more than a small image's encoding
    auto out = std::make_unique_for_overwrite<Output>();
    out->name = file.path().c_str();
    out->fd = file.fd();
    current = out.get();
    ilSetWrite(openOutput, closeOutput, putOutput, seekOutput, tellOutput, writeOutput);
    const bool saved = ilSaveImage(file.path().c_str()) == IL_TRUE;
    ilResetWrite();
    current = nullptr;
    flush(*out);
    if (out->failed) file.fail(out->error);
    if (!saved || !out->opened) throw WriteError("the image library could not save " + name);
    file.commit(&modified);
}
