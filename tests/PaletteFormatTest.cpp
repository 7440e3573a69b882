// The palette file formats in memory: every format written and read back, palettes of fewer
// colours, the swatch picture's layout, and a table of damaged or foreign files refused with their reason.

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include "iff/FormatError.h"
#include "palette/PaletteFormats.h"
#include "support/IffWriter.h"

using palette::Format;
using iff::Bytes;
using iff::operator+;
using iff::text;

namespace {

colour::Palette testEntries() {
    colour::Palette entries;
    const Bytes table = iff::colours();
    std::copy(table.begin(), table.end(), entries.begin());
    return entries;
}

// The reason importPalette gives for `bytes`, or "accepted".
std::string refusal(const Bytes& bytes) {
    try {
        palette::importPalette(bytes.data(), bytes.size());
        return "accepted";
    } catch (const FormatError& error) {
        return error.what();
    }
}

Bytes exported(Format format) { return palette::exportPalette(format, testEntries(), "test"); }

// `bytes` with `value` written over the bytes from `at` on.
Bytes patched(Bytes bytes, std::size_t at, const Bytes& value) {
    std::copy(value.begin(), value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

Bytes cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

// A 2 x 1 PNG through libpng's simple API: colour-mapped with `entries` colours, or RGB when 0.
Bytes smallPng(unsigned entries) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 2, image.height = 1;
    image.format = entries ? PNG_FORMAT_RGB_COLORMAP : PNG_FORMAT_RGB;
    image.colormap_entries = entries;
    const Bytes map = {10, 20, 30, 40, 50, 60}, samples = entries ? Bytes{0, 1} : Bytes{1, 2, 3, 4, 5, 6};
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, samples.data(), 0, entries ? map.data() : nullptr);
    Bytes bytes(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, samples.data(), 0, entries ? map.data() : nullptr));
    return bytes;
}

// `png` with its IHDR claiming `side` x `side` pixels, its checksum made good.
Bytes resized(Bytes png, std::uint32_t side) {
    png = patched(patched(png, 16, iff::be32(side)), 20, iff::be32(side));
    return patched(png, 29, iff::be32(std::uint32_t(crc32(0, &png[12], 17))));
}

}  // namespace

TEST(PaletteFormat, EveryFormatReadsBackTheSameEntries) {
    const colour::Palette entries = testEntries();
    for (const Format format : {Format::gpl, Format::act, Format::jasc, Format::riff, Format::png, Format::iff}) {
        const Bytes bytes = exported(format);
        const palette::Imported back = palette::importPalette(bytes.data(), bytes.size());
        EXPECT_EQ(back.format, format) << palette::formatName(format);
        EXPECT_EQ(back.colours, Bytes(entries.begin(), entries.end())) << palette::formatName(format);
        EXPECT_EQ(palette::formatNamed(palette::formatName(format)), format);
    }
    EXPECT_EQ(exported(Format::act).size(), 772u);
    EXPECT_EQ(exported(Format::riff).size(), 1048u);
    // the GIMP palette's name stays UTF-8 and on its line, harmless on a terminal
    const struct {
        std::string name, shown;
    } names[] = {
        {"a\nb\x1B", "a b "}, {"W\xC3\xBCste \xE2\x82\xAC", "W\xC3\xBCste \xE2\x82\xAC"}, {"\xC2\x9B" "1m", "  1m"},
        {"\xC3", " "}, {"\xC0\xAF\xED\xA0\x80", "     "}, {"\xF4\x90\x80\x80x", "    x"},
    };
    for (const auto& n : names) {
        const Bytes gpl = palette::exportPalette(Format::gpl, testEntries(), n.name);
        const std::string head = "GIMP Palette\nName: " + n.shown + "\nColumns: 16\n#\n  0 255   0\tIndex 0\n";
        EXPECT_EQ(std::string(gpl.begin(), gpl.begin() + std::ptrdiff_t(head.size())), head) << n.shown;
        EXPECT_EQ(std::string(gpl.end() - 22, gpl.end()), "255   0 249\tIndex 255\n");
    }
}

TEST(PaletteFormat, SwatchShowsEachEntryInItsCell) {
    const Bytes bytes = exported(Format::png);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
    EXPECT_EQ(image.width, 256u);
    EXPECT_EQ(image.height, 256u);
    EXPECT_TRUE(image.format & PNG_FORMAT_FLAG_COLORMAP);
    image.format = PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    const colour::Palette entries = testEntries();
    for (unsigned y = 0; y < 256; ++y)
        for (unsigned x = 0; x < 256; ++x) {
            const unsigned entry = y / 16 * 16 + x / 16;
            ASSERT_TRUE(std::equal(&rgb[3 * (256 * y + x)], &rgb[3 * (256 * y + x) + 3], &entries[3 * entry])) << x << "," << y;
        }
}

TEST(PaletteFormat, FewerColoursAreReadAsTheFileHoldsThem) {
    const Bytes riff16 = patched(exported(Format::riff), 4, {4 + 8 + 4 + 64, 0, 0, 0}), act16 = patched(exported(Format::act), 768, {0, 16});
    const struct {
        const char* what;
        Bytes bytes;
        std::size_t count;
    } cases[] = {
        {"gpl, CRLF and comments", text("GIMP Palette\r\n# made by hand\r\n\r\n1 2 3 first\r\n  4\t5 6\r\n"), 2},
        {"gpl without name and columns", text("GIMP Palette\n7 8 9"), 1},
        {"jasc of 16", text("JASC-PAL\r\n0100\r\n16\r\n") + [] {
             Bytes lines;
             for (int n = 0; n < 16; ++n) lines = lines + text(std::to_string(n) + " 0 0\r\n");
             return lines;
         }(), 16},
        {"jasc with LF ends", text("JASC-PAL\n0100\n1\n255 255 255\n\n"), 1},
        {"act of 768", cut(exported(Format::act), 768), 256},
        {"act counting 16", act16, 16},
        {"riff of 16", cut(patched(patched(riff16, 16, {4 + 64, 0, 0, 0}), 22, {16, 0}), 8 + 4 + 8 + 4 + 64), 16},
        {"png of 2", smallPng(2), 2},
    };
    for (const auto& c : cases) {
        const palette::Imported back = palette::importPalette(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(back.count(), c.count) << c.what;
    }
    const Bytes gpl = cases[0].bytes;
    EXPECT_EQ(palette::importPalette(gpl.data(), gpl.size()).colours, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(palette::importPalette(cases[7].bytes.data(), cases[7].bytes.size()).colours, (Bytes{10, 20, 30, 40, 50, 60}));
}

TEST(PaletteFormat, DamagedOrForeignFilesAreRefusedWithTheirReason) {
    const Bytes gplHead = text("GIMP Palette\nName: x\n#\n"), jascHead = text("JASC-PAL\r\n0100\r\n");
    const Bytes riff = exported(Format::riff), iffFile = exported(Format::iff), png = exported(Format::png);
    const struct {
        const char* what;
        Bytes bytes;
        std::string reason;
    } cases[] = {
        {"empty", {}, "an empty file"},
        {"foreign", text("BM this is a bitmap"), "not a palette file this program knows"},
        {"act one byte short", cut(exported(Format::act), 771), "not a palette file this program knows"},
        {"gpl text for a number", gplHead + text("1 2 3\n1 2 abc\n"), "line 5: expected three numbers 0 to 255, found '1 2 abc'"},
        {"gpl two numbers", gplHead + text("1 2\n"), "line 4: expected three numbers 0 to 255, found '1 2'"},
        {"gpl name glued on", gplHead + text("1 2 3x\n"), "line 4: expected three numbers 0 to 255, found '1 2 3x'"},
        {"gpl negative", gplHead + text("1 -2 3\n"), "line 4: expected three numbers 0 to 255, found '1 -2 3'"},
        {"gpl over 255", gplHead + text("1 256 3\n"), "line 4: value 256 over 255"},
        {"gpl huge value", gplHead + text("1 2 99999999999999999999\n"), "line 4: value 999999999999... over 255"},
        {"gpl control bytes", gplHead + text("1 2 \x01\xFF\n"), "line 4: expected three numbers 0 to 255, found '1 2 \\x01\\xFF'"},
        {"gpl 257 colours", [&] {
             Bytes b = gplHead;
             for (int n = 0; n < 257; ++n) b = b + text("0 0 0\n");
             return b;
         }(), "line 260: a 257th colour, over 256"},
        {"gpl no colours", gplHead, "no colours"},
        {"jasc wrong version", text("JASC-PAL\r\n0200\r\n1\r\n0 0 0\r\n"), "line 2: expected the version 0100, found '0200'"},
        {"jasc no version", text("JASC-PAL\r\n"), "cut short: no version line"},
        {"jasc no count", jascHead, "cut short: no colour count"},
        {"jasc text for the count", jascHead + text("many\r\n"), "line 3: expected the colour count, found 'many'"},
        {"jasc count over 256", jascHead + text("300\r\n"), "the count 300 is over 256"},
        {"jasc count 0", jascHead + text("0\r\n"), "the count 0: no colours"},
        {"jasc cut short", jascHead + text("16\r\n1 2 3\r\n4 5 6\r\n"), "cut short: 2 of 16 colours"},
        {"jasc four numbers", jascHead + text("1\r\n1 2 3 4\r\n"), "line 4: expected three numbers 0 to 255, found '1 2 3 4'"},
        {"jasc over 255", jascHead + text("1\r\n1 2 300\r\n"), "line 4: value 300 over 255"},
        {"jasc more than counted", jascHead + text("1\r\n1 2 3\r\n4 5 6\r\n"), "line 5: more colours than the count 1"},
        {"act count over 256", patched(exported(Format::act), 768, {0x01, 0x2C}), "the count 300 is over 256"},
        {"act count 0", patched(exported(Format::act), 768, {0, 0}), "the count 0: no colours"},
        {"riff header cut", cut(riff, 10), "cut short: the RIFF header"},
        {"riff of another type", patched(riff, 8, text("WAVE")), "a RIFF file of type 'WAVE', not 'PAL '"},
        {"riff type not text", patched(riff, 8, {1, 'A', 'B', ' '}), "a RIFF file of type '\\x01AB ', not 'PAL '"},
        {"riff cut short", cut(riff, 948), "cut short: the RIFF size says 1040 bytes, 940 follow"},
        {"riff data over its file", patched(riff, 16, {0x05, 0x04, 0, 0}), "cut short: chunk 'data' of 1029 bytes, 1028 left"},
        {"riff count over 256", patched(riff, 22, {0x2C, 0x01}), "the count 300 is over 256"},
        {"riff count over its data", patched(riff, 16, {0x04, 0x02, 0, 0}), "cut short: 256 colours need 1024 bytes, chunk 'data' holds 512"},
        {"riff version", patched(riff, 20, {0x00, 0x01}), "the version 0x0100, not 0x0300"},
        {"riff without data", patched(riff, 12, text("junk")), "no chunk 'data'"},
        {"png cut short", cut(png, png.size() - 20), "cut short: the PNG ends early"},
        {"png without palette", smallPng(0), "a PNG with no palette"},
        {"png of more pixels than it holds", resized(smallPng(2), 1000000), "cut short: the image size is more than the PNG holds"},
        {"png too wide for libpng's limit", resized(smallPng(2), 1000001), "a damaged PNG: Invalid IHDR data"},
        {"png damaged", patched(png, 29, {std::uint8_t(png[29] ^ 0xFF)}), "a damaged PNG: IHDR: CRC error"},
        {"iff of another form", patched(iffFile, 8, text("BITM")), "expected FORM 'PAL ', found FORM 'BITM'"},
        {"iff cut short", cut(iffFile, 700), "cut short: FORM 'PAL ' declares 780 bytes, 692 follow"},
        {"iff header cut", cut(iffFile, 8), "cut short: the FORM header"},
        {"iff name first", iff::form("PAL ", iff::name("x")), "expected chunk 'CMAP' first in FORM 'PAL ', found chunk 'NAME'"},
        {"iff empty form", iff::form("PAL ", {}), "expected chunk 'CMAP' first in FORM 'PAL ', found the end of the form"},
        {"iff short table", iff::form("PAL ", iff::cmap(Bytes(48, 1))), "the colour table 'CMAP' holds 48 bytes, fewer than 768"},
        {"iff table over its form", patched(iffFile, 16, {0, 0, 3, 2}), "cut short: chunk 'CMAP' declares 770 bytes, 768 left"},
    };
    for (const auto& c : cases) EXPECT_EQ(refusal(c.bytes), c.reason) << c.what;
}
