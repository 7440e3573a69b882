#pragma once

#include <string>
#include <vector>

#include "driver/Program.h"

// Converts `names` (files in mat/) in `jobs` forked worker processes and prints
// every file's lines in the order of `names`, exactly as one process would.
// A worker that dies costs the file it was converting, which fails with the
// signal or status as its reason; past a cap on replacements the parent
// converts the rest itself. Returns the exit status, as the one-process batch.
int runWorkers(const Program& program, const std::vector<std::string>& names, int jobs);
