#pragma once

#include <string>
#include <vector>

// A long option of one program alone, without an argument, that sets a flag.
struct ProgramFlag {
    const char* name;  // "exact" for --exact
    const char* help;  // one line for --help
    bool* value;
};

// What a batch program adds to the shared command line and batch driver.
struct Program {
    const char* name;         // "mat2png": diagnostics, --help and --version
    const char* summary;      // what it does, for --help: one or more lines, each ending in '\n'
    // names in mat/ that are handed to convert, matched at the end ignoring case
    std::vector<const char*> suffixes;
    // Converts mat/NAME; raises any error on failure, and the driver reports it.
    void (*convert)(const std::string& name);
    // Library versions for --version, one or more lines each ending in '\n'.
    std::string (*libraries)();
    std::vector<ProgramFlag> flags;
};

// Parses the command line (-C, -q, -j, -h, -V and the program's flags), runs
// the batch over mat/ of the working directory and returns the exit status:
// 0 all converted or passed over, 1 some failed, 2 none found, 64 usage error.
int runProgram(int argc, char** argv, const Program& program);
