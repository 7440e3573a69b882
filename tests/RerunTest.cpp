// A program run several times in one process (as a web page runs it) gives, run after run, what its
// binary gives started afresh each time: console, exit status and files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "driver/Program.h"
#include "mat2png/Mat2Png.h"
#include "matpal/Matpal.h"
#include "png2mat/Png2Mat.h"
#include "support/Png.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

using Entry = std::function<int(int, char**)>;
using Prepare = std::function<void(const Workdir&)>;

// One run of a sequence: what is done to the directory first (if anything), then the arguments.
struct Step {
    Prepare before;
    std::vector<std::string> args;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Calls `entry` in `w` with standard output and error going to files, as the binary's would.
Outcome runHere(const Workdir& w, const Entry& entry, std::vector<std::string> args, const char* program) {
    const fs::path home = fs::current_path();
    fs::current_path(w.root);
    const fs::path out = w.root.string() + ".out";
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1), savedErr = ::dup(2);
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = ::open(w.errors().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    Outcome result;
    result.status = entry(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    for (const int fd : {savedOut, savedErr, outFd, errFd}) ::close(fd);
    fs::current_path(home);
    result.out = slurp(out);
    result.err = slurp(w.errors());
    fs::remove(out);
    return result;
}

std::string quoted(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) text += " '" + arg + "'";
    return text;
}

// The files that are in one directory and not in the other, or differ between them.
std::vector<std::string> differences(const Workdir& a, const Workdir& b) {
    std::map<std::string, std::string> files[2];
    for (int n = 0; n < 2; ++n)
        for (const fs::directory_entry& e : fs::recursive_directory_iterator((n ? b : a).root))
            if (e.is_regular_file()) files[n][fs::relative(e.path(), (n ? b : a).root).string()] = slurp(e.path());
    std::vector<std::string> differing;
    for (const auto& [name, bytes] : files[0])
        if (!files[1].count(name) || files[1][name] != bytes) differing.push_back(name);
    for (const auto& [name, bytes] : files[1])
        if (!files[0].count(name)) differing.push_back(name);
    return differing;
}

// Runs `steps` in this process with `entry`, and with `binary` in a twin directory, comparing each run.
void expectSameAsBinary(const Entry& entry, const char* binary, const char* program, const Prepare& setup, const std::vector<Step>& steps) {
    Workdir here, there;
    setup(here);
    setup(there);
    for (std::size_t n = 0; n < steps.size(); ++n) {
        if (steps[n].before) {
            steps[n].before(here);
            steps[n].before(there);
        }
        const Outcome got = runHere(here, entry, steps[n].args, program);
        const Outcome want = there.run("", "", quoted(steps[n].args), binary);
        EXPECT_EQ(got.status, want.status) << "run " << n;
        EXPECT_EQ(got.out, want.out) << "run " << n;
        EXPECT_EQ(got.err, want.err) << "run " << n;
    }
    EXPECT_EQ(differences(here, there), std::vector<std::string>{});
}

Bytes otherColours() {
    Bytes table = colours();
    for (std::uint8_t& c : table) c = std::uint8_t(c ^ 0x55);
    return table;
}

// A picture of `width` x `height` whose colours are mostly not in colours().
void putImage(const Workdir& w, const std::string& name, png_uint_32 width, png_uint_32 height, std::uint32_t seed) {
    RawPng raw;
    raw.width = width;
    raw.height = height;
    raw.type = PNG_COLOR_TYPE_RGB;
    raw.samples = noise(std::size_t{width} * height * 3, seed);
    ASSERT_TRUE(writePng(w / name, raw));
}

void setFuture(const fs::path& path) {
    const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 100, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

}  // namespace

TEST(Rerun, Mat2PngKeepsNothingOfTheRunBefore) {
    Mat2Png mat2png;  // one value for every run, as a page that keeps it would
    const Entry entry = [&](int argc, char** argv) { return runProgram(argc, argv, mat2png.program()); };
    const Prepare setup = [](const Workdir& w) {
        w.put("mat/a.mat", Mat{4, 4, 1, cmap(), noise(16, 1), noise(16, 2), {}}.bytes());
        w.put("mat/b.mat", Mat{4, 4, 2, name("p"), noise(16, 3), {}, {}}.bytes());
        w.put("pal/p.pal", paletteFile());
        w.put("mat/bad\x01.mat", Bytes{1, 2, 3});
        fs::create_directory(w / "out");
    };
    const Prepare repaint = [](const Workdir& w) {
        w.put("pal/p.pal", paletteFile(otherColours()));
        setFuture(w / "pal/p.pal");
    };
    expectSameAsBinary(entry, MAT2PNG_BINARY, "mat2png", setup,
                       {
                           // -h ends the parse inside the group: the next parse must not begin at its 'q'
                           {nullptr, {"-hq"}},
                           // indexed, quiet and escaped names, none of which the set run after it has
                           {nullptr, {"-iq", "-j1", "-o", "out", "mat/a.mat", "mat/bad\x01.mat"}},
                           {nullptr, {"mat"}},
                           {nullptr, {}},
                           // the palettes' times of one update run are not the next one's
                           {nullptr, {"-u", "-j1"}},
                           {repaint, {"-u", "-j1"}},
                           {nullptr, {"-x"}},
                       });
}

TEST(Rerun, Png2MatKeepsNothingOfTheRunBefore) {
    Png2Mat png2mat;
    const Entry entry = [&](int argc, char** argv) { return runProgram(argc, argv, png2mat.program()); };
    const Prepare setup = [](const Workdir& w) {
        w.put("mat/a.mat", Mat{8, 8, 1, name("p"), noise(64, 1), {}, {}}.bytes());
        w.put("pal/p.pal", paletteFile());
        putImage(w, "mat/a.mat.png", 8, 8, 4);
        putImage(w, "n.png", 6, 6, 5);
        fs::create_directory(w / "other");
        w.put("other/x.mat", Mat{2, 2, 9, cmap(), {1, 2, 3, 4}, {}, {}}.bytes());
        putImage(w, "other/m.png", 5, 5, 6);
    };
    expectSameAsBinary(entry, PNG2MAT_BINARY, "png2mat", setup,
                       {
                           {nullptr, {"--exact", "--no-backup", "--match=rgb", "--dither", "-j1"}},
                           // perceptual, not exact, with its backup
                           {nullptr, {"-j1"}},
                           {nullptr, {"--palette=p", "--type=5", "-j1", "n.png"}},
                           // the commonest type of its own folder, not the one given before
                           {nullptr, {"--palette=p", "--embed-palette", "other/m.png"}},
                           {nullptr, {"--match=none"}},
                       });
}

TEST(Rerun, MatpalKeepsNothingOfTheRunBefore) {
    const Entry entry = runMatpal;
    const Prepare setup = [](const Workdir& w) {
        w.put("pal/p.pal", paletteFile());
        putImage(w, "i.png", 16, 16, 7);
    };
    expectSameAsBinary(entry, MATPAL_BINARY, "matpal", setup,
                       {
                           {nullptr, {"-hV"}},
                           {nullptr, {"export", "-f", "gpl", "p"}},
                           {nullptr, {"export", "-o", "p.act", "p"}},
                           {nullptr, {"import", "p.act", "q"}},
                           {nullptr, {"-C", "pal", "export", "-fjasc", "q"}},
                           {nullptr, {"make", "r", "i.png", "--colours=4"}},
                           {nullptr, {"make", "r", "i.png", "--keep=0-3", "--from=q", "--force"}},
                       });
}
