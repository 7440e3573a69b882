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

// Makes getopt start afresh at argv[1], with its own messages off, for a parse in a process that may
// have parsed another command line before.
void startOptionParse();

// "PROGRAM: COMPLAINT" and the hint on standard error; returns the usage error's exit status.
int usage(const Program& program, const std::string& complaint);
