#pragma once

#include <optional>
#include <string>

#include "driver/Program.h"
#include "driver/RunOptions.h"

// Exit status of a wrong command line.
constexpr int usageError = 64;

// Parses the shared options and the program's own with getopt_long; --help and --version are
// answered here, and a wrong command line is reported with the "Try 'PROGRAM --help'" hint.
class CommandLine {
public:
    CommandLine(int argc, char** argv, const Program& program);

    RunOptions options;
    // Set when the run ends here: 0 after --help or --version, 64 on a wrong command line.
    std::optional<int> status;
};

// The whole number `text` from `low` to `high`, read as strtoll reads one (leading blanks and a sign
// allowed, nothing after it), or nothing.
std::optional<long long> wholeNumber(const std::string& text, long long low, long long high);

// Makes getopt start afresh at argv[1], with its own messages off, for a parse in a process that may
// have parsed another command line before.
void startOptionParse();

// "PROGRAM: COMPLAINT" and the hint "Try 'PROGRAM --help'" on standard error; returns the usage
// error's exit status.
int usage(const char* program, const std::string& complaint);
// "PROGRAM: TEXT" on standard error, for a run refused before it starts without the hint (a folder
// that is missing, not a wrong option); returns the usage error's exit status.
int refuse(const char* program, const std::string& text);

// What getopt's code ':' (an argument missing) or '?' (an unknown option) means, for usage().
std::string optionComplaint(int code, char** argv);

// "PROGRAM VERSION" and the libraries' lines, for --version.
void printVersion(const char* program, const std::string& libraries);

// Enters `directory` (-C); the complaint "DIRECTORY: REASON" when it cannot, else nothing.
std::string enterDirectory(const char* directory);
