#include "driver/Workers.h"

#include <algorithm>

#include "driver/Batch.h"

// A page has one process and cannot fork: the files are converted here, in order, as `-j 1` converts them.
int runWorkers(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int, Progress& progress,
               std::size_t& current) {
    int status = 0;
    for (const WorkItem& item : items) {
        const Processed result = processFile(program, run, item);
        if (result == Processed::failed) status = std::max(status, 1);
        if (result == Processed::current) ++current;
        progress.advance();
    }
    return status;
}

long cpuCount() { return 1; }
