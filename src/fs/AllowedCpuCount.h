#pragma once

// The CPUs this process may run on (its affinity mask, which taskset and cgroups' cpusets narrow), at least 1:
// one worker each, and the palette fit's threads. The system's call per platform: AllowedCpuCount.cpp,
// AllowedCpuCountInPage.cpp.
long allowedCpuCount();
