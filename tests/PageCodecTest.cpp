// The page's PNG codec (src/image: PngEncoder, PngDecoder, Deflate), built natively so that libpng and
// zlib judge what it writes, and the page's readers beside the native ones (support/PageImage.h): every file
// either both refuse or both read alike, and the sanitizers watch what the page's reader does.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "iff/FormatError.h"
#include "image/Deflate.h"
#include "image/PngDecoder.h"
#include "image/PngEncoder.h"
#include "support/PageImage.h"
#include "support/Png.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using iff::operator+;

Bytes randomBytes(std::size_t count, unsigned seed, int spread = 256) {
    std::mt19937 rng(seed);
    Bytes out(count);
    for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(rng() % static_cast<unsigned>(spread));
    return out;
}

// libpng's reading of a PNG in memory: colour type, size and samples as stored (8-bit files only).
struct Reference {
    int type = -1;
    png_uint_32 width = 0, height = 0;
    Bytes samples, palette;
};

Reference readWithLibpng(const Bytes& file) {
    Reference out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return out;
    out.width = image.width;
    out.height = image.height;
    out.type = (image.format & PNG_FORMAT_FLAG_COLORMAP) ? 3 : (image.format & PNG_FORMAT_FLAG_COLOR) ? ((image.format & PNG_FORMAT_FLAG_ALPHA) ? 6 : 2) : 0;
    image.format = out.type == 3 ? PNG_FORMAT_RGB_COLORMAP : out.type == 6 ? PNG_FORMAT_RGBA : out.type == 2 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    out.samples.resize(PNG_IMAGE_SIZE(image));
    out.palette.resize(out.type == 3 ? PNG_IMAGE_COLORMAP_SIZE(image) : 0);
    if (!png_image_finish_read(&image, nullptr, out.samples.data(), 0, out.type == 3 ? out.palette.data() : nullptr)) out.type = -1;
    return out;
}

TEST(PageCodec, DeflateIsReadBackByZlib) {
    const Bytes runs = [] {
        Bytes b;
        for (int n = 0; n < 70000; ++n) b.push_back(static_cast<std::uint8_t>(n / 300 % 7));
        return b;
    }();
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", {}},
        {"one byte", {42}},
        {"zeros across blocks", Bytes(300000, 0)},
        {"noise", randomBytes(100000, 1)},
        {"few values", randomBytes(200000, 2, 3)},
        {"runs", runs},
        {"longest matches", Bytes(1000, 7)},
    };
    for (const auto& [name, data] : cases) {
        const Bytes packed = zlibCompress(data.data(), data.size());
        Bytes back(data.size() + 1);
        uLongf length = back.size();
        ASSERT_EQ(uncompress(back.data(), &length, packed.data(), packed.size()), Z_OK) << name;
        back.resize(length);
        EXPECT_EQ(back, data) << name;
        EXPECT_EQ(adler32(data.data(), data.size()), ::adler32(1, data.data(), static_cast<uInt>(data.size()))) << name;
    }
}

TEST(PageCodec, EncoderWritesWhatLibpngReadsAndTheDecoderReadsItBack) {
    const Bytes palette = randomBytes(768, 3);
    for (const auto& [width, height] : {std::pair{1u, 1u}, {3u, 2u}, {17u, 5u}, {64u, 33u}})
        for (const unsigned channels : {1u, 3u, 4u})
            for (const bool mapped : {false, true})
                for (const int options : {0, 1, 2, 4, 7}) {
                    if (mapped && channels != 1) continue;
                    const PngEncoder::Options chosen{(options & 1) != 0, (options & 2) != 0, (options & 4) != 0};
                    const Bytes samples = randomBytes(std::size_t{width} * height * channels, width * 7 + channels, 40);
                    const PngEncoder png(width, height, channels, samples.data(), mapped ? palette.data() : nullptr, chosen);
                    // what the options ask for: rows upside down, samples inverted
                    Bytes expected(samples.size());
                    const std::size_t stride = std::size_t{width} * channels;
                    for (std::uint32_t y = 0; y < height; ++y)
                        for (std::size_t i = 0; i < stride; ++i) {
                            const std::uint8_t v = samples[(chosen.bottomUp ? height - 1 - y : y) * stride + i];
                            expected[y * stride + i] = chosen.negative ? static_cast<std::uint8_t>(255 - v) : v;
                        }
                    SCOPED_TRACE(testing::Message() << width << "x" << height << " channels " << channels << " mapped " << mapped << " options " << options);
                    const Reference reference = readWithLibpng(png.bytes());
                    ASSERT_EQ(reference.type, mapped ? 3 : channels == 1 ? 0 : channels == 3 ? 2 : 6);
                    if (!mapped) {
                        EXPECT_EQ(reference.samples, expected);
                    }
                    PngDecoder decoded(png.bytes().data(), png.bytes().size(), "ends early");
                    decoded.decode();
                    EXPECT_EQ(decoded.colourType(), reference.type);
                    EXPECT_EQ(decoded.pixels(), expected);
                    if (mapped) {
                        EXPECT_EQ(0, std::memcmp(decoded.entries(), palette.data(), 3)) << "the first entry";
                    }
                }
}

// A PNG's chunks, to be taken apart and put together again with their CRCs made right.
struct Chunk {
    std::string name;
    Bytes data;
};
using Chunks = std::vector<Chunk>;

Chunks chunksOf(const Bytes& file) {
    Chunks out;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 | std::uint32_t{file[at + 2]} << 8 | file[at + 3];
        if (length > file.size() - at - 12) break;
        out.push_back({std::string(file.begin() + long(at) + 4, file.begin() + long(at) + 8), Bytes(file.begin() + long(at) + 8, file.begin() + long(at + 8 + length))});
        at += 12 + length;
    }
    return out;
}

Bytes big32(std::uint32_t value) { return {std::uint8_t(value >> 24), std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value)}; }

Bytes fileOf(const Chunks& chunks) {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Chunk& chunk : chunks) {
        Bytes named(chunk.name.begin(), chunk.name.end());
        named.insert(named.end(), chunk.data.begin(), chunk.data.end());
        const Bytes length = big32(std::uint32_t(chunk.data.size())), crc = big32(std::uint32_t(crc32(0, named.data(), uInt(named.size()))));
        for (const Bytes* part : {&length, static_cast<const Bytes*>(&named), &crc}) file.insert(file.end(), part->begin(), part->end());
    }
    return file;
}

Chunk header(std::uint32_t width, std::uint32_t height, int depth, int type, int interlace = 0) {
    Bytes data = big32(width) + big32(height) + Bytes{std::uint8_t(depth), std::uint8_t(type), 0, 0, std::uint8_t(interlace)};
    return {"IHDR", data};
}

// A PNG written by libpng.
Bytes pngOf(const RawPng& raw) {
    static const Workdir w;
    EXPECT_TRUE(writePng(w / "written.png", raw));
    std::ifstream in(w / "written.png", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Deflate's bits, least significant first, and Huffman codes, most significant first.
struct Bits {
    Bytes out;
    unsigned used = 8;
    void put(unsigned value, unsigned count) {
        for (unsigned n = 0; n < count; ++n, ++used) {
            if (used == 8) out.push_back(0), used = 0;
            out.back() = std::uint8_t(out.back() | ((value >> n) & 1) << used);
        }
    }
    void code(unsigned value, unsigned length) {
        for (unsigned n = length; n-- > 0;) put(value >> n, 1);
    }
    // deflate's fixed code of a literal or length symbol
    void symbol(unsigned s) {
        if (s < 144) code(0x30 + s, 8);
        else if (s < 256) code(0x190 + s - 144, 9);
        else if (s < 280) code(s - 256, 7);
        else code(0xC0 + s - 280, 8);
    }
};

// A zlib stream: its header with the window field `window`, `body`, and the checksum of `data`.
Bytes zlibStream(unsigned window, const Bytes& body, const Bytes& data) {
    const unsigned cmf = window << 4 | 8;
    const Bytes head = {std::uint8_t(cmf), std::uint8_t((31 - cmf * 256 % 31) % 31)};
    return head + body + big32(std::uint32_t(adler32(1, data.data(), uInt(data.size()))));
}

// zlib's own deflate of `data`, without header or checksum.
Bytes rawDeflate(const Bytes& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A grey 8-bit picture whose IDAT chunks hold `streams`, one chunk each.
Bytes greyRows(std::uint32_t width, std::uint32_t height, const std::vector<Bytes>& streams) {
    Chunks chunks = {header(width, height, 8, 0)};
    for (const Bytes& stream : streams) chunks.push_back({"IDAT", stream});
    chunks.push_back({"IEND", {}});
    return fileOf(chunks);
}

// Reads `file` through both PngImage back ends, which must refuse it both or read it alike; gives the native reading.
ImageRead both(const Bytes& file, unsigned channels = 4, const std::uint8_t* colours = nullptr) {
    static const Workdir w;
    w.put("in.png", file);
    const std::string path = (w / "in.png").string();
    const ImageRead native = readImage(path.c_str(), channels, colours);
    ImageRead page;
    readPageImage(path.c_str(), channels, colours, &page);
    EXPECT_EQ(page.read, native.read) << "native: " << native.reason << "; page: " << page.reason;
    if (page.read && native.read) {
        EXPECT_EQ(page.width, native.width);
        EXPECT_EQ(page.height, native.height);
        EXPECT_EQ(page.alpha, native.alpha);
        EXPECT_EQ(page.indexed, native.indexed);
        EXPECT_EQ(page.samples, native.samples);
        EXPECT_EQ(page.opacity, native.opacity);
    }
    return native;
}

PaletteRead bothPalettes(const Bytes& file) {
    const PaletteRead native = readPalette(file.data(), file.size());
    PaletteRead page;
    readPagePalette(file.data(), file.size(), &page);
    EXPECT_EQ(page.read, native.read) << "native: " << native.reason << "; page: " << page.reason;
    EXPECT_EQ(page.colours, native.colours);
    return native;
}

Bytes randomSamples(std::size_t count, unsigned seed, unsigned below) {
    std::mt19937 rng(seed);
    Bytes out(count);
    for (std::uint8_t& b : out) b = std::uint8_t(rng() % below);
    return out;
}

TEST(PageCodec, EveryTypeDepthAndInterlaceIsReadAsLibpngReadsIt) {
    const struct {
        int type;
        std::vector<int> depths;
        unsigned samples;
    } types[] = {{0, {1, 2, 4, 8, 16}, 1}, {2, {8, 16}, 3}, {3, {1, 2, 4, 8}, 1}, {4, {8, 16}, 2}, {6, {8, 16}, 4}};
    const Bytes colours = randomSamples(768, 9, 256);
    for (const auto& kind : types)
        for (const int depth : kind.depths)
            for (const int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7})
                for (const bool transparent : {false, true})
                    for (const auto& [width, height] : {std::pair{1u, 1u}, {5u, 3u}, {13u, 9u}}) {
                        SCOPED_TRACE(testing::Message() << "type " << kind.type << " depth " << depth << " interlace " << interlace
                                                        << " tRNS " << transparent << " " << width << "x" << height);
                        RawPng raw;
                        raw.width = width, raw.height = height, raw.type = kind.type, raw.depth = depth, raw.interlace = interlace;
                        const unsigned bytes = depth == 16 ? 2 : 1, entries = kind.type == 3 ? 1u << depth : 0;
                        // few values, so that a tRNS key matches some pixels
                        raw.samples = randomSamples(std::size_t{width} * height * kind.samples * bytes, width + unsigned(depth), depth == 16 ? 3 : std::min(3u, 1u << depth));
                        if (entries) raw.palette = Bytes(colours.begin(), colours.begin() + 3 * entries);
                        if (transparent && entries) raw.trns = Bytes{0, 128};
                        png_color_16 key{};
                        key.gray = key.red = key.green = key.blue = 1;
                        if (transparent && (kind.type == 0 || kind.type == 2))
                            raw.chunks = [key](png_structp png, png_infop info) mutable { png_set_tRNS(png, info, nullptr, 0, &key); };
                        const Bytes file = pngOf(raw);
                        for (const unsigned channels : {1u, 4u}) {
                            const ImageRead read = both(file, channels);
                            EXPECT_TRUE(read.read) << read.reason;
                            EXPECT_EQ(read.alpha, transparent || kind.type == 4 || kind.type == 6);
                        }
                        if (entries) {
                            EXPECT_TRUE(both(file, 1, colours.data()).indexed);
                            EXPECT_TRUE(bothPalettes(file).read);
                        }
                    }
}

TEST(PageCodec, SixteenBitSamplesAreRoundedAndAKeyOnlyMatchesWhereLibpngMatches) {
    // a black opaque pixel of 16-bit RGBA: the page once read past its tRNS key here
    RawPng raw;
    raw.width = 2, raw.height = 1, raw.type = PNG_COLOR_TYPE_RGB_ALPHA, raw.depth = 16;
    raw.samples = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x80, 0x7F, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x80};
    const ImageRead read = both(pngOf(raw));
    EXPECT_EQ(read.samples, (Bytes{0, 0, 0, 255, 0x80, 0x12, 0xAB, 0x00}));
}

TEST(PageCodec, ChunksAreTakenInTheOrderLibpngAcceptsThem) {
    RawPng raw;
    raw.width = 2, raw.height = 2, raw.type = PNG_COLOR_TYPE_PALETTE, raw.depth = 8;
    raw.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    raw.samples = {0, 1, 2, 3};
    const Chunks plain = chunksOf(pngOf(raw));
    ASSERT_EQ(plain.size(), 4u);  // IHDR, PLTE, IDAT, IEND
    const Chunk &ihdr = plain[0], &plte = plain[1], &idat = plain[2], &iend = plain[3];
    const Chunk otherPlte{"PLTE", Bytes(12, 255)}, trns{"tRNS", {0, 0, 0, 0}}, halfTrns{"tRNS", {128}}, text{"tEXt", {'a', 0, 'b'}};
    const Bytes stream = idat.data;
    const Chunk firstHalf{"IDAT", Bytes(stream.begin(), stream.begin() + long(stream.size() / 2))},
        secondHalf{"IDAT", Bytes(stream.begin() + long(stream.size() / 2), stream.end())};
    Bytes damagedText = fileOf({text, ihdr, plte, idat, iend});
    damagedText[8 + 12 + 3] ^= 1;  // the tEXt's CRC
    const Bytes expected = {10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 255, 100, 110, 120, 255};
    const struct {
        const char* name;
        Bytes file;
        bool read;
        Bytes samples;
    } cases[] = {
        {"as written", fileOf(plain), true, expected},
        {"PLTE after IDAT", fileOf({ihdr, plte, idat, otherPlte, iend}), true, expected},
        {"tRNS after IDAT", fileOf({ihdr, plte, idat, trns, iend}), true, expected},
        {"tRNS before PLTE", fileOf({ihdr, trns, plte, idat, iend}), true, expected},
        {"tRNS twice", fileOf({ihdr, plte, halfTrns, trns, idat, iend}), true, {10, 20, 30, 128, 40, 50, 60, 255, 70, 80, 90, 255, 100, 110, 120, 255}},
        {"tRNS longer than the palette", fileOf({ihdr, plte, {"tRNS", Bytes(5, 0)}, idat, iend}), true, expected},
        {"IDAT chunks in two", fileOf({ihdr, plte, firstHalf, secondHalf, iend}), true, expected},
        {"IDAT chunks apart", fileOf({ihdr, plte, firstHalf, text, secondHalf, iend}), false, {}},
        {"PLTE twice", fileOf({ihdr, plte, otherPlte, idat, iend}), false, {}},
        {"PLTE only after IDAT", fileOf({ihdr, idat, plte, iend}), false, {}},
        {"a known ancillary chunk before IHDR", fileOf({text, ihdr, plte, idat, iend}), false, {}},
        {"a damaged one before IHDR", damagedText, false, {}},
        {"an unknown ancillary chunk before IHDR", fileOf({{"abCD", {1}}, ihdr, plte, idat, iend}), true, expected},
        {"an unknown critical chunk after IDAT", fileOf({ihdr, plte, idat, {"ABCD", {1}}, iend}), true, expected},
        {"an unknown critical chunk before IDAT", fileOf({ihdr, plte, {"ABCD", {1}}, idat, iend}), false, {}},
        {"IHDR after IDAT", fileOf({ihdr, plte, idat, ihdr, iend}), false, {}},
        {"no IEND", fileOf({ihdr, plte, idat}), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageRead read = both(c.file);
        ASSERT_EQ(read.read, c.read) << read.reason;
        if (c.read) {
            EXPECT_EQ(read.samples, c.samples);
            EXPECT_EQ(read.alpha, c.samples != expected);
        }
    }
}

TEST(PageCodec, APaletteHasNoMoreEntriesThanTheDepthIndexesAndOtherTypesPassOverTheirs) {
    RawPng raw;
    raw.width = 3, raw.height = 1, raw.type = PNG_COLOR_TYPE_PALETTE, raw.depth = 1;
    raw.palette = {1, 2, 3, 4, 5, 6};
    raw.samples = {0, 1, 1};
    Chunks chunks = chunksOf(pngOf(raw));
    chunks[1].data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(bothPalettes(fileOf(chunks)).colours, (Bytes{1, 2, 3, 4, 5, 6}));
    // a tRNS for the entries dropped is too long
    chunks.insert(chunks.begin() + 2, {"tRNS", {0, 0, 0}});
    EXPECT_FALSE(both(fileOf(chunks)).alpha);

    for (const int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB}) {
        raw.type = type, raw.depth = 8, raw.palette.clear();
        raw.samples = Bytes(3 * (type == PNG_COLOR_TYPE_RGB ? 3 : 1), 7);
        const Chunks plain = chunksOf(pngOf(raw));
        const auto with = [&](const Chunk& plte) { return fileOf({plain[0], plte, plain[1], plain[2]}); };
        SCOPED_TRACE(type);
        EXPECT_TRUE(both(with({"PLTE", {1, 2, 3, 4}})).read);
        EXPECT_TRUE(both(with({"PLTE", Bytes(771, 1)})).read);
        EXPECT_EQ(both(with({"PLTE", {1, 2, 3}})).samples, both(fileOf(plain)).samples);
        // an empty one is refused in RGB files, and a damaged one in any: PLTE is critical
        EXPECT_EQ(both(with({"PLTE", {}})).read, type == PNG_COLOR_TYPE_GRAY);
        Bytes damaged = with({"PLTE", {1, 2, 3}});
        damaged[33 + 8] ^= 1;
        EXPECT_FALSE(both(damaged).read);
    }
}

TEST(PageCodec, TheInflateIsZlibsAndTheEndOfTheStreamIsReadAsLibpngReadsIt) {
    // two grey rows of 300 pixels, the second a copy of the first: from 301 bytes back, across the rows, which
    // zlib keeps only when the window is that large
    Bytes row(301, 0);
    for (int x = 1; x <= 300; ++x) row[x] = std::uint8_t(x * 7);
    const Bytes rows = row + row;
    Bits far;
    far.put(1, 1), far.put(1, 2);  // the last block, fixed codes
    for (const std::uint8_t b : row) far.symbol(b);
    far.symbol(285), far.code(16, 5), far.put(44, 7);  // 258 bytes from 257 + 44 back
    far.symbol(274), far.put(0, 3), far.code(16, 5), far.put(44, 7);  // and 43
    far.symbol(256);
    const auto fixedBlock = [](const std::vector<unsigned>& symbols, const Bytes& extra = {}) {
        Bits bits;
        bits.put(1, 1), bits.put(1, 2);
        for (const unsigned s : symbols) bits.symbol(s);
        for (const std::uint8_t e : extra) bits.put(e, 5);
        return bits.out;
    };
    Bits incomplete;
    incomplete.put(1, 1), incomplete.put(2, 2);           // the last block, its own codes
    incomplete.put(0, 5), incomplete.put(0, 5), incomplete.put(0, 4);  // 257 and 1 codes, four code length codes
    incomplete.put(0, 3), incomplete.put(0, 3), incomplete.put(0, 3), incomplete.put(1, 3);  // one code of one bit
    const Bytes valid = rawDeflate(rows);
    const struct {
        const char* name;
        Bytes file;
        bool read;
    } cases[] = {
        {"a distance within the window", greyRows(300, 2, {zlibStream(7, far.out, rows)}), true},
        {"a distance past a window of 256 bytes", greyRows(300, 2, {zlibStream(0, far.out, rows)}), false},
        {"a window field of 8", greyRows(300, 2, {zlibStream(8, valid, rows)}), false},
        {"length symbol 286", greyRows(300, 2, {zlibStream(7, fixedBlock({0, 286}), rows)}), false},
        {"length symbol 287", greyRows(300, 2, {zlibStream(7, fixedBlock({0, 287}), rows)}), false},
        {"distance code 30", greyRows(300, 2, {zlibStream(7, fixedBlock({0, 1, 257}, {0x0F}), rows)}), false},
        {"distance code 31", greyRows(300, 2, {zlibStream(7, fixedBlock({0, 1, 257}, {0x1F}), rows)}), false},
        {"an incomplete code", greyRows(300, 2, {zlibStream(7, incomplete.out, rows)}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageRead read = both(c.file, 1);
        ASSERT_EQ(read.read, c.read) << read.reason;
        if (c.read) {
            EXPECT_EQ(read.samples, Bytes(row.begin() + 1, row.end()) + Bytes(row.begin() + 1, row.end()));
        }
    }
}

TEST(PageCodec, WhatFollowsTheLastRowIsCheckedAsLibpngChecksIt) {
    const Bytes row = {0, 10, 20, 30, 40}, longer = row + Bytes{50, 60, 70};
    const Bytes stream = zlibStream(7, rawDeflate(row), row);
    const Bytes body(stream.begin(), stream.end() - 4), adler(stream.end() - 4, stream.end());
    Bytes wrongAdler = adler;
    wrongAdler[3] ^= 1;
    // a stream error right after the last row is met while it is read; after one more literal, only after it
    Bits errorNext, errorLater;
    for (Bits* bits : {&errorNext, &errorLater}) {
        bits->put(1, 1), bits->put(1, 2);
        for (const std::uint8_t b : row) bits->symbol(b);
    }
    errorLater.symbol(9);
    errorNext.symbol(286), errorLater.symbol(286);
    const struct {
        const char* name;
        std::vector<Bytes> streams;
        bool read;
    } cases[] = {
        {"the stream as written", {stream}, true},
        {"one more byte after it", {stream + Bytes{0}}, true},
        {"more rows than the picture has", {zlibStream(7, rawDeflate(longer), longer)}, true},
        {"its checksum wrong", {body + wrongAdler}, false},
        {"its checksum wrong, the right one after it", {body + wrongAdler + adler}, false},
        {"its checksum wrong, in an IDAT of its own", {body, wrongAdler}, true},
        {"its checksum cut", {body + Bytes(adler.begin(), adler.begin() + 2)}, false},
        {"its checksum cut, in an IDAT of its own", {body, Bytes(adler.begin(), adler.begin() + 2)}, true},
        {"no checksum", {body}, false},
        {"a stream error right after the last row", {zlibStream(7, errorNext.out, row)}, false},
        {"a stream error after more data", {zlibStream(7, errorLater.out, row)}, true},
        {"rows missing", {zlibStream(7, rawDeflate(Bytes(row.begin(), row.end() - 1)), Bytes(row.begin(), row.end() - 1))}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageRead read = both(greyRows(4, 1, c.streams), 1);
        ASSERT_EQ(read.read, c.read) << read.reason;
        if (c.read) {
            EXPECT_EQ(read.samples, Bytes(row.begin() + 1, row.end()));
        }
    }
}

TEST(PageCodec, ForgedSizesAreRefusedBeforeAnythingIsAllocated) {
    const Bytes pixel = Bytes{0, 1, 2, 3, 255};
    const Bytes stream = zlibStream(7, rawDeflate(pixel), pixel);
    const struct {
        std::uint32_t side;
        const char* reason;
    } cases[] = {
        // a thousand pixels a side is 4 MB of rows, more than a file of a few bytes could hold
        {1000, "the image size 1000 x 1000 is more than the file holds"},
        {60000, "the image size 60000 x 60000 cannot be converted"},
        {1000001, "Invalid IHDR data"},
        {0x7FFFFFFF, "Invalid IHDR data"},
        {0x80000000u, "PNG unsigned integer out of range"},
        {0, "Invalid IHDR data"},
    };
    for (const auto& c : cases) {
        const ImageRead read = both(fileOf({header(c.side, c.side, 8, 6), {"IDAT", stream}, {"IEND", {}}}));
        EXPECT_EQ(read.reason, c.reason);
    }
    // the most deflate packs into a byte is still read
    RawPng zeros;
    zeros.width = zeros.height = 2000, zeros.type = PNG_COLOR_TYPE_GRAY, zeros.depth = 8;
    zeros.samples = Bytes(4000000, 0);
    EXPECT_TRUE(both(pngOf(zeros), 1).read);
}

TEST(PageCodec, DamagedFilesAreRefusedOrReadAsLibpngReadsThem) {
    const Bytes samples = randomSamples(23 * 9 * 4, 5, 256);
    const Bytes good = PngEncoder(23, 9, 4, samples.data(), nullptr, {}).bytes();
    ASSERT_EQ(both(good).samples, samples);
    for (std::size_t length = 0; length < good.size(); length += 7) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(both(Bytes(good.begin(), good.begin() + long(length))).read);
    }
    for (std::size_t at = 8; at < good.size(); ++at)
        for (const std::uint8_t flip : {0x01, 0xFF}) {
            SCOPED_TRACE(testing::Message() << "byte " << at << " flip " << int(flip));
            Bytes file = good;
            file[at] ^= flip;
            // every chunk here is critical: a CRC that does not hold ends the reading
            EXPECT_FALSE(both(file).read);
            // with the CRCs made right the flip reaches the header's checks, inflate and the filters, and the file is
            // read as libpng reads it: refused, or (past the last row zlib's checksum is only looked at) read
            both(fileOf(chunksOf(file)));
        }
}

}  // namespace
