#include "driver/CommandLine.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/Console.h"

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

void startOptionParse() {
    // 0, not 1: glibc and musl then forget the place inside a group such as -qu that a parse before left off at
    optind = 0;
    // the messages are our own: getopt's would name the path the program was started by
    opterr = 0;
}

int usage(const Program& program, const std::string& complaint) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program.name, terminalText(complaint).c_str(),
                 program.name);
    return usageError;
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
            char* end = nullptr;
            errno = 0;
            const long jobs = std::strtol(optarg, &end, 10);
            if (errno || end == optarg || *end || jobs < 1 || jobs > 1024)
                status = usage(program, "invalid number of jobs '" + std::string(optarg) + "': give 1 to 1024");
            options.jobs = jobs;
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
            std::printf("%s %s\n%s", program.name, MAT2PNG_VERSION, program.libraries().c_str());
            status = 0;
            break;
        case ':':
            status = usage(program, "option '" + std::string(argv[optind - 1]) + "' needs an argument");
            break;
        case '?':
            // a long option is named as given; a short one may sit in a group such as -qx
            status = usage(program, optopt && std::strncmp(argv[optind - 1], "--", 2) != 0
                                        ? "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'"
                                        : "unknown option '" + std::string(argv[optind - 1]) + "'");
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
    if (options.output && options.operands.empty()) status = usage(program, "option '-o' needs FILE or DIR operands");
}
