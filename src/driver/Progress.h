#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

// The line "PROGRAM: DONE of ALL files, RATE files/s, M:SS left" on standard error while a batch
// runs, when standard error is a terminal and standard output is not (or -q keeps it quiet):
// redrawn at most ten times a second, erased before any other line reaches the terminal (see
// clearProgress) and at the end.
class Progress {
public:
    Progress(std::size_t total, bool wanted, bool quiet);
    virtual ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `count` more files done, their lines printed.
    void advance(std::size_t count = 1);

private:
    std::size_t total;
    std::size_t done = 0;
    std::chrono::steady_clock::time_point start, drawn;
    bool enabled;
};

// Erases the progress line, if one is shown, before a line is written to `stream`; it is drawn
// again at its next update.
void clearProgress(std::FILE* stream);
