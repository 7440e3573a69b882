// png2mat run on images written by mat2png and then edited with libpng: the
// bytes it writes, its console lines, the backup and the faults it meets.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <regex>

#include "support/Png.h"
#include "support/Process.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string png2mat = PNG2MAT_BINARY;

// Black, two reds of 10 (1 and 2), red 20, and grey 200 everywhere else.
Bytes nearTable() {
    Bytes table = colours();
    for (int n = 0; n < 256; ++n) table[3 * n] = table[3 * n + 1] = table[3 * n + 2] = n < 4 ? 0 : 200;
    table[3] = table[6] = 10;
    table[9] = 20;
    return table;
}

void repaint(const Workdir& w, const std::string& image, unsigned x, unsigned y, const Bytes& samples) {
    auto png = readPng(w / image);
    ASSERT_TRUE(png);
    std::copy(samples.begin(), samples.end(), const_cast<png_byte*>(png->at(x, y)));
    ASSERT_TRUE(writePng(w / image, *png));
}

// Saves the colour image again without its alpha channel, as an RGB-only editor would.
void saveRgb(const Workdir& w) {
    auto png = readPng(w / "mat/f.mat.png");
    ASSERT_TRUE(png);
    Png rgb;
    rgb.image = png->image;
    rgb.image.format = PNG_FORMAT_RGB;
    for (std::size_t p = 0; p < png->samples.size(); p += 4) rgb.samples.insert(rgb.samples.end(), &png->samples[p], &png->samples[p] + 3);
    ASSERT_TRUE(writePng(w / "mat/f.mat.png", rgb));
}

// The image of `m` in the colours of `table`: RGB, or RGBA with the opacity its alpha plane stores.
Png imageOf(const Mat& m, bool withAlpha, const Bytes& table = colours()) {
    Png png;
    png.image.version = PNG_IMAGE_VERSION;
    png.image.width = m.width, png.image.height = m.height, png.image.format = withAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    for (int y = m.height - 1; y >= 0; --y)
        for (int x = 0; x < m.width; ++x) {
            const std::size_t p = std::size_t(y) * m.width + x;
            png.samples.insert(png.samples.end(), &table[3 * m.pixels[p]], &table[3 * m.pixels[p] + 3]);
            if (withAlpha) png.samples.push_back(std::uint8_t(255 - (m.alpha ? (*m.alpha)[p] : 0)));
        }
    return png;
}

}  // namespace

TEST(Png2Mat, UneditedImagesGiveBackTheSameBytes) {
    Bytes twice = colours();
    std::copy(twice.begin() + 30, twice.begin() + 33, twice.begin() + 60);  // entry 20 repeats entry 10
    const Bytes hots = chunk("HOTS", le32(1) + le32(2) + Bytes{9});
    const Mat shapes[] = {
        Mat(),
        {2, 2, 1, name("sub\\P"), {0, 1, 254, 255}, {}, {}},
        {3, 5, 7, cmap(twice), {10, 20, 20, 10, 1, 2, 3, 4, 5, 6, 20, 10, 20, 10, 0}, noise(15, 1), hots},
        {1, 1, 0, name("p"), {200}, Bytes{77}, hots},
        {3, 5, -1, cmap(), noise(15, 2), {}, {}, Bytes{1, 2, 3}},
        {4, 4, 1, cmap(), noise(16, 3), Bytes(5, 1), {}},  // an alpha plane of the wrong size is no alpha to mat2png
    };
    for (const std::string option : {"", "--indexed"}) {
        Workdir w;
        w.put("pal/p.pal", paletteFile(colours()));
        fs::create_directories(w / "pal/sub");
        w.put("pal/sub/p.pal", paletteFile(twice));
        for (std::size_t i = 0; i < std::size(shapes); ++i) w.put("mat/m" + std::to_string(i) + ".mat", shapes[i].bytes());
        w.put("mat/anim.mat", form("ANIM", Bytes(2, 0)));
        w.put("mat/anim.mat.png", text("not an image"));
        w.put("mat/lonely.mat", Mat().bytes());  // no image: passed over
        ASSERT_EQ(w.run("", "", option).status, 0);
        fs::remove(w / "mat/lonely.mat.png");
        const long entries = w.entries("mat");
        const Outcome run = w.run("", "", "", png2mat);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        for (std::size_t i = 0; i < std::size(shapes); ++i) {
            const Bytes bytes = shapes[i].bytes();
            EXPECT_TRUE(w.read("mat/m" + std::to_string(i) + ".mat") == std::string(bytes.begin(), bytes.end())) << i;
    }
    EXPECT_EQ(w.entries("mat"), entries);  // neither a backup nor a temporary file
    }
}

TEST(Png2Mat, EditsAndFailures) {
    const Mat plain{2, 2, 5, cmap(nearTable()), {1, 2, 3, 4}, {}, {}, Bytes{8, 9}};
    Mat alpha = plain;
    alpha.alpha = Bytes{0, 64, 128, 255};
    const auto withPixels = [](Mat m, Bytes pixels, std::optional<Bytes> a = std::nullopt) {
        m.pixels = std::move(pixels);
        if (a) m.alpha = std::move(a);
        return m;
    };
    const struct {
        const char* what;
        Mat mat;
        std::function<void(const Workdir&)> edit;
        std::string args;
        std::optional<Mat> expected;  // nothing: the file fails and stays as it was
        std::string err;              // the start of png2mat's standard error
    } cases[] = {
        // stored rows are the image's rows from the bottom: index 1 at the top left is pixel 2
        {"palette colour, lowest index", plain, [](auto& w) { repaint(w, "mat/f.mat.png", 0, 0, {20, 0, 0}); repaint(w, "mat/f.mat.png", 1, 0, {10, 0, 0}); }, "",
         withPixels(plain, {1, 2, 3, 1}), ""},
        {"off the palette, ties to the lowest", plain, [](auto& w) { repaint(w, "mat/f.mat.png", 0, 1, {5, 0, 0}); repaint(w, "mat/f.mat.png", 1, 1, {15, 1, 0}); }, "--match=rgb",
         withPixels(plain, {0, 1, 3, 4}), "png2mat: mat/f.mat.png: 2 pixels not in the palette, mapped to the nearest colour\n"},
        {"nearest after a tie", plain, [](auto& w) { repaint(w, "mat/f.mat.png", 0, 0, {150, 150, 150}); }, "--match=rgb",
         withPixels(plain, {1, 2, 4, 4}), "png2mat: mat/f.mat.png: 1 pixel not in the palette"},
        // entries 1 and 2 are both red 10: by colour the first pixel would stay 2 and the third become 1
        {"indexed image edited by index", plain, [](auto& w) {
             w.run("", "", "--indexed");
             RawPng png = readRaw(w / "mat/f.mat.png");
             png.samples[0] = 2, png.samples[3] = 1;
             writePng(w / "mat/f.mat.png", png);
         }, "--exact", withPixels(plain, {1, 1, 2, 4}), ""},
        {"--exact", plain, [](auto& w) { repaint(w, "mat/f.mat.png", 1, 0, {1, 2, 3}); }, "--exact", {},
         "png2mat: mat/f.mat: 1 pixel not in the palette, the first #010203 at x 1, y 0 of mat/f.mat.png\n"},
        {"alpha edited in the colour image", alpha, [](auto& w) { repaint(w, "mat/f.mat.png", 0, 0, {10, 0, 0, 55}); }, "",
         withPixels(alpha, {1, 2, 1, 4}, Bytes{0, 64, 200, 255}), ""},
        {"alpha edited in the alpha image", alpha, [](auto& w) { repaint(w, "mat/f.mat_alpha.png", 1, 1, {5}); }, "",
         withPixels(alpha, {1, 2, 3, 4}, Bytes{0, 250, 128, 255}), ""},
        {"alpha edited alike in both", alpha, [](auto& w) { repaint(w, "mat/f.mat_alpha.png", 0, 1, {7}); repaint(w, "mat/f.mat.png", 0, 1, {10, 0, 0, 7}); }, "",
         withPixels(alpha, {1, 2, 3, 4}, Bytes{248, 64, 128, 255}), ""},
        {"alpha edited unlike in both", alpha, [](auto& w) { repaint(w, "mat/f.mat_alpha.png", 0, 1, {7}); repaint(w, "mat/f.mat.png", 0, 1, {10, 0, 0, 8}); }, "", {},
         "png2mat: mat/f.mat: the alpha sources disagree"},
        {"RGB save keeps the stored alpha", alpha, [](auto& w) { fs::remove(w / "mat/f.mat_alpha.png"); saveRgb(w); repaint(w, "mat/f.mat.png", 1, 1, {0, 0, 0}); }, "",
         withPixels(alpha, {1, 0, 3, 4}), ""},
        {"RGB save, alpha image edited", alpha, [](auto& w) { saveRgb(w); repaint(w, "mat/f.mat_alpha.png", 1, 1, {0}); }, "",
         withPixels(alpha, {1, 2, 3, 4}, Bytes{0, 255, 128, 255}), ""},
        {"opaque alpha adds no plane", plain, [](auto& w) { auto p = readPng(w / "mat/f.mat.png"); p->image.format = PNG_FORMAT_GA; p->samples = {0, 255, 200, 255, 10, 255, 10, 255}; writePng(w / "mat/f.mat.png", *p); }, "--match=rgb",
         withPixels(plain, {1, 1, 0, 4}), ""},
        {"resized", alpha, [](auto& w) {
             fs::remove(w / "mat/f.mat_alpha.png");
             Png p;
             p.image.version = PNG_IMAGE_VERSION, p.image.width = 3, p.image.height = 1, p.image.format = PNG_FORMAT_RGB;
             p.samples = {20, 0, 0, 10, 0, 0, 10, 0, 0};
             writePng(w / "mat/f.mat.png", p);
         }, "", [&] { Mat m = withPixels(alpha, {3, 1, 1}, Bytes(3, 0)); m.width = 3, m.height = 1; return m; }(), ""},
        {"alpha image of another size", alpha, [](auto& w) { fs::copy_file(w / "mat/g.mat_alpha.png", w / "mat/f.mat_alpha.png", fs::copy_options::overwrite_existing); }, "", {},
         "png2mat: mat/f.mat: mat/f.mat_alpha.png is 1 x 1, but mat/f.mat.png is 2 x 2\n"},
        {"damaged image", plain, [](auto& w) { const std::string png = w.read("mat/f.mat.png"); w.put("mat/f.mat.png", text(png.substr(0, png.size() - 20))); }, "", {},
         "png2mat: mat/f.mat: mat/f.mat.png: "},
        {"missing palette", withPixels(plain, {1, 2, 3, 4}), [](auto& w) { w.put("mat/f.mat", Mat{2, 2, 1, name("gone"), {1, 2, 3, 4}, {}, {}}.bytes()); }, "", {},
         "png2mat: mat/f.mat: palette \"gone\" (pal/gone.pal): No such file or directory\n"},
        {"image without a MAT", plain, [](auto& w) { fs::copy_file(w / "mat/f.mat.png", w / "mat/x.mat.png"); }, "", plain,
         "png2mat: mat/x.mat.png: there is no MAT file mat/x.mat beside it, so no palette to map its colours to; --palette=NAME creates one\n"},
        {"non-canonical MAT", plain, [&](auto& w) { const Bytes b = plain.bytes(); w.put("mat/f.mat", text("FORM") + be32(900) + Bytes(b.begin() + 8, b.end())); }, "", plain, ""},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", c.mat.bytes());
        w.put("mat/g.mat", Mat{1, 1, 1, cmap(), {0}, Bytes{0}, {}}.bytes());
        ASSERT_EQ(w.run().status, 0);
        c.edit(w);
        const std::string before = w.read("mat/f.mat");
        const Outcome run = w.run("", "", c.args, png2mat);
        const Bytes expected = c.expected ? c.expected->bytes() : Bytes{};
        const bool updated = c.expected && before != std::string(expected.begin(), expected.end()), failed = !c.expected || c.what == std::string("image without a MAT");
        EXPECT_EQ(run.out, std::string(updated ? "Updated mat/f.mat\n" : "") + (failed ? "Could not process " + std::string(c.expected ? "x.mat.png" : "f.mat") + "\n" : "")) << c.what;
        EXPECT_EQ(run.status, failed ? 1 : 0) << c.what;
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << c.what << ": " << run.err;
        // whole files: a mismatch would print kilobytes
        EXPECT_TRUE(w.read("mat/f.mat") == (c.expected ? std::string(expected.begin(), expected.end()) : before)) << c.what;
        EXPECT_TRUE(w.read("mat/f.mat.bak") == (updated ? before : "")) << c.what;
    }
}

TEST(Png2Mat, BackupModeAndModificationTime) {
    for (const bool backup : {true, false}) {
        Workdir w;
        const Mat painted{2, 2, 1, cmap(), {1, 2, 3, 4}, {}, {}}, current{2, 2, 1, cmap(), {1, 2, 3, 5}, {}, {}};
        w.put("mat/f.mat", painted.bytes());
        w.put("mat/same.mat", painted.bytes());
        ASSERT_EQ(w.run().status, 0);
        w.put("mat/f.mat", current.bytes());
        w.put("mat/f.mat.bak", text("older"));
        fs::permissions(w / "mat/f.mat", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        const auto past = fs::last_write_time(w / "mat/same.mat") - std::chrono::hours(1);
        fs::last_write_time(w / "mat/same.mat", past);
        const Outcome run = w.run("", "", backup ? "" : "--no-backup", png2mat);
        EXPECT_EQ(run.out, "Updated mat/f.mat\n");
        const Bytes expected = painted.bytes(), old = current.bytes();
        EXPECT_TRUE(w.read("mat/f.mat") == std::string(expected.begin(), expected.end()));
        EXPECT_TRUE(w.read("mat/f.mat.bak") == (backup ? std::string(old.begin(), old.end()) : "older"));
        EXPECT_EQ(fs::status(w / "mat/f.mat").permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        EXPECT_EQ(fs::last_write_time(w / "mat/same.mat"), past);
        EXPECT_EQ(w.entries("mat"), 5);  // no backup of the unchanged file, no temporary file
    }
}

TEST(Png2Mat, FaultsLeaveTheOldFileWhole) {
    // the images show `painted`; mat/ holds `current`, so that the file is rewritten
    const Mat painted{256, 256, 1, cmap(), noise(65536, 4), noise(65536, 5), {}};
    Mat current = painted;
    current.pixels[0] ^= 1;
    const Bytes before = current.bytes(), after = painted.bytes();
    const std::string nobody = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    const std::string ownMounts = "unshare -rm sh -c '", thenRun = " && { \"$@\"; s=$?; cp -a mat/. after; exit $s; }' sh";
    const struct {
        const char* what;
        std::string wrapper, failure;
        bool mounts;  // the case needs a mount namespace of its own
    } cases[] = {
        {"full disk", ownMounts + "mount -t tmpfs -o size=$(( $(du -sk stage | cut -f1) + 32 ))k tmpfs mat && cp stage/* mat" + thenRun,
         "No space left on device", true},
        {"read-only mount", ownMounts + "mount --bind stage mat && mount -o remount,bind,ro mat" + thenRun, "Read-only file system", true},
        {"no write permission", "sh -c 'cp -a stage/. mat && chmod a-w mat && " + nobody + " \"$@\"; s=$?; cp -a mat/. after; exit $s' sh",
         "Permission denied", false},
        {"disk failing fsync", "sh -c 'cp -a stage/. mat && env LD_PRELOAD=" RACE_SHIM " SYNC_FAIL=file:EIO \"$@\"; s=$?; cp -a mat/. after; exit $s' sh",
         "Input/output error", false},
    };
    std::string skipped;
    for (const auto& c : cases) {
        if (c.mounts && !refusal("unshare -rm true").empty()) {
            skipped += std::string(skipped.empty() ? "" : ", ") + c.what;
            continue;
        }
        Workdir w;
        w.put("mat/f.mat", painted.bytes());
        ASSERT_EQ(w.run().status, 0);
        w.put("mat/f.mat", before);
        fs::rename(w / "mat", w / "stage");
        fs::create_directory(w / "mat");
        fs::create_directory(w / "after");
        fs::permissions(w.root, fs::perms::all);
        const Outcome run = w.run("", c.wrapper, "", png2mat);
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_NE(run.err.find(c.failure), std::string::npos) << c.what << ": " << run.err;
        EXPECT_TRUE(w.read("after/f.mat") == std::string(before.begin(), before.end())) << c.what;
        EXPECT_FALSE(fs::exists(w / "after/f.mat.bak")) << c.what;
        EXPECT_EQ(w.entries("after"), 3) << c.what;  // no temporary file or link
    }
    if (!skipped.empty()) GTEST_SKIP() << skipped << " not run, no mount namespace of our own: " << refusal("unshare -rm true");
}

// A MAT or palette file written reaches the disk before it takes its name, the file a backup keeps before its
// link, and the folder's names after the rename; images are made again at will and are not synced. A file
// system that cannot sync a folder (EINVAL) is no failure; a disk that fails to is.
TEST(Png2Mat, WrittenFilesReachTheDiskBeforeTheirNames) {
    const Mat painted{2, 2, 1, cmap(), {1, 2, 3, 4}, {}, {}}, current{2, 2, 1, cmap(), {1, 2, 3, 5}, {}, {}};
    const std::vector<std::string> rebuild = {"fsync mat/TMP.tmp", "fsync mat/f.mat", "link mat/f.mat mat/TMP.bak",
                                              "rename mat/TMP.bak mat/f.mat.bak", "rename mat/TMP.tmp mat/f.mat", "fsync mat"};
    const struct {
        const char* what;
        std::string binary, args, fail;
        std::vector<std::string> calls;
        int status;
        std::string err;
    } cases[] = {
        {"rebuilt, with its backup", png2mat, "-j1", "", rebuild, 0, ""},
        {"rebuilt without backup", png2mat, "-j1 --no-backup", "", {"fsync mat/TMP.tmp", "rename mat/TMP.tmp mat/f.mat", "fsync mat"}, 0, ""},
        {"created", png2mat, "-j1 --palette=p new/n.mat.png", "", {"fsync new/TMP.tmp", "renameat2 new/TMP.tmp new/n.mat", "fsync new"}, 0, ""},
        {"palette imported", MATPAL_BINARY, "import t.gpl q", "", {"fsync pal/TMP.tmp", "renameat2 pal/TMP.tmp pal/q.pal", "fsync pal"}, 0,
         "matpal: t.gpl: 1 colour read, the rest black\n"},
        {"palette replaced", MATPAL_BINARY, "import t.gpl p --force", "",
         {"fsync pal/TMP.tmp", "fsync pal/p.pal", "link pal/p.pal pal/TMP.bak", "rename pal/TMP.bak pal/p.pal.bak",
          "rename pal/TMP.tmp pal/p.pal", "fsync pal"}, 0, "matpal: t.gpl: 1 colour read, the rest black\n"},
        {"images", MAT2PNG_BINARY, "-j1", "", {"rename mat/TMP.png mat/f.mat.png"}, 0, ""},
        {"folder refusing fsync", png2mat, "-j1", "folder:EINVAL", rebuild, 0, ""},
        {"folder failing fsync", png2mat, "-j1", "folder:EIO", rebuild, 1, "png2mat: mat/f.mat: cannot write mat/f.mat: Input/output error\n"},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("pal/p.pal", paletteFile());
        w.put("t.gpl", text("GIMP Palette\n1 2 3\n"));
        w.put("mat/f.mat", painted.bytes());
        ASSERT_EQ(w.run().status, 0);
        fs::create_directory(w / "new");
        ASSERT_TRUE(writePng(w / "new/n.mat.png", imageOf(painted, false)));
        w.put("mat/f.mat", current.bytes());
        const std::string logName = w.root.string() + ".log";
        const std::string shim = "env LD_PRELOAD=" RACE_SHIM " CALL_LOG='" + logName + "' SYNC_FAIL='" + c.fail + "'";
        const Outcome run = w.run("", shim, c.args, c.binary);
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        std::vector<std::string> calls;
        std::ifstream log(logName);
        const std::regex temporary("\\.(png2mat|matpal|mat2png)-[0-9]+-[0-9]+\\.");
        for (std::string line; std::getline(log, line);) {
            for (std::size_t at; (at = line.find(w.root.string() + "/")) != std::string::npos;) line.erase(at, w.root.string().size() + 1);
            calls.push_back(std::regex_replace(line, temporary, "TMP."));
        }
        fs::remove(logName);
        EXPECT_EQ(calls, c.calls) << c.what;
    }
}

TEST(Png2Mat, InterruptedRunsLeaveWholeFilesOnly) {
    // SIGINT comes while the run holds, under the race shim, just after creating its third temporary file: with
    // -j1 two files are written by then, with workers the paused one at least is not; each file is old or new, whole
    const Mat painted{64, 64, 1, cmap(), noise(4096, 4), noise(4096, 5), {}}, made{64, 64, 0, name("p"), noise(4096, 6), {}, {}};
    Mat current = painted;
    current.pixels[0] ^= 1;
    const struct {
        const char* what;
        std::vector<std::string> args;
        bool create;  // images without their MAT file: else each MAT holds `current`, its images `painted`
    } cases[] = {
        {"rewriting, -j1", {"-j1"}, false},
        {"rewriting, -j2", {"-j2"}, false},
        {"creating, -j1", {"--palette=p", "-j1"}, true},
        {"creating, -j2", {"--palette=p", "-j2"}, true},
    };
    const int files = 10;
    for (const auto& c : cases) {
        Workdir w;
        w.put("pal/p.pal", paletteFile());
        for (int i = 0; i < files; ++i) w.put("mat/f" + std::to_string(i) + ".mat", painted.bytes());
        ASSERT_EQ(w.run().status, 0);
        const Bytes old = c.create ? Bytes{} : current.bytes(), now = c.create ? made.bytes() : painted.bytes();
        for (int i = 0; i < files; ++i) {
            const std::string mat = "mat/f" + std::to_string(i) + ".mat";
            if (c.create) fs::remove(w / mat), fs::remove(w / (mat + "_alpha.png")), writePng(w / (mat + ".png"), imageOf(made, false));
            else w.put(mat, old);
        }
        const long entries = w.entries("mat");
        fs::create_directory(w / "paused");
        const pid_t pid = start(w.root, png2mat, c.args, -1, {}, {"LD_PRELOAD=" RACE_SHIM, "RACE_PAUSED=paused", "RACE_PAUSE_AT=3"});
        if (!pausedAt(pid, w / "paused")) continue;
        ::kill(pid, SIGINT);
        const int status = waitFor(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << c.what << ": status " << status;
        long written = 0;
        for (int i = 0; i < files; ++i) {
            const std::string mat = "mat/f" + std::to_string(i) + ".mat", bytes = w.read(mat);
            const bool updated = bytes == std::string(now.begin(), now.end());
            EXPECT_TRUE(updated || bytes == std::string(old.begin(), old.end())) << c.what << ": " << mat;
            EXPECT_TRUE(w.read(mat + ".bak") == (updated && !c.create ? std::string(old.begin(), old.end()) : "")) << c.what << ": " << mat;
            written += updated;
        }
        EXPECT_EQ(w.entries("mat"), entries + written) << c.what;  // a new file or a backup each, no temporary file
        if (c.args.back() == "-j1") {
            EXPECT_EQ(written, 2) << c.what;
        } else {
            EXPECT_LT(written, files) << c.what;
        }
    }
}
TEST(Png2Mat, AnyKindOfPngGivesTheSameFile) {
    Bytes greys;
    for (int n = 0; n < 256; ++n) greys = greys + Bytes{std::uint8_t(n), std::uint8_t(n), std::uint8_t(n)};
    const Mat opaque{5, 3, 1, cmap(greys), noise(15, 7), {}, {}}, clear{5, 3, 1, cmap(greys), noise(15, 7), noise(15, 8), {}};
    const struct {
        const char* what;
        std::uint32_t format;
        const Mat& mat;
    } cases[] = {
        {"grey", PNG_FORMAT_GRAY, opaque},
        {"grey and alpha", PNG_FORMAT_GA, clear},
        {"BGR", PNG_FORMAT_BGR, opaque},
        {"palette", PNG_FORMAT_RGB_COLORMAP, opaque},
        {"palette with tRNS", PNG_FORMAT_RGBA_COLORMAP, clear},
    };
    for (const auto& c : cases) {
        Workdir w;
        const Mat& m = c.mat;
        w.put("mat/f.mat", m.bytes());
        Png png;
        png.image.version = PNG_IMAGE_VERSION;
        png.image.width = 5, png.image.height = 3, png.image.format = c.format;
        const bool mapped = c.format & PNG_FORMAT_FLAG_COLORMAP;
        Bytes colormap;
        for (int y = 2; y >= 0; --y)
            for (int x = 0; x < 5; ++x) {
                const std::size_t p = std::size_t(y) * 5 + x;
                const std::uint8_t v = m.pixels[p], a = std::uint8_t(255 - (m.alpha ? (*m.alpha)[p] : 0));
                // every pixel its own colormap entry, so that colour and alpha combine freely
                if (mapped) colormap = colormap + Bytes{v, v, v, a}, colormap.resize(colormap.size() - (c.format & PNG_FORMAT_FLAG_ALPHA ? 0 : 1)), png.samples.push_back(std::uint8_t(png.samples.size()));
                else for (unsigned k = 0; k < png.channels(); ++k) png.samples.push_back(png.image.format & PNG_FORMAT_FLAG_ALPHA && k + 1 == png.channels() ? a : v);
            }
        png.image.colormap_entries = mapped ? 15 : 0;
        ASSERT_TRUE(png_image_write_to_file(&png.image, (w / "mat/f.mat.png").c_str(), 0, png.samples.data(), 0,
                                            mapped ? colormap.data() : nullptr)) << c.what;
        if (m.alpha) w.put("mat/f.mat", Mat{5, 3, 1, cmap(greys), noise(15, 7), Bytes(15, 0), {}}.bytes());  // the image holds the alpha
        const Outcome run = w.run("", "", "--no-backup", png2mat);
        EXPECT_EQ(run.out, m.alpha ? "Updated mat/f.mat\n" : "") << c.what;
        const Bytes expected = m.bytes();
        EXPECT_TRUE(w.read("mat/f.mat") == std::string(expected.begin(), expected.end())) << c.what;
    }
}

TEST(Png2Mat, CreatesMatFilesForImagesWithout) {
    const Mat made{3, 2, 4, name("p"), {5, 6, 7, 250, 0, 255}, {}, {}};
    const auto with = [&](std::function<void(Mat&)> change) { Mat m = made; change(m); return m; };
    const Mat clear = with([](Mat& m) { m.alpha = Bytes{0, 255, 127, 0, 0, 254}; });
    Bytes greys;
    for (int n = 0; n < 256; ++n) greys = greys + Bytes{std::uint8_t(n), std::uint8_t(n), std::uint8_t(n)};
    const Mat existing{1, 1, 4, cmap(greys), {9}, {}, {}};
    const std::string usage = "Try 'png2mat --help' for more information.\n";
    const struct {
        const char* what;
        std::string args;
        std::function<void(const Workdir&)> setup;
        std::optional<Mat> expected;  // at `mat`; nothing: no file made
        std::string out, err;         // err: the start of standard error
        int status = 0;
        std::string mat = "mat/n.mat", wrapper = "";
    } cases[] = {
        {"named palette, type of the MAT beside it", "--palette=p", {}, made, "Created mat/n.mat\n", ""},
        {"embedded palette", "--palette=p --embed-palette", {}, with([](Mat& m) { m.palette = cmap(); }), "Created mat/n.mat\n", ""},
        {"backslash and another case", "--palette='sub\\q'", {}, with([](Mat& m) { m.palette = name("sub\\q"); }), "Created mat/n.mat\n", ""},
        {"--type", "--palette=p --type=-2147483648", {}, with([](Mat& m) { m.type = INT32_MIN; }), "Created mat/n.mat\n", ""},
        {"default type: most common, ties to the lowest, unreadable files count nothing", "--palette=p", [](auto& w) {
             for (const auto& [file, type] : std::map<std::string, int>{{"a", 9}, {"b", 9}, {"c", 2}, {"d", 2}, {"e", 5}})
                 w.put("mat/" + file + ".mat", Mat{1, 1, type, cmap(), {0}, {}, {}}.bytes());
             w.put("mat/x.mat", text("junk"));
             w.put("mat/y.mat", form("BITM", Bytes{}));
             w.put("mat/z.mat", form("ANIM", Bytes{}));
         }, with([](Mat& m) { m.type = 2; }), "Created mat/n.mat\n", ""},
        {"alpha channel", "--palette=p", [&](auto& w) { writePng(w / "mat/n.mat.png", imageOf(clear, true)); }, clear, "Created mat/n.mat\n", ""},
        {"alpha image", "--palette=p", [&](auto& w) {
             Png mask = imageOf(clear, true);
             mask.image.format = PNG_FORMAT_GRAY;
             for (std::size_t p = 0; p < 6; ++p) mask.samples[p] = mask.samples[4 * p + 3];
             mask.samples.resize(6);
             writePng(w / "mat/n.mat_alpha.png", mask);
         }, clear, "Created mat/n.mat\n", ""},
        {"opaque alpha channel", "--palette=p", [&](auto& w) { writePng(w / "mat/n.mat.png", imageOf(made, true)); }, made, "Created mat/n.mat\n", ""},
        {"off the palette", "--palette=p", [&](auto& w) { repaint(w, "mat/n.mat.png", 0, 0, {250, 5, 215}); }, made,
         "Created mat/n.mat\n", "png2mat: mat/n.mat.png: 1 pixel not in the palette, mapped to the nearest colour\n"},
        {"upper-case name", "--palette=p", [](auto& w) { fs::rename(w / "mat/n.mat.png", w / "mat/N.MAT.png"); }, made, "Created mat/N.MAT\n", "", 0, "mat/N.MAT"},
        {"upper-case .PNG", "--palette=p", [](auto& w) { fs::rename(w / "mat/n.mat.png", w / "mat/n.mat.PNG"); }, {}, "Could not process n.mat.PNG\n",
         "png2mat: mat/n.mat.PNG: a new MAT file mat/n.mat is made only from an image named mat/n.mat.png\n", 1},
        {"a MAT whose name differs in case", "--palette=p", [](auto& w) { w.put("mat/N.MAT", Mat().bytes()); }, {}, "Could not process n.mat.png\n",
         "png2mat: mat/n.mat.png: its MAT file would be mat/n.mat, but mat/N.MAT differs from that name only in case\n", 1},
        // another process puts a MAT file in place just before png2mat's rename
        {"a MAT made meanwhile", "--palette=p", {}, {}, "Could not process n.mat.png\n", "png2mat: mat/n.mat.png: cannot write mat/n.mat: File exists\n",
         1, "mat/n.mat", "env LD_PRELOAD=" RACE_SHIM " RACE_TARGET=mat/n.mat"},
        {"without --palette", "", {}, {}, "Could not process n.mat.png\n",
         "png2mat: mat/n.mat.png: there is no MAT file mat/n.mat beside it, so no palette to map its colours to; --palette=NAME creates one\n", 1},
        {"missing palette", "--palette=gone", {}, {}, "", "png2mat: palette \"gone\" (pal/gone.pal): No such file or directory\n", 64},
        {"palette out of pal/", "--palette=../p", {}, {}, "", "png2mat: the palette name \"../p\" (pal/../p.pal) leads out of pal/\n", 64},
        {"bad --type", "--palette=p --type=2147483648", {}, {}, "", "png2mat: invalid type number '2147483648': give a whole number from -2147483648 to 2147483647\n" + usage, 64},
        {"--embed-palette alone", "--embed-palette", {}, {}, "", "png2mat: option '--embed-palette' needs '--palette=NAME'\n" + usage, 64},
        {"--type alone", "--type=1", {}, {}, "", "png2mat: option '--type' needs '--palette=NAME'\n" + usage, 64},
        {"--untiled alone", "--palette=p --untiled", {}, {}, "", "png2mat: option '--untiled' needs '--dither'\n" + usage, 64},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("pal/p.pal", paletteFile());
        fs::create_directories(w / "pal/sub");
        w.put("pal/sub/Q.pal", paletteFile());
        // an existing MAT whose image is unedited: neither --palette nor its own rebuild may change it
        w.put("mat/f.mat", existing.bytes());
        writePng(w / "mat/f.mat.png", imageOf(existing, false, greys));
        writePng(w / "mat/n.mat.png", imageOf(made, false));
        if (c.setup) c.setup(w);
        const long entries = w.entries("mat");
        const Outcome run = w.run("", c.wrapper, c.args, png2mat);
        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << c.what << ": " << run.err;
        EXPECT_EQ(run.status, c.status) << c.what;
        const Bytes expected = c.expected ? c.expected->bytes() : Bytes{}, old = existing.bytes();
        const std::string now = w.read(c.mat);
        EXPECT_TRUE(c.expected ? now == std::string(expected.begin(), expected.end()) : now == (c.wrapper.empty() ? "" : "old")) << c.what;
        EXPECT_TRUE(w.read("mat/f.mat") == std::string(old.begin(), old.end())) << c.what;
        EXPECT_EQ(w.entries("mat"), entries + !now.empty()) << c.what;  // no temporary file, no backup
        if (!c.expected) continue;
        // mat2png gives back the painted pixels
        w.run();
        expectImages(w, c.mat, *c.expected);
    }
}

namespace {

// colours() with entry 20 repeating entry 10
Bytes twice() {
    Bytes table = colours();
    std::copy(table.begin() + 30, table.begin() + 33, table.begin() + 60);
    return table;
}

// A 4 x 3 image of stored `pixels` (bottom row first): their indices with `palette` as PLTE, or their
// colours in `palette` (16-bit: v * 257 - 128, which rounds back to v but truncates to v - 1).
RawPng image(const Bytes& pixels, int type, const Bytes& palette = twice(), int depth = 8) {
    RawPng raw;
    raw.width = 4, raw.height = 3, raw.type = type, raw.depth = depth;
    for (int y = 2; y >= 0; --y)
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t index = pixels[std::size_t(y) * 4 + x];
            if (type == PNG_COLOR_TYPE_PALETTE) raw.samples.push_back(index);
            for (int c = 0; c < 3 && type != PNG_COLOR_TYPE_PALETTE; ++c) {
                const std::uint8_t v = palette[3 * index + c];
                const unsigned wide = v ? v * 257u - 128 : 0;
                raw.samples = raw.samples + (depth == 16 ? Bytes{std::uint8_t(wide >> 8), std::uint8_t(wide)} : Bytes{v});
            }
        }
    if (type == PNG_COLOR_TYPE_PALETTE) raw.palette = palette;
    return raw;
}

Bytes entries(std::size_t count) {
    Bytes table = twice();
    table.resize(3 * count);
    return table;
}

RawPng with(RawPng raw, std::function<void(RawPng&)> change) {
    change(raw);
    return raw;
}

RawPng carrying(RawPng raw, std::function<void(png_structp, png_infop)> chunks) {
    raw.chunks = std::move(chunks);
    return raw;
}

}  // namespace

TEST(Png2Mat, IndexedImagesAndSamplesAsStored) {
    // the index 20 painted by index stays 20; mapped by colour it becomes 10, the lowest entry of its colour
    const Bytes painted = {20, 10, 20, 3, 1, 0, 2, 15, 10, 20, 5, 7}, byColour = {10, 10, 10, 3, 1, 0, 2, 15, 10, 10, 5, 7};
    const Bytes low = {0, 1, 1, 0, 1, 0, 0, 0, 1, 1, 1, 0}, four = {3, 2, 1, 0, 0, 1, 2, 3, 3, 3, 0, 1}, swapped = {20, 10, 20, 3, 0, 1, 2, 15, 10, 20, 5, 7};
    const Mat before{4, 3, 1, cmap(twice()), Bytes(12, 0), Bytes(12, 0), {}};
    const auto after = [&](const Bytes& pixels, Bytes alpha = Bytes(12, 0)) { return Mat{4, 3, 1, cmap(twice()), pixels, alpha, {}}; };
    const RawPng indexed = image(painted, PNG_COLOR_TYPE_PALETTE), rgb = image(painted, PNG_COLOR_TYPE_RGB);
    const Bytes reordered = [] { Bytes t = twice(); std::swap_ranges(t.begin(), t.begin() + 3, t.begin() + 3); return t; }();
    const Bytes profile = be32(132) + Bytes(4, 0) + be32(0x02100000) + text("mntrRGB XYZ ") + Bytes(12, 0) + text("acsp") +
                          Bytes(24, 0) + be32(0) + be32(0xF6D6) + be32(0x10000) + be32(0xD32D) + Bytes(48, 0) + be32(0);
    const struct {
        const char* what;
        RawPng png;
        Mat expected;
        png_uint_32 chunk = 0;  // the chunk the image must carry
    } cases[] = {
        {"indexed, the second of two equal entries", indexed, after(painted)},
        {"indexed, palette cut after the last index used", image(painted, PNG_COLOR_TYPE_PALETTE, entries(21)), after(painted)},
        {"indexed, interlaced", with(indexed, [](RawPng& p) { p.interlace = PNG_INTERLACE_ADAM7; }), after(painted)},
        {"indexed, 1 bit", image(low, PNG_COLOR_TYPE_PALETTE, entries(2), 1), after(low)},
        {"indexed, 2 bits", image(four, PNG_COLOR_TYPE_PALETTE, entries(4), 2), after(four)},
        {"indexed, 4 bits", with(indexed, [](RawPng& p) { for (auto& s : p.samples) s &= 15; p.depth = 4; p.palette.resize(48); }),
         after({4, 10, 4, 3, 1, 0, 2, 15, 10, 4, 5, 7})},
        {"indexed with tRNS, alpha per entry", with(indexed, [](RawPng& p) { p.trns = Bytes(11, 255); p.trns[10] = 5, p.trns[3] = 0; }),
         after(painted, {0, 250, 0, 255, 0, 0, 0, 0, 250, 0, 0, 0})},
        {"indexed, another order: by colour", image(swapped, PNG_COLOR_TYPE_PALETTE, reordered), after(byColour)},
        {"indexed with gAMA 1.0", carrying(indexed, [](auto png, auto info) { png_set_gAMA(png, info, 1.0); }), after(painted), PNG_INFO_gAMA},
        {"RGB with gAMA 1.0", carrying(rgb, [](auto png, auto info) { png_set_gAMA(png, info, 1.0); }), after(byColour), PNG_INFO_gAMA},
        {"RGB with cHRM", carrying(rgb, [](auto png, auto info) { png_set_cHRM(png, info, 0.3, 0.3, 0.7, 0.3, 0.2, 0.7, 0.1, 0.1); }), after(byColour), PNG_INFO_cHRM},
        {"RGB with sRGB", carrying(rgb, [](auto png, auto info) { png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL); }), after(byColour), PNG_INFO_sRGB},
        {"RGB with iCCP", carrying(rgb, [&](auto png, auto info) {
             png_set_text_compression_level(png, 0);  // libpng reads a profile deflated to fewer bytes than its header as too short
             png_set_iCCP(png, info, "test", 0, profile.data(), 132);
         }), after(byColour), PNG_INFO_iCCP},
        {"16-bit RGB with gAMA 2.2, rounded to 8 bits", carrying(image(painted, PNG_COLOR_TYPE_RGB, twice(), 16), [](auto png, auto info) { png_set_gAMA(png, info, 2.2); }), after(byColour), PNG_INFO_gAMA},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", before.bytes());
        ASSERT_TRUE(writePng(w / "mat/f.mat.png", c.png)) << c.what;
        EXPECT_EQ(readRaw(w / "mat/f.mat.png").valid & c.chunk, c.chunk) << c.what;
        const Outcome run = w.run("", "", "--exact --no-backup", png2mat);
        EXPECT_EQ(run.out, "Updated mat/f.mat\n") << c.what;
        EXPECT_EQ(run.err, "") << c.what;
        const Bytes expected = c.expected.bytes();
        EXPECT_TRUE(w.read("mat/f.mat") == std::string(expected.begin(), expected.end())) << c.what;
    }
}

TEST(Png2Mat, ImageMagickAsTheEditor) {
    const std::string convert = "/usr/bin/convert";  // /usr/local/bin may hold a stand-in that alters calls
    if (!fs::exists(convert)) GTEST_SKIP() << convert << " is missing: install Debian's imagemagick (scripts/install-deps.sh)";
    const Mat m{8, 6, 1, cmap(twice()), noise(48, 9), {}, {}};
    // x 1 to 3 of the PNG's rows 1 and 2, the stored rows 4 and 3
    const auto rectangle = [&](std::uint8_t index) {
        Mat painted = m;
        for (int y = 1; y <= 2; ++y)
            for (int x = 1; x <= 3; ++x) painted.pixels[std::size_t(5 - y) * 8 + x] = index;
        return painted;
    };
    // entry 200 is #C83778; #649BBD is one step of blue from entry 100, #649BBC, and far from every other entry
    const std::string draw = " +antialias -draw 'rectangle 1,1 3,2' ";
    const struct {
        const char* what;
        std::string args;
        std::function<bool(const RawPng&)> saved;  // the editor really wrote what the case is about
        Mat expected;
        std::string err;
    } cases[] = {
        {"RGB", "PNG24:", [](auto& h) { return h.type == PNG_COLOR_TYPE_RGB; }, m, ""},
        {"16-bit", "-depth 16 PNG48:", [](auto& h) { return h.depth == 16; }, m, ""},
        {"interlaced", "-interlace PNG PNG24:", [](auto& h) { return h.interlace == PNG_INTERLACE_ADAM7; }, m, ""},
        {"indexed", "PNG8:", [](auto& h) { return h.type == PNG_COLOR_TYPE_PALETTE; }, m, ""},
        {"gAMA 1.0", "-set gamma 1.0 PNG24:", [](auto& h) { return h.valid & PNG_INFO_gAMA && h.gamma == 1.0; }, m, ""},
        {"palette colour", "-fill '#C83778'" + draw + "PNG24:", [](auto& h) { return h.type == PNG_COLOR_TYPE_RGB; }, rectangle(200), ""},
        {"palette colour, indexed", "-fill '#C83778'" + draw + "PNG8:", [](auto& h) { return h.type == PNG_COLOR_TYPE_PALETTE; }, rectangle(200), ""},
        {"off the palette", "-fill '#649BBD'" + draw + "PNG24:", [](auto& h) { return h.type == PNG_COLOR_TYPE_RGB; }, rectangle(100),
         "png2mat: mat/f.mat.png: 6 pixels not in the palette, mapped to the nearest colour\n"},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", m.bytes());
        ASSERT_EQ(w.run().status, 0);
        const Outcome edit = w.run("", "", "mat/f.mat.png " + c.args + "mat/f.mat.png", convert);
        ASSERT_EQ(edit.status, 0) << c.what << ": " << edit.err;
        EXPECT_TRUE(c.saved(readRaw(w / "mat/f.mat.png"))) << c.what;
        const Outcome run = w.run("", "", "--no-backup", png2mat);
        const Bytes expected = c.expected.bytes();
        EXPECT_EQ(run.out, c.expected.pixels == m.pixels ? "" : "Updated mat/f.mat\n") << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_TRUE(w.read("mat/f.mat") == std::string(expected.begin(), expected.end())) << c.what;
    }
}
