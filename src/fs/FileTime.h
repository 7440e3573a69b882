#pragma once

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "fs/FileSystem.h"

// Modification times as an update run (-u) compares them: to the nanosecond.
inline bool later(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

inline const timespec& latest(const timespec& a, const timespec& b) { return later(a, b) ? a : b; }

// The modification time of `path` (through a symbolic link), or false when there is none.
inline bool modifiedTime(const std::string& path, timespec& time) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    time = modifiedOf(st);
    return true;
}
