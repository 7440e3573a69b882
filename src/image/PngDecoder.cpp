#include "image/PngDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "iff/FormatError.h"
#include "image/PngEncoder.h"
#include "image/PngSamples.h"

namespace {

std::uint32_t read32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

constexpr std::uint32_t id(const char (&name)[5]) { return std::uint32_t(name[0]) << 24 | std::uint32_t(name[1]) << 16 | std::uint32_t(name[2]) << 8 | std::uint32_t(name[3]); }

std::string nameOf(std::uint32_t name) {
    return {char(name >> 24), char(name >> 16 & 0xFF), char(name >> 8 & 0xFF), char(name & 0xFF)};
}

// libpng's png_chunk_error: the chunk's name before the reason
FormatError chunkError(std::uint32_t name, const std::string& reason) { return FormatError(nameOf(name) + ": " + reason); }

bool critical(std::uint32_t name) { return !(name & 0x20000000); }

// The ancillary chunks libpng reads itself, each refused before IHDR; text and sPLT ones count down its cache.
bool known(std::uint32_t name) {
    static constexpr std::uint32_t names[] = {id("bKGD"), id("cHRM"), id("eXIf"), id("gAMA"), id("hIST"), id("oFFs"),
                                              id("pCAL"), id("sCAL"), id("pHYs"), id("sBIT"), id("sRGB"), id("iCCP"),
                                              id("sPLT"), id("tEXt"), id("tIME"), id("zTXt"), id("iTXt")};
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}
bool cached(std::uint32_t name) { return name == id("sPLT") || name == id("tEXt") || name == id("zTXt") || name == id("iTXt"); }

constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// libpng's read sizes: IDAT data is handed to inflate this much at a time, and checked after the last row this much
constexpr std::uint32_t readSize = 8192, checkSize = 1024;

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

// Undoes `filter` on `row` against the row above (zeros for a pass's first), in place; one loop per filter.
void unfilter(int filter, std::uint8_t* row, const std::uint8_t* up, std::size_t size, std::size_t bpp) {
    switch (filter) {
    case 1:
        for (std::size_t i = bpp; i < size; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - bpp]);
        break;
    case 2:
        for (std::size_t i = 0; i < size; ++i) row[i] = static_cast<std::uint8_t>(row[i] + up[i]);
        break;
    case 3:
        for (std::size_t i = 0; i < size; ++i) row[i] = static_cast<std::uint8_t>(row[i] + ((i >= bpp ? row[i - bpp] : 0) + up[i]) / 2);
        break;
    case 4:
        for (std::size_t i = 0; i < size; ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + paeth(i >= bpp ? row[i - bpp] : 0, up[i], i >= bpp ? up[i - bpp] : 0));
        break;
    default:
        break;
    }
}

// libpng's png_set_scale_16: the nearest 8-bit value, exactly as it rounds.
std::uint8_t scale16(unsigned high, unsigned low) {
    const std::int32_t value = static_cast<std::int32_t>(high);
    return static_cast<std::uint8_t>(value + (((static_cast<std::int32_t>(low) - value + 128) * 65535) >> 24));
}

unsigned storedChannels(int type) { return type == 0 || type == 3 ? 1 : type == 2 ? 3 : type == 4 ? 2 : 4; }

}  // namespace

PngDecoder::PngDecoder(const std::uint8_t* data, std::size_t size, const char* endsEarly) : file(data), size(size), endsEarly(endsEarly) {
    if (size < 8) throw FormatError(endsEarly);
    if (std::memcmp(data, signature, 8) != 0)
        throw FormatError(std::memcmp(data, signature, 4) != 0 ? "Not a PNG file" : "PNG file corrupted by ASCII conversion");
    for (unsigned n = 0; n < 256; ++n) palette[4 * n + 3] = 255;
    for (;;) {
        const Chunk chunk = readHeader();
        const std::uint32_t name = chunk.name;
        if (name == id("IDAT")) {
            if (!header) throw chunkError(name, "Missing IHDR before IDAT");
            if (type == 3 && !havePalette) throw chunkError(name, "Missing PLTE before IDAT");
            idat = chunk;
            idatLeft = chunk.length;
            return;
        }
        if (name == id("IHDR")) {
            readHeaderChunk(chunk);
        } else if (name == id("IEND")) {
            throw chunkError(name, "out of place");
        } else if (name == id("PLTE")) {
            readPalette(chunk);
        } else if (name == id("tRNS")) {
            readTransparency(chunk);
        } else if (known(name)) {
            if (cached(name) && textLeft != 0 && (textLeft == 1 || --textLeft == 1)) {
                skip(chunk);
                continue;
            }
            if (!header) throw chunkError(name, "missing IHDR");
            skip(chunk);
        } else {
            // libpng keeps no unknown chunk: an ancillary one is dropped, wherever it is
            skip(chunk);
            if (critical(name)) throw chunkError(name, "unhandled critical chunk");
        }
    }
}

PngDecoder::~PngDecoder() {
    if (zlibOpen) inflateEnd(&zlib);
}

std::uint64_t PngDecoder::filteredBytes() const { return filteredSize(w, h, storedChannels(type) * static_cast<unsigned>(depth), interlace != 0); }

PngDecoder::Chunk PngDecoder::readHeader() {
    if (size - at < 8) throw FormatError(endsEarly);
    Chunk chunk{at, read32(file + at), read32(file + at + 4)};
    if (chunk.length > 0x7FFFFFFF) throw FormatError("PNG unsigned integer out of range");
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned c = chunk.name >> shift & 0xFF;
        if (c < 65 || c > 122 || (c > 90 && c < 97)) throw chunkError(chunk.name, "invalid chunk type");
    }
    at += 8;
    return chunk;
}

// The chunk's data, with its CRC after it, or the reason the file ends early.
const std::uint8_t* PngDecoder::body(const Chunk& chunk) const {
    if (size - chunk.start - 8 < std::size_t{chunk.length} + 4) throw FormatError(endsEarly);
    return file + chunk.start + 8;
}

bool PngDecoder::crcHolds(const Chunk& chunk) const {
    const std::uint8_t* bytes = body(chunk);
    return pngCrc(bytes - 4, std::size_t{chunk.length} + 4) == read32(bytes + chunk.length);
}

// Passes over the chunk as libpng's png_crc_finish does: a damaged critical chunk ends the reading, a damaged
// ancillary one is dropped (false).
bool PngDecoder::skip(const Chunk& chunk) {
    const bool holds = crcHolds(chunk);
    at = chunk.start + 12 + chunk.length;
    if (!holds && critical(chunk.name)) throw chunkError(chunk.name, "CRC error");
    return holds;
}

void PngDecoder::readHeaderChunk(const Chunk& chunk) {
    if (header) throw chunkError(chunk.name, "out of place");
    if (chunk.length != 13) throw chunkError(chunk.name, "invalid");
    header = true;
    const std::uint8_t* body = this->body(chunk);
    skip(chunk);
    w = read32(body);
    h = read32(body + 4);
    if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) throw FormatError("PNG unsigned integer out of range");
    depth = body[8];
    type = body[9];
    interlace = body[12];
    const bool depthFits = (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16) && (type == 0 || type == 2 || type == 3 || type == 4 || type == 6) &&
                           !(type == 3 && depth > 8) && !((type == 2 || type == 4 || type == 6) && depth < 8);
    // libpng's user limits are a million pixels a side by default
    if (w == 0 || h == 0 || w > 1000000 || h > 1000000 || !depthFits || interlace > 1 || body[10] != 0 || body[11] != 0)
        throw FormatError("Invalid IHDR data");
}

void PngDecoder::readPalette(const Chunk& chunk) {
    if (!header) throw chunkError(chunk.name, "missing IHDR");
    if (havePalette) throw chunkError(chunk.name, "duplicate");
    havePalette = true;
    // ignored in grey files, and a malformed one in RGB files
    if (!(type & 2)) {
        skip(chunk);
        return;
    }
    if (chunk.length > 768 || chunk.length % 3 != 0) {
        skip(chunk);
        if (type == 3) throw chunkError(chunk.name, "invalid");
        return;
    }
    const std::uint8_t* body = this->body(chunk);
    skip(chunk);
    if (chunk.length == 0) throw FormatError("Invalid palette");
    // entries past what the depth can index are dropped
    paletteSize = std::min(static_cast<int>(chunk.length / 3), type == 3 ? 1 << depth : 256);
    for (int n = 0; n < paletteSize; ++n) std::memcpy(&palette[4 * n], body + 3 * n, 3);
    // a tRNS before PLTE is not used (though libpng still reports one)
    keyed = 0;
}

void PngDecoder::readTransparency(const Chunk& chunk) {
    if (!header) throw chunkError(chunk.name, "missing IHDR");
    const std::uint32_t length = chunk.length;
    // libpng drops a second tRNS, one of the wrong length for the type, and a colour-mapped file's before PLTE
    // or longer than the palette
    const bool fits = (type == 0 && length == 2) || (type == 2 && length == 6) ||
                      (type == 3 && havePalette && length != 0 && length <= static_cast<std::uint32_t>(paletteSize));
    if (transparency || !fits) {
        skip(chunk);
        return;
    }
    const std::uint8_t* body = this->body(chunk);
    if (!skip(chunk)) return;
    transparency = true;
    if (type == 3) {
        for (std::uint32_t n = 0; n < length; ++n) palette[4 * n + 3] = body[n];
    } else {
        std::memcpy(key, body, length);
        keyed = 1;
    }
}

// libpng's png_read_IDAT_data: inflates into `out` until `count` bytes are there, the IDAT chunks taken as they
// come; without `out`, after the last row, it reads on to the stream's end, where only running out of IDAT
// chunks is an error.
void PngDecoder::inflateInto(std::uint8_t* out, std::size_t count) {
    std::uint8_t extra[checkSize];
    zlib.next_out = out;
    std::size_t wanted = out ? count : 0;
    do {
        if (zlib.avail_in == 0) {
            while (idatLeft == 0) {
                skip(idat);
                idat = readHeader();
                if (idat.name != id("IDAT")) throw FormatError("Not enough image data");
                idatLeft = idat.length;
            }
            const std::uint32_t piece = std::min(readSize, idatLeft);
            if (size - at < piece) throw FormatError(endsEarly);
            zlib.next_in = const_cast<Bytef*>(file + at);
            zlib.avail_in = piece;
            at += piece;
            idatLeft -= piece;
        }
        if (out) {
            zlib.avail_out = static_cast<uInt>(wanted);
            wanted = 0;
        } else {
            zlib.next_out = extra;
            zlib.avail_out = checkSize;
        }
        int result = Z_DATA_ERROR;
        // libpng looks at the window size itself before zlib does
        if (streamStart && (*zlib.next_in >> 4) > 7) {
            zlib.msg = const_cast<char*>("invalid window size (libpng)");
        } else {
            streamStart = false;
            result = inflate(&zlib, Z_NO_FLUSH);
        }
        wanted += out ? zlib.avail_out : checkSize - zlib.avail_out;
        zlib.avail_out = 0;
        if (result == Z_STREAM_END) {
            streamEnded = true;
            break;
        }
        if (result != Z_OK) {
            // after the last row, libpng only warns
            if (!out) return;
            throw chunkError(idat.name, zlib.msg ? zlib.msg : result == Z_NEED_DICT ? "missing LZ dictionary" : "damaged LZ stream");
        }
    } while (wanted > 0);
    if (wanted > 0 && out) throw FormatError("Not enough image data");
}

void PngDecoder::decode() {
    if (zlibOpen) throw std::logic_error("a PNG decoded twice");
    if (!deflateCanHold(filteredBytes(), size)) throw FormatError("cut short: the image size is more than the PNG holds");
    const unsigned channelsStored = storedChannels(type), bits = channelsStored * static_cast<unsigned>(depth), bpp = (bits + 7) / 8;
    samplesPerPixel = channelsStored + keyed;
    const std::uint64_t count = std::uint64_t{w} * h * samplesPerPixel;
    if (count > PTRDIFF_MAX) throw FormatError("the image is too large to be read here");
    samples.resize(static_cast<std::size_t>(count));
    if (inflateInit2(&zlib, 0) != Z_OK) throw FormatError("out of memory");
    zlibOpen = true;
    const std::size_t widest = (std::size_t{w} * bits + 7) / 8;
    std::vector<std::uint8_t> row(widest + 1), up(widest + 1);
    for (int pass = interlace ? 1 : 0; pass < (interlace ? 8 : 1); ++pass) {
        const Pass& p = adam7[pass];
        const std::uint32_t pw = passSize(w, p.x0, p.dx), ph = passSize(h, p.y0, p.dy);
        if (!pw || !ph) continue;
        const std::size_t stride = (std::size_t{pw} * bits + 7) / 8;
        std::fill(up.begin(), up.end(), 0);
        for (std::uint32_t y = 0; y < ph; ++y) {
            inflateInto(row.data(), stride + 1);
            if (row[0] > 4) throw FormatError("bad adaptive filter value");
            unfilter(row[0], row.data() + 1, up.data() + 1, stride, bpp);
            storeRow(row.data() + 1, p.y0 + y * p.dy, p.x0, p.dx, pw);
            row.swap(up);
        }
    }
    // the end of the stream after the last row, read as libpng reads it; then the rest of the last IDAT
    if (!streamEnded) inflateInto(nullptr, 0);
    skip(idat);
    // png_read_end: IEND ends the file; another IHDR is an error; anything else is passed over, its CRC checked
    for (;;) {
        const Chunk chunk = readHeader();
        if (chunk.name == id("IHDR")) throw chunkError(chunk.name, "out of place");
        skip(chunk);
        if (chunk.name == id("IEND")) break;
    }
}

// One stored row of `count` pixels, the first at (`x0`, `y`) and the next `dx` pixels on, into the samples.
void PngDecoder::storeRow(const std::uint8_t* row, std::uint32_t y, std::uint32_t x0, std::uint32_t dx, std::uint32_t count) {
    const unsigned stored = storedChannels(type);
    std::uint8_t* out = samples.data() + (std::size_t{y} * w + x0) * samplesPerPixel;
    const std::size_t step = std::size_t{dx} * samplesPerPixel;
    if (depth == 8 && !keyed && dx == 1) {
        // the stored row is the row of samples
        std::memcpy(out, row, std::size_t{count} * stored);
        return;
    }
    for (std::uint32_t x = 0; x < count; ++x, out += step) {
        if (depth < 8) {
            const unsigned shift = 8 - depth - (x * depth) % 8, mask = (1u << depth) - 1;
            const unsigned value = (row[std::size_t{x} * depth / 8] >> shift) & mask;
            // grey of few bits scaled up as libpng expands it; indices kept
            out[0] = static_cast<std::uint8_t>(type == 3 ? value : value * (255 / mask));
            if (keyed) out[1] = value == ((unsigned{key[0]} << 8 | key[1]) & mask) ? 0 : 255;
        } else if (depth == 8) {
            const std::uint8_t* in = row + std::size_t{x} * stored;
            std::memcpy(out, in, stored);
            if (keyed) {
                bool match = true;
                for (unsigned c = 0; c < stored; ++c) match = match && key[2 * c + 1] == in[c];  // libpng compares the low byte only
                out[stored] = match ? 0 : 255;
            }
        } else {
            const std::uint8_t* in = row + std::size_t{x} * stored * 2;
            for (unsigned c = 0; c < stored; ++c) out[c] = scale16(in[2 * c], in[2 * c + 1]);
            if (keyed) {
                bool match = true;
                for (unsigned c = 0; c < stored; ++c) match = match && key[2 * c] == in[2 * c] && key[2 * c + 1] == in[2 * c + 1];
                out[stored] = match ? 0 : 255;
            }
        }
    }
}
