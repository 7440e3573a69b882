#include "image/PngImage.h"

#include <cstring>
#include <vector>

#include "fs/InputFile.h"
#include "fs/Limits.h"
#include "iff/FormatError.h"
#include "image/BuiltBy.h"
#include "image/PngDecoder.h"
#include "image/PngSamples.h"

namespace {

std::vector<std::uint8_t> wholeFile(const std::string& path) {
    const InputFile input(path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(input.size()));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), input.stream()) != bytes.size())
        throw FormatError("Read Error");
    return bytes;
}

}  // namespace

PngImage::PngImage(const std::string& path, unsigned channels, const std::uint8_t* colours) {
    const std::vector<std::uint8_t> bytes = wholeFile(path);
    PngDecoder png(bytes.data(), bytes.size(), "Read Error");
    w = png.width();
    h = png.height();
    // the checks the native reader makes between the header and the pixels, with its words
    const std::string size = "the image size " + std::to_string(w) + " x " + std::to_string(h);
    if (convertiblePixels(w, h) < 0) throw FormatError(size + " cannot be converted");
    if (!deflateCanHold(png.filteredBytes(), png.pixelData())) throw FormatError(size + " is more than the file holds");
    png.decode();
    alpha = png.hasTransparency();
    const int type = png.colourType();
    const bool greyFile = type == 0 || type == 4;
    const std::size_t count = std::size_t{w} * h;
    const std::uint8_t* in = png.pixels().data();
    const unsigned stored = png.channels();
    if (type == 3) {
        std::memcpy(entries, png.entries(), sizeof entries);
        data = entrySamples(in, count, entries, png.entryCount(), colours, channels);
        indices = !data;
        if (indices) {
            data.reset(new std::uint8_t[count]);
            std::memcpy(data.get(), in, count);
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
        if (channels == 1) data[p] = greyOf(rgba);
        else std::memcpy(&data[4 * p], rgba, 4);
    }
}

PngImage::~PngImage() = default;

std::string PngImage::library() {
    return std::string("PNG reading: this project's PngDecoder, inflating with zlib ") + zlibVersion() + " (built in)\n" + builtBy();
}
