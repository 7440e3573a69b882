// The command line, interrupts and worker processes, through the real program:
// options and usage errors, signals that leave no temporary file, output that
// does not depend on the number of jobs, and a worker that dies.

#include <IL/il.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>

#include "support/Png.h"
#include "support/Process.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string tryHelp = "Try 'mat2png --help' for more information.\n";

// mat2png started in `dir` with `args`, as support/Process.h's start does.
pid_t start(const fs::path& dir, std::vector<std::string> args, int out = -1, std::set<int> ignored = {}, std::vector<std::string> env = {}) {
    return ::start(dir, MAT2PNG_BINARY, std::move(args), out, ignored, env);
}

// The pids in the names of the temporary files in mat/ (".mat2png-PID-N.png") of at least `size` bytes.
std::set<pid_t> temporaryFiles(const Workdir& w, std::uintmax_t size = 0) {
    std::set<pid_t> pids;
    std::error_code gone;
    for (const auto& entry : fs::directory_iterator(w / "mat", gone)) {
        const std::string name = entry.path().filename();
        if (name.rfind(".mat2png-", 0) != 0) continue;
        const std::uintmax_t bytes = fs::file_size(entry.path(), gone);  // a file renamed meanwhile has none
        if (!size || (!gone && bytes >= size)) pids.insert(std::stoi(name.substr(9)));
    }
    return pids;
}

std::map<std::string, std::string> contents(const Workdir& w) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(w / "mat"))
        files[entry.path().filename()] = entry.is_directory() ? "directory" : w.read("mat/" + entry.path().filename().string());
    return files;
}

}  // namespace

TEST(CommandLine, OptionsAndUsageErrors) {
    // what was built: the project's version, and DevIL's from the headers the program was compiled with
    const std::string version = "mat2png " MAT2PNG_VERSION "\n";
    const std::string devil = std::to_string(IL_VERSION / 100) + "." + std::to_string(IL_VERSION / 10 % 10) + "." + std::to_string(IL_VERSION % 10);
    const struct {
        std::string args;
        int status;
        std::string out, err;  // the beginning of standard output; standard error whole
    } cases[] = {
        {"--help", 0, "Usage: mat2png [OPTION]... [FILE|DIR]...\n", ""},
        {"-h -j 0", 0, "Usage: mat2png", ""},  // help ends the parsing before the bad number
        {"--version", 0, version + "DevIL " + devil + " (compiled), ", ""},
        {"-V", 0, version, ""},
        {"--bogus", 64, "", "mat2png: unknown option '--bogus'\n" + tryHelp},
        {"--quiet=yes", 64, "", "mat2png: unknown option '--quiet=yes'\n" + tryHelp},
        {"-uqx --no-progress", 64, "", "mat2png: unknown option '-x'\n" + tryHelp},
        {"--no-progress=1", 64, "", "mat2png: unknown option '--no-progress=1'\n" + tryHelp},
        {"-qx", 64, "", "mat2png: unknown option '-x'\n" + tryHelp},
        {"-o mat", 64, "", "mat2png: option '-o' needs FILE or DIR operands\n" + tryHelp},
        {"-j 0", 64, "", "mat2png: invalid number of jobs '0': give 1 to 1024\n" + tryHelp},
        {"--jobs=two", 64, "", "mat2png: invalid number of jobs 'two': give 1 to 1024\n" + tryHelp},
        {"-j 2x", 64, "", "mat2png: invalid number of jobs '2x': give 1 to 1024\n" + tryHelp},
        {"-j", 64, "", "mat2png: option '-j' needs an argument\n" + tryHelp},
        {"--directory", 64, "", "mat2png: option '--directory' needs an argument\n" + tryHelp},
        {"-C nowhere", 64, "", "mat2png: nowhere: No such file or directory\n"},
        {"-C mat/f.mat", 64, "", "mat2png: mat/f.mat: Not a directory\n"},
    };
    for (const auto& c : cases) {
        Workdir w;
        w.put("mat/f.mat", Mat().bytes());
        const Outcome run = w.run("", "", c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_EQ(run.out.substr(0, c.out.size()), c.out) << c.args;
        if (c.out.empty()) {
            EXPECT_EQ(run.out, "") << c.args;
        }
        EXPECT_EQ(run.err, c.err) << c.args;
        EXPECT_EQ(w.entries("mat"), 1) << c.args;  // nothing converted
    }
}

TEST(CommandLine, DirectoryAndQuiet) {
    // the palette is looked up under the directory given, and the paths printed stay relative to it
    Workdir w;
    const Mat named{2, 2, 7, name("sub\\P"), {1, 2, 3, 4}, Bytes(4, 9), {}};
    fs::create_directories(w / "set/mat");
    fs::create_directories(w / "set/pal/sub");
    w.put("set/pal/sub/p.pal", paletteFile());
    w.put("set/mat/a.mat", named.bytes());
    w.put("set/mat/b.mat", Mat{2, 2, 1, name("none"), {1, 2, 3, 4}, {}, {}}.bytes());
    for (const std::string args : {"-C set -j 1", "--directory=set"}) {
        const Outcome run = w.run("", "", args);
        // in the directory's order, whichever it is
        const std::string a = "type 7\nWrote alpha channel in mat/a.mat_alpha.png\n", b = "type 1\nCould not process b.mat\n";
        EXPECT_TRUE(run.out == a + b || run.out == b + a) << args << ": " << run.out;
        EXPECT_EQ(run.err, "mat2png: mat/b.mat: palette \"none\" (pal/none.pal): No such file or directory\n") << args;
        EXPECT_EQ(run.status, 1) << args;
        expectImages(w, "set/mat/a.mat", named);
    }
    for (const std::string args : {"-q -C set", "--quiet -C set -j 2"}) {
        const Outcome run = w.run("", "", args);
        EXPECT_EQ(run.out, "Could not process b.mat\n") << args;
        EXPECT_EQ(run.err, "mat2png: mat/b.mat: palette \"none\" (pal/none.pal): No such file or directory\n") << args;
        EXPECT_EQ(run.status, 1) << args;
    }
    EXPECT_EQ(w.run("", "", "-q").out, "No *.iff files in current directory!\n");
    // console lines that cannot be written fail the run, though every image is written
    w.put("set/mat/b.mat", named.bytes());
    for (const std::string jobs : {"-j1", "-j2"}) {
        const Outcome full = w.run("", "", "-C set " + jobs + " >/dev/full");
        EXPECT_EQ(full.status, 1) << jobs;
        EXPECT_EQ(full.err, "mat2png: standard output: No space left on device\n") << jobs;
    }
}

TEST(CommandLine, InterruptsLeaveNoTemporaryFile) {
    // the signal comes while the run holds, under the race shim, just after creating its `pause`th temporary file:
    // a.mat.png, b.mat_alpha.png and b.mat.png, in the directory's order
    const Mat small{4, 4, 1, cmap(), noise(16, 1), {}, {}}, large{1024, 1024, 1, cmap(), noise(1 << 20, 2), noise(1 << 20, 3), {}};
    const struct {
        int sig;
        std::string jobs;
        int pause;
        bool ignored;
        bool update = false;  // the earlier images are older than b.mat: an update run converts it
    } cases[] = {
        {SIGINT, "-j1", 2, false}, {SIGTERM, "-j1", 3, false}, {SIGHUP, "-j1", 2, false},
        {SIGINT, "-j2", 3, false}, {SIGTERM, "-j2", 2, false}, {SIGHUP, "-j2", 3, true},  // nohup: the run goes on
        {SIGINT, "-j1", 3, false, true}, {SIGTERM, "-j2", 2, false, true},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(strsignal(c.sig)) + " " + c.jobs + " at " + std::to_string(c.pause) + (c.ignored ? " ignored" : "") + (c.update ? " -u" : "");
        Workdir w;
        w.put("mat/a.mat", small.bytes());
        w.put("mat/b.mat", large.bytes());
        w.put("mat/b.mat.png", text("earlier"));
        w.put("mat/b.mat_alpha.png", text("earlier alpha"));
        const timespec old[2] = {{1000, 0}, {1000, 0}};
        for (const char* image : {"mat/b.mat.png", "mat/b.mat_alpha.png"}) ::utimensat(AT_FDCWD, (w / image).c_str(), old, 0);
        std::vector<std::string> args{c.jobs};
        if (c.update) args.push_back("-u");
        fs::create_directory(w / "paused");
        const pid_t pid = start(w.root, args, -1, c.ignored ? std::set<int>{c.sig} : std::set<int>{},
                                {"LD_PRELOAD=" RACE_SHIM, "RACE_PAUSED=paused", "RACE_PAUSE_AT=" + std::to_string(c.pause)});
        const pid_t paused = pausedAt(pid, w / "paused");
        if (!paused) continue;
        EXPECT_FALSE(temporaryFiles(w).empty()) << what;  // the one of the paused process, at least
        ::kill(pid, c.sig);
        if (c.ignored) resume(w / "paused", paused);  // the signal is gone once sent, as it is ignored
        const int status = waitFor(pid);
        EXPECT_TRUE(temporaryFiles(w).empty()) << what;
        if (c.ignored) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what;
            expectImages(w, "mat/b.mat", large);
            continue;
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << what << ": status " << status;
        // either image may have been in flight; one that was not replaced is the earlier one, whole
        const std::string colour = w.read("mat/b.mat.png"), alpha = w.read("mat/b.mat_alpha.png");
        EXPECT_TRUE(colour == "earlier" || readPng(w / "mat/b.mat.png")) << what;
        EXPECT_TRUE(alpha == "earlier alpha" || readPng(w / "mat/b.mat_alpha.png")) << what;
        EXPECT_TRUE(colour == "earlier" || alpha != "earlier alpha") << what;  // the alpha image comes first
        if (!c.update) continue;
        // an image renamed into place carries its source's time already: the next update run converts b.mat if
        // it had not both, and the one after finds everything current
        EXPECT_EQ(w.run("", "", "-u").status, 0) << what;
        expectImages(w, "mat/b.mat", large);
        EXPECT_EQ(w.run("", "", "-u").err, "mat2png: 2 files up to date\n") << what;
    }

    // a reader that goes away after one line: the program ends by SIGPIPE, whole images only
    for (const std::string jobs : {"-j1", "-j2"}) {
        Workdir w;
        const int files = 300;  // more lines than the pipe holds
        for (int i = 0; i < files; ++i) w.put("mat/f" + std::to_string(i) + ".mat", Mat{16, 16, 1, cmap(), noise(256, i), {}, {}}.bytes());
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        ASSERT_EQ(::fcntl(pipe[0], F_SETPIPE_SZ, 4096), 4096);
        const pid_t pid = start(w.root, {jobs}, pipe[1]);
        ::close(pipe[1]);
        char c = 0;
        pollfd line{pipe[0], POLLIN, 0};
        while (::poll(&line, 1, std::chrono::milliseconds(deadline).count()) == 1 && ::read(pipe[0], &c, 1) == 1 && c != '\n') {
        }
        ::close(pipe[0]);
        if (c != '\n') {
            killRun(pid);
            FAIL() << jobs << ": no whole line on standard output within the deadline";
        }
        const int status = waitFor(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << jobs << ": status " << status;
        EXPECT_TRUE(temporaryFiles(w).empty()) << jobs;
        for (int i = 0; i < files; ++i) {
            const std::string png = "mat/f" + std::to_string(i) + ".mat.png";
            EXPECT_TRUE(!fs::exists(w / png) || readPng(w / png)) << png;
        }
    }
}

TEST(Jobs, OutputDoesNotDependOnTheNumberOfJobs) {
    const auto fill = [](const Workdir& w) {
        w.put("pal/p.pal", paletteFile());
        for (int i = 0; i < 6; ++i) {
            const std::string n = std::to_string(i);
            w.put("mat/good" + n + ".mat", Mat{16 + i, 9, i, cmap(), noise(std::size_t(9 * (16 + i)), i), {}, {}}.bytes());
            w.put("mat/alpha" + n + ".mat", Mat{7, 5, -i, name("P"), noise(35, 10 + i), noise(35, 20 + i), {}}.bytes());
        }
        w.put("mat/cut.mat", text("FORM"));
        w.put("mat/nopal.mat", Mat{2, 2, 1, name("none"), {1, 2, 3, 4}, {}, {}}.bytes());
        w.put("mat/taken.mat", Mat{2, 2, 1, cmap(), {1, 2, 3, 4}, Bytes(4, 1), {}}.bytes());
        fs::create_directory(w / "mat/taken.mat.png");
        w.put("mat/short.mat", Mat{2, 2, 1, cmap(), {1, 2, 3}, Bytes(4, 1), {}}.bytes());
        w.put("mat/anim.mat", form("ANIM", {}));
    };
    Workdir one;
    fill(one);
    const Outcome first = one.run("", "", "-j 1");
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(std::count(first.err.begin(), first.err.end(), '\n'), 4);
    for (const std::string jobs : {"-j 2", "-j 7", ""}) {
        Workdir w;
        fill(w);
        const Outcome run = w.run("", "", jobs);
        EXPECT_EQ(run.out, first.out) << jobs;
        EXPECT_EQ(run.err, first.err) << jobs;
        EXPECT_EQ(run.status, first.status) << jobs;
        EXPECT_EQ(contents(w), contents(one)) << jobs;
    }
}

TEST(Jobs, AWorkerThatDiesCostsOneFile) {
    // One worker killed as it holds at the fifth image of the run: it has several files in hand, which the
    // others take over. Then every worker is killed at its first image: after the replacements (8 for two
    // jobs) run out the parent converts what is left itself.
    for (const int kills : {1, 1000}) {
        Workdir w;
        const int files = kills == 1 ? 40 : 12;
        std::vector<Mat> mats;
        for (int i = 0; i < files; ++i) {
            mats.push_back(Mat{16, 16, i, cmap(), noise(256, i), {}, {}});
            w.put("mat/f" + std::to_string(i) + ".mat", mats.back().bytes());
        }
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const fs::path paused = w / "paused";
        fs::create_directory(paused);
        const pid_t parent = start(w.root, {"-j2"}, out[1], {}, {"LD_PRELOAD=" RACE_SHIM, "RACE_PAUSED=paused", kills == 1 ? "RACE_PAUSE_AT=5" : "RACE_PAUSE_AT=1+"});
        ::close(out[1]);
        std::set<pid_t> killed;
        int status = 0;
        const bool ended = eventually([&] {
            for (const pid_t pid : pausedProcesses(paused)) {
                if (pid == parent || int(killed.size()) == kills) {
                    resume(paused, pid);
                    continue;
                }
                killed.insert(pid);
                fs::remove(paused / std::to_string(pid));
                ::kill(pid, SIGKILL);
            }
            return ::waitpid(parent, &status, WNOHANG) == parent;
        });
        if (!ended) killRun(parent);
        ASSERT_TRUE(ended) << "mat2png -j2 with " << killed.size() << " workers killed was still running after the deadline: killed";
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
        ::close(out[0]);
        const int expected = kills == 1 ? 1 : 10;
        ASSERT_EQ(int(killed.size()), expected);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_TRUE(temporaryFiles(w).empty());
        int failed = 0;
        for (int i = 0; i < files; ++i) {
            const std::string mat = "f" + std::to_string(i) + ".mat";
            const std::string lines = "type " + std::to_string(i) + "\nNo alpha channel in mat/" + mat + "\n";
            if (text.find(lines + "Could not process " + mat + "\n") != std::string::npos) {
                ++failed;
                EXPECT_FALSE(fs::exists(w / ("mat/" + mat + ".png"))) << mat;
            } else {
                EXPECT_NE(text.find(lines), std::string::npos) << mat;
                expectImages(w, "mat/" + mat, mats[std::size_t(i)]);
            }
        }
        EXPECT_EQ(failed, expected) << text;
    }
}
