// The program run on good files: console lines, exit status, files written,
// and every pixel decoded with libpng.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/Workdir.h"
#include "support/Png.h"

using namespace iff;

namespace {

// Compares both images of `mat` with what the MAT file holds; the first stored
// row must be the bottom row of the PNG.
void expectImages(const Workdir& w, const std::string& mat, const Mat& m, const Bytes& table = colours()) {
    const auto colour = readPng(w / (mat + ".png"));
    const auto alpha = readPng(w / (mat + "_alpha.png"));
    ASSERT_TRUE(colour);
    ASSERT_EQ(bool(alpha), bool(m.alpha));
    ASSERT_EQ(colour->channels, m.alpha ? 4u : 3u);
    ASSERT_EQ(colour->width, unsigned(m.width));
    ASSERT_EQ(colour->height, unsigned(m.height));
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            const std::size_t p = std::size_t(m.height - 1 - y) * m.width + x;
            const png_byte* got = colour->at(x, y);
            EXPECT_EQ(Bytes(got, got + 3), Bytes(&table[3 * m.pixels[p]], &table[3 * m.pixels[p] + 3])) << p;
            if (!m.alpha) continue;
            EXPECT_EQ(got[3], 255 - (*m.alpha)[p]) << p;
            EXPECT_EQ(alpha->channels, 1u);
            EXPECT_EQ(*alpha->at(x, y), 255 - (*m.alpha)[p]) << p;
        }
}

}  // namespace

TEST(Conversion, EmbeddedPaletteWithAlphaPlane) {
    Workdir w;
    Mat m;
    m.alpha = Bytes{0x00, 0x40, 0x80, 0xFF};
    w.put("mat/t.mat", m.bytes());
    const Outcome run = w.run();
    EXPECT_EQ(run.out, "type 1\nWrote alpha channel in mat/t.mat_alpha.png\n");
    EXPECT_EQ(run.status, 0);
    expectImages(w, "mat/t.mat", m);
}

TEST(Conversion, NamedPaletteOddSizesAndNoAlpha) {
    Workdir w;
    Mat m;
    m.width = 3;  // odd pixel counts are whole images, the pad byte is not a pixel
    m.height = 5;
    m.type = -1;
    m.hots = chunk("HOTS", {1, 2, 3, 4, 5});
    m.pixels = {0, 255, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 200};
    m.palette = name("sub\\Desert");  // original separator, and a name in another case
    Bytes reversed = colours();
    std::reverse(reversed.begin(), reversed.end());
    fs::create_directory(w / "pal/sub");
    w.put("pal/sub/DESERT.PAL", paletteFile(reversed) + chunk("MORE", {1}));
    w.put("mat/t.mat", m.bytes());
    EXPECT_EQ(w.run().out, "type -1\nNo alpha channel in mat/t.mat\n");
    expectImages(w, "mat/t.mat", m, reversed);
}

TEST(Conversion, AlphaPlaneIsUsedOnlyWhenItDeclaresThePixelCount) {
    struct Case {
        int width, height;
        std::optional<Bytes> alpha;
        Bytes trailer;
        bool used;
    };
    const Case cases[] = {
        {3, 3, Bytes(9, 0x30), {}, true},  // odd length, padded
        {2, 2, Bytes(3, 0x30), {}, false},  // its pad byte would make the count
        {2, 2, Bytes(5, 0x30), {}, false},
        {2, 2, std::nullopt, Bytes(7, 'x'), false},  // too few bytes for a header
        {3, 1, std::nullopt, {}, false},
    };
    for (const Case& c : cases) {
        Workdir w;
        Mat m;
        m.width = c.width;
        m.height = c.height;
        m.pixels.assign(std::size_t(c.width * c.height), 9);
        m.alpha = c.alpha;
        m.trailer = c.trailer;
        Bytes file = m.bytes();
        if (c.width * c.height % 2 && !c.alpha) file.pop_back();  // the last pad byte may be missing
        w.put("mat/t.mat", file);
        const Outcome run = w.run();
        EXPECT_EQ(run.out, "type 1\n" + (c.used ? "Wrote alpha channel in mat/t.mat_alpha.png\n"
                                                 : std::string("No alpha channel in mat/t.mat\n")));
        if (!c.used) m.alpha.reset();
        expectImages(w, "mat/t.mat", m);
    }
}

TEST(Conversion, OutputsAreReplacedAndLinksNotFollowed) {
    Workdir w;
    Mat m;
    m.alpha = Bytes{1, 2, 3, 4};
    w.put("mat/t.mat", m.bytes());
    w.put("victim", text("keep"));
    w.put("mat/t.mat.png", text("old"));
    fs::create_symlink(w / "victim", w / "mat/t.mat_alpha.png");
    EXPECT_EQ(w.run().status, 0);
    expectImages(w, "mat/t.mat", m);
    EXPECT_FALSE(fs::is_symlink(w / "mat/t.mat_alpha.png"));
    std::ifstream victim(w / "victim");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(w / "mat"), {}), 3);  // no temporary file left
}
