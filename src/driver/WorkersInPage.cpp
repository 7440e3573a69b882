#include "driver/Workers.h"

#include "driver/Batch.h"

// A page has one process and cannot fork: the files are converted here, in order, as `-j 1` converts them.
int runWorkers(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int, Progress& progress,
               std::size_t& current) {
    return processInOrder(program, run, items, progress, current);
}
