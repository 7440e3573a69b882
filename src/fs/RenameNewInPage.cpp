#include "fs/RenameNew.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

// The page's file system has no renameat2 and one process: nothing can create `to` between the look and the rename.
bool renameNew(const char* from, const char* to) {
    struct stat st;
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from, to) == 0;
}
