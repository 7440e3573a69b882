#pragma once

#include <functional>
#include <string>
#include <vector>

#include "driver/RunOptions.h"

// An option of one program alone: a flag, or an option with an argument (--palette=NAME).
struct ProgramOption {
    const char* name;      // "exact" for --exact
    char letter;           // its short form ('i' for -i), or 0 for none
    const char* argument;  // what the argument is called in --help ("NAME"), or nullptr for a flag
    const char* help;      // one line for --help
    // takes the option from the command line: its argument, or nullptr for a flag
    std::function<void(const char* argument)> take;
};

// What an update run (-u) makes of one file before converting it.
struct Freshness {
    // stale: convert it; current: up to date, counted; passed: nothing to do, not counted
    enum State { stale, current, passed } state = stale;
    // for a file passed over: the diagnostic "PROGRAM: SUBJECT: TEXT" saying why, if any
    std::string subject, text;
};

// What a batch program adds to the shared command line and batch driver. Its own settings live in
// a value of the program's, which the functions below are bound to.
struct Program {
    const char* name;     // "mat2png": diagnostics, --help and --version
    const char* summary;  // what it does, for --help: one or more lines, each ending in '\n'
    // names in mat/ that are handed to convert, matched at the end ignoring case
    std::vector<const char*> suffixes;
    // Converts mat/NAME; raises any error on failure, and the driver reports it.
    std::function<void(const std::string& name, const RunOptions& run)> convert;
    // Library versions for --version, one or more lines each ending in '\n'.
    std::string (*libraries)();
    std::vector<ProgramOption> options;
    // Called once the command line is parsed and the working directory entered, before any file
    // is listed: checks the program's options and prepares what every file shares. A complaint it
    // returns ends the run with exit status 64 and nothing converted; `hint` adds the line
    // "Try 'PROGRAM --help'", for a wrong option rather than a missing file.
    struct Complaint {
        std::string text;  // empty: all is well
        bool hint = false;
    };
    std::function<Complaint()> prepare;
    // With -u: whether the file needs converting, by the modification times of its outputs and
    // sources alone. Asked once while mat/ is listed, and again just before the conversion; an error
    // it raises makes the file stale, so that the conversion reports it.
    std::function<Freshness(const std::string& name)> freshness;
};

// Parses the command line (-C, -q, -j, -u, --no-progress, -h, -V and the program's options), runs
// the batch over mat/ of the working directory and returns the exit status:
// 0 all converted or passed over, 1 some failed, 2 none found, 64 usage error.
int runProgram(int argc, char** argv, const Program& program);
