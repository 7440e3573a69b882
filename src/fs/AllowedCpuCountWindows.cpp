#include "fs/AllowedCpuCount.h"

#include <windows.h>

#include <bit>

long allowedCpuCount() {
    DWORD_PTR process = 0, system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) return 1;
    const int count = std::popcount(static_cast<unsigned long long>(process));
    return count > 0 ? count : 1;
}
