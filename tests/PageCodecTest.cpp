// The page's PNG codec (src/image: PngEncoder, PngDecoder, Deflate), built natively so that libpng and
// zlib judge what it writes and the sanitizers watch what it reads.
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

namespace {

using Bytes = std::vector<std::uint8_t>;

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
                    const PngDecoder decoded(png.bytes().data(), png.bytes().size(), "ends early");
                    EXPECT_EQ(decoded.colourType(), reference.type);
                    EXPECT_EQ(decoded.pixels(), expected);
                    if (mapped) {
                        EXPECT_EQ(0, std::memcmp(decoded.entries(), palette.data(), 3)) << "the first entry";
                    }
                }
}

TEST(PageCodec, DamagedFilesAreRefusedOrReadWithinTheirSize) {
    const Bytes samples = randomBytes(23 * 9 * 4, 5);
    const Bytes good = PngEncoder(23, 9, 4, samples.data(), nullptr, {}).bytes();
    std::size_t refused = 0;
    const auto attempt = [&](const Bytes& file) {
        try {
            const PngDecoder png(file.data(), file.size(), "ends early");
            EXPECT_EQ(png.pixels().size(), std::size_t{png.width()} * png.height() * png.channels());
        } catch (const FormatError&) {
            ++refused;
        }
    };
    for (std::size_t length = 0; length < good.size(); ++length) attempt(Bytes(good.begin(), good.begin() + static_cast<long>(length)));
    // every cut file is refused: IEND is missing
    EXPECT_EQ(refused, good.size());
    // flips with every CRC made right again, so that they reach the header's checks, inflate and the filters
    for (std::size_t at = 8; at < good.size(); ++at)
        for (const std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes file = good;
            file[at] ^= flip;
            for (std::size_t chunk = 8; chunk + 12 <= file.size();) {
                const std::uint32_t length = std::uint32_t{file[chunk]} << 24 | std::uint32_t{file[chunk + 1]} << 16 | std::uint32_t{file[chunk + 2]} << 8 | file[chunk + 3];
                if (length > file.size() - chunk - 12) break;
                const std::uint32_t crc = pngCrc(file.data() + chunk + 4, std::size_t{length} + 4);
                for (int b = 0; b < 4; ++b) file[chunk + 8 + length + b] = static_cast<std::uint8_t>(crc >> (24 - 8 * b));
                chunk += 12 + std::size_t{length};
            }
            attempt(file);
        }
}

TEST(PageCodec, ForgedSizesAreRefusedBeforeAnythingIsAllocated) {
    Bytes file = PngEncoder(1, 1, 1, Bytes{0}.data(), nullptr, {}).bytes();
    const std::vector<std::pair<std::uint32_t, const char*>> cases = {
        {20000, "cut short: the image size is more than the PNG holds"},
        {0x7FFFFFFF, "cut short: the image size is more than the PNG holds"},
        {0x80000000u, "Invalid image size in IHDR"},
        {0, "Invalid image size in IHDR"},
    };
    for (const auto& [side, reason] : cases) {
        Bytes forged = file;
        for (int k = 0; k < 2; ++k)
            for (int b = 0; b < 4; ++b) forged[16 + 4 * k + b] = static_cast<std::uint8_t>(side >> (24 - 8 * b));
        const std::uint32_t crc = pngCrc(forged.data() + 12, 17);
        for (int b = 0; b < 4; ++b) forged[29 + b] = static_cast<std::uint8_t>(crc >> (24 - 8 * b));
        try {
            PngDecoder(forged.data(), forged.size(), "ends early");
            ADD_FAILURE() << side << " was read";
        } catch (const FormatError& error) {
            EXPECT_STREQ(error.what(), reason) << side;
        }
    }
}

}  // namespace
