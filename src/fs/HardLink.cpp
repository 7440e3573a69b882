#include "fs/HardLink.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

// Atomic where the file system knows RENAME_NOREPLACE, else through a hard link, which refuses an
// existing name just as well.
bool renameNew(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if ((errno != EINVAL && errno != ENOSYS) || ::link(from, to) != 0) return false;
    ::unlink(from);
    return true;
}

bool renameOver(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool hardLink(const char* from, const char* to) { return ::link(from, to) == 0; }
