#include "fs/AllowedCpuCount.h"

#include <windows.h>

#include <bit>

// the process's affinity mask, within its processor group of at most 64 CPUs
long allowedCpuCount() {
    DWORD_PTR process = 0, system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) || process == 0) return 1;
    return std::popcount(static_cast<unsigned long long>(process));
}
