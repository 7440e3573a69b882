#include "driver/CommandLine.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/Console.h"
#include "fs/Limits.h"

namespace {

// getopt's codes for the long options without a letter, clear of the letters and of the programs' own codes (256 on)
constexpr int noProgress = 1 << 16, paletteDir = noProgress + 1;

// One option of --help: its forms, then its help from the 26th column on.
void helpLine(const std::string& forms, const char* help) { std::printf("  %-23s%s\n", forms.c_str(), help); }

void printHelp(const Program& program) {
    std::printf("Usage: %s [OPTION]... %s\n%s\n", program.name, program.operands, program.summary);
    helpLine("-C, --directory=DIR", "work in DIR as if started there");
    helpLine("-j, --jobs=N", "convert N files at a time (default: one per CPU)");
    helpLine("-o, --output-dir=DIR", "write the outputs of the operands in DIR");
    helpLine("-q, --quiet", "print only the lines of files that failed");
    helpLine("-u, --update", "process only files whose outputs are missing or stale");
    helpLine("    --palette-dir=DIR", "look for named palettes in DIR first (repeatable)");
    helpLine("    --no-progress", "no progress line on a terminal");
    for (const ProgramOption& option : program.options) {
        const std::string longform = std::string("--") + option.name + (option.argument ? std::string("=") + option.argument : "");
        helpLine(option.letter ? std::string("-") + option.letter + ", " + longform : "    " + longform, option.help);
    }
    helpLine("-h, --help", "show this help and exit");
    helpLine("-V, --version", "show the version and exit");
    std::printf(
        "\n"
        "Exit status: 0 when every file was processed or passed over, 1 when some file\n"
        "could not be processed, 2 when mat/ or a folder operand holds no file to\n"
        "process, 64 on a wrong command line.\n");
}

}  // namespace

std::optional<long long> wholeNumber(const std::string& text, long long low, long long high) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno || end == text.c_str() || *end || value < low || value > high) return std::nullopt;
    return value;
}

void startOptionParse() {
    // 0, not 1: glibc and musl then forget the place inside a group such as -qu that a parse before left off at
    optind = 0;
    // the messages are our own: getopt's would name the path the program was started by
    opterr = 0;
}

int usage(const char* program, const std::string& complaint) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, terminalText(complaint).c_str(), program);
    return usageError;
}

int refuse(const char* program, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", program, terminalText(text).c_str());
    return usageError;
}

std::string optionComplaint(int code, char** argv) {
    if (code == ':') return "option '" + std::string(argv[optind - 1]) + "' needs an argument";
    // a long option is named as given; a short one may sit in a group such as -qx
    return optopt && std::strncmp(argv[optind - 1], "--", 2) != 0 ? "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'"
                                                                  : "unknown option '" + std::string(argv[optind - 1]) + "'";
}

void printVersion(const char* program, const std::string& libraries) {
    std::printf("%s %s\n%s", program, MAT2PNG_VERSION, libraries.c_str());
}

std::string enterDirectory(const char* directory) {
    if (::chdir(directory) == 0) return {};
    return std::string(directory) + ": " + std::strerror(errno);
}

CommandLine::CommandLine(int argc, char** argv, const Program& program) {
    std::vector<option> longopts = {
        {"directory", required_argument, nullptr, 'C'}, {"jobs", required_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},           {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},         {"update", no_argument, nullptr, 'u'},
        {"no-progress", no_argument, nullptr, noProgress}, {"output-dir", required_argument, nullptr, 'o'},
        {"palette-dir", required_argument, nullptr, paletteDir},
    };
    std::string shortopts = ":C:j:o:quhV";
    for (std::size_t i = 0; i < program.options.size(); ++i) {
        const ProgramOption& option = program.options[i];
        const int code = option.letter ? option.letter : 256 + static_cast<int>(i);
        longopts.push_back({option.name, option.argument ? required_argument : no_argument, nullptr, code});
        if (option.letter) shortopts += std::string(1, option.letter) + (option.argument ? ":" : "");
    }
    longopts.push_back({nullptr, 0, nullptr, 0});

    options.console.program = program.name;
    startOptionParse();
    for (int opt; !status && (opt = ::getopt_long(argc, argv, shortopts.c_str(), longopts.data(), nullptr)) != -1;) {
        switch (opt) {
        case 'C':
            options.directory = optarg;
            break;
        case 'j': {
            const std::optional<long long> jobs = wholeNumber(optarg, 1, maxJobs);
            if (!jobs) status = usage(program.name, "invalid number of jobs '" + std::string(optarg) + "': give 1 to " + std::to_string(maxJobs));
            options.jobs = jobs.value_or(0);
            break;
        }
        case 'o':
            options.output = optarg;
            break;
        case paletteDir:
            options.paletteDirs.push_back(optarg);
            break;
        case 'q':
            options.console.quiet = true;
            break;
        case 'u':
            options.update = true;
            break;
        case noProgress:
            options.progress = false;
            break;
        case 'h':
            printHelp(program);
            status = 0;
            break;
        case 'V':
            printVersion(program.name, program.libraries());
            status = 0;
            break;
        case ':':
        case '?':
            status = usage(program.name, optionComplaint(opt, argv));
            break;
        default:
            for (std::size_t i = 0; i < program.options.size(); ++i) {
                const ProgramOption& option = program.options[i];
                if (opt == (option.letter ? option.letter : 256 + static_cast<int>(i))) options.given[option.name] = option.argument ? optarg : "";
            }
            break;
        }
    }
    if (status) return;
    options.operands.assign(argv + optind, argv + argc);
    // text from the command line reaches standard output escaped too; the set run prints its names as it always has
    options.console.escaped = !options.operands.empty();
    if (options.output && options.operands.empty()) status = usage(program.name, "option '-o' needs FILE or DIR operands");
}
