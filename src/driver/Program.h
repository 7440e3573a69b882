#pragma once

#include <functional>
#include <string>
#include <vector>

#include "driver/RunOptions.h"
#include "driver/WorkItem.h"

class ItemRecords;

// An option of one program alone: a flag, or an option with an argument (--palette=NAME). The
// command line records it in RunOptions::given under its name.
struct ProgramOption {
    const char* name;                // "exact" for --exact
    char letter = 0;                 // its short form ('i' for -i), or 0 for none
    const char* argument = nullptr;  // what the argument is called in --help ("NAME"), or nullptr for a flag
    const char* help = "";           // one line for --help
};

// What an update run (-u) makes of one file before converting it.
struct Freshness {
    // stale: convert it; current: up to date, counted; passed: nothing to do, not counted
    enum State { stale, current, passed } state = stale;
    // for a file passed over: the diagnostic "PROGRAM: SUBJECT: TEXT" saying why, if any
    std::string subject, text;
};

// What a batch program adds to the shared command line and batch driver. Every function is given the
// run's options, its own among them; what a program works out from them for a run is kept by
// `prepare` in the program's value, afresh for each run.
struct Program {
    const char* name;      // "mat2png": diagnostics, --help and --version
    const char* operands;  // the operands in the synopsis of --help: "[FILE|DIR]..."
    const char* summary;   // what it does, for --help: one or more lines, each ending in '\n'
    // names in mat/ that the set run hands to convert, matched at the end ignoring case
    std::vector<const char*> suffixes;
    // names that a folder operand stands for, matched at the end ignoring case; `takes`, when set,
    // may refuse one of them (an alpha image beside its colour image), given the folder as a prefix
    const char* folderSuffix;
    std::function<bool(const std::string& folder, const std::string& name)> takes = nullptr;
    // what a folder operand holds none of, for its diagnostic: "*.mat file"
    const char* folderHolds;
    // Converts one item; raises any error on failure, and the driver reports it.
    std::function<void(const WorkItem& item, const RunOptions& run)> convert;
    // Library versions for --version, one or more lines each ending in '\n'.
    std::string (*libraries)();
    std::vector<ProgramOption> options = {};
    // Called once the command line is parsed, the working directory entered and the items listed,
    // before any is converted: checks the program's options and prepares what every file shares. A
    // complaint it returns ends the run with exit status 64 and nothing converted; `hint` adds the
    // line "Try 'PROGRAM --help'", for a wrong option rather than a missing file.
    struct Complaint {
        std::string text;  // empty: all is well
        bool hint = false;
    };
    std::function<Complaint(const std::vector<WorkItem>& items, const RunOptions& run)> prepare = nullptr;
    // With -u: whether the item needs converting, by the modification times of its outputs and
    // sources alone. Asked once for every item listed, and again just before the conversion; an
    // Error it raises makes the file stale, so that the conversion reports it; anything else (out of
    // memory) fails the file with its reason, unconverted.
    std::function<Freshness(const WorkItem& item, const RunOptions& run)> freshness = nullptr;
    // The files converting an item may write, to refuse two operands that would write the same one
    // or write over an operand; asked before `prepare`.
    std::function<std::vector<std::string>(const WorkItem& item, const RunOptions& run)> outputs;
};

// Parses the command line (-C, -q, -j, -u, -o, --palette-dir, --no-progress, -h, -V, the program's
// options and the operands), runs the batch over mat/ of the working directory or over the operands
// and returns the exit status: 0 all converted or passed over, 1 some failed, 2 none found (or a
// folder operand held none), 64 usage error. With `records`, what became of each file converted in this process is
// recorded there too (the page, which converts in one process).
int runProgram(int argc, char** argv, const Program& program, ItemRecords* records = nullptr);
