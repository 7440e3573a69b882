#include "matpal/Matpal.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "colour/PaletteFit.h"
#include "driver/CommandLine.h"
#include "driver/Console.h"
#include "driver/Interrupts.h"
#include "driver/Progress.h"
#include "driver/UsageError.h"
#include "fs/DirectorySearch.h"
#include "fs/Error.h"
#include "fs/InputFile.h"
#include "fs/Limits.h"
#include "fs/ReadError.h"
#include "fs/Refusal.h"
#include "fs/TempFile.h"
#include "fs/WholeFile.h"
#include "fs/WriteAll.h"
#include "iff/FormatError.h"
#include "fs/WriteError.h"
#include "mat/MatReader.h"
#include "mat/PalFile.h"
#include "mat/PaletteLookup.h"
#include "palette/PaletteFormats.h"
#include "image/PngImage.h"

namespace {

using palette::Bytes;
using palette::Format;

// getopt's codes of the long options without a letter
enum { forceCode = 256, coloursCode, keepCode, fromCode };

struct Options {
    const char* directory = nullptr;
    std::optional<std::string> format, output, colours, keep, from;
    bool force = false;
};

const char* const help =
    "Usage: matpal [OPTION]... export SOURCE [-f FORMAT] [-o FILE]\n"
    "  or:  matpal [OPTION]... import FILE NAME [--force]\n"
    "  or:  matpal [OPTION]... make NAME IMAGE... [--colours=N]\n"
    "                          [--keep=RANGES --from=PALETTE] [--force]\n"
    "Moves palettes in and out of pal/ of the working directory.\n"
    "\n"
    "  export  writes the palette of SOURCE (a palette NAME for pal/NAME.pal, a\n"
    "          palette file, or a MAT file) as FORMAT: gpl (GIMP), act (Photoshop),\n"
    "          jasc (JASC-PAL), riff (Microsoft RIFF), png (a 16 x 16 swatch) or\n"
    "          iff (pal/ itself)\n"
    "  import  reads a palette FILE of any of these formats, or any colour-mapped\n"
    "          PNG, into pal/NAME.pal; missing colours are black\n"
    "  make    fits a palette pal/NAME.pal to the colours of the PNG images\n"
    "\n"
    "  -C, --directory=DIR  work in DIR as if started there\n"
    "  -f, --format=FORMAT  export: the format (default: from the extension of -o)\n"
    "  -o, --output=FILE    export: the file to write (default: standard output)\n"
    "      --force          import, make: replace pal/NAME.pal, keeping a .bak\n"
    "      --colours=N      make: fit N colours (default: the entries left free)\n"
    "      --keep=RANGES    make: keep entries such as 0-15,240-255 of --from\n"
    "      --from=PALETTE   make: the palette NAME whose entries --keep keeps\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Exit status: 0 when all went well, 1 when a file could not be read or written,\n"
    "64 on a wrong command line.\n";

// matpal prints no name from a file on standard output, and no line that -q would drop
const Console console{.program = "matpal"};

// "matpal: SUBJECT: REASON" on standard error, safe for a terminal.
void report(const std::string& subject, const std::string& reason) { console.printDiagnostic(subject, reason); }

// The file name of `path` without its directory and extension.
std::string stem(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

Bytes readFile(const std::string& path) {
    const InputFile input(path);
    if (input.size() > maxPaletteFile) throw Refusal("too large for a palette: " + std::to_string(input.size()) + " bytes");
    Bytes bytes(static_cast<std::size_t>(input.size()));
    if (std::fread(bytes.data(), 1, bytes.size(), input.stream()) != bytes.size() || std::fgetc(input.stream()) != EOF)
        throw ReadError(std::ferror(input.stream()) ? std::strerror(errno) : "the file changed while read");
    return bytes;
}

// The colours of a palette file of any format, padded with black; says so when some are missing.
colour::Palette importFile(const std::string& path) {
    const Bytes bytes = readFile(path);
    const palette::Imported imported = palette::importPalette(bytes.data(), bytes.size());
    colour::Palette entries{};
    std::copy(imported.colours.begin(), imported.colours.end(), entries.begin());
    if (imported.count() < 256)
        report(path, std::to_string(imported.count()) + (imported.count() == 1 ? " colour" : " colours") + " read, the rest black");
    return entries;
}

colour::Palette namedPalette(const std::string& name) {
    std::optional<PalFile> file;
    loadPalette(file, name);
    colour::Palette entries;
    std::memcpy(entries.data(), file->colours(), entries.size());
    return entries;
}

struct Source {
    colour::Palette entries{};
    std::string name;
};

// A MAT file by its extension, a palette file by a path or a file of that name, else a palette name as MAT files give one.
Source loadSource(const std::string& source) {
    struct stat st;
    Source loaded;
    if (endsWithIgnoringCase(source, ".mat")) {
        MatReader mat(source);
        if (mat.isAnim()) throw FormatError("an animation (FORM 'ANIM') has no palette of its own");
        mat.readPalette();
        std::memcpy(loaded.entries.data(), mat.colours(), loaded.entries.size());
        const Chunk& chunk = mat.palette();
        const char* text = reinterpret_cast<const char*>(chunk.data());
        loaded.name = chunk.id() == "NAME" ? std::string(text, strnlen(text, static_cast<std::size_t>(chunk.length()))) : stem(source);
    } else if (source.find('/') != std::string::npos || ::stat(source.c_str(), &st) == 0) {
        loaded.entries = importFile(source);
        loaded.name = stem(source);
    } else {
        loaded.entries = namedPalette(source);
        loaded.name = source;
    }
    return loaded;
}

// Writes `bytes` to `file`, or to standard output when it is null.
void writeOut(const Bytes& bytes, TempFile* file) {
    const int error = writeAll(file ? file->fd() : STDOUT_FILENO, bytes.data(), bytes.size());
    if (error && !file) throw WriteError(std::string("cannot write to standard output: ") + std::strerror(error));
    if (error) file->fail(error);
}

std::string refusal(const std::string& target) {
    return target + " exists; --force replaces it, keeping it as " + target + ".bak";
}

// Writes a palette file at `target` (as findPalette gives it); an existing one only with `force`.
void writePalette(const std::string& target, const colour::Palette& entries, bool force) {
    struct stat st;
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    if (exists && !force) throw Refusal(refusal(target));
    // pal/ itself is made on the first import; a missing folder below it is a mistyped name
    if (!exists && target.rfind("pal/", 0) == 0 && target.find('/', 4) == std::string::npos && ::mkdir("pal", 0777) != 0 && errno != EEXIST)
        throw WriteError(std::string("cannot make pal/: ") + std::strerror(errno));
    writeWholeFile(target, palette::exportPalette(Format::iff, entries, ""), exists ? &st : nullptr, Backup::keep, console.program);
}

// The path of pal/NAME.pal for a name from the command line; names that leave pal/ are refused.
std::string paletteTarget(const std::string& name) {
    if (name.empty()) throw UsageError("the palette name is empty");
    try {
        return findPalette(name);
    } catch (const Refusal& error) {
        throw UsageError(error.what());
    }
}

std::optional<Format> formatOfExtension(const std::string& path) {
    for (const Format format : {Format::gpl, Format::act, Format::png})
        if (endsWithIgnoringCase(path, std::string(".") + palette::formatName(format))) return format;
    return std::nullopt;
}

int exportCommand(const std::vector<std::string>& args, const Options& options) {
    if (args.size() != 2) throw UsageError(args.size() < 2 ? "export needs a SOURCE" : "unexpected argument '" + args[2] + "'");
    std::optional<Format> format;
    if (options.format) {
        format = palette::formatNamed(*options.format);
        if (!format) throw UsageError("unknown format '" + *options.format + "' (gpl, act, jasc, riff, png or iff)");
    } else if (options.output) {
        format = formatOfExtension(*options.output);
        if (!format) throw UsageError("cannot tell the format from the name '" + *options.output + "' (.gpl, .act or .png): give -f FORMAT");
    } else {
        throw UsageError("export needs -f FORMAT or -o FILE");
    }
    if (!options.output && !palette::isText(*format) && ::isatty(STDOUT_FILENO))
        throw UsageError(std::string("will not write ") + palette::formatName(*format) + " data to a terminal: give -o FILE");
    if (options.output && options.output->empty()) throw UsageError("the output file name is empty");
    const std::string& source = args[1];
    try {
        const Source loaded = loadSource(source);
        const Bytes bytes = palette::exportPalette(*format, loaded.entries, loaded.name);
        if (!options.output) {
            writeOut(bytes, nullptr);
            return 0;
        }
        TempFile file(*options.output, palette::formatName(*format), console.program);
        writeOut(bytes, &file);
        file.commit();
        return 0;
    } catch (...) {
        report(source, reasonOf(std::current_exception()));
        return 1;
    }
}

int importCommand(const std::vector<std::string>& args, const Options& options) {
    if (args.size() != 3) throw UsageError(args.size() < 3 ? "import needs a FILE and a palette NAME" : "unexpected argument '" + args[3] + "'");
    const std::string target = paletteTarget(args[2]);
    try {
        writePalette(target, importFile(args[1]), options.force);
        return 0;
    } catch (...) {
        report(args[1], reasonOf(std::current_exception()));
        return 1;
    }
}

// A number of entries or colours from `low` to `high` as written in matpal's options, without a sign or blank before it; or nothing.
std::optional<int> entryNumber(const std::string& text, int low, int high) {
    if (!text.empty() && (text[0] == '+' || text[0] == ' ')) return std::nullopt;
    const std::optional<long long> value = wholeNumber(text, low, high);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

// colour::Palette such as "0-15,240-255" or "7".
std::array<bool, 256> parseRanges(const std::string& ranges) {
    std::array<bool, 256> kept{};
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = ranges.find(',', start);
        const std::string part = ranges.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t dash = part.find('-');
        const std::optional<int> first = entryNumber(part.substr(0, dash), 0, paletteEntries - 1);
        const std::optional<int> last = dash == std::string::npos ? first : entryNumber(part.substr(dash + 1), 0, paletteEntries - 1);
        if (!first || !last || *last < *first)
            throw UsageError("invalid entries '" + part + "' in --keep: give entries 0 to 255 such as 0-15,240-255");
        for (int n = *first; n <= *last; ++n) kept[n] = true;
        if (comma == std::string::npos) return kept;
        start = comma + 1;
    }
}

int makeCommand(const std::vector<std::string>& args, const Options& options) {
    if (args.size() < 3) throw UsageError("make needs a palette NAME and at least one IMAGE");
    if (options.keep && !options.from) throw UsageError("option '--keep' needs '--from=PALETTE'");
    if (options.from && !options.keep) throw UsageError("option '--from' needs '--keep=RANGES'");
    const std::array<bool, 256> kept = options.keep ? parseRanges(*options.keep) : std::array<bool, 256>{};
    const int free = 256 - static_cast<int>(std::count(kept.begin(), kept.end(), true));
    int colours = free;
    if (options.colours) {
        const std::optional<int> n = entryNumber(*options.colours, 1, paletteEntries);
        if (!n) throw UsageError("invalid number of colours '" + *options.colours + "': give 1 to 256");
        if (*n > free) throw UsageError(std::to_string(*n) + " colours do not fit in the " + std::to_string(free) + " entries --keep leaves free");
        colours = *n;
    }
    const std::string target = paletteTarget(args[1]);
    std::vector<colour::KeptEntry> keep;
    if (options.from) {
        colour::Palette from;
        try {
            from = namedPalette(*options.from);
        } catch (const Refusal& error) {
            // a name that leads out of pal/ is a wrong command line; a palette that cannot be read is not
            throw UsageError(error.what(), UsageError::Hint::none);
        } catch (...) {
            report(*options.from, reasonOf(std::current_exception()));
            return 1;
        }
        for (unsigned n = 0; n < 256; ++n)
            if (kept[n]) keep.push_back({n, from[3 * n], from[3 * n + 1], from[3 * n + 2]});
    }
    std::string subject = target;
    try {
        struct stat st;
        // refused before the images are read, which may take long
        if (!options.force && ::lstat(target.c_str(), &st) == 0) throw Refusal(refusal(target));
        colour::ColourHistogram histogram;
        {
            Progress progress(args.size() - 2, console.program, Progress::Show::always);
            for (std::size_t n = 2; n < args.size(); ++n, progress.advance()) {
                subject = args[n];
                const PngImage image(args[n], 4);
                histogram.add(image.samples(), std::size_t{image.width()} * image.height());
            }
        }
        subject = target;
        const std::vector<colour::ColourCount> counted = histogram.colours();
        if (counted.empty()) throw FormatError("the images have no pixel that is not fully transparent");
        writePalette(target, colour::PaletteFit(counted, static_cast<unsigned>(colours), keep).colours(), options.force);
        return 0;
    } catch (...) {
        report(subject, reasonOf(std::current_exception()));
        return 1;
    }
}

int complain(const UsageError& complaint) {
    return complaint.hint == UsageError::Hint::help ? usage(console.program, complaint.what()) : refuse(console.program, complaint.what());
}

}  // namespace

int runMatpal(int argc, char** argv) {
    static const option longopts[] = {
        {"directory", required_argument, nullptr, 'C'}, {"format", required_argument, nullptr, 'f'},
        {"output", required_argument, nullptr, 'o'},    {"force", no_argument, nullptr, forceCode},
        {"colours", required_argument, nullptr, coloursCode}, {"keep", required_argument, nullptr, keepCode},
        {"from", required_argument, nullptr, fromCode}, {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},         {nullptr, 0, nullptr, 0},
    };
    Options options;
    startOptionParse();
    try {
        for (int opt; (opt = ::getopt_long(argc, argv, ":C:f:o:hV", longopts, nullptr)) != -1;) {
            switch (opt) {
            case 'C': options.directory = optarg; break;
            case 'f': options.format = optarg; break;
            case 'o': options.output = optarg; break;
            case forceCode: options.force = true; break;
            case coloursCode: options.colours = optarg; break;
            case keepCode: options.keep = optarg; break;
            case fromCode: options.from = optarg; break;
            case 'h':
                std::fputs(help, stdout);
                return 0;
            case 'V':
                printVersion(console.program, PngImage::library());
                return 0;
            default:
                throw UsageError(optionComplaint(opt, argv));
            }
        }
        const std::vector<std::string> args(argv + optind, argv + argc);
        if (args.empty()) throw UsageError("no command: give export, import or make");
        const std::string& command = args[0];
        if (command != "export" && command != "import" && command != "make")
            throw UsageError("unknown command '" + command + "' (export, import or make)");
        // an option that the command would ignore is a mistake worth saying
        const struct {
            bool given;
            const char* name;
            bool applies;
        } scoped[] = {{bool(options.format), "--format", command == "export"},
                      {bool(options.output), "--output", command == "export"},
                      {options.force, "--force", command != "export"},
                      {bool(options.colours), "--colours", command == "make"},
                      {bool(options.keep), "--keep", command == "make"},
                      {bool(options.from), "--from", command == "make"}};
        for (const auto& option : scoped)
            if (option.given && !option.applies) throw UsageError("option '" + std::string(option.name) + "' does not apply to " + command);
        if (options.directory) {
            const std::string problem = enterDirectory(options.directory);
            if (!problem.empty()) throw UsageError(problem, UsageError::Hint::none);
        }
        installInterruptHandlers();
        const int status = command == "export" ? exportCommand(args, options) : command == "import" ? importCommand(args, options) : makeCommand(args, options);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "matpal: standard output: %s\n", std::strerror(errno ? errno : EIO));
            return 1;
        }
        return status;
    } catch (const UsageError& complaint) {
        return complain(complaint);
    }
}
