#pragma once

#include <string>
#include <vector>

#include "driver/RunOptions.h"

// One file of a run: a name in mat/ for the set run, or a file named or found through an operand.
struct WorkItem {
    std::string name;    // printed in "Could not process NAME": the bare name in mat/, or the path as given
    std::string path;    // the file to read
    std::string folder;  // where its outputs go, as a prefix of paths: "mat/", "out/", "" for the working directory
};

// The item of mat/NAME in the set run.
WorkItem setItem(const std::string& name);

// `path`'s folder as a prefix ("art/" for "art/sky.png", "" for "sky.png"), and its last part.
std::string folderPrefix(const std::string& path);
std::string lastPart(const std::string& path);

// The folders a palette named by a MAT file in the folder `prefix` (as folderPrefix gives it) is
// looked for in: each --palette-dir, then for the set run pal/; with operands, pal/ beside the
// file's folder, the folder itself, then pal/ of the working directory, each once.
std::vector<std::string> paletteFolders(const RunOptions& run, const std::string& prefix);
