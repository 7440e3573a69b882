// The program run on bad input and failing outputs: each bad file gets its
// failure line and no image, the batch goes on, and the exit status tells.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string typeLine = "type 1\n", failLine = "Could not process f.mat\n";
const std::string noAlpha = "No alpha channel in mat/f.mat\n";

Bytes withFrame(const Bytes& frame) { return form("BITM", form("FRAM", frame)); }

const Bytes info = chunk("INFO", le32(2) + le32(2) + le32(1));
const Bytes pixels = chunk("PXLS", {1, 2, 3, 4});

Mat sized(std::int32_t width, std::int32_t height, std::size_t count) {
    Mat m;
    m.width = width;
    m.height = height;
    m.pixels.assign(count, 1);
    m.alpha = Bytes(count, 1);
    return m;
}

void expectFailure(const Workdir& w, const std::string& out, const std::string& what) {
    const Outcome run = w.run();
    EXPECT_EQ(run.out, out) << what;
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_FALSE(fs::exists(w / "mat/f.mat.png")) << what;
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

TEST(Failure, MalformedFilesFailAlone) {
    Mat truncated;
    Bytes cut = truncated.bytes();
    cut.resize(cut.size() - 2);
    const struct {
        const char* what;
        Bytes file;
        std::string out;
    } cases[] = {
        {"empty file", {}, failLine},
        {"outer form not BITM", form("XXXX", form("FRAM", info)), failLine},
        {"INFO of 8 bytes", withFrame(chunk("INFO", le32(2) + le32(2))), failLine},
        {"INFO size of 2^31", withFrame(chunk("INFO", le32(2), 0x80000000u)), failLine},
        {"FORM size below 4", text("FORM") + be32(2) + text("BITM") + form("FRAM", info), failLine},
        {"chunk other than HOTS", withFrame(info + chunk("HOTZ", {}) + form("PAL ", cmapChunk()) + pixels), typeLine + failLine},
        {"CMAP declared 767", withFrame(info + form("PAL ", chunk("CMAP", Bytes(767, 1))) + pixels), typeLine + failLine},
        {"CMAP of 770", withFrame(info + form("PAL ", chunk("CMAP", Bytes(770, 1))) + pixels), typeLine + failLine},
        {"no colour table", withFrame(info + form("PAL ", pixels)), typeLine + failLine},
        {"empty NAME", withFrame(info + form("PAL ", chunk("NAME", {})) + pixels), typeLine + failLine},
        {"chunk before PXLS", withFrame(info + form("PAL ", cmapChunk() + chunk("XTRA", {})) + pixels), typeLine + failLine},
        {"FORM after PXLS", withFrame(info + form("PAL ", cmapChunk()) + pixels + form("FRAM", {})), typeLine + failLine},
        {"8 bytes after PXLS", withFrame(info + form("PAL ", cmapChunk()) + pixels) + Bytes(8, 'x'), typeLine + failLine},
        {"PXLS past the end", cut, typeLine + failLine},
        {"2 GiB PXLS in a small file", withFrame(info + form("PAL ", cmapChunk()) + chunk("PXLS", Bytes(1000, 1), 0x7FFFFFF0u)), typeLine + failLine},
        {"PXLS shorter than the image", withFrame(info + form("PAL ", cmapChunk()) + chunk("PXLS", {1, 2, 3})), typeLine + noAlpha + failLine},
        {"65536 x 65536, empty PXLS", sized(65536, 65536, 0).bytes(), typeLine + noAlpha + failLine},
        {"-2 x -2", sized(-2, -2, 4).bytes(), typeLine + noAlpha + failLine},
        {"0 x 5", sized(0, 5, 0).bytes(), typeLine + noAlpha + failLine},
        {"wider than PNG allows", sized(1000001, 1, 1000001).bytes(), typeLine + noAlpha + failLine},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", c.file);
        expectFailure(w, c.out, c.what);
    }
}

TEST(Failure, PaletteFiles) {
    const struct {
        const char* what;
        std::string name;
        std::string file;
        Bytes content;
        bool converts;
    } cases[] = {
        {"backslash separator", "sub\\rock", "pal/sub/rock.pal", paletteFile(), true},
        {"first 768 of 770 bytes", "long", "pal/long.pal", form("PAL ", chunk("CMAP", colours() + Bytes{1, 2})), true},
        {"FORM size wrong", "size", "pal/size.pal", text("FORM") + be32(9) + text("PAL ") + chunk("CMAP", colours()), true},
        {"missing", "none", "pal/other.pal", paletteFile(), false},
        {"parent directory", "../up", "up.pal", paletteFile(), false},
        {"absolute", (fs::temp_directory_path() / "abs").string(), "abs.pal", paletteFile(), false},
        {"767 colour bytes", "short", "pal/short.pal", form("PAL ", chunk("CMAP", Bytes(767, 1))), false},
        {"first child not CMAP", "late", "pal/late.pal", form("PAL ", chunk("XXXX", {}) + chunk("CMAP", colours())), false},
        {"form type not PAL", "kind", "pal/kind.pal", form("PALS", chunk("CMAP", colours())), false},
    };
    for (const auto& c : cases) {
        Workdir w;
        Mat m;
        m.palette = name(c.name);
        w.put("mat/f.mat", m.bytes());
        fs::create_directories((w / c.file).parent_path());
        w.put(c.file, c.content);
        if (c.converts) {
            EXPECT_EQ(w.run().out, typeLine + noAlpha) << c.what;
            EXPECT_TRUE(fs::exists(w / "mat/f.mat.png")) << c.what;
        } else {
            expectFailure(w, typeLine + failLine, c.what);
        }
    }
}

TEST(Failure, BatchGoesOnAndTheExitStatusTells) {
    Workdir none;
    fs::remove(none / "mat");
    const std::string message = "No *.iff files in current directory!\n";
    EXPECT_EQ(none.run().out, message);
    EXPECT_EQ(none.run().status, 2);
    none.put("x.mat", Mat().bytes());
    fs::create_directory(none / "mat");
    none.put("mat/notes.txt", Mat().bytes());
    EXPECT_EQ(none.run().out, message);

    Workdir w;
    Mat anim;
    w.put("mat/good.mat", Mat().bytes());
    w.put("mat/HERO.MAT", Mat().bytes());
    w.put("mat/bad.mat", text("junk"));
    w.put("mat/anim.mat", form("ANIM", Bytes(2, 0)));
    fs::create_directory(w / "mat/dir.mat");
    ASSERT_EQ(::mkfifo((w / "mat/fifo.mat").c_str(), 0600), 0);  // must not block the run
    const Outcome run = w.run();
    EXPECT_EQ(sortedLines(run.out),
              sortedLines("type 1\nNo alpha channel in mat/good.mat\ntype 1\nNo alpha channel in mat/HERO.MAT\n"
                          "Could not process bad.mat\nCould not process dir.mat\nCould not process fifo.mat\n"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fs::exists(w / "mat/good.mat.png"));
    EXPECT_TRUE(fs::exists(w / "mat/HERO.MAT.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(w / "mat"), {}), 8);  // nothing else written

    fs::remove_all(w / "mat/dir.mat");
    fs::remove(w / "mat/fifo.mat");
    fs::remove(w / "mat/bad.mat");
    EXPECT_EQ(w.run().status, 0);
}

TEST(Failure, ImagesThatCannotBeWrittenFailTheFile) {
    Mat m;
    m.alpha = Bytes(4, 0);
    {
        Workdir w;  // the alpha image cannot be written: no line claims it was
        w.put("mat/f.mat", m.bytes());
        fs::create_directory(w / "mat/f.mat_alpha.png");
        expectFailure(w, typeLine + failLine, "alpha output");
    }
    {
        Workdir w;
        w.put("mat/f.mat", m.bytes());
        fs::create_directory(w / "mat/f.mat.png");
        EXPECT_EQ(w.run().out, typeLine + "Wrote alpha channel in mat/f.mat_alpha.png\n" + failLine);
    }
    {
        Workdir w;  // a full disk in the middle of the image keeps the earlier output whole
        Mat noisy;
        noisy.width = noisy.height = 256;
        for (unsigned i = 0; i < 65536; ++i) noisy.pixels.push_back(std::uint8_t(i * 2654435761u >> 24));
        noisy.pixels.erase(noisy.pixels.begin(), noisy.pixels.begin() + 4);
        w.put("mat/f.mat", noisy.bytes());
        w.put("mat/f.mat.png", text("earlier"));
        const Outcome run = w.run("trap '' XFSZ; ulimit -f 8;");
        EXPECT_EQ(run.out, typeLine + noAlpha + failLine);
        std::ifstream earlier(w / "mat/f.mat.png");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "earlier");
        EXPECT_EQ(std::distance(fs::directory_iterator(w / "mat"), {}), 2);
    }
}

TEST(Failure, ForgedSizesAreRefusedBeforeAllocating) {
    Workdir w;
    w.put("mat/f.mat", withFrame(info + form("PAL ", cmapChunk()) + chunk("PXLS", Bytes(1024, 1), 0x7FFFFFFEu)));
    EXPECT_EQ(w.run().status, 1);
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);  // KiB
}
