// The program run on bad input and failing outputs: each bad file gets its
// failure line and no image, the batch goes on, and the exit status tells.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <set>
#include <sstream>

#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string typeLine = "type 1\n", failLine = "Could not process f.mat\n";
const std::string noAlpha = "No alpha channel in mat/f.mat\n";
const Bytes info = chunk("INFO", le32(2) + le32(2) + le32(1)), pixels = chunk("PXLS", {1, 2, 3, 4});

Bytes frame(const Bytes& items) { return form("BITM", form("FRAM", items)); }
Bytes sized(std::int32_t width, std::int32_t height, std::size_t count) {
    return Mat{width, height, 1, cmap(), Bytes(count, 1), Bytes(count, 1), {}}.bytes();
}

// One reason line for f.mat on standard error, holding every fact (chunk id, numbers, path) in `facts`.
void expectReason(const Outcome& run, const std::vector<std::string>& facts, const std::string& what) {
    const std::string prefix = "mat2png: mat/f.mat: ";
    EXPECT_EQ(run.err.compare(0, prefix.size(), prefix), 0) << what << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << what << ": " << run.err;
    for (const std::string& fact : facts) EXPECT_NE(run.err.find(fact), std::string::npos) << what << ": " << fact << " in " << run.err;
}

void expectFailure(const Workdir& w, const std::string& out, const std::vector<std::string>& facts, const std::string& what) {
    const Outcome run = w.run();
    EXPECT_EQ(run.out, out) << what;
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_FALSE(fs::exists(w / "mat/f.mat.png")) << what;
    expectReason(run, facts, what);
}

std::multiset<std::string> lines(const std::string& text) {
    std::multiset<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.insert(line);
    return result;
}

}  // namespace

TEST(Failure, MalformedFilesFailAlone) {
    Bytes cut = Mat().bytes();
    cut.resize(cut.size() - 2);
    const struct {
        const char* what;
        Bytes file;
        std::string out;
        std::vector<std::string> reason;
    } cases[] = {
        {"empty file", {}, failLine, {"BITM", "end of the file"}},
        {"outer form not BITM", form("XXXX", form("FRAM", info)), failLine, {"'XXXX'"}},
        {"INFO of 8 bytes", frame(chunk("INFO", le32(2) + le32(2))), failLine, {"INFO", " 8 "}},
        {"INFO size of 2^31", frame(chunk("INFO", le32(2), 0x80000000u)), failLine, {"INFO", "2147483648", " 4 bytes left"}},
        {"FORM size below 4", text("FORM") + be32(2) + text("BITM") + form("FRAM", info), failLine, {"BITM", " 2 ", "32 bytes left"}},
        {"ANIM of size 2^32 - 1", text("FORM") + be32(0xFFFFFFFFu) + text("ANIM"), failLine, {"ANIM", "4294967295", " 0 bytes left"}},
        {"chunk other than HOTS", frame(info + chunk("HOTZ", {}) + form("PAL ", cmap()) + pixels), typeLine + failLine, {"'HOTZ'", "'HOTS'", "'PAL '"}},
        {"CMAP declared 767", frame(info + form("PAL ", chunk("CMAP", Bytes(767, 1))) + pixels), typeLine + failLine, {"CMAP", "767"}},
        {"CMAP of 770", frame(info + form("PAL ", chunk("CMAP", Bytes(770, 1))) + pixels), typeLine + failLine, {"CMAP", "770"}},
        {"no colour table", frame(info + form("PAL ", pixels)), typeLine + failLine, {"'PXLS'", "CMAP", "NAME"}},
        {"empty NAME", frame(info + form("PAL ", chunk("NAME", {})) + pixels), typeLine + failLine, {"NAME", "empty"}},
        {"chunk before PXLS", frame(info + form("PAL ", cmap() + chunk("XTRA", {})) + pixels), typeLine + failLine, {"'XTRA'", "'PXLS'"}},
        {"FORM after PXLS", frame(info + form("PAL ", cmap()) + pixels + form("FRAM", {})), typeLine + failLine, {"FORM 'FRAM'", "'ALPH'"}},
        {"8 bytes after PXLS", frame(info + form("PAL ", cmap()) + pixels) + Bytes(8, 'x'), typeLine + failLine, {"'xxxx'", "'ALPH'"}},
        {"PXLS past the end", cut, typeLine + failLine, {"PXLS", " 4 ", " 2 are left"}},
        {"PXLS shorter than the image", frame(info + form("PAL ", cmap()) + chunk("PXLS", {1, 2, 3})), typeLine + noAlpha + failLine, {"PXLS", " 3 ", "2 x 2", " 4"}},
        {"alpha kept, PXLS short", frame(info + form("PAL ", cmap()) + chunk("PXLS", {1, 2, 3}) + chunk("ALPH", Bytes(4, 0))),
         typeLine + "Wrote alpha channel in mat/f.mat_alpha.png\n" + failLine, {"PXLS", " 3 "}},
        {"65536 x 65536, empty PXLS", sized(65536, 65536, 0), typeLine + noAlpha + failLine, {"65536 x 65536"}},
        {"-2 x -2", sized(-2, -2, 4), typeLine + noAlpha + failLine, {"-2 x -2"}},
        {"0 x 5", sized(0, 5, 0), typeLine + noAlpha + failLine, {"0 x 5"}},
        {"wider than PNG allows", sized(1000001, 1, 1000001), typeLine + noAlpha + failLine, {"1000001 x 1"}},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", c.file);
        expectFailure(w, c.out, c.reason, c.what);
    }
}

TEST(Failure, PaletteFiles) {
    const struct {
        std::string name, file;
        Bytes content;
        bool converts;
        std::vector<std::string> reason = {};  // besides the name as stored and the path tried
    } cases[] = {
        {"sub\\rock", "pal/sub/rock.pal", paletteFile(), true},
        {"long", "pal/long.pal", paletteFile(colours() + Bytes{1, 2}), true},  // only the first 768 bytes count
        {"size", "pal/size.pal", text("FORM") + be32(9) + text("PAL ") + cmap(), true},  // the FORM size is not used
        {"none", "pal/other.pal", paletteFile(), false, {"pal/none.pal", "No such file"}},
        {"../up", "up.pal", paletteFile(), false, {"pal/../up.pal"}},
        {(fs::temp_directory_path() / "abs").string(), "abs.pal", paletteFile(), false, {"pal/" + (fs::temp_directory_path() / "abs.pal").string()}},
        {"short", "pal/short.pal", paletteFile(Bytes(767, 1)), false, {"pal/short.pal", "767"}},
        {"late", "pal/late.pal", form("PAL ", chunk("XXXX", {}) + cmap()), false, {"pal/late.pal", "'XXXX'", "CMAP"}},
        {"kind", "pal/kind.pal", form("PALS", cmap()), false, {"pal/kind.pal", "'PALS'"}},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", Mat{2, 2, 1, name(c.name), {1, 2, 3, 4}, {}, {}}.bytes());
        fs::create_directories((w / c.file).parent_path());
        w.put(c.file, c.content);
        if (!c.converts) {
            std::vector<std::string> facts = c.reason;
            facts.push_back('"' + c.name + '"');
            expectFailure(w, typeLine + failLine, facts, c.name);
            continue;
        }
        EXPECT_EQ(w.run().out, typeLine + noAlpha) << c.name;
        EXPECT_TRUE(fs::exists(w / "mat/f.mat.png")) << c.name;
    }
}

TEST(Failure, BatchGoesOnAndTheExitStatusTells) {
    Workdir w;
    fs::remove(w / "mat");
    const Outcome none = w.run();
    EXPECT_EQ(none.out, "No *.iff files in current directory!\n");
    EXPECT_EQ(none.status, 2);
    fs::create_directory(w / "mat");
    w.put("mat/notes.txt", Mat().bytes());
    EXPECT_EQ(w.run().status, 2);

    w.put("mat/good.mat", Mat().bytes());
    w.put("mat/HERO.MAT", Mat().bytes());  // names from a platform that ignores case
    w.put("mat/bad.mat", text("junk"));
    w.put("mat/anim.mat", form("ANIM", Bytes(2, 0)));
    fs::create_directory(w / "mat/dir.mat");
    ASSERT_EQ(::mkfifo((w / "mat/fifo.mat").c_str(), 0600), 0);  // must not block the run
    const Outcome run = w.run();
    EXPECT_EQ(lines(run.out), lines("type 1\nNo alpha channel in mat/good.mat\ntype 1\nNo alpha channel in mat/HERO.MAT\n"
                                    "Could not process bad.mat\nCould not process dir.mat\nCould not process fifo.mat\n"));
    EXPECT_EQ(lines(run.err), lines("mat2png: mat/bad.mat: expected FORM 'BITM' or 'ANIM', found the end of the file\n"
                                    "mat2png: mat/dir.mat: is a directory, not a file\nmat2png: mat/fifo.mat: is a FIFO, not a file\n"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(fs::exists(w / "mat/good.mat.png") && fs::exists(w / "mat/HERO.MAT.png"));
    EXPECT_EQ(w.entries("mat"), 9);  // nothing else written
    for (const char* bad : {"mat/bad.mat", "mat/dir.mat", "mat/fifo.mat"}) fs::remove(w / bad);
    EXPECT_EQ(w.run().status, 0);
}

TEST(Failure, ImagesThatCannotBeWrittenFailTheFile) {
    for (const std::string output : {"mat/f.mat_alpha.png", "mat/f.mat.png"}) {
        Workdir w;
        w.put("mat/f.mat", Mat{2, 2, 1, cmap(), {1, 2, 3, 4}, Bytes(4, 0), {}}.bytes());
        fs::create_directory(w / output);
        const bool alphaWritten = output == "mat/f.mat.png";  // no line claims an image that is not there
        const Outcome run = w.run();
        EXPECT_EQ(run.out, typeLine + (alphaWritten ? "Wrote alpha channel in mat/f.mat_alpha.png\n" : "") + failLine);
        expectReason(run, {output, "Is a directory"}, output);
    }
}

TEST(Failure, ForgedSizesAreRefusedBeforeAllocating) {
    const Bytes huge = chunk("PXLS", Bytes(2048, 1), 0x7FFFFFFEu);
    const struct {
        const char* what;
        Bytes file, palette = {};
        std::vector<std::string> reason = {};  // the declared size and the bytes left are in every one
    } cases[] = {
        {"2 GiB PXLS in a 2 KiB file", frame(info + form("PAL ", cmap()) + huge), {}, {"'PXLS'", "2147483646", "2048"}},
        {"40000 x 40000, PXLS of the same", frame(chunk("INFO", le32(40000) + le32(40000) + le32(1)) + form("PAL ", cmap()) + huge), {}, {"'PXLS'", "2147483646"}},
        {"2 GiB ALPH", frame(info + form("PAL ", cmap()) + pixels + chunk("ALPH", Bytes(64, 1), 0x7FFFFFF0u)), {}, {"'ALPH'", "2147483632", " 64 "}},
        {"2 GiB HOTS", frame(info + chunk("HOTS", Bytes(8, 1), 0x7FFFFFF0u) + form("PAL ", cmap()) + pixels), {}, {"'HOTS'", "2147483632"}},
        {"2 GiB CMAP", frame(info + form("PAL ", chunk("CMAP", colours(), 0x7FFFFFF0u)) + pixels), {}, {"'CMAP'", "2147483632"}},
        {"2 GiB NAME", frame(info + form("PAL ", chunk("NAME", text("p"), 0x7FFFFFF0u)) + pixels), {}, {"'NAME'", "2147483632"}},
        {"2 GiB CMAP in the palette file", frame(info + form("PAL ", name("p")) + pixels), form("PAL ", chunk("CMAP", colours(), 0x7FFFFFF0u)),
         {"pal/p.pal", "'CMAP'", "2147483632", " 768 "}},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", c.file);
        w.put("pal/p.pal", c.palette);
        expectFailure(w, typeLine + failLine, c.reason, c.what);
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);  // KiB, the highest of all runs
}
