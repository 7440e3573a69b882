#include "fs/HardLink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "fs/WriteAll.h"

// The page's file system has no renameat2 and one process: nothing can create `to` between the look and the rename.
bool renameNew(const char* from, const char* to) {
    struct stat st;
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from, to) == 0;
}

bool renameOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

// It has no hard links either: a copy with the same mode and times stands in for one.
bool hardLink(const char* from, const char* to) {
    const int in = ::open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (::fstat(in, &st) != 0) {
        ::close(in);
        return false;
    }
    const int out = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        errno = error;
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool copied = true;
    for (ssize_t n; copied && (n = ::read(in, buffer.data(), buffer.size())) != 0;) {
        if (n < 0) {
            copied = false;
        } else if (const int failed = writeAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            errno = failed;
            copied = false;
        }
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    copied = copied && ::futimens(out, times) == 0;
    const int error = errno;
    ::close(in);
    if (::close(out) != 0) copied = false;
    if (!copied) {
        ::unlink(to);
        errno = error ? error : EIO;
    }
    return copied;
}
