// The program run on good files: console lines, exit status, files written,
// and every pixel decoded with libpng.

#include <gtest/gtest.h>

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
