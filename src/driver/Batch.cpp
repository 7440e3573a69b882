#include "driver/Batch.h"

#include <getopt.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver/Console.h"
#include "driver/DirectorySearch.h"
#include "driver/Interrupts.h"
#include "driver/Progress.h"
#include "driver/Workers.h"
#include "iff/FileNotFoundException.h"
#include "iff/FormatError.h"
#include "iff/WriteError.h"

namespace {

constexpr int usageError = 64;
// getopt's code for --no-progress, clear of the letters and of the programs' own codes (256 on)
constexpr int noProgress = 1 << 16;

struct Options {
    const char* directory = nullptr;
    bool quiet = false;
    long jobs = 0;  // 0: one per CPU this process may run on
    bool progress = true;
};

bool update = false;

void printHelp(const Program& program) {
    std::printf("Usage: %s [OPTION]...\n%s\n", program.name, program.summary);
    std::printf(
        "  -C, --directory=DIR  work in DIR as if started there\n"
        "  -j, --jobs=N         convert N files at a time (default: one per CPU)\n"
        "  -q, --quiet          print only the lines of files that could not be processed\n"
        "  -u, --update         process only files whose outputs are missing or out of date\n"
        "      --no-progress    no progress line on a terminal\n");
    for (const ProgramOption& option : program.options) {
        const std::string longform = std::string(option.name) + (option.argument ? std::string("=") + option.argument : "");
        if (option.letter) std::printf("  -%c, --%-15s%s\n", option.letter, longform.c_str(), option.help);
        else std::printf("      --%-15s%s\n", longform.c_str(), option.help);
    }
    std::printf(
        "  -h, --help           show this help and exit\n"
        "  -V, --version        show the version and exit\n"
        "\n"
        "Exit status: 0 when every file was processed or passed over, 1 when some file\n"
        "could not be processed, 2 when mat/ holds no file to process, 64 on a wrong\n"
        "command line.\n");
}

int usage(const Program& program, const std::string& complaint) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program.name, complaint.c_str(),
                 program.name);
    return usageError;
}

long cpuCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

// The failure reason of any error the conversion raises.
std::string reasonOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (FileNotFoundException* found) {
        // released here so that a batch of missing files does not pile them up
        const std::unique_ptr<FileNotFoundException> owned(found);
        return found->what();
    } catch (const FormatError& format) {
        return format.what();
    } catch (const WriteError& write) {
        return write.what();
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "the file is malformed";
    }
}

// The program's decision on a file for an update run; a file it cannot decide on is converted.
Freshness freshness(const Program& program, const std::string& name) {
    if (!program.freshness) return {};
    try {
        return program.freshness(name);
    } catch (...) {
        // the reason is the conversion's to report; taking it releases an error raised by pointer
        reasonOf(std::current_exception());
        return {};
    }
}

}  // namespace

bool updating() { return update; }

Processed processFile(const Program& program, const std::string& name) {
    try {
        if (update) {
            const Freshness decision = freshness(program, name);
            if (decision.state == Freshness::current) return Processed::current;
            if (decision.state == Freshness::passed) {
                if (!decision.subject.empty()) printDiagnostic(decision.subject, decision.text);
                return Processed::done;
            }
        }
        program.convert(name);
        return Processed::done;
    } catch (...) {
        printFailure(name, "mat/" + name, reasonOf(std::current_exception()));
        return Processed::failed;
    }
}

int runProgram(int argc, char** argv, const Program& program) {
    programName = program.name;
    std::vector<option> longopts = {
        {"directory", required_argument, nullptr, 'C'}, {"jobs", required_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},           {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},         {"update", no_argument, nullptr, 'u'},
        {"no-progress", no_argument, nullptr, noProgress},
    };
    std::string shortopts = ":C:j:quhV";
    for (std::size_t i = 0; i < program.options.size(); ++i) {
        const ProgramOption& option = program.options[i];
        const int code = option.letter ? option.letter : 256 + static_cast<int>(i);
        longopts.push_back({option.name, option.argument ? required_argument : no_argument, nullptr, code});
        if (option.letter) shortopts += std::string(1, option.letter) + (option.argument ? ":" : "");
    }
    longopts.push_back({nullptr, 0, nullptr, 0});

    Options options;
    // the messages are our own: getopt's would name the path the program was started by
    opterr = 0;
    for (int opt; (opt = ::getopt_long(argc, argv, shortopts.c_str(), longopts.data(), nullptr)) != -1;) {
        switch (opt) {
        case 'C':
            options.directory = optarg;
            break;
        case 'j': {
            char* end = nullptr;
            errno = 0;
            const long jobs = std::strtol(optarg, &end, 10);
            if (errno || end == optarg || *end || jobs < 1 || jobs > 1024)
                return usage(program, "invalid number of jobs '" + std::string(optarg) + "': give 1 to 1024");
            options.jobs = jobs;
            break;
        }
        case 'q':
            options.quiet = true;
            break;
        case 'u':
            update = true;
            break;
        case noProgress:
            options.progress = false;
            break;
        case 'h':
            printHelp(program);
            return 0;
        case 'V':
            std::printf("%s %s\n%s", program.name, MAT2PNG_VERSION, program.libraries().c_str());
            return 0;
        case ':':
            return usage(program, "option '" + std::string(argv[optind - 1]) + "' needs an argument");
        case '?':
            // a long option is named as given; a short one may sit in a group such as -qx
            return usage(program, optopt && std::strncmp(argv[optind - 1], "--", 2) != 0
                                      ? "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'"
                                      : "unknown option '" + std::string(argv[optind - 1]) + "'");
        default:
            for (std::size_t i = 0; i < program.options.size(); ++i) {
                const ProgramOption& option = program.options[i];
                if (opt != (option.letter ? option.letter : 256 + static_cast<int>(i))) continue;
                *option.given = true;
                if (option.value) *option.value = optarg;
            }
            break;
        }
    }
    if (optind < argc) return usage(program, "unexpected argument '" + std::string(argv[optind]) + "'");
    if (options.directory && ::chdir(options.directory) != 0) {
        std::fprintf(stderr, "%s: %s: %s\n", program.name, options.directory, std::strerror(errno));
        return usageError;
    }
    if (program.prepare) {
        const Program::Complaint complaint = program.prepare();
        if (!complaint.text.empty()) {
            if (complaint.hint) return usage(program, complaint.text);
            std::fprintf(stderr, "%s: %s\n", program.name, complaint.text.c_str());
            return usageError;
        }
    }
    setQuiet(options.quiet);
    installInterruptHandlers();

    // an update run converts, and hands to workers, only the files it does not find current
    std::vector<std::string> names;
    bool found = false;
    std::size_t current = 0;
    {
        DirectorySearch search("mat", program.suffixes);
        for (std::optional<std::string> name = search.findFirst(); name; name = search.findNext()) {
            found = true;
            if (update) {
                const Freshness decision = freshness(program, *name);
                if (decision.state == Freshness::current) ++current;
                if (decision.state == Freshness::current || (decision.state == Freshness::passed && decision.subject.empty()))
                    continue;
            }
            names.push_back(*name);
        }
    }
    if (!found) {
        std::printf("No *.iff files in current directory!\n");
        return 2;
    }
    const long jobs = std::min<long>(options.jobs ? options.jobs : cpuCount(), static_cast<long>(names.size()));
    int status = 0;
    {
        Progress progress(names.size(), options.progress, options.quiet);
        if (jobs > 1) {
            status = runWorkers(program, names, static_cast<int>(jobs), progress, current);
        } else {
            for (const std::string& name : names) {
                const Processed result = processFile(program, name);
                if (result == Processed::failed) status = 1;
                if (result == Processed::current) ++current;
                progress.advance();
            }
        }
    }
    if (current) std::fprintf(stderr, "%s: %zu %s up to date\n", program.name, current, current == 1 ? "file" : "files");
    // lines that could not be written are a failure too, as with any tool whose output is read
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: standard output: %s\n", program.name, std::strerror(errno ? errno : EIO));
        status = std::max(status, 1);
    }
    return status;
}
