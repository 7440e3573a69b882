// Files and folders named on the command line, through the real programs, in scratch folders outside
// any set: where the images go, where named palettes are found, the runs refused before anything is
// written, update runs, interrupts, and art that is only ever read.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "support/Png.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string mat2png = MAT2PNG_BINARY, png2mat = PNG2MAT_BINARY;

// A scratch folder without the set's mat/ and pal/, and a run in one of its folders.
struct Scratch : Workdir {
    Scratch() {
        fs::remove_all(root / "mat");
        fs::remove_all(root / "pal");
    }
    Outcome in(const std::string& folder, const std::string& args, const std::string& binary = mat2png) const {
        fs::create_directories(root / folder);
        return run("cd '" + folder + "' &&", "", args, binary);
    }
    void put(const std::string& relative, const Bytes& data) const {
        fs::create_directories((root / relative).parent_path());
        Workdir::put(relative, data);
    }
};

// Every file under `folder` with its bytes, the folders included as such.
std::map<std::string, std::string> tree(const Scratch& w, const std::string& folder = "") {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(w / folder)) {
        const std::string name = fs::relative(entry.path(), w.root);
        files[name] = entry.is_directory() ? "folder" : w.read(name);
    }
    return files;
}

// A picture of `width` x `height` in colours of the test palette: what an artist saves.
Png art(unsigned width, unsigned height, unsigned seed) {
    Png png;
    png.image.version = PNG_IMAGE_VERSION;
    png.image.width = width, png.image.height = height, png.image.format = PNG_FORMAT_RGB;
    const Bytes indices = noise(std::size_t(width) * height, seed), table = colours();
    for (const std::uint8_t index : indices) png.samples.insert(png.samples.end(), &table[3 * index], &table[3 * index + 3]);
    return png;
}

timespec modified(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// The pids in the names of mat2png's temporary files in `folder` of at least `size` bytes.
std::set<pid_t> temporaryFiles(const fs::path& folder, std::uintmax_t size = 0) {
    std::set<pid_t> pids;
    std::error_code gone;
    for (const auto& entry : fs::directory_iterator(folder, gone)) {
        const std::string name = entry.path().filename();
        if (name.rfind(".mat2png-", 0) != 0) continue;
        const std::uintmax_t bytes = fs::file_size(entry.path(), gone);  // a file renamed meanwhile has none
        if (!size || (!gone && bytes >= size)) pids.insert(std::stoi(name.substr(9)));
    }
    return pids;
}

}  // namespace

TEST(Operands, FilesAndFoldersWhereTheyAre) {
    const Mat rock{3, 2, 2, name("desert"), {1, 2, 3, 4, 5, 6}, {}, {}}, hero{2, 2, 1, cmap(), {9, 8, 7, 6}, Bytes{0, 50, 100, 255}, {}};
    const Bytes desert = [] {
        Bytes table = colours();
        std::reverse(table.begin(), table.end());
        return table;
    }();
    Scratch w;
    // sent alone with its palette
    w.put("inbox/rock.mat", rock.bytes());
    w.put("inbox/desert.pal", paletteFile(desert));
    // a set, named from beside it and from elsewhere; its palette is in set/pal
    w.put("set/mat/hero.mat", hero.bytes());
    w.put("set/mat/rock.mat", rock.bytes());
    w.put("set/pal/DESERT.PAL", paletteFile(colours()));
    fs::create_directories(w / "empty");
    const struct {
        std::string folder, args;
        int status;
        std::string out, err;
        std::vector<std::pair<std::string, Mat>> images;  // each with the palette it was found under
    } cases[] = {
        {"inbox", "-j1 rock.mat", 0, "type 2\nNo alpha channel in rock.mat\n", "", {{"inbox/rock.mat", rock}}},
        {"", "set/mat/hero.mat", 0, "type 1\nWrote alpha channel in set/mat/hero.mat_alpha.png\n", "", {{"set/mat/hero.mat", hero}}},
        {"inbox", "../set/mat/rock.mat", 0, "type 2\nNo alpha channel in ../set/mat/rock.mat\n", "", {{"set/mat/rock.mat", rock}}},
        // a folder stands for its *.mat files; an empty one says so and makes the status 2
        {"set", "-o ../out empty-not-there.mat mat/ ../empty", 2, "",
         "mat2png: ../empty: holds no *.mat file\nmat2png: empty-not-there.mat: No such file or directory\n", {}},
        {"", "-q set/mat", 0, "", "", {{"set/mat/hero.mat", hero}, {"set/mat/rock.mat", rock}}},
    };
    for (const auto& c : cases) {
        fs::create_directories(w / "out");
        const Outcome run = w.in(c.folder.empty() ? "." : c.folder, c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        if (c.status == 2) {
            // lines in the folder's order, whichever it is: both files converted into out/
            EXPECT_NE(run.out.find("Could not process empty-not-there.mat\n"), std::string::npos) << run.out;
            EXPECT_NE(run.out.find("Wrote alpha channel in ../out/hero.mat_alpha.png\n"), std::string::npos) << run.out;
            EXPECT_EQ(run.err, c.err) << c.args;
            expectImages(w, "out/hero.mat", hero);
            expectImages(w, "out/rock.mat", rock);
            continue;
        }
        EXPECT_EQ(run.out, c.out) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
        for (const auto& [mat, m] : c.images) expectImages(w, mat, m, mat.rfind("inbox", 0) == 0 ? desert : colours());
    }
}

TEST(Operands, OutputFolderGivesTheSameFilesForAnyJobs) {
    const auto fill = [](const Scratch& w) {
        w.put("a/pal/p.pal", paletteFile());
        for (int i = 0; i < 5; ++i) {
            const std::string n = std::to_string(i);
            w.put("a/mat/f" + n + ".mat", Mat{9 + i, 7, i, name("p"), noise(std::size_t(7 * (9 + i)), i), noise(std::size_t(7 * (9 + i)), 9 + i), {}}.bytes());
            w.put("b/g" + n + ".MAT", Mat{7, 5, -i, cmap(), noise(35, 20 + i), {}, {}}.bytes());
        }
        w.put("b/cut.mat", text("FORM"));
        w.put("b/nopal.mat", Mat{2, 2, 1, name("none"), {1, 2, 3, 4}, {}, {}}.bytes());
        fs::create_directories(w / "out");
    };
    Scratch one;
    fill(one);
    const Outcome first = one.in(".", "-j 1 -o out a/mat b");
    EXPECT_EQ(first.status, 1);
    // in the folder's order, whichever it is
    EXPECT_NE(first.err.find("mat2png: b/cut.mat: expected FORM 'BITM' or 'ANIM', found the end of the file\n"), std::string::npos);
    EXPECT_NE(first.err.find("mat2png: b/nopal.mat: palette \"none\" not found: tried pal/none.pal, b/none.pal\n"), std::string::npos);
    for (const std::string jobs : {"-j 2", ""}) {
        Scratch w;
        fill(w);
        const Outcome run = w.in(".", jobs + " -o out a/mat b");
        EXPECT_EQ(run.out, first.out) << jobs;
        EXPECT_EQ(run.err, first.err) << jobs;
        EXPECT_EQ(run.status, first.status) << jobs;
        EXPECT_EQ(tree(w, "out"), tree(one, "out")) << jobs;
        EXPECT_EQ(w.entries("out"), 5 * 2 + 5) << jobs;  // two images of each f, one of each g
    }
}

TEST(Operands, PaletteSearchOrder) {
    // the same name in every place, each with its own colours: the first place in the order wins
    const Bytes tables[] = {colours(), noise(768, 1), noise(768, 2), noise(768, 3), noise(768, 4)};
    const Mat m{2, 2, 1, name("sub\\Rock"), {1, 2, 3, 4}, {}, {}};
    const std::string places[] = {"first/sub/ROCK.PAL", "second/sub/rock.pal", "set/pal/sub/Rock.pal", "set/mat/sub/rock.pal", "pal/sub/rock.pal"};
    for (std::size_t missing = 0; missing <= std::size(places); ++missing) {
        Scratch w;
        w.put("set/mat/a.mat", m.bytes());
        fs::create_directories(w / "first"), fs::create_directories(w / "second");
        for (std::size_t i = missing; i < std::size(places); ++i) w.put(places[i], paletteFile(tables[i]));
        const Outcome run = w.in(".", "--palette-dir=first --palette-dir second/ set/mat/a.mat");
        if (missing == std::size(places)) {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "mat2png: set/mat/a.mat: palette \"sub\\Rock\" not found: tried first/sub/Rock.pal, "
                               "second/sub/Rock.pal, set/pal/sub/Rock.pal, set/mat/sub/Rock.pal, pal/sub/Rock.pal\n");
            continue;
        }
        EXPECT_EQ(run.status, 0) << places[missing] << ": " << run.err;
        expectImages(w, "set/mat/a.mat", m, tables[missing]);
    }
    // the set run searches --palette-dir before pal/, and names a leading-out name's first place
    Workdir set;
    set.put("mat/a.mat", m.bytes());
    fs::create_directories(set / "own/sub");
    set.put("own/sub/rock.pal", paletteFile(tables[1]));
    set.put("mat/up.mat", Mat{2, 2, 1, name("..\\up"), {1, 2, 3, 4}, {}, {}}.bytes());
    const Outcome run = set.run("", "", "-j1 --palette-dir=own");
    EXPECT_NE(run.err.find("mat2png: mat/up.mat: the palette name \"..\\up\" (own/../up.pal) leads out of own/\n"), std::string::npos)
        << run.err;
    expectImages(set, "mat/a.mat", m, tables[1]);
    EXPECT_EQ(set.run("", "", "--palette-dir=gone").err, "mat2png: gone: No such file or directory\n");
}

TEST(Operands, CollisionsAreRefusedWithNothingWritten) {
    const struct {
        std::string binary, args, err;
    } cases[] = {
        {mat2png, "-o out a/x.mat b/x.mat", "a/x.mat and b/x.mat would both write out/x.mat.png"},
        {mat2png, "a/x.mat ./a//x.mat", "a/x.mat and ./a//x.mat would both write ./a//x.mat.png"},
        {mat2png, "-o out a b/", "a/x.mat and b/x.mat would both write out/x.mat.png"},
        {mat2png, "-o a b/x.mat a/x.mat.png", "b/x.mat would write over a/x.mat.png, which is named to be read"},
        {mat2png, "-o a/ a/x.mat_alpha b/x.mat", "a/x.mat_alpha and b/x.mat would both write a/x.mat_alpha.png"},
        {png2mat, "-o out --palette=p a/sky.png b/sky.png", "a/sky.png and b/sky.png would both write out/sky.mat"},
        {png2mat, "a/x.mat.png a/x.PNG", "a/x.mat.png and a/x.PNG would both write a/x.mat"},
        {png2mat, "a/x.mat", "a/x.mat would write over a/x.mat, which is named to be read"},
        {png2mat, "a/x.mat.png a/x.mat.bak", "a/x.mat.png would write over a/x.mat.bak, which is named to be read"},
    };
    for (const auto& c : cases) {
        Scratch w;
        for (const std::string folder : {"a/", "b/"}) {
            w.put(folder + "x.mat", Mat().bytes());
            w.put(folder + "sky.png", text("not read"));
        }
        for (const std::string file : {"a/x.mat.png", "a/x.PNG", "a/x.mat_alpha", "a/x.mat_alpha.png", "a/x.mat.bak", "pal/p.pal"})
            w.put(file, text(file));
        fs::create_directories(w / "out");
        const auto before = tree(w);
        const Outcome run = w.in(".", c.args, c.binary);
        const std::string program = c.binary == mat2png ? "mat2png" : "png2mat";
        EXPECT_EQ(run.status, 64) << c.args;
        EXPECT_EQ(run.out, "") << c.args;
        EXPECT_EQ(run.err, program + ": " + c.err + "\n") << c.args;
        EXPECT_EQ(tree(w), before) << c.args;
    }
}

TEST(Operands, UpdateRunsCompareWithTheImagesWhereTheyAreWritten) {
    Scratch w;
    const Mat a{4, 4, 3, cmap(), noise(16, 1), noise(16, 2), {}};
    w.put("in/a.mat", a.bytes());
    fs::create_directories(w / "out");
    const std::string args = "-u -o out in/a.mat";
    const auto setTime = [&](const std::string& file, time_t sec) {
        const timespec times[2] = {{sec, 0}, {sec, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (w / file).c_str(), times, 0), 0);
    };
    EXPECT_EQ(w.in(".", args).out, "type 3\nWrote alpha channel in out/a.mat_alpha.png\n");
    EXPECT_TRUE(sameTime(modified(w / "out/a.mat.png"), modified(w / "in/a.mat")));
    Outcome run = w.in(".", args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "mat2png: 1 file up to date\n");
    // images beside the file are none of its outputs here
    EXPECT_FALSE(fs::exists(w / "in/a.mat.png"));
    setTime("out/a.mat_alpha.png", 4000000000);
    run = w.in(".", args);
    EXPECT_EQ(run.err, "mat2png: out/a.mat_alpha.png: newer than in/a.mat, not overwritten\n");
    EXPECT_EQ(run.status, 0);
    setTime("out/a.mat_alpha.png", 1000);
    EXPECT_EQ(w.in(".", args).out, "type 3\nWrote alpha channel in out/a.mat_alpha.png\n");
    // png2mat rebuilds from the images named when they are newer than their MAT file
    fs::copy_file(w / "out/a.mat.png", w / "in/a.mat.png");
    setTime("in/a.mat.png", 1000);
    EXPECT_EQ(w.in(".", "-u in/a.mat.png", png2mat).err, "png2mat: 1 file up to date\n");
    setTime("in/a.mat.png", 4000000000);
    run = w.in(".", "-u in/a.mat.png", png2mat);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(sameTime(modified(w / "in/a.mat"), modified(w / "in/a.mat.png")));  // unchanged bytes take the image's time
}

TEST(Operands, InterruptsAndDeadWorkersLeaveNoTemporaryFileInTheOutputFolder) {
    // the signal comes while a large image is being written into out/, seen by its temporary file there
    const Mat large{1024, 1024, 1, cmap(), noise(1 << 20, 2), noise(1 << 20, 3), {}};
    const struct {
        int sig;
        std::string jobs;
    } cases[] = {{SIGINT, "-j1"}, {SIGTERM, "-j1"}, {SIGINT, "-j2"}, {SIGHUP, "-j2"}, {SIGKILL, "-j2"}};  // SIGKILL: a worker
    for (const auto& c : cases) {
        const std::string what = std::string(strsignal(c.sig)) + " " + c.jobs;
        Scratch w;
        for (int i = 0; i < 3; ++i) w.put("in/l" + std::to_string(i) + ".mat", large.bytes());
        fs::create_directories(w / "out");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1), ::dup2(null, 2);
            for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
            if (::chdir(w.root.c_str()) != 0) ::_exit(127);
            ::execl(mat2png.c_str(), mat2png.c_str(), c.jobs.c_str(), "-o", "out", "in", nullptr);
            ::_exit(127);
        }
        // a worker is killed well into an image, so that it dies on that file and not between two; a run that
        // ends, or writes nothing for a minute, without one seen fails the case
        std::set<pid_t> writers;
        int status = 0;
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while ((writers = temporaryFiles(w / "out", c.sig == SIGKILL ? 64 << 10 : 0)).empty() && !ended && std::chrono::steady_clock::now() < deadline) {
            ended = ::waitpid(pid, &status, WNOHANG) == pid;
            std::this_thread::yield();
        }
        if (writers.empty() || ended) {
            if (!ended) ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);
            ADD_FAILURE() << what << ": no temporary file seen in out/ before the run " << (ended ? "ended" : "was stopped");
            continue;
        }
        ::kill(c.sig == SIGKILL ? *writers.begin() : pid, c.sig);
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(temporaryFiles(w / "out").empty()) << what;
        EXPECT_TRUE(temporaryFiles(w / "in").empty()) << what;
        if (c.sig == SIGKILL) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << what << ": status " << status;
        else EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << what << ": status " << status;
    }
}

TEST(Operands, ArtIsOnlyRead) {
    // new art made into a set's texture, converted, edited in place and rebuilt: the original never changes
    Scratch w;
    w.put("set/pal/rock.pal", paletteFile());
    w.put("set/mat/old.mat", Mat{2, 2, 5, cmap(), {1, 2, 3, 4}, {}, {}}.bytes());
    fs::create_directories(w / "art");
    ASSERT_TRUE(writePng(w / "art/sky.png", art(8, 6, 7)));
    const timespec old[2] = {{1000, 7}, {1000, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (w / "art/sky.png").c_str(), old, 0), 0);
    const std::string bytes = w.read("art/sky.png");
    const auto untouched = [&](const std::string& step) {
        EXPECT_EQ(w.read("art/sky.png"), bytes) << step;
        EXPECT_TRUE(sameTime(modified(w / "art/sky.png"), old[1])) << step;
        EXPECT_EQ(w.entries("art"), 1) << step;
    };
    Outcome run = w.in(".", "--palette=rock -o set/mat art/sky.png", png2mat);
    EXPECT_EQ(run.out, "Created set/mat/sky.mat\n");
    EXPECT_EQ(run.status, 0) << run.err;
    untouched("png2mat");
    run = w.in(".", "-C set");
    EXPECT_NE(run.out.find("type 5\nNo alpha channel in mat/sky.mat\n"), std::string::npos) << run.out;  // the set's type
    untouched("mat2png");
    // the art is the texture's image now: an image operand whose MAT file exists is rebuilt from it
    ASSERT_TRUE(writePng(w / "art/sky.png", art(8, 6, 8)));
    ASSERT_EQ(::utimensat(AT_FDCWD, (w / "art/sky.png").c_str(), old, 0), 0);
    const std::string created = w.read("set/mat/sky.mat"), painted = w.read("art/sky.png");
    run = w.in("art", "-o ../set/mat sky.png", png2mat);
    EXPECT_EQ(run.out, "Updated ../set/mat/sky.mat\n");
    EXPECT_EQ(w.read("set/mat/sky.mat.bak"), created);
    EXPECT_EQ(w.read("art/sky.png"), painted);
    EXPECT_EQ(w.entries("art"), 1);
    // the texture now shows the picture, whose colours are all in the palette
    ASSERT_EQ(w.in(".", "-C set").status, 0);
    const auto shown = readPng(w / "set/mat/sky.mat.png");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->samples, art(8, 6, 8).samples);
    EXPECT_EQ(w.read("art/sky.png"), painted);
    // a folder operand: sky_alpha.png beside sky.png is its transparency, not an image of its own
    Png mask = art(8, 6, 9);
    mask.image.format = PNG_FORMAT_GRAY;
    mask.samples.resize(8 * 6);
    ASSERT_TRUE(writePng(w / "art/sky_alpha.png", mask));
    run = w.in(".", "-o set/mat art", png2mat);
    EXPECT_EQ(run.out, "Updated set/mat/sky.mat\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(w.in(".", "-C set").out.find("Wrote alpha channel in mat/sky.mat_alpha.png\n"), std::string::npos);
    EXPECT_EQ(w.entries("art"), 2);
}

TEST(Operands, NamesWithSpacesAndALeadingDash) {
    Scratch w;
    const Mat m{2, 2, 4, cmap(), {5, 6, 7, 8}, {}, {}};
    w.put("in/-a b.mat", m.bytes());
    w.put("in/\x1b[2J.mat", text("junk"));
    Outcome run = w.in("in", "-j1 -- '-a b.mat' '\x1b[2J.mat'");
    EXPECT_EQ(run.out, "type 4\nNo alpha channel in -a b.mat\nCould not process \\x1B[2J.mat\n");
    EXPECT_EQ(run.err, "mat2png: \\x1B[2J.mat: expected FORM 'BITM' or 'ANIM', found the end of the file\n");
    expectImages(w, "in/-a b.mat", m);
    run = w.in("in", "'-a b.mat'");
    EXPECT_EQ(run.status, 64);
    EXPECT_EQ(run.err, "mat2png: unknown option '-a'\nTry 'mat2png --help' for more information.\n");
    // the image is edited and brought back, named after --
    auto png = readPng(w / "in/-a b.mat.png");
    ASSERT_TRUE(png);
    std::copy_n(&colours()[3 * 9], 3, png->samples.data());
    ASSERT_TRUE(writePng(w / "in/-a b.mat.png", *png));
    run = w.in("in", "-- '-a b.mat.png'", png2mat);
    EXPECT_EQ(run.out, "Updated -a b.mat\n");
    EXPECT_EQ(run.status, 0) << run.err;
    const Bytes before = m.bytes();
    EXPECT_EQ(w.read("in/-a b.mat.bak"), std::string(before.begin(), before.end()));
}
