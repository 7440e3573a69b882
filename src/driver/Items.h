#pragma once

#include <string>
#include <vector>

#include "driver/Program.h"
#include "driver/RunOptions.h"
#include "driver/WorkItem.h"

// The items of a run: every name in mat/ that the program takes, or the operands in the order
// given, a folder operand standing for its entries the program takes, in the order the folder lists
// them. A folder operand that holds none is told on standard error and raises `status` to 2, one
// that cannot be listed to 1.
std::vector<WorkItem> listItems(const Program& program, const RunOptions& run, int& status);

// Why the run must be refused before anything is written: two items would write the same file, or
// one would write over a file named to be read; empty when neither happens. Files are compared by
// their folder's identity and their name, so that two spellings of one path are one file.
std::string findCollision(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items);
