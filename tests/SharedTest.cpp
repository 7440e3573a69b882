// The small pieces the programs share: numbers from the command line, suffixes, quoting, whole
// writes, the kinds of errors.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "driver/Batch.h"
#include "driver/CommandLine.h"
#include "driver/UsageError.h"
#include "fs/DirectorySearch.h"
#include "fs/ReadError.h"
#include "fs/Refusal.h"
#include "fs/TerminalText.h"
#include "fs/WriteError.h"
#include "fs/WriteAll.h"
#include "iff/FormatError.h"
#include "mat/PalFile.h"
#include "support/Workdir.h"

TEST(Shared, WholeNumbersAtTheEdges) {
    const struct {
        const char* text;
        long long low, high;
        std::optional<long long> value;
    } cases[] = {
        {"1", 1, 1024, 1},        {"1024", 1, 1024, 1024},   {"0", 1, 1024, std::nullopt},
        {"1025", 1, 1024, {}},    {"", 1, 1024, {}},          {"7x", 1, 1024, {}},
        {"-2147483648", INT32_MIN, INT32_MAX, INT32_MIN},    {"2147483648", INT32_MIN, INT32_MAX, {}},
        {"99999999999999999999", 0, INT64_MAX, {}},           {" 5", 0, 9, 5},  // as strtoll reads it
    };
    for (const auto& c : cases) EXPECT_EQ(wholeNumber(c.text, c.low, c.high), c.value) << c.text;
}

TEST(Shared, SuffixesIgnoreCaseAndMayBeTheWholeName) {
    EXPECT_TRUE(endsWithIgnoringCase("HERO.MAT", ".mat"));
    EXPECT_TRUE(endsWithIgnoringCase(".mat", ".mat"));
    EXPECT_FALSE(endsWithIgnoringCase("mat", ".mat"));
    EXPECT_FALSE(endsWithIgnoringCase("hero.mat.png", ".mat"));
}

TEST(Shared, QuotedIdsTellABackslashFromAnEscape) {
    EXPECT_EQ(quotedText("PXLS"), "'PXLS'");
    EXPECT_EQ(quotedText(std::string("A\\\0\x7F", 4)), "'A\\x5C\\x00\\x7F'");
    EXPECT_EQ(terminalText("a\\b\x1B"), "a\\b\\x1B");
}

TEST(Shared, WholeTransfersReportTheEndInsteadOfDying) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_EQ(sendAll(pair[0], "abcd", 4), 0);
    char got[8];
    EXPECT_TRUE(readAll(pair[1], got, 4));
    EXPECT_EQ(std::string(got, 4), "abcd");
    ::close(pair[1]);
    // no SIGPIPE: the peer is gone, and the sender hears so
    EXPECT_EQ(sendAll(pair[0], "abcd", 4), EPIPE);
    EXPECT_FALSE(readAll(pair[0], got, 1));
    ::close(pair[0]);
}

// A palette's failure keeps its kind through the name it is reported under, for the callers that
// tell a wrong command line from a file that cannot be read.
TEST(Shared, PaletteErrorsKeepTheirKind) {
    Workdir w;
    w.put("pal/short.pal", iff::paletteFile(iff::Bytes(9, 1)));
    fs::create_directory(w / "pal/dir.pal");
    const PaletteLookup lookup({(w / "pal").string()});
    const auto kindOf = [&](const std::string& name) -> std::string {
        std::optional<PalFile> file;
        try {
            loadPalette(file, name, lookup);
        } catch (const ReadError&) {
            return "read";
        } catch (const FormatError&) {
            return "format";
        } catch (const Refusal&) {
            return "refused";
        }
        return "loaded";
    };
    EXPECT_EQ(kindOf("missing"), "read");
    EXPECT_EQ(kindOf("dir"), "read");
    EXPECT_EQ(kindOf("short"), "format");
    EXPECT_EQ(kindOf("../up"), "refused");
    EXPECT_THROW(PaletteLookup({"a", "b"}).find("none"), ReadError);
}

// Every kind named after its file stays that kind, with what else it holds, and the reason after the name.
TEST(Shared, PrefixedErrorsKeepTheirKind) {
    const auto kindOf = [](std::exception_ptr error) -> std::string {
        try {
            std::rethrow_exception(error);
        } catch (const ReadError& e) {
            return std::string("read ") + e.what();
        } catch (const WriteError& e) {
            return std::string("write ") + e.what();
        } catch (const Refusal& e) {
            return std::string("refused ") + e.what();
        } catch (const FormatError& e) {
            return std::string("format ") + e.what();
        } catch (const UsageError& e) {
            return std::string(e.hint == UsageError::Hint::help ? "usage, help " : "usage ") + e.what();
        }
    };
    const struct {
        std::exception_ptr error;
        std::string expected;
    } cases[] = {
        {ReadError("gone").withPrefix("a.mat: "), "read a.mat: gone"},
        {WriteError("full").withPrefix("b.png: "), "write b.png: full"},
        {Refusal("exists").withPrefix("c: "), "refused c: exists"},
        {FormatError("cut").withPrefix("d: "), "format d: cut"},
        {UsageError("no such", UsageError::Hint::none).withPrefix("e: "), "usage e: no such"},
        {UsageError("bad").withPrefix("f: "), "usage, help f: bad"},
    };
    for (const auto& c : cases) EXPECT_EQ(kindOf(c.error), c.expected);
    // prefixed again, through the base, as a caller naming an outer file does
    try {
        std::rethrow_exception(UsageError("bad", UsageError::Hint::none).withPrefix("in: "));
    } catch (const Error& e) {
        EXPECT_EQ(kindOf(e.withPrefix("out: ")), "usage out: in: bad");
    }
}

// An update run converts a file whose decision failed on the file itself, and the conversion says why;
// a failure that is not the file's (out of memory, a fault of the program) fails it unconverted, with the reason.
TEST(Shared, UpdateDecisionPassesOnWhatIsNotTheFilesFault) {
    const struct {
        const char* what;
        std::function<void()> fail;
        bool converted;
        std::string diagnostic;
    } cases[] = {
        {"unreadable", [] { throw ReadError("Permission denied"); }, true, ""},
        {"malformed", [] { throw FormatError("cut short"); }, true, ""},
        {"refused", [] { throw Refusal("leads out"); }, true, ""},
        {"out of memory", [] { throw std::bad_alloc(); }, false, "test: mat/a.mat: out of memory\n"},
        {"program fault", [] { throw std::logic_error("read past the end"); }, false, "test: mat/a.mat: read past the end\n"},
    };
    for (const auto& c : cases) {
        int conversions = 0;
        Program program{.name = "test", .operands = "", .summary = "", .suffixes = {".mat"}, .folderSuffix = ".mat", .folderHolds = "",
                        .convert = [&](const WorkItem&, const RunOptions&) { ++conversions; }, .libraries = nullptr, .outputs = nullptr};
        program.freshness = [&](const WorkItem&, const RunOptions&) -> Freshness {
            c.fail();
            return {};
        };
        RunOptions run;
        run.update = true, run.jobs = 1, run.progress = false;
        run.console.program = "test";
        std::FILE* diagnostics = std::tmpfile();
        run.console.diagnostics = diagnostics;
        testing::internal::CaptureStdout();
        const int status = runBatch(program, run, {WorkItem{"a.mat", "mat/a.mat", "mat/"}}, 0);
        const std::string out = testing::internal::GetCapturedStdout();
        std::rewind(diagnostics);
        char text[200] = {};
        text[std::fread(text, 1, sizeof text - 1, diagnostics)] = 0;
        std::fclose(diagnostics);
        EXPECT_EQ(conversions, c.converted ? 1 : 0) << c.what;
        EXPECT_EQ(status, c.converted ? 0 : 1) << c.what;
        EXPECT_EQ(out, c.converted ? "" : "Could not process a.mat\n") << c.what;
        EXPECT_EQ(text, c.diagnostic) << c.what;
    }
}
