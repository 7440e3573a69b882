#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "driver/Console.h"

// How one batch runs, from the command line's shared options, the program's own and the operands:
// a value made afresh by each parse and handed to everything the run does.
struct RunOptions {
    const char* directory = nullptr;  // -C: work there
    long jobs = 0;                    // -j; 0: one worker per CPU this process may run on
    bool update = false;              // -u: only what is missing or out of date
    bool progress = true;             // --no-progress clears it
    const char* output = nullptr;     // -o: the folder outputs go to, with operands
    std::vector<std::string> paletteDirs;  // --palette-dir, in the order given
    std::vector<std::string> operands;     // files and folders; none: the set run over mat/
    // the program's own options given, by long name: the argument of the last one, empty for a flag
    std::map<std::string, std::string, std::less<>> given;
    Console console;  // the program's name, -q, escaping of the operands' names

    bool has(const std::string& name) const { return given.count(name) != 0; }
    std::optional<std::string> argument(const std::string& name) const {
        const auto found = given.find(name);
        return found == given.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
};
