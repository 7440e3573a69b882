#pragma once

#include <string>
#include <vector>

#include "driver/Program.h"
#include "driver/Progress.h"
#include "driver/WorkItem.h"

// Converts `items` in `jobs` forked worker processes and prints every file's lines
// in the order of `items`, exactly as one process would.
// A worker that dies costs the file it was converting, which fails with the
// signal or status as its reason; past a cap on replacements the parent
// converts the rest itself. Advances `progress` as each file's lines are printed
// and adds the files found up to date to `current`. Returns the exit status, as
// the one-process batch.
int runWorkers(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int jobs,
               Progress& progress, std::size_t& current);
