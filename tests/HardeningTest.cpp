// What an unusual working directory does to both programs: entries that are not files, text that
// would drive the terminal, a conversion that crashes on a one-CPU machine, and the writer of the
// alpha images of --indexed runs.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "support/Png.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string png2mat = PNG2MAT_BINARY;

std::string sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::string joined;
    for (const std::string& line : lines) joined += line + "\n";
    return joined;
}

Bytes pngChunk(const std::string& type, const Bytes& content) {
    const Bytes body = text(type) + content;
    return be32(std::uint32_t(content.size())) + body + be32(std::uint32_t(::crc32(0, body.data(), uInt(body.size()))));
}

// A PNG whose header declares `width` x `height` RGB pixels, with too little data to hold them.
Bytes declaredPng(std::uint32_t width, std::uint32_t height) {
    return Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'} + pngChunk("IHDR", be32(width) + be32(height) + Bytes{8, 2, 0, 0, 0}) +
           pngChunk("IDAT", Bytes{0x78, 0x9C, 0x03, 0x00}) + pngChunk("IEND", {});
}

// The filter type of every row of a non-interlaced 8-bit grey PNG.
std::vector<int> rowFilters(const std::string& file) {
    const Bytes png(file.begin(), file.end());
    Bytes data;
    std::uint32_t width = 0, height = 0;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = std::uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        const std::string type(png.begin() + std::ptrdiff_t(at + 4), png.begin() + std::ptrdiff_t(at + 8));
        const auto content = png.begin() + std::ptrdiff_t(at + 8);
        if (type == "IHDR") {
            width = std::uint32_t(content[0]) << 24 | content[1] << 16 | content[2] << 8 | content[3];
            height = std::uint32_t(content[4]) << 24 | content[5] << 16 | content[6] << 8 | content[7];
        }
        if (type == "IDAT") data.insert(data.end(), content, content + length);
        at += 12 + length;
    }
    Bytes rows(std::size_t(width + 1) * height);
    uLongf size = uLongf(rows.size());
    if (::uncompress(rows.data(), &size, data.data(), uLong(data.size())) != Z_OK || size != rows.size()) return {};
    std::vector<int> filters;
    for (std::uint32_t y = 0; y < height; ++y) filters.push_back(rows[std::size_t(y) * (width + 1)]);
    return filters;
}

}  // namespace

TEST(Hardening, Png2MatRefusesWhatIsNotAFileAndNamesEachFileOnce) {
    const struct {
        const char* what;
        std::string args;
        std::function<void(const Workdir&)> setup;  // after mat2png has written every image
        std::string failed, err;
    } cases[] = {
        {"colour image a FIFO", "", [](auto& w) { fs::remove(w / "mat/r.mat.png"); ::mkfifo((w / "mat/r.mat.png").c_str(), 0600); },
         "r.mat", "png2mat: mat/r.mat: mat/r.mat.png: is a FIFO, not a file\n"},
        {"alpha image a FIFO", "", [](auto& w) { fs::remove(w / "mat/r.mat_alpha.png"); ::mkfifo((w / "mat/r.mat_alpha.png").c_str(), 0600); },
         "r.mat", "png2mat: mat/r.mat: mat/r.mat_alpha.png: is a FIFO, not a file\n"},
        {"new image a FIFO", "--palette=p", [](auto& w) { fs::remove(w / "mat/r.mat"); fs::remove(w / "mat/r.mat.png"); fs::remove(w / "mat/r.mat_alpha.png");
                                                          ::mkfifo((w / "mat/r.mat.png").c_str(), 0600); },
         "r.mat.png", "png2mat: mat/r.mat.png: is a FIFO, not a file\n"},
        {"new image too large", "--palette=p", [](auto& w) { fs::remove(w / "mat/r.mat"); fs::remove(w / "mat/r.mat_alpha.png");
                                                             w.put("mat/r.mat.png", declaredPng(50000, 50000)); },
         "r.mat.png", "png2mat: mat/r.mat.png: the image size 50000 x 50000 cannot be converted\n"},
        {"image of a MAT too large", "", [](auto& w) { w.put("mat/r.mat.png", declaredPng(50000, 50000)); },
         "r.mat", "png2mat: mat/r.mat: mat/r.mat.png: the image size 50000 x 50000 cannot be converted\n"},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("pal/p.pal", paletteFile());
        w.put("mat/g.mat", Mat().bytes());
        w.put("mat/r.mat", Mat{2, 2, 1, cmap(), {1, 2, 3, 4}, Bytes{0, 9, 99, 255}, {}}.bytes());
        ASSERT_EQ(w.run().status, 0);
        // pixel 0 shows entry 1's colour: an edit within the palette
        Png edited = *readPng(w / "mat/g.mat.png");
        std::copy_n(&colours()[3], 3, edited.samples.begin());
        ASSERT_TRUE(writePng(w / "mat/g.mat.png", edited));
        c.setup(w);
        // a FIFO opened for reading would wait for a writer: the run must not
        const Outcome run = w.run("", "timeout 30", c.args, png2mat);
        EXPECT_EQ(sortedLines(run.out), sortedLines("Updated mat/g.mat\nCould not process " + c.failed + "\n")) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(run.status, 1) << c.what;
    }
}

TEST(Hardening, TextFromFilesReachesTheTerminalEscaped) {
    const std::string osc = "\x1b]0;owned\x07", clear = "\x1b[2J";
    const struct {
        const char* what;
        std::function<void(const Workdir&)> setup;
        std::string binary, args, out, err;
    } cases[] = {
        {"palette name", [&](auto& w) { w.put("mat/t.mat", Mat{2, 2, 1, name(osc), {1, 2, 3, 4}, {}, {}}.bytes()); }, MAT2PNG_BINARY, "",
         "type 1\nCould not process t.mat\n",
         "mat2png: mat/t.mat: palette \"\\x1B]0;owned\\x07\" (pal/\\x1B]0;owned\\x07.pal): No such file or directory\n"},
        // standard output keeps the name as it is, as it always has
        {"file name", [&](auto& w) { w.put("mat/" + clear + ".mat", text("junk")); }, MAT2PNG_BINARY, "", "Could not process " + clear + ".mat\n",
         "mat2png: mat/\\x1B[2J.mat: expected FORM 'BITM' or 'ANIM', found the end of the file\n"},
        {"png2mat: image name", [&](auto& w) { w.put("mat/" + clear + ".mat.png", Bytes{}); }, png2mat, "", "Could not process " + clear + ".mat.png\n",
         "png2mat: mat/\\x1B[2J.mat.png: there is no MAT file mat/\\x1B[2J.mat beside it, so no palette to map its colours to; --palette=NAME creates one\n"},
        {"png2mat: palette name", [&](auto& w) {
             w.put("mat/t.mat", Mat{2, 2, 1, name(osc), {1, 2, 3, 4}, {}, {}}.bytes());
             w.put("mat/t.mat.png", declaredPng(2, 2));
         }, png2mat, "", "Could not process t.mat\n",
         "png2mat: mat/t.mat: palette \"\\x1B]0;owned\\x07\" (pal/\\x1B]0;owned\\x07.pal): No such file or directory\n"},
    };
    for (const auto& c : cases) {
        Workdir w;
        c.setup(w);
        const Outcome run = w.run("", "", c.args, c.binary);
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(run.status, 1) << c.what;
    }
}

TEST(Hardening, ACrashCostsOnlyItsFileOnOneCpu) {
    Workdir w;
    for (const char* file : {"a", "crash", "z"}) w.put("mat/" + std::string(file) + ".mat", Mat().bytes());
    // the shim makes every process that opens crash.mat die of SIGSEGV
    const std::string oneCpu = "env LD_PRELOAD=" RACE_SHIM " CRASH_ON=crash.mat taskset -c 0";
    const Outcome run = w.run("", oneCpu);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(sortedLines(run.out), sortedLines("type 1\nNo alpha channel in mat/a.mat\nCould not process crash.mat\ntype 1\nNo alpha channel in mat/z.mat\n"));
    EXPECT_EQ(run.err, "mat2png: mat/crash.mat: conversion crashed (signal 11)\n");
    EXPECT_TRUE(fs::exists(w / "mat/a.mat.png") && fs::exists(w / "mat/z.mat.png"));
    // -j 1 asks for one process, which the crash ends
    EXPECT_EQ(w.run("", oneCpu, "-j 1").status, 128 + SIGSEGV);
}

TEST(Hardening, IndexedRunsWriteAlphaImagesAsTheirColourImages) {
    Workdir w;
    Mat m{64, 32, 1, cmap(), Bytes(64 * 32), Bytes(64 * 32), {}};
    for (std::size_t p = 0; p < m.pixels.size(); ++p) m.pixels[p] = std::uint8_t(p % 64), (*m.alpha)[p] = std::uint8_t(p % 64 * 4 + p / 64);
    w.put("mat/s.mat", m.bytes());
    ASSERT_EQ(w.run("", "", "-i -j 1").status, 0);
    const auto alpha = readPng(w / "mat/s.mat_alpha.png");
    ASSERT_TRUE(alpha && alpha->channels() == 1);
    for (int y = 0; y < m.height; ++y)  // the first stored row is the bottom row
        for (int x = 0; x < m.width; ++x) ASSERT_EQ(*alpha->at(x, y), 255 - (*m.alpha)[std::size_t(m.height - 1 - y) * m.width + x]);
    // a smooth plane: rows Paeth-filtered, as the colour images of such runs
    const std::vector<int> filters = rowFilters(w.read("mat/s.mat_alpha.png"));
    ASSERT_EQ(filters.size(), 32u);
    EXPECT_TRUE(std::all_of(filters.begin(), filters.end(), [](int f) { return f == 4; }));
}
