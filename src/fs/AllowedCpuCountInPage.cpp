#include "fs/AllowedCpuCount.h"

// A page runs its batch as one job, in its one worker.
long allowedCpuCount() { return 1; }
