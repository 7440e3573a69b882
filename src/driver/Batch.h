#pragma once

#include <string>

#include "driver/Program.h"
#include "driver/RunOptions.h"

enum class Processed { done, failed, current };

// Converts mat/<name> with the program's conversion, unless an update run finds it
// current or passes it over; reports a failure with its console line and reason,
// never lets an error escape.
Processed processFile(const Program& program, const RunOptions& run, const std::string& name);

// Lists mat/ of the working directory and converts every file the program takes, in worker
// processes unless -j 1 asks for one process; returns the exit status: 0 all converted or passed
// over, 1 some failed, 2 none found.
int runBatch(const Program& program, const RunOptions& run);
