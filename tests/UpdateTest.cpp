// Update runs (-u) through the real programs over a sequence of edits, with every time set
// explicitly, on an ordinary and on a coarse-grained file system; and the progress line on a terminal.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <regex>

#include "driver/Progress.h"
#include "support/Png.h"
#include "support/Process.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string mat2png = MAT2PNG_BINARY, png2mat = PNG2MAT_BINARY;

void setTime(const Workdir& w, const std::string& file, time_t sec, long nsec = 0) {
    const timespec times[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (w / file).c_str(), times, 0), 0) << file;
}

timespec timeOf(const Workdir& w, const std::string& file) {
    struct stat st {};
    ::stat((w / file).c_str(), &st);
    return st.st_mtim;
}

// Gives `file` a time just after the last change of the status of any of `images`, which is when the
// last of them was written: with workers, any of them may be the last.
void setTimeAfterWriting(const Workdir& w, const std::string& file, std::initializer_list<const char*> images) {
    timespec last{};
    for (const char* image : images) {
        struct stat st {};
        ASSERT_EQ(::stat((w / image).c_str(), &st), 0) << image;
        if (st.st_ctim.tv_sec > last.tv_sec || (st.st_ctim.tv_sec == last.tv_sec && st.st_ctim.tv_nsec > last.tv_nsec)) last = st.st_ctim;
    }
    setTime(w, file, last.tv_sec + (last.tv_nsec + 1000) / 1000000000, (last.tv_nsec + 1000) % 1000000000);
}

// The first pixel of an image painted with the next palette colour (or alpha value), as an editor saves it, at `sec`.
void paint(const Workdir& w, const std::string& image, time_t sec) {
    auto png = readPng(w / image);
    ASSERT_TRUE(png) << image;
    png_byte* p = png->samples.data();
    const std::size_t next = std::size_t(p[0] + 1) % 256;
    if (png->channels() == 1) p[0] = png_byte(next);
    else std::copy_n(&colours()[3 * next], 3, p);
    ASSERT_TRUE(writePng(w / image, *png));
    setTime(w, image, sec);
}

// The files a run converted, as letters: "type N" lines of mat2png are file 'a' + N - 1, png2mat names its files.
std::string converted(const std::string& out) {
    std::string files;
    const std::regex line("type (\\d+)\n|Updated mat/(\\w)\\.mat\n");
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
        files += (*it)[1].matched ? char('a' + std::stoi((*it)[1]) - 1) : (*it)[2].str()[0];
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(Update, RulesOverASequenceOfEdits) {
    // a and d carry their colour table, b and c share pal/p.pal; a and c have an alpha plane
    const Mat a{16, 16, 1, cmap(), noise(256, 1), noise(256, 2), {}}, b{16, 16, 2, name("p"), noise(256, 3), {}, {}},
              c{16, 16, 3, name("p"), noise(256, 4), noise(256, 5), {}}, d{16, 16, 4, cmap(), noise(256, 6), {}, {}};
    const auto up = [](const std::string& program, int n) {
        return program + ": " + std::to_string(n) + (n == 1 ? " file" : " files") + " up to date\n";
    };
    const struct {
        std::function<void(const Workdir&)> change;
        std::string program;
        std::string converted, err;
    } steps[] = {
        {{}, mat2png, "", up("mat2png", 4)},  // 1: a second run converts nothing
        {{}, png2mat, "", up("png2mat", 4)},
        // 2: an edited image is not overwritten
        {[](const Workdir& w) { paint(w, "mat/b.mat.png", 2000); }, mat2png, "",
         "mat2png: mat/b.mat.png: newer than mat/b.mat, not overwritten\n" + up("mat2png", 3)},
        // 3: exactly the files whose colour or alpha image was edited are rebuilt
        {[](const Workdir& w) { paint(w, "mat/c.mat_alpha.png", 2000); }, png2mat, "bc", up("png2mat", 2)},
        {{}, png2mat, "", up("png2mat", 4)},
        // 5: a rebuilt file is converted once, then not again
        {{}, mat2png, "bc", up("mat2png", 2)},
        {{}, mat2png, "", up("mat2png", 4)},
        // 4: a changed palette converts the files that name it, and only those; png2mat finds them current
        {[](const Workdir& w) {
             Bytes table = colours();
             std::reverse(table.begin(), table.end());
             w.put("pal/p.pal", paletteFile(table));
             setTimeAfterWriting(w, "pal/p.pal", {"mat/b.mat.png", "mat/c.mat.png", "mat/c.mat_alpha.png"});
         },
         mat2png, "bc", up("mat2png", 2)},
        {{}, png2mat, "", up("png2mat", 4)},
        // 6: missing outputs are made again
        {[](const Workdir& w) { fs::remove(w / "mat/b.mat.png"), fs::remove(w / "mat/a.mat_alpha.png"); }, mat2png, "ab",
         up("mat2png", 2)},
        // an image newer but unchanged rewrites nothing; the file takes its time and is current after
        {[](const Workdir& w) { setTime(w, "mat/d.mat.png", 4000, 5); }, png2mat, "", up("png2mat", 3)},
        {{}, png2mat, "", up("png2mat", 4)},
        {{}, mat2png, "", up("mat2png", 4)},
        // 2 and 4: an image edited before its palette changed is kept, the other file naming it converted
        {[](const Workdir& w) {
             paint(w, "mat/b.mat.png", std::time(nullptr) + 200000);
             setTimeAfterWriting(w, "pal/p.pal", {"mat/c.mat.png", "mat/c.mat_alpha.png"});
         },
         mat2png, "c", "mat2png: mat/b.mat.png: newer than mat/b.mat, not overwritten\n" + up("mat2png", 2)},
        // painted with a colour of the palette before it changed
        {{}, png2mat, "b", "png2mat: mat/b.mat.png: 1 pixel not in the palette, mapped to the nearest colour\n" + up("png2mat", 3)},
    };
    for (const std::string jobs : {"-j1", "-j2"}) {
        Workdir w;
        w.put("pal/p.pal", paletteFile());
        for (const auto& [file, mat] : {std::pair{"a", a}, {"b", b}, {"c", c}, {"d", d}}) w.put("mat/" + std::string(file) + ".mat", mat.bytes());
        setTime(w, "mat/a.mat", 1000, 1);
        setTime(w, "mat/b.mat", 1000, 500000000);
        setTime(w, "mat/c.mat", 1001, 250000000);
        setTime(w, "mat/d.mat", 999);
        setTime(w, "pal/p.pal", 1000, 750000000);
        ASSERT_EQ(w.run().status, 0);
        // each image carries its MAT file's time, to the nanosecond, whatever its palette's
        for (const auto& [image, source] : {std::pair{"a.mat.png", "mat/a.mat"}, {"a.mat_alpha.png", "mat/a.mat"},
                                            {"b.mat.png", "mat/b.mat"}, {"c.mat_alpha.png", "mat/c.mat"}}) {
            const timespec got = timeOf(w, "mat/" + std::string(image)), want = timeOf(w, source);
            EXPECT_TRUE(got.tv_sec == want.tv_sec && got.tv_nsec == want.tv_nsec) << jobs << " " << image;
        }
        for (std::size_t i = 0; i < std::size(steps); ++i) {
            if (steps[i].change) steps[i].change(w);
            const Outcome run = w.run("", "", jobs + " -u", steps[i].program);
            EXPECT_EQ(converted(run.out), steps[i].converted) << jobs << " step " << i << ": " << run.out;
            EXPECT_EQ(run.err, steps[i].err) << jobs << " step " << i;
            EXPECT_EQ(run.status, 0) << jobs << " step " << i;
        }
        EXPECT_FALSE(fs::exists(w / "mat/d.mat.bak"));  // never rewritten
        const timespec dtime = timeOf(w, "mat/d.mat");
        EXPECT_TRUE(dtime.tv_sec == 4000 && dtime.tv_nsec == 5);
        expectImages(w, "mat/d.mat", d);
    }
}

TEST(Update, CoarseTimestamps) {
    // ext2 with 128-byte inodes keeps whole seconds; mounting its image needs root and a loop device
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system image needs root";
    if (const std::string why = refusal("unshare -m true"); !why.empty()) GTEST_SKIP() << "no mount namespace of our own: " << why;
    Workdir w;
    const Mat f{8, 8, 1, name("p"), noise(64, 1), {}, {}};
    w.put("mat/f.mat", f.bytes());
    w.put("pal/p.pal", paletteFile());
    ASSERT_EQ(w.run().status, 0);
    paint(w, "mat/f.mat.png", 0);
    fs::rename(w / "mat/f.mat.png", w / "edited.png");
    const std::string script =
        "mkfs.ext2 -q -F -I 128 coarse.img 2048 >/dev/null 2>&1 && mkdir m && mount -o loop coarse.img m || exit 77\n"
        "cd m && cp -r ../mat ../pal . && touch -d @1000.75 mat/f.mat && touch -d @999.5 pal/p.pal\n"
        "M=" + mat2png + " P=" + png2mat + "\n"
        "$M >/dev/null; stat -c %y mat/f.mat.png | cut -c 21-29; $M -u; $P -u\n"
        "cp ../edited.png mat/f.mat.png && touch -d @2000.5 mat/f.mat.png && $P -u && $P -u && $M -u && $M -u\n";
    const Outcome run = w.run("", "", "", "unshare -m sh -c '" + script + "'");
    if (run.status == 77) GTEST_SKIP() << "no loop mount here: " << run.err;
    EXPECT_EQ(run.out, "000000000\nUpdated mat/f.mat\ntype 1\nNo alpha channel in mat/f.mat\n");
    EXPECT_EQ(run.err, "mat2png: 1 file up to date\npng2mat: 1 file up to date\npng2mat: 1 file up to date\n"
                       "mat2png: 1 file up to date\n");
    EXPECT_EQ(run.status, 0);
}

TEST(Progress, OnATerminalOnly) {
    // the run holds at its first image for as long as the line waits before it first shows, however quick the
    // machine; one file fails, so that a diagnostic meets the line
    Workdir w;
    for (int i = 0; i < 6; ++i) w.put("mat/f" + std::to_string(i) + ".mat", Mat{64, 64, 1, cmap(), noise(64 * 64, i), {}, {}}.bytes());
    w.put("mat/cut.mat", text("FORM"));
    const Outcome plain = w.run("", "", "-j1");
    ASSERT_EQ(plain.status, 1);
    const std::string failure = "Could not process cut.mat\n";
    std::string mixed = plain.out;  // both streams on one terminal
    mixed.insert(mixed.find(failure) + failure.size(), plain.err);
    const struct {
        std::string args;
        bool outputOnTerminal, errorOnTerminal, shown;  // the other stream goes to a file
    } cases[] = {
        {"-j1", false, true, true}, {"-j2", false, true, true}, {"-q", true, true, true},
        {"--no-progress", false, true, false}, {"", true, true, false},  // the console's lines are on the terminal
        {"-q", true, false, false},                                       // standard error is not a terminal
    };
    for (const auto& c : cases) {
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        const std::string outname = w.root.string() + ".out";
        const fs::path paused = w.root.string() + ".paused";
        fs::create_directory(paused);
        const int file = ::open(outname.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);  // its own group, which killRun kills whole if the run hangs
            ::dup2(c.outputOnTerminal ? slave : file, 1);
            ::dup2(c.errorOnTerminal ? slave : file, 2);
            const std::string shim = "env LD_PRELOAD=" RACE_SHIM " RACE_PAUSED='" + paused.string() + "' RACE_PAUSE_AT=1 ";
            ::execl("/bin/sh", "sh", "-c", ("cd '" + w.root.string() + "' && exec " + shim + mat2png + " " + c.args).c_str(), nullptr);
            ::_exit(127);
        }
        ::close(slave);
        ::close(file);
        // the line's clock started before the pause, so the file done after it is done an interval later at least
        if (const pid_t held = pausedAt(pid, paused)) {
            std::this_thread::sleep_for(Progress::interval);
            resume(paused, held);
        }
        fs::remove_all(paused);
        std::string tty;
        char buffer[4096];
        pollfd ready{master, POLLIN, 0};  // a run that hangs is left to waitFor's deadline
        for (ssize_t n; ::poll(&ready, 1, std::chrono::milliseconds(deadline).count()) == 1 && (n = ::read(master, buffer, sizeof buffer)) > 0;)
            tty.append(buffer, std::size_t(n));  // EIO once it has ended
        ::close(master);
        const int status = waitFor(pid);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::string what = c.args + (c.outputOnTerminal ? ", output on the terminal" : "") + (c.errorOnTerminal ? "" : ", errors in a file");
        EXPECT_EQ(WEXITSTATUS(status), 1) << what;
        // the lines drawn, and what is left once they are taken out: exactly the other lines, in order
        const std::regex line("\r(mat2png: \\d+ of 7 files, [0-9.]+ files/s, \\d+:\\d\\d left)?\033\\[K");
        const long drawn = std::distance(std::sregex_iterator(tty.begin(), tty.end(), line), {});
        const std::string out = c.args == "-q" ? failure : plain.out;
        const std::string both = c.args == "-q" ? failure + plain.err : mixed;
        EXPECT_EQ(std::regex_replace(tty, line, ""), c.outputOnTerminal ? (c.errorOnTerminal ? both : out) : plain.err) << what;
        std::ifstream saved(outname);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), c.outputOnTerminal ? (c.errorOnTerminal ? "" : plain.err) : out)
            << what;
        fs::remove(outname);
        if (!c.shown) {
            EXPECT_EQ(tty.find('\r'), std::string::npos) << what;
            continue;
        }
        EXPECT_GE(drawn, 2) << what << ": " << tty;  // at least one line, and its erasure
        EXPECT_LE(drawn, 2 * (1 + seconds / std::chrono::duration<double>(Progress::interval).count()) + 2) << what;  // each erased once
        // never left on the terminal: the last line drawn is erased, at the end or before a later diagnostic
        EXPECT_NE(tty.find("\r\033[K", tty.rfind("\rmat2png: ")), std::string::npos) << what << ": " << tty;
    }
}
