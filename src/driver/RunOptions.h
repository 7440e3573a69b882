#pragma once

#include <string>
#include <vector>

// How the batch runs, from the command line's shared options and operands.
struct RunOptions {
    const char* directory = nullptr;  // -C: work there
    bool quiet = false;               // -q: no progress lines
    long jobs = 0;                    // -j; 0: one worker per CPU this process may run on
    bool update = false;              // -u: only what is missing or out of date
    bool progress = true;             // --no-progress clears it
    const char* output = nullptr;     // -o: the folder outputs go to, with operands
    std::vector<std::string> paletteDirs;  // --palette-dir, in the order given
    std::vector<std::string> operands;     // files and folders; none: the set run over mat/
};
