#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

// The line "PROGRAM: DONE of ALL files, RATE files/s, M:SS left" on standard error while a batch
// runs, when standard error is a terminal and standard output does not print there (see Show):
// redrawn at most ten times a second, erased before any other line reaches the terminal (see
// clearProgress) and at the end.
class Progress {
public:
    // When the line is drawn, standard error being a terminal: never; only while standard output
    // goes elsewhere, as its lines would interleave with it; or whenever standard output prints
    // nothing but failures (-q) or nothing at all.
    enum class Show { never, outputElsewhere, always };

    Progress(std::size_t total, const char* program, Show show);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `count` more files done, their lines printed.
    void advance(std::size_t count = 1);

    // The line is first drawn this long after the start, and redrawn at most this often.
    static constexpr std::chrono::milliseconds interval{100};

private:
    std::size_t total;
    const char* program;
    std::size_t done = 0;
    std::chrono::steady_clock::time_point start, drawn;
    bool enabled;
};

// Erases the progress line, if one is shown, before a line is written to `stream`; it is drawn
// again at its next update.
void clearProgress(std::FILE* stream);
