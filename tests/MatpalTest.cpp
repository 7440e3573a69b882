// matpal through the real program: the command line and its usage errors, every format out and
// back in, the sources of an export, import's refusal to replace without --force, damaged files
// that leave nothing behind, make's palette, and the files read by GIMP, ImageMagick and Pillow.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>

#include "support/Png.h"
#include "support/Process.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

const std::string tryHelp = "Try 'matpal --help' for more information.\n";

Outcome matpal(const Workdir& w, const std::string& args) { return w.run("", "", args, MATPAL_BINARY); }

// Every file under the working directory, with its bytes: what a failed run must leave as it was.
std::map<std::string, std::string> tree(const Workdir& w) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(w.root))
        files[fs::relative(entry.path(), w.root).string()] = entry.is_directory() ? "directory" : w.read(fs::relative(entry.path(), w.root).string());
    return files;
}

// A workdir with pal/desert.pal holding the test table, the usual palette of these tests.
struct PalWorkdir : Workdir {
    PalWorkdir() { put("pal/desert.pal", paletteFile()); }
};

// matpal with its standard output on a terminal; only the exit status and standard error matter.
Outcome onTerminal(const Workdir& w, std::vector<std::string> args) {
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        const int err = ::open(w.errors().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (::chdir(w.root.c_str()) != 0 || err < 0 || ::dup2(err, 2) < 0) ::_exit(127);
        std::vector<char*> argv{const_cast<char*>(MATPAL_BINARY)};
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(MATPAL_BINARY, argv.data());
        ::_exit(127);
    }
    char buffer[4096];
    while (::read(terminal, buffer, sizeof buffer) > 0) {
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", w.read("../" + w.errors().filename().string())};
}

// An RGBA image of `pixels` (four bytes each) in one row.
void image(const Workdir& w, const std::string& name, const Bytes& pixels) {
    RawPng png;
    png.width = std::uint32_t(pixels.size() / 4), png.height = 1, png.type = PNG_COLOR_TYPE_RGB_ALPHA;
    png.samples = pixels;
    ASSERT_TRUE(writePng(w / name, png));
}

Bytes entriesOf(const std::string& palFile) { return Bytes(palFile.begin() + 20, palFile.begin() + 20 + 768); }

Bytes cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

// The standard output of a shell command run in the working directory.
std::string shell(const Workdir& w, const std::string& command) {
    std::FILE* pipe = ::popen(("cd '" + w.root.string() + "' && " + command).c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

}  // namespace

TEST(Matpal, CommandLineAndUsageErrors) {
    const struct {
        std::string args;
        int status;
        std::string out, err;  // the beginning of standard output; standard error whole
    } cases[] = {
        {"--help", 0, "Usage: matpal [OPTION]... export SOURCE", ""},
        {"--version", 0, "matpal " MAT2PNG_VERSION "\nlibpng 1.6", ""},
        {"-f gpl -- export desert", 0, "GIMP Palette\nName: desert\n", ""},
        {"export -f jasc desert", 0, "JASC-PAL\r\n0100\r\n256\r\n0 255 0\r\n", ""},
        {"", 64, "", "matpal: no command: give export, import or make\n" + tryHelp},
        {"convert x", 64, "", "matpal: unknown command 'convert' (export, import or make)\n" + tryHelp},
        {"--bogus", 64, "", "matpal: unknown option '--bogus'\n" + tryHelp},
        {"export desert -x", 64, "", "matpal: unknown option '-x'\n" + tryHelp},
        {"export desert -o", 64, "", "matpal: option '-o' needs an argument\n" + tryHelp},
        {"export", 64, "", "matpal: export needs a SOURCE\n" + tryHelp},
        {"export desert", 64, "", "matpal: export needs -f FORMAT or -o FILE\n" + tryHelp},
        {"export desert -o out.pal", 64, "", "matpal: cannot tell the format from the name 'out.pal' (.gpl, .act or .png): give -f FORMAT\n" + tryHelp},
        {"export desert -f bmp", 64, "", "matpal: unknown format 'bmp' (gpl, act, jasc, riff, png or iff)\n" + tryHelp},
        {"export desert extra -f gpl", 64, "", "matpal: unexpected argument 'extra'\n" + tryHelp},
        {"export -- desert -f gpl", 64, "", "matpal: unexpected argument '-f'\n" + tryHelp},  // -f is an argument after --
        {"export desert -f gpl --force", 64, "", "matpal: option '--force' does not apply to export\n" + tryHelp},
        {"import desert.act p -o x.gpl", 64, "", "matpal: option '--output' does not apply to import\n" + tryHelp},
        {"import x.gpl", 64, "", "matpal: import needs a FILE and a palette NAME\n" + tryHelp},
        {"import x.gpl ..\\\\up", 64, "", "matpal: the palette name \"..\\up\" (pal/../up.pal) leads out of pal/\n" + tryHelp},
        {"import x.gpl ''", 64, "", "matpal: the palette name is empty\n" + tryHelp},
        {"make p", 64, "", "matpal: make needs a palette NAME and at least one IMAGE\n" + tryHelp},
        {"make p a.png --colours=0", 64, "", "matpal: invalid number of colours '0': give 1 to 256\n" + tryHelp},
        {"make p a.png --colours=257", 64, "", "matpal: invalid number of colours '257': give 1 to 256\n" + tryHelp},
        {"make p a.png --colours=12x", 64, "", "matpal: invalid number of colours '12x': give 1 to 256\n" + tryHelp},
        {"make p a.png --keep=0-15", 64, "", "matpal: option '--keep' needs '--from=PALETTE'\n" + tryHelp},
        {"make p a.png --from=desert", 64, "", "matpal: option '--from' needs '--keep=RANGES'\n" + tryHelp},
        {"make p a.png --keep=9-2 --from=desert", 64, "", "matpal: invalid entries '9-2' in --keep: give entries 0 to 255 such as 0-15,240-255\n" + tryHelp},
        {"make p a.png --keep=0-15,256 --from=desert", 64, "", "matpal: invalid entries '256' in --keep: give entries 0 to 255 such as 0-15,240-255\n" + tryHelp},
        {"make p a.png --keep=0-15, --from=desert", 64, "", "matpal: invalid entries '' in --keep: give entries 0 to 255 such as 0-15,240-255\n" + tryHelp},
        {"make p a.png --keep=0-199 --from=desert --colours=57", 64, "", "matpal: 57 colours do not fit in the 56 entries --keep leaves free\n" + tryHelp},
        // a --from palette that cannot be read is no wrong command line; a name leading out of pal/ is
        {"make p a.png --keep=0-15 --from=missing", 1, "", "matpal: missing: palette \"missing\" (pal/missing.pal): No such file or directory\n"},
        {"make p a.png --keep=0-15 --from=short", 1, "", "matpal: short: palette \"short\" (pal/short.pal): the colour table 'CMAP' holds 9 bytes, fewer than 768\n"},
        {"make p a.png --keep=0-15 --from=../up", 64, "", "matpal: the palette name \"../up\" (pal/../up.pal) leads out of pal/\n"},
        {"-C nowhere export desert -f gpl", 64, "", "matpal: nowhere: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        PalWorkdir w;
        w.put("pal/short.pal", paletteFile(Bytes(9, 1)));
        const auto before = tree(w);
        const Outcome run = matpal(w, c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_EQ(run.out.substr(0, c.out.size()), c.out) << c.args;
        if (c.out.empty()) {
            EXPECT_EQ(run.out, "") << c.args;
        }
        EXPECT_EQ(run.err, c.err) << c.args;
        EXPECT_EQ(tree(w), before) << c.args;
    }
    // binary data is not for a terminal, text is
    PalWorkdir w;
    const Outcome binary = onTerminal(w, {"export", "desert", "-f", "act"});
    EXPECT_EQ(binary.status, 64);
    EXPECT_EQ(binary.err, "matpal: will not write act data to a terminal: give -o FILE\n" + tryHelp);
    EXPECT_EQ(onTerminal(w, {"export", "desert", "-f", "gpl"}).status, 0);
}

TEST(Matpal, EveryFormatOutAndBackInGivesThePaletteFile) {
    const struct {
        std::string exportArgs, file;
    } cases[] = {
        {"-o out.gpl", "out.gpl"},       {"-o out.act", "out.act"},   {"-o OUT.PNG", "OUT.PNG"},
        {"-f jasc -o out.pal", "out.pal"}, {"-f riff -o out.pal", "out.pal"}, {"-f iff -o out.pal", "out.pal"},
        {"-f gpl -o out.png", "out.png"},  // -f wins over the extension
    };
    for (const auto& c : cases) {
        PalWorkdir w;
        ASSERT_EQ(matpal(w, "export desert " + c.exportArgs).status, 0) << c.exportArgs;
        const Outcome back = matpal(w, "import " + c.file + " back");
        EXPECT_EQ(back.status, 0) << c.exportArgs;
        EXPECT_EQ(back.err, "") << c.exportArgs;
        EXPECT_EQ(w.read("pal/back.pal"), w.read("pal/desert.pal")) << c.exportArgs;
    }
    // the text formats on standard output are the files' bytes; -C works as if started there
    PalWorkdir w;
    fs::create_directories(w / "set/pal");
    w.put("set/pal/desert.pal", paletteFile(Bytes(768, 7)));
    for (const std::string format : {"gpl", "jasc"}) {
        ASSERT_EQ(matpal(w, "-C set export desert -f " + format + " -o x." + format).status, 0);
        EXPECT_EQ(matpal(w, "export desert -f " + format + " --directory=set").out, w.read("set/x." + format));
    }
    EXPECT_EQ(matpal(w, "export desert -f iff").out, w.read("pal/desert.pal"));
    EXPECT_EQ(matpal(w, "-C set import x.jasc new").status, 0);
    EXPECT_EQ(w.read("set/pal/new.pal"), w.read("set/pal/desert.pal"));
}

TEST(Matpal, ExportSources) {
    PalWorkdir w;
    const Bytes other(768, 42);
    fs::create_directories(w / "pal/sub");
    w.put("pal/sub/ROCK.PAL", paletteFile(other));
    w.put("mat/embedded.mat", Mat{2, 2, 1, cmap(other), {0, 1, 2, 3}, {}, {}}.bytes());
    w.put("mat/named.mat", Mat{2, 2, 1, name("sub\\rock"), {0, 1, 2, 3}, {}, {}}.bytes());
    w.put("mat/broken.mat", Mat{2, 2, 1, name("nowhere"), {0, 1, 2, 3}, {}, {}}.bytes());
    w.put("mat/anim.mat", form("ANIM", Bytes(4, 0)));
    w.put("in.jasc", text("JASC-PAL\r\n0100\r\n2\r\n1 2 3\r\n4 5 6\r\n"));
    const struct {
        std::string source;
        int status;
        std::string name;  // the Name: line, or the reason of a failure
        Bytes entries;
    } cases[] = {
        {"desert", 0, "desert", colours()},
        {"sub\\\\rock", 0, "sub\\rock", other},  // found ignoring case, as MAT files name palettes
        {"pal/desert.pal", 0, "desert", colours()},
        {"mat/embedded.mat", 0, "embedded", other},
        {"mat/named.mat", 0, "sub\\rock", other},
        {"in.jasc", 0, "in", Bytes{1, 2, 3, 4, 5, 6} + Bytes(762, 0)},
        {"missing", 1, "matpal: missing: palette \"missing\" (pal/missing.pal): No such file or directory\n", {}},
        {"mat/broken.mat", 1, "matpal: mat/broken.mat: palette \"nowhere\" (pal/nowhere.pal): No such file or directory\n", {}},
        {"mat/anim.mat", 1, "matpal: mat/anim.mat: an animation (FORM 'ANIM') has no palette of its own\n", {}},
        {"mat/none.mat", 1, "matpal: mat/none.mat: No such file or directory\n", {}},
    };
    for (const auto& c : cases) {
        const Outcome gpl = matpal(w, "export " + c.source + " -f gpl");
        EXPECT_EQ(gpl.status, c.status) << c.source;
        if (c.status != 0) {
            EXPECT_EQ(gpl.err, c.name) << c.source;
            continue;
        }
        EXPECT_EQ(gpl.out.substr(0, 19 + c.name.size()), "GIMP Palette\nName: " + c.name) << c.source;
        const std::string iffFile = matpal(w, "export " + c.source + " -f iff").out;
        ASSERT_EQ(iffFile.size(), 788u) << c.source;
        EXPECT_EQ(entriesOf(iffFile), c.entries) << c.source;
    }
}

TEST(Matpal, ImportReplacesOnlyWithForce) {
    PalWorkdir w;
    w.put("sixteen.gpl", text("GIMP Palette\n") + [] {
        Bytes lines;
        for (int n = 0; n < 16; ++n) lines = lines + text(std::to_string(n) + " 1 2\n");
        return lines;
    }());
    // pal/ is made when missing; the colours missing are black, and said so
    fs::remove_all(w / "pal");
    Outcome run = matpal(w, "import sixteen.gpl DESERT");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "matpal: sixteen.gpl: 16 colours read, the rest black\n");
    const std::string first = w.read("pal/DESERT.pal");
    ASSERT_EQ(first.size(), 788u);
    const Bytes entries = entriesOf(first);
    EXPECT_EQ(entries[45], 15);
    EXPECT_EQ(Bytes(entries.begin() + 48, entries.end()), Bytes(720, 0));

    // a name differing only in case is the same palette, as for the MAT files that name it
    w.put("table.act", colours());
    const auto before = tree(w);
    run = matpal(w, "import table.act desert");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "matpal: table.act: pal/DESERT.pal exists; --force replaces it, keeping it as pal/DESERT.pal.bak\n");
    EXPECT_EQ(tree(w), before);

    ::chmod((w / "pal/DESERT.pal").c_str(), 0640);
    run = matpal(w, "import table.act desert --force");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const Bytes replaced = paletteFile();
    EXPECT_EQ(w.read("pal/DESERT.pal"), std::string(replaced.begin(), replaced.end()));
    EXPECT_EQ(w.read("pal/DESERT.pal.bak"), first);
    EXPECT_EQ(fs::status(w / "pal/DESERT.pal").permissions(), fs::perms(0640));
    EXPECT_EQ(w.entries("pal"), 2);
    // a folder below pal/ is not made: a mistyped name fails
    EXPECT_EQ(matpal(w, "import table.act sub\\\\x").err, "matpal: table.act: cannot write pal/sub/x.pal: No such file or directory\n");
}

TEST(Matpal, DamagedFilesLeaveNothingBehind) {
    Bytes rgb;
    {
        Workdir scratch;
        image(scratch, "rgb.png", {1, 2, 3, 255});
        const std::string bytes = scratch.read("rgb.png");
        rgb.assign(bytes.begin(), bytes.end());
    }
    const struct {
        std::string file;
        Bytes bytes;
        std::string reason;
        std::string shown = "";  // the file's name as printed, when not as given
    } cases[] = {
        {"empty.gpl", {}, "an empty file"},
        {"text.txt", text("hello"), "not a palette file this program knows"},
        {"bad.gpl", text("GIMP Palette\n1 2 abc\n"), "line 2: expected three numbers 0 to 255, found '1 2 abc'"},
        {"escaped.gpl", text("GIMP Palette\n1 2 \x1b[31m\n"), "line 2: expected three numbers 0 to 255, found '1 2 \\x1B[31m'"},
        {"count.pal", text("JASC-PAL\r\n0100\r\n300\r\n"), "the count 300 is over 256"},
        {"short.pal", cut(paletteFile(), 400), "cut short: FORM 'PAL ' declares 780 bytes, 392 follow"},
        {"rgb.png", rgb, "a PNG with no palette"},
        {"name\x01.gpl", text("GIMP Palette\n"), "no colours", "name\\x01.gpl"},
    };
    for (const auto& c : cases) {
        PalWorkdir w;
        w.put(c.file, c.bytes);
        const auto before = tree(w);
        for (const std::string force : {"", " --force"}) {
            for (const std::string name : {"new", "desert"}) {
                const Outcome run = matpal(w, "import '" + c.file + "' " + name + force);
                EXPECT_EQ(run.status, 1) << c.file;
                EXPECT_EQ(run.err, "matpal: " + (c.shown.empty() ? c.file : c.shown) + ": " + c.reason + "\n") << c.file;
                EXPECT_EQ(tree(w), before) << c.file;  // no temporary file, no backup
            }
        }
    }
    PalWorkdir w;
    EXPECT_EQ(matpal(w, "import nothing.gpl p").err, "matpal: nothing.gpl: No such file or directory\n");
    EXPECT_EQ(matpal(w, "import pal p").err, "matpal: pal: is a directory, not a file\n");
    ASSERT_EQ(::mkfifo((w / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(matpal(w, "import fifo p").err, "matpal: fifo: is a FIFO, not a file\n");  // not left waiting for a writer
    EXPECT_EQ(matpal(w, "export desert -o nowhere/x.gpl").err, "matpal: desert: cannot write nowhere/x.gpl: No such file or directory\n");
}

TEST(Matpal, MakeFitsTheImagesWhateverTheirOrder) {
    PalWorkdir w;
    // five opaque colours over two images; the transparent pixel's colour must not count
    image(w, "a.png", {255, 0, 0, 255, 0, 255, 0, 255, 255, 0, 0, 128, 9, 9, 9, 0});
    image(w, "b.png", {0, 0, 255, 255, 10, 20, 30, 255, 0, 255, 0, 1});
    ASSERT_EQ(matpal(w, "make ab a.png b.png").status, 0);
    ASSERT_EQ(matpal(w, "make ba b.png a.png").status, 0);
    const std::string ab = w.read("pal/ab.pal");
    EXPECT_EQ(ab, w.read("pal/ba.pal"));
    const Bytes entries = entriesOf(ab);
    std::set<Bytes> fitted;
    for (int n = 0; n < 4; ++n) fitted.insert(Bytes(&entries[3 * n], &entries[3 * n + 3]));
    EXPECT_EQ(fitted, (std::set<Bytes>{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}}));
    EXPECT_EQ(Bytes(entries.begin() + 12, entries.end()), Bytes(756, 0));

    // many colours (which the fit merges at first) give the same bytes on one CPU as on all of them
    RawPng many;
    many.width = many.height = 200, many.type = PNG_COLOR_TYPE_RGB_ALPHA;
    for (unsigned y = 0; y < 200; ++y)
        for (unsigned x = 0; x < 200; ++x) many.samples.insert(many.samples.end(), {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x * 7 + y * 13), 255});
    ASSERT_TRUE(writePng(w / "many.png", many));
    ASSERT_EQ(matpal(w, "make all many.png").status, 0);
    ASSERT_EQ(w.run("", "taskset -c 0", "make one many.png", MATPAL_BINARY).status, 0);
    EXPECT_EQ(w.read("pal/all.pal"), w.read("pal/one.pal"));

    // kept entries come from --from unchanged, and the fitted colours fill the entries between them
    ASSERT_EQ(matpal(w, "make kept a.png b.png --keep=0-1,4-255 --from=desert --colours=2").status, 0);
    const Bytes kept = entriesOf(w.read("pal/kept.pal")), table = colours();
    EXPECT_EQ(Bytes(kept.begin(), kept.begin() + 6), Bytes(table.begin(), table.begin() + 6));
    EXPECT_EQ(Bytes(kept.begin() + 12, kept.end()), Bytes(table.begin() + 12, table.end()));
    EXPECT_NE(Bytes(kept.begin() + 6, kept.begin() + 12), Bytes(table.begin() + 6, table.begin() + 12));

    // an existing palette is refused before the images are read, replaced with --force
    const auto before = tree(w);
    EXPECT_EQ(matpal(w, "make ab missing.png").err, "matpal: pal/ab.pal: pal/ab.pal exists; --force replaces it, keeping it as pal/ab.pal.bak\n");
    EXPECT_EQ(matpal(w, "make ab a.png --colours=1 --force").status, 0);
    EXPECT_EQ(w.read("pal/ab.pal.bak"), ab);
    // images that cannot be read, or show nothing, fail with nothing written
    image(w, "clear.png", {1, 2, 3, 0});
    const auto after = tree(w);
    EXPECT_EQ(matpal(w, "make new a.png missing.png").err, "matpal: missing.png: No such file or directory\n");
    EXPECT_EQ(matpal(w, "make new clear.png").err, "matpal: pal/new.pal: the images have no pixel that is not fully transparent\n");
    EXPECT_EQ(tree(w), after);
}

// make's fit runs on a thread for each CPU the process may run on, the caller's among them (at most 16): on
// one CPU it starts none. A thread that cannot start fails the run with the reason, nothing written, never an
// abort; the palette is the same whatever the count.
TEST(Matpal, MakeStartsAThreadForEachCpuAllowed) {
    PalWorkdir w;
    RawPng many;
    many.width = many.height = 64, many.type = PNG_COLOR_TYPE_RGB_ALPHA;
    for (unsigned y = 0; y < 64; ++y)
        for (unsigned x = 0; x < 64; ++x) many.samples.insert(many.samples.end(), {std::uint8_t(4 * x), std::uint8_t(4 * y), std::uint8_t(x * y), 255});
    ASSERT_TRUE(writePng(w / "many.png", many));
    const std::string log = w.root.string() + ".log";
    const struct {
        const char* what;
        std::string environment, wrapper;
        long started;  // threads asked of the system
        int status;
        std::string err;
    } cases[] = {
        {"one CPU", "", "taskset -c 0", 0, 0, ""},
        {"two", "CPUS=2", "", 1, 0, ""},
        {"five", "CPUS=5", "", 4, 0, ""},
        {"forty", "CPUS=40", "", 15, 0, ""},
        {"the third thread failing", "CPUS=5 THREAD_FAIL_AT=3", "", 3, 1, "matpal: pal/p.pal: Resource temporarily unavailable\n"},
        {"the first failing", "CPUS=2 THREAD_FAIL_AT=1", "", 1, 1, "matpal: pal/p.pal: Resource temporarily unavailable\n"},
    };
    std::string palette;
    for (const auto& c : cases) {
        const auto before = tree(w);
        const Outcome run = w.run("", "env LD_PRELOAD=" RACE_SHIM " CALL_LOG='" + log + "' " + c.environment + " " + c.wrapper, "make p many.png", MATPAL_BINARY);
        std::ifstream calls(log);
        long started = 0;
        for (std::string line; std::getline(calls, line);) started += line == "pthread_create";
        fs::remove(log);
        EXPECT_EQ(started, c.started) << c.what;
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        if (c.status) {
            EXPECT_EQ(tree(w), before) << c.what;
            continue;
        }
        if (palette.empty()) palette = w.read("pal/p.pal");
        EXPECT_EQ(w.read("pal/p.pal"), palette) << c.what;
        fs::remove(w / "pal/p.pal");
    }
}

TEST(Matpal, InterruptedWritesLeaveNoTemporaryFile) {
    // the shim holds the run once its temporary file exists; the signal then ends it there
    const struct {
        const char* what;
        std::vector<std::string> args;
        int sig;
    } cases[] = {
        {"import of a new palette", {"import", "in.gpl", "new"}, SIGINT},
        {"import over a palette", {"import", "in.gpl", "desert", "--force"}, SIGTERM},
        {"make", {"make", "made", "a.png"}, SIGHUP},
    };
    for (const auto& c : cases) {
        PalWorkdir w;
        ASSERT_EQ(matpal(w, "export desert -o in.gpl").status, 0);
        image(w, "a.png", {255, 0, 0, 255, 0, 255, 0, 255});
        fs::create_directory(w / "paused");
        const auto before = tree(w);
        const pid_t pid = start(w.root, MATPAL_BINARY, c.args, -1, {}, {"LD_PRELOAD=" RACE_SHIM, "RACE_PAUSED=paused", "RACE_PAUSE_AT=1"});
        const pid_t held = pausedAt(pid, w / "paused");
        ASSERT_EQ(held, pid) << c.what;
        ASSERT_EQ(w.entries("pal"), 2) << c.what;  // desert.pal and the temporary file
        ::kill(pid, c.sig);
        const int status = waitFor(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.what << ": " << status;
        fs::remove_all(w / "paused");
        fs::create_directory(w / "paused");
        EXPECT_EQ(tree(w), before) << c.what;
    }
}

TEST(Matpal, ImageMagickAndPillowReadTheSwatch) {
    PalWorkdir w;
    ASSERT_EQ(matpal(w, "export desert -o swatch.png").status, 0);
    const Bytes table = colours();
    std::ostringstream expected;  // "R G B" of each entry in order, as the clients below print them
    for (int n = 0; n < 256; ++n) expected << int(table[3 * n]) << ' ' << int(table[3 * n + 1]) << ' ' << int(table[3 * n + 2]) << '\n';

    // Pillow: an image of mode P whose palette is the entries in order and whose every pixel is its cell's entry
    const std::string pillow = shell(w, "/usr/bin/python3 -c '"
        "from PIL import Image\n"
        "im = Image.open(\"swatch.png\"); p = im.getpalette(); px = im.load()\n"
        "print(im.mode, im.size, len(p) // 3)\n"
        "print(all(px[x, y] == y // 16 * 16 + x // 16 for y in range(256) for x in range(256)))\n"
        "for n in range(256): print(*p[3 * n:3 * n + 3])'");
    EXPECT_EQ(pillow, "P (256, 256) 256\nTrue\n" + expected.str());

    // ImageMagick: the colour map in order, one colour per cell, and 256 pixels of each
    const std::string map = shell(w, "identify -verbose swatch.png | sed -n '/^  Colormap:/,/^  [A-Z]/s/^ *[0-9]*: (\\([0-9]*\\),\\([0-9]*\\),\\([0-9]*\\)).*/\\1 \\2 \\3/p'");
    EXPECT_EQ(map, expected.str());
    const std::string cells = shell(w, "convert swatch.png -sample 16x16! -depth 8 txt:- | sed -n 's/^[0-9]*,[0-9]*: (\\([0-9]*\\),\\([0-9]*\\),\\([0-9]*\\)).*/\\1 \\2 \\3/p'");
    EXPECT_EQ(cells, expected.str());
    const std::string counts = shell(w, "convert swatch.png -format %c histogram:info:- | awk '{print $1}' | sort -u");
    EXPECT_EQ(counts, "256:\n");
}

TEST(Matpal, GimpLoadsTheExportedPalette) {
    PalWorkdir w;
    w.put("pal/matpal-test.pal", paletteFile());
    const fs::path palettes = w / "home/.config/GIMP/2.10/palettes";
    fs::create_directories(palettes);
    // a first start queries every plug-in, some 20 seconds; the batch needs Script-Fu alone
    w.put("home/.config/GIMP/2.10/gimprc", text("(plug-in-path \"/usr/lib/gimp/2.0/plug-ins/script-fu\")\n"));
    ASSERT_EQ(matpal(w, "export matpal-test -o '" + (palettes / "matpal-test.gpl").string() + "'").status, 0);
    // in batch mode GIMP writes its messages to standard error; each names the entry count and one entry's colour
    std::string script = "(gimp-message-set-handler CONSOLE)";
    for (const int index : {0, 1, 128, 255})
        script += " (gimp-message (string-append \"palette \" (number->string (car (gimp-palette-get-info \"matpal-test\")))"
                  " \" entry " + std::to_string(index) + "\" (apply string-append (map (lambda (v) (string-append \" \" (number->string v)))"
                  " (car (gimp-palette-entry-get-color \"matpal-test\" " + std::to_string(index) + "))))))";
    const std::string out = shell(w, "HOME=\"$PWD/home\" gimp -i -f -b '" + script + "' -b '(gimp-quit 0)' 2>&1 >/dev/null | grep -o 'palette .*'");
    const Bytes table = colours();
    std::string expected;
    for (const int index : {0, 1, 128, 255})
        expected += "palette 256 entry " + std::to_string(index) + " " + std::to_string(table[3 * index]) + " " +
                    std::to_string(table[3 * index + 1]) + " " + std::to_string(table[3 * index + 2]) + "\n";
    EXPECT_EQ(out, expected);
}
