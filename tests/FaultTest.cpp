// Faults injected around the real program: a full disk, an output directory it
// may not write, palettes that vanish, files cut at every byte, bad files
// between good ones, and the memory a long batch takes.

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/Png.h"
#include "support/Process.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

// Unlike chmod, a private mount binds root too; -r lets a user without privileges make one.
const std::string ownMounts = "unshare -rm sh -c '", runProgram = " && \"$@\"' sh";

bool has(const Outcome& run, const std::string& text) { return run.out.find(text) != std::string::npos; }

}  // namespace

TEST(Fault, FullDiskInTheMiddleOfAnImage) {
    // mat/ is a 256 KiB tmpfs: the alpha image fits, the colour image after it meets ENOSPC halfway; one file
    // at a time, so that small.mat never meets the disk filled by the other
    const struct {
        const char* args;
        int side;
    } cases[] = {{"-j1", 256}, {"-j1 --indexed", 272}};  // the indices alone: more pixels to fill the disk
    if (const std::string why = refusal("unshare -rm true"); !why.empty()) GTEST_SKIP() << "no mount namespace of our own: " << why;
    for (const auto& c : cases) {
        Workdir w;
        const Mat big{c.side, c.side, 1, cmap(), noise(c.side * c.side, 1), noise(c.side * c.side, 2), {}}, small;
        fs::create_directories(w / "stage");
        fs::create_directories(w / "after");
        w.put("stage/big.mat", big.bytes());
        w.put("stage/big.mat.png", text("earlier"));
        w.put("stage/small.mat", small.bytes());
        const Outcome run = w.run("", ownMounts + "mount -t tmpfs -o size=256k tmpfs mat && cp stage/* mat && { \"$@\"; s=$?; cp -a mat/. after; exit $s; }' sh", c.args);
        EXPECT_TRUE(has(run, "type 1\nWrote alpha channel in mat/big.mat_alpha.png\nCould not process big.mat\n")) << run.out;
        EXPECT_TRUE(has(run, "type 1\nNo alpha channel in mat/small.mat\n")) << run.out;  // the space of the failed image is freed
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_EQ(w.read("after/big.mat.png"), "earlier") << c.args;
        EXPECT_EQ(w.entries("after"), 5) << c.args;  // no temporary file
        const auto alpha = readPng(w / "after/big.mat_alpha.png");  // written before the disk filled up, and whole
        ASSERT_TRUE(alpha) << c.args;
        EXPECT_EQ(*alpha->at(0, c.side - 1), 255 - (*big.alpha)[0]) << c.args;
        if (c.args == std::string("-j1")) expectImages(w, "after/small.mat", small);  // RGB: the indexed image is checked elsewhere
    }
}

TEST(Fault, OutputDirectoryThatCannotBeWritten) {
    // root ignores permission bits, so the program then runs as nobody
    const std::string nobody = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    const struct {
        const char* what;
        std::string wrapper;
        bool mounts;  // the case needs a mount namespace of its own
    } cases[] = {
        {"no write permission", nobody, false},
        {"read-only mount", ownMounts + "mount --bind mat mat && mount -o remount,bind,ro mat" + runProgram, true},
    };
    std::string skipped;
    for (const auto& c : cases) {
        if (c.mounts && !refusal("unshare -rm true").empty()) {
            skipped = c.what;
            continue;
        }
        Workdir w;
        w.put("mat/f.mat", Mat{2, 2, 1, cmap(), {1, 2, 3, 4}, Bytes(4, 0), {}}.bytes());
        w.put("mat/f.mat.png", text("earlier"));
        fs::permissions(w.root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        fs::permissions(w / "mat", fs::perms::owner_write, fs::perm_options::remove);
        const Outcome run = w.run("", c.wrapper);
        EXPECT_EQ(run.out, "type 1\nCould not process f.mat\n") << c.what;
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(w.read("mat/f.mat.png"), "earlier") << c.what;
        fs::permissions(w / "mat", fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(w.entries("mat"), 2) << c.what;
    }
    if (!skipped.empty()) GTEST_SKIP() << skipped << " not run, no mount namespace of our own: " << refusal("unshare -rm true");
}

TEST(Fault, PaletteThatVanishes) {
    const Mat named{2, 2, 1, name("p"), {1, 2, 3, 4}, {}, {}};
    const struct {
        const char* what;
        void (*replace)(const Workdir&);  // what takes the removed palette's place
    } cases[] = {
        {"removed", [](const Workdir&) {}},
        {"dangling link", [](const Workdir& w) { fs::create_symlink("gone.pal", w / "pal/p.pal"); }},
        {"dangling link of another case", [](const Workdir& w) { fs::create_symlink("gone.pal", w / "pal/P.PAL"); }},
        {"link loop", [](const Workdir& w) { fs::create_symlink("p.pal", w / "pal/p.pal"); }},
        {"directory", [](const Workdir& w) { fs::create_directory(w / "pal/p.pal"); }},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("pal/p.pal", paletteFile());
        w.put("mat/a.mat", named.bytes());
        w.put("mat/b.mat", named.bytes());
        w.put("mat/g.mat", Mat().bytes());
        ASSERT_EQ(w.run().status, 0) << c.what;
        const std::string earlier = w.read("mat/a.mat.png");
        fs::remove(w / "mat/g.mat.png");
        fs::remove(w / "pal/p.pal");
        c.replace(w);
        const Outcome run = w.run();
        EXPECT_TRUE(has(run, "Could not process a.mat\n") && has(run, "Could not process b.mat\n")) << c.what;
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(w.read("mat/a.mat.png"), earlier) << c.what;  // the last good image stays
        expectImages(w, "mat/g.mat", Mat());  // the batch goes on
        EXPECT_EQ(w.entries("mat"), 6) << c.what;
    }

    // removed while the batch holds at its fifth image, which then goes on: each file converts whole or fails alone
    Workdir w;
    w.put("pal/p.pal", paletteFile());
    const Mat m{64, 64, 1, name("p"), noise(4096, 3), {}, {}};
    for (int i = 0; i < 200; ++i) w.put("mat/m" + std::to_string(i) + ".mat", m.bytes());
    fs::create_directory(w / "paused");
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = start(w.root, MAT2PNG_BINARY, {}, out[1], {}, {"LD_PRELOAD=" RACE_SHIM, "RACE_PAUSED=paused", "RACE_PAUSE_AT=5"});
    ::close(out[1]);
    const pid_t paused = pausedAt(pid, w / "paused");
    fs::remove(w / "pal/p.pal");
    if (paused) resume(w / "paused", paused);
    Outcome run;  // a few kilobytes: the pipe holds them until the run has ended
    const int status = waitFor(pid);
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) run.out.append(buffer, std::size_t(n));
    ::close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << status;
    long converted = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string mat = "mat/m" + std::to_string(i) + ".mat";
        if (has(run, "Could not process m" + std::to_string(i) + ".mat\n")) EXPECT_FALSE(fs::exists(w / (mat + ".png"))) << mat;
        else expectImages(w, mat, m), ++converted;
    }
    EXPECT_EQ(w.entries("mat"), 200 + converted);  // no temporary file
}

TEST(Fault, FileCutAtEveryByte) {
    // embedded and named palette, both with HOTS and an odd-sized alpha plane, so that pad bytes are cut too
    const Bytes hots = chunk("HOTS", le32(1) + le32(2));
    const Mat shapes[] = {{3, 3, 1, cmap(), noise(9, 4), noise(9, 5), hots}, {3, 3, 1, name("p"), noise(9, 6), noise(9, 7), hots}};
    Workdir w;
    w.put("pal/p.pal", paletteFile());
    for (std::size_t s = 0; s < 2; ++s) {
        const Bytes whole = shapes[s].bytes();
        for (std::size_t cut = 0; cut <= whole.size(); ++cut)
            w.put("mat/" + std::to_string(s) + "-" + std::to_string(cut) + ".mat", Bytes(whole.begin(), whole.begin() + cut));
    }
    const Outcome run = w.run();
    EXPECT_EQ(run.status, 1);  // neither a crash nor a signal
    long files = 0, outputs = 0;
    for (std::size_t s = 0; s < 2; ++s) {
        const Bytes whole = shapes[s].bytes();
        const std::string bytes(whole.begin(), whole.end());
        const std::size_t pixelsEnd = bytes.find("PXLS") + 8 + 9, alphaEnd = bytes.find("ALPH") + 8 + 9;
        for (std::size_t cut = 0; cut <= whole.size(); ++cut, ++files) {
            const std::string file = std::to_string(s) + "-" + std::to_string(cut) + ".mat";
            const bool failed = has(run, "Could not process " + file + "\n"), converted = fs::exists(w / ("mat/" + file + ".png"));
            EXPECT_NE(failed, converted) << file;  // one outcome per file
            EXPECT_TRUE(!converted || cut >= pixelsEnd) << file;  // no image without every pixel
            EXPECT_EQ(fs::exists(w / ("mat/" + file + "_alpha.png")), converted && cut >= alphaEnd) << file;
            Mat expected = shapes[s];
            if (cut < alphaEnd) expected.alpha.reset();
            if (converted) expectImages(w, "mat/" + file, expected);
            outputs += converted + (converted && cut >= alphaEnd);
        }
    }
    EXPECT_EQ(w.entries("mat"), files + outputs);  // and no temporary file
}

TEST(Fault, EveryOtherFileBad) {
    const Mat good[] = {
        {5, 3, 1, cmap(), noise(15, 8), noise(15, 9), {}},
        {2, 2, 4, name("p"), {1, 2, 3, 4}, {}, chunk("HOTS", le32(0) + le32(0))},
        {1, 1, 0, cmap(), {77}, {}, {}},
        {64, 64, 1, cmap(), noise(4096, 10), noise(4096, 11), {}},
        {3, 2, 1, name("P"), noise(6, 12), Bytes(6, 128), {}},
    };
    Bytes cut = good[3].bytes();
    cut.resize(cut.size() / 2);
    const Bytes bad[] = {
        cut,
        Mat{2, 2, 1, name("missing"), {1, 2, 3, 4}, {}, {}}.bytes(),
        Mat{2, 2, 1, cmap(), {1, 2, 3}, Bytes(4, 9), {}}.bytes(),  // alpha image written, then refused
        Mat{4000, 4000, 1, cmap(), Bytes(16, 1), {}, {}}.bytes(),
        Mat{4, 4, 1, cmap(), noise(16, 13), {}, {}}.bytes(),  // its output name is taken by a directory
    };
    Workdir batch;
    batch.put("pal/p.pal", paletteFile());
    fs::create_directory(batch / "mat/b4.mat.png");
    for (int i = 0; i < 5; ++i) {
        batch.put("mat/b" + std::to_string(i) + ".mat", bad[i]);
        batch.put("mat/g" + std::to_string(i) + ".mat", good[i].bytes());
    }
    const Outcome run = batch.run();
    EXPECT_EQ(run.status, 1);
    for (int i = 0; i < 5; ++i) {
        const std::string g = "mat/g" + std::to_string(i) + ".mat";
        EXPECT_TRUE(has(run, "Could not process b" + std::to_string(i) + ".mat\n")) << i;
        Workdir alone;
        alone.put("pal/p.pal", paletteFile());
        alone.put(g, good[i].bytes());
        ASSERT_EQ(alone.run().status, 0) << g;
        EXPECT_EQ(batch.read(g + ".png"), alone.read(g + ".png")) << g;
        EXPECT_EQ(batch.read(g + "_alpha.png"), alone.read(g + "_alpha.png")) << g;
        EXPECT_EQ(fs::exists(batch / (g + "_alpha.png")), bool(good[i].alpha)) << g;
    }
    EXPECT_EQ(batch.entries("mat"), 20);  // 10 files, 9 images, 1 directory: no temporary file
}

TEST(Fault, PeakMemoryDoesNotGrowWithTheBatch) {
    // ASan's quarantine keeps freed memory on purpose; without it the sanitized program must stay flat too
    const std::string prefix = "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0\";";
    const Mat typical{64, 64, 1, cmap(), noise(4096, 14), noise(4096, 15), chunk("HOTS", le32(32) + le32(32))};
    long peak[2] = {};
    for (int run = 0; run < 2; ++run) {
        Workdir w;
        const int files = run ? 1000 : 10;
        for (int i = 0; i < files; ++i) w.put("mat/t" + std::to_string(i) + ".mat", typical.bytes());
        ASSERT_EQ(w.run(prefix, "/usr/bin/time -f %M -o peak").status, 0);
        ASSERT_EQ(w.entries("mat"), 3 * files);
        peak[run] = std::stol(w.read("peak"));  // KiB
    }
    EXPECT_LE(peak[1], peak[0] * 12 / 10) << "KiB for 10 files: " << peak[0] << ", for 1000: " << peak[1];
}
