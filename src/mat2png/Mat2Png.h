#pragma once

#include <map>
#include <mutex>
#include <string>

#include "driver/Program.h"
#include "mat/PaletteLookup.h"

// mat2png: every *.mat file in mat/ to PNG images beside it. Its options come with each run's
// RunOptions; it keeps nothing of one run for the next.
class Mat2Png {
public:
    Mat2Png();
    Mat2Png(const Mat2Png&) = delete;
    Mat2Png& operator=(const Mat2Png&) = delete;

    const Program& program() const { return definition; }

private:
    Freshness freshness(const WorkItem& item, const RunOptions& run);

    Program definition;
    // the palettes' stamps of this run, by folders and name: an update run asks for the same few once per MAT file
    std::map<std::string, PaletteStamp> stamps;
    // taken by the threads that convert on Windows, which ask for stamps at once
    std::mutex stampsLock;
};
