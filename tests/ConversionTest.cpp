// The program run on good files: console lines, exit status, files written,
// and every pixel decoded with libpng.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "support/Workdir.h"
#include "support/Png.h"

using namespace iff;

TEST(Conversion, EmbeddedPaletteWithAlphaReplacesEarlierOutputs) {
    Workdir w;
    Mat m;
    m.alpha = Bytes{0x00, 0x40, 0x80, 0xFF};
    w.put("mat/t.mat", m.bytes());
    w.put("mat/t.mat.png", text("old"));
    w.put("victim", text("keep"));
    fs::create_symlink(w / "victim", w / "mat/t.mat_alpha.png");  // replaced, never followed
    const Outcome run = w.run();
    EXPECT_EQ(run.out, "type 1\nWrote alpha channel in mat/t.mat_alpha.png\n");
    EXPECT_EQ(run.status, 0);
    expectImages(w, "mat/t.mat", m);
    EXPECT_EQ(w.read("victim"), "keep");
    EXPECT_EQ(w.entries("mat"), 3);  // no temporary file left
}

TEST(Conversion, NamedPaletteAndOddSizes) {
    Workdir w;
    Mat m{3, 5, -1, name("sub\\Desert"), {0, 255, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 200}, {}, {}};
    m.hots = chunk("HOTS", {1, 2, 3, 4, 5});
    Bytes reversed = colours();
    std::reverse(reversed.begin(), reversed.end());
    fs::create_directory(w / "pal/sub");  // the backslash is the original separator, the case differs
    w.put("pal/sub/DESERT.PAL", paletteFile(reversed) + chunk("MORE", {1}));
    w.put("mat/t.mat", m.bytes());
    EXPECT_EQ(w.run().out, "type -1\nNo alpha channel in mat/t.mat\n");
    expectImages(w, "mat/t.mat", m, reversed);
}

TEST(Conversion, AlphaPlaneIsUsedOnlyWhenItDeclaresThePixelCount) {
    const struct {
        int width, height;
        std::optional<Bytes> alpha;
        Bytes after;
        bool used, unpadded;
    } cases[] = {
        {3, 3, Bytes(9, 0x30), {}, true, false},  // odd length, padded
        {2, 2, Bytes(3, 0x30), {}, false, false},  // its pad byte would make the count
        {2, 2, Bytes(5, 0x30), {}, false, false},
        {2, 2, std::nullopt, Bytes(7, 'x'), false, false},  // too few bytes for a header
        {3, 1, std::nullopt, {}, false, true},  // the last pad byte of the file is missing
    };
    for (const auto& c : cases) {
        Workdir w;
        Mat m{c.width, c.height, 1, cmap(), Bytes(std::size_t(c.width * c.height), 9), c.alpha, {}};
        Bytes file = m.bytes() + c.after;
        if (c.unpadded) file.pop_back();
        w.put("mat/t.mat", file);
        EXPECT_EQ(w.run().out, c.used ? "type 1\nWrote alpha channel in mat/t.mat_alpha.png\n"
                                    : "type 1\nNo alpha channel in mat/t.mat\n");
        if (!c.used) m.alpha.reset();
        expectImages(w, "mat/t.mat", m);
    }
}

TEST(Conversion, IndexedImagesHoldTheStoredIndicesUnderTheWholePalette) {
    Bytes twins = colours();  // entries 6 and 7 alike: each must keep its own index
    std::copy_n(&twins[18], 3, &twins[21]);
    Bytes ramp(96 * 40);
    for (std::size_t p = 0; p < ramp.size(); ++p) ramp[p] = std::uint8_t(p % 96 + p / 96 * 3 + p % 7 / 5);
    const struct {
        const char* name;
        Mat mat;
        Bytes table;
    } cases[] = {
        {"a", {3, 5, 1, cmap(twins), {0, 6, 7, 255, 6, 7, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, {}}, twins},
        {"b", {2, 3, 2, cmap(), {0, 1, 2, 3, 254, 255}, Bytes{0, 0x40, 0x80, 0xFF, 1, 2}, {}}, colours()},
        {"c", {4, 1, 3, name("sub\\P"), {6, 7, 7, 6}, {}, {}}, twins},
        {"d", {96, 40, 1, cmap(), ramp, {}, {}}, colours()},  // smooth indices: rows filtered
    };
    Workdir w;
    fs::create_directory(w / "pal/sub");
    w.put("pal/sub/p.pal", paletteFile(twins));
    for (const auto& c : cases) w.put("mat/" + std::string(c.name) + ".mat", c.mat.bytes());
    w.put("mat/z.mat", Mat{2, 2, 1, name("none"), {1, 2, 3, 4}, {}, {}}.bytes());
    const Outcome plain = w.run("", "", "-j 1");
    EXPECT_EQ(plain.status, 1);
    for (const auto& c : cases) {  // no option: RGB as ever
        EXPECT_EQ(readRaw(w / ("mat/" + std::string(c.name) + ".mat.png")).type,
                  c.mat.alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB);
        expectImages(w, "mat/" + std::string(c.name) + ".mat", c.mat, c.table);
    }
    std::map<std::string, std::string> single;
    for (const std::string args : {"-i -j 1", "--indexed -j 2"}) {
        const Outcome run = w.run("", "", args);
        EXPECT_EQ(run.out, plain.out) << args;
        EXPECT_EQ(run.err, plain.err) << args;
        EXPECT_EQ(run.status, plain.status) << args;
        EXPECT_EQ(w.entries("mat"), 10) << args;  // 5 files, 4 colour images, 1 alpha image, nothing else
        for (const auto& c : cases) {
            const std::string path = "mat/" + std::string(c.name) + ".mat";
            const RawPng png = readRaw(w / (path + ".png"));
            EXPECT_EQ(png.type, PNG_COLOR_TYPE_PALETTE) << path;
            EXPECT_EQ(png.depth, 8) << path;
            EXPECT_TRUE(png.trns.empty()) << path;
            EXPECT_EQ(png.palette, c.table) << path;
            ASSERT_EQ(png.width * png.height, c.mat.pixels.size()) << path;
            ASSERT_EQ(png.width, png_uint_32(c.mat.width)) << path;
            for (int y = 0; y < c.mat.height; ++y)  // the first stored row is the bottom row
                for (int x = 0; x < c.mat.width; ++x)
                    EXPECT_EQ(png.samples[std::size_t(y) * c.mat.width + x],
                              c.mat.pixels[std::size_t(c.mat.height - 1 - y) * c.mat.width + x]) << path << " " << x << "," << y;
            const auto alpha = readPng(w / (path + "_alpha.png"));
            ASSERT_EQ(bool(alpha), bool(c.mat.alpha)) << path;
            if (!alpha) continue;
            ASSERT_EQ(alpha->channels(), 1u);
            for (int y = 0; y < c.mat.height; ++y)
                for (int x = 0; x < c.mat.width; ++x)
                    EXPECT_EQ(*alpha->at(x, y), 255 - (*c.mat.alpha)[std::size_t(c.mat.height - 1 - y) * c.mat.width + x]);
        }
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(w / "mat"))
            files[entry.path().filename()] = w.read("mat/" + entry.path().filename().string());
        if (single.empty()) single = files;
        EXPECT_EQ(files, single) << args;  // the same bytes from workers
    }
}
