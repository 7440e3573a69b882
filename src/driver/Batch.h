#pragma once

#include <string>

#include "driver/Program.h"
#include "driver/RunOptions.h"
#include "driver/WorkItem.h"
#include <vector>

enum class Processed { done, failed, current };

// Converts one item with the program's conversion, unless an update run finds it current or
// passes it over; reports a failure with its console line and reason, never lets an error escape.
Processed processFile(const Program& program, const RunOptions& run, const WorkItem& item);

class Progress;

// Converts the items one after the other in this process, advancing `progress` and counting in
// `current` those an update run found current; returns 1 when some failed, else 0.
int processInOrder(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, Progress& progress,
                   std::size_t& current);

// Converts the items, in worker processes unless -j 1 asks for one process; returns the exit
// status: `status` (what listing them found) raised to 1 when some failed, or 2 when the set run
// found none.
int runBatch(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int status);
