#include "image/PngDecoder.h"

#include <climits>
#include <cstring>
#include <string>

#include "iff/FormatError.h"
#include "image/Deflate.h"
#include "image/PngEncoder.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_SIMD
#define STBI_ASSERT(x) ((void)0)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

std::uint32_t read32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Adam7: the first column and row of each pass and the steps between them; pass 0 stands for no interlace.
struct Pass {
    std::uint32_t x0, y0, dx, dy;
};
constexpr Pass adam7[8] = {{0, 0, 1, 1}, {0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

std::uint32_t passSize(std::uint32_t size, std::uint32_t start, std::uint32_t step) { return size > start ? (size - start + step - 1) / step : 0; }

int paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// libpng's png_set_scale_16: the nearest 8-bit value, exactly as it rounds.
std::uint8_t scale16(unsigned high, unsigned low) {
    const std::int32_t value = static_cast<std::int32_t>(high);
    return static_cast<std::uint8_t>(value + (((static_cast<std::int32_t>(low) - value + 128) * 65535) >> 24));
}

}  // namespace

PngDecoder::PngDecoder(const std::uint8_t* data, std::size_t size, const char* endsEarly) {
    if (size < 8 || std::memcmp(data, signature, 8) != 0) throw FormatError("Not a PNG file");
    std::size_t at = 8;
    bool header = false, ended = false;
    int interlace = 0;
    std::vector<std::uint8_t> compressed;
    std::uint8_t key[6] = {};
    bool keyed = false, damagedData = false;
    for (unsigned n = 0; n < 256; ++n) palette[4 * n + 3] = 255;
    while (!ended) {
        if (size - at < 12) throw FormatError(endsEarly);
        const std::uint32_t length = read32(data + at);
        const std::uint8_t* name = data + at + 4;
        if (length > 0x7FFFFFFF) throw FormatError("PNG unsigned integer out of range");
        if (length > size - at - 12) throw FormatError(endsEarly);
        const std::uint8_t* body = name + 4;
        const std::string chunk(reinterpret_cast<const char*>(name), 4);
        const bool critical = !(name[0] & 0x20);
        for (const std::uint8_t c : chunk)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) throw FormatError("invalid chunk type");
        at += 12 + std::size_t{length};
        if (pngCrc(name, std::size_t{length} + 4) != read32(body + length)) {
            // as libpng: a damaged ancillary chunk is dropped, a damaged critical one ends the reading; libpng
            // inflates IDAT's bytes before it reaches their CRC, so zlib's complaint about them comes first
            if (chunk == "IDAT") damagedData = true;
            else if (critical) throw FormatError(chunk + ": CRC error");
            else continue;
        }
        if (!header && chunk != "IHDR") throw FormatError("Missing IHDR before " + chunk);
        if (chunk == "IHDR") {
            if (header || length != 13) throw FormatError("IHDR: invalid");
            w = read32(body);
            h = read32(body + 4);
            depth = body[8];
            type = body[9];
            interlace = body[12];
            if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) throw FormatError("Invalid image size in IHDR");
            const bool depthFits = type == 0 ? (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)
                                   : type == 3 ? (depth == 1 || depth == 2 || depth == 4 || depth == 8)
                                   : (type == 2 || type == 4 || type == 6) && (depth == 8 || depth == 16);
            if (!depthFits) throw FormatError("Invalid bit depth or color type in IHDR");
            if (body[10] != 0 || body[11] != 0 || interlace > 1) throw FormatError("Invalid IHDR data");
            header = true;
        } else if (chunk == "PLTE") {
            if (length % 3 != 0 || length == 0 || length > 768) throw FormatError("PLTE: invalid");
            paletteSize = static_cast<int>(length / 3);
            for (int n = 0; n < paletteSize; ++n) std::memcpy(&palette[4 * n], body + 3 * n, 3);
        } else if (chunk == "tRNS") {
            if (type == 3) {
                for (std::uint32_t n = 0; n < length && n < 256; ++n) palette[4 * n + 3] = body[n];
                transparency = length > 0;
            } else if ((type == 0 && length == 2) || (type == 2 && length == 6)) {
                std::memcpy(key, body, length);
                keyed = transparency = true;
            }
        } else if (chunk == "IDAT") {
            compressed.insert(compressed.end(), body, body + length);
        } else if (chunk == "IEND") {
            ended = true;
        } else if (critical) {
            throw FormatError(chunk + ": unknown critical chunk");
        }
    }
    if (type == 3 && paletteSize == 0) throw FormatError("Missing PLTE before IDAT");
    if (compressed.empty()) throw FormatError("Not enough image data");
    if (type == 4 || type == 6) transparency = true;

    const unsigned channelsStored = type == 0 || type == 3 ? 1 : type == 2 ? 3 : type == 4 ? 2 : 4;
    const unsigned bits = channelsStored * static_cast<unsigned>(depth), bpp = (bits + 7) / 8;
    std::uint64_t expected = 0;
    for (int pass = interlace ? 1 : 0; pass < (interlace ? 8 : 1); ++pass) {
        const std::uint64_t pw = passSize(w, adam7[pass].x0, adam7[pass].dx), ph = passSize(h, adam7[pass].y0, adam7[pass].dy);
        if (pw && ph) expected += ph * ((pw * bits + 7) / 8 + 1);
    }
    // deflate packs at most 1032 bytes into one: a forged size must not make us reserve what the data could never fill
    if (expected / 1032 > compressed.size()) throw FormatError("cut short: the image size is more than the PNG holds");
    if (expected > INT_MAX) throw FormatError("the image is too large to be read here");
    samplesPerPixel = channelsStored + (keyed ? 1 : 0);
    const std::uint64_t outputSize = std::uint64_t{w} * h * samplesPerPixel;
    if (outputSize > INT_MAX) throw FormatError("the image is too large to be read here");

    std::vector<std::uint8_t> inflated(static_cast<std::size_t>(expected));
    const int got = stbi_zlib_decode_buffer(reinterpret_cast<char*>(inflated.data()), static_cast<int>(expected),
                                            reinterpret_cast<const char*>(compressed.data()), static_cast<int>(compressed.size()));
    if (got < 0) throw FormatError(std::string("IDAT: ") + (stbi_failure_reason() ? stbi_failure_reason() : "damaged data"));
    if (static_cast<std::uint64_t>(got) < expected) throw FormatError("Not enough image data");
    // stb does not check the stream's checksum; zlib does
    if (compressed.size() >= 4 && adler32(inflated.data(), inflated.size()) != read32(compressed.data() + compressed.size() - 4))
        throw FormatError("IDAT: incorrect data check");
    if (damagedData) throw FormatError("IDAT: CRC error");
    compressed.clear();
    compressed.shrink_to_fit();

    samples.resize(static_cast<std::size_t>(outputSize));
    std::uint8_t* stored = inflated.data();
    for (int pass = interlace ? 1 : 0; pass < (interlace ? 8 : 1); ++pass) {
        const Pass& p = adam7[pass];
        const std::uint32_t pw = passSize(w, p.x0, p.dx), ph = passSize(h, p.y0, p.dy);
        if (!pw || !ph) continue;
        const std::size_t stride = (std::size_t{pw} * bits + 7) / 8;
        const std::uint8_t* up = nullptr;
        for (std::uint32_t y = 0; y < ph; ++y, stored += stride + 1) {
            const int filter = stored[0];
            std::uint8_t* row = stored + 1;
            if (filter > 4) throw FormatError("bad adaptive filter value");
            for (std::size_t i = 0; i < stride; ++i) {
                const int a = i >= bpp ? row[i - bpp] : 0, b = up ? up[i] : 0, c = up && i >= bpp ? up[i - bpp] : 0;
                const int predicted = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : paeth(a, b, c);
                row[i] = static_cast<std::uint8_t>(row[i] + predicted);
            }
            up = row;
            std::uint8_t* out = samples.data() + (std::size_t{p.y0 + y * p.dy} * w + p.x0) * samplesPerPixel;
            const std::size_t step = std::size_t{p.dx} * samplesPerPixel;
            for (std::uint32_t x = 0; x < pw; ++x, out += step) {
                if (depth < 8) {
                    const unsigned shift = 8 - depth - (x * depth) % 8;
                    const unsigned value = (row[x * depth / 8] >> shift) & ((1u << depth) - 1);
                    // grey of few bits scaled up as libpng expands it; indices kept
                    out[0] = static_cast<std::uint8_t>(type == 3 ? value : value * (255 / ((1u << depth) - 1)));
                    if (keyed) out[1] = value == ((unsigned{key[0]} << 8 | key[1]) & ((1u << depth) - 1)) ? 0 : 255;
                } else if (depth == 8) {
                    const std::uint8_t* in = row + std::size_t{x} * channelsStored;
                    std::memcpy(out, in, channelsStored);
                    if (keyed) {
                        bool match = true;
                        for (unsigned c = 0; c < channelsStored; ++c) match = match && key[2 * c + 1] == in[c];  // libpng compares the low byte only
                        out[channelsStored] = match ? 0 : 255;
                    }
                } else {
                    const std::uint8_t* in = row + std::size_t{x} * channelsStored * 2;
                    bool match = true;
                    for (unsigned c = 0; c < channelsStored; ++c) {
                        out[c] = scale16(in[2 * c], in[2 * c + 1]);
                        match = match && key[2 * c] == in[2 * c] && key[2 * c + 1] == in[2 * c + 1];
                    }
                    if (keyed) out[channelsStored] = match ? 0 : 255;
                }
            }
        }
    }
}
