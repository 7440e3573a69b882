#include "image/PngEncoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "fs/WriteError.h"
#include "image/Deflate.h"


namespace {

struct CrcTable {
    std::uint32_t entries[256];
    CrcTable() {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
    }
};

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.insert(out.end(), {std::uint8_t(value >> 24), std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value)});
}

void chunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size) {
    put32(out, static_cast<std::uint32_t>(size));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    put32(out, pngCrc(out.data() + start, size + 4));
}

int paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Writes `row` filtered by `type` (0 none ... 4 Paeth) against `up` (zeros above the first row) into `out`;
// bpp bytes per pixel. One loop per type, so that each runs without a choice per byte.
void filterRow(int type, const std::uint8_t* row, const std::uint8_t* up, std::size_t size, unsigned bpp, std::uint8_t* out) {
    const std::size_t first = std::min<std::size_t>(bpp, size);
    switch (type) {
    case 0:
        std::memcpy(out, row, size);
        break;
    case 1:
        std::memcpy(out, row, first);
        for (std::size_t i = first; i < size; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
        break;
    case 2:
        for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(row[i] - up[i]);
        break;
    case 3:
        for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<std::uint8_t>(row[i] - up[i] / 2);
        for (std::size_t i = first; i < size; ++i) out[i] = static_cast<std::uint8_t>(row[i] - (row[i - bpp] + up[i]) / 2);
        break;
    default:
        // with nothing to the left, Paeth predicts from above
        for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<std::uint8_t>(row[i] - up[i]);
        for (std::size_t i = first; i < size; ++i)
            out[i] = static_cast<std::uint8_t>(row[i] - paethPredictor(row[i - bpp], up[i], up[i - bpp]));
        break;
    }
}

// libpng's measure of a filtered row: bytes taken as signed, their magnitudes summed.
std::uint64_t cost(const std::uint8_t* filtered, std::size_t size) {
    std::uint64_t sum = 0;
    // in 32 bits a block at a time (at most 128 a byte), which vector units add faster
    for (std::size_t start = 0; start < size; start += std::size_t{1} << 24) {
        const std::size_t end = std::min(size, start + (std::size_t{1} << 24));
        std::uint32_t part = 0;
        for (std::size_t i = start; i < end; ++i) part += std::min<std::uint32_t>(filtered[i], 256u - filtered[i]);
        sum += part;
    }
    return sum;
}

}  // namespace

std::uint32_t pngCrc(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    static const CrcTable table;
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table.entries[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

PngEncoder::PngEncoder(std::uint32_t width, std::uint32_t height, unsigned channels, const std::uint8_t* samples,
                       const std::uint8_t* palette, Options options) {
    const std::uint64_t stride = std::uint64_t{width} * channels, stored = (stride + 1) * height;
    // a chunk holds less than 2 GiB
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF || stored > 0x7FFFFFFF / 2)
        throw WriteError("cannot write an image of " + std::to_string(width) + " x " + std::to_string(height));
    std::unique_ptr<std::uint8_t[]> raw(new std::uint8_t[stored]);
    // the row above the first is zeros, as the filters take it
    std::unique_ptr<std::uint8_t[]> row(new std::uint8_t[stride]), above(new std::uint8_t[stride]()), trial(new std::uint8_t[stride]);
    const bool mapped = palette != nullptr;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint32_t source = options.bottomUp ? height - 1 - y : y;
        std::memcpy(row.get(), samples + stride * source, stride);
        if (options.negative)
            for (std::uint64_t i = 0; i < stride; ++i) row[i] = static_cast<std::uint8_t>(255 - row[i]);
        std::uint8_t* out = raw.get() + (stride + 1) * y;
        const std::uint8_t* up = above.get();
        if (mapped || options.paeth) {
            // libpng leaves colour-mapped rows unfiltered unless asked
            out[0] = options.paeth ? 4 : 0;
            filterRow(out[0], row.get(), up, stride, channels, out + 1);
        } else {
            std::uint64_t best = UINT64_MAX;
            for (int type = 0; type < 5; ++type) {
                filterRow(type, row.get(), up, stride, channels, trial.get());
                const std::uint64_t measure = cost(trial.get(), stride);
                if (measure < best) {
                    best = measure;
                    out[0] = static_cast<std::uint8_t>(type);
                    std::memcpy(out + 1, trial.get(), stride);
                }
            }
        }
        std::swap(row, above);
    }
    const std::vector<std::uint8_t> deflated = zlibCompress(raw.get(), stored);
    raw.reset();

    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    file.assign(signature, signature + 8);
    const std::uint8_t type = mapped ? 3 : channels == 1 ? 0 : channels == 3 ? 2 : 6;
    std::vector<std::uint8_t> header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {8, type, 0, 0, 0});
    chunk(file, "IHDR", header.data(), header.size());
    if (mapped) chunk(file, "PLTE", palette, 3 * 256);
    chunk(file, "IDAT", deflated.data(), deflated.size());
    chunk(file, "IEND", nullptr, 0);
}
