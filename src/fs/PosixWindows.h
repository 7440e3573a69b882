#pragma once

// The POSIX names the shared code uses and MinGW-w64 lacks, given by the Windows build to every
// C++ file (-include): flags with their Windows meaning, and calls over Win32 (PosixWindows.cpp).

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

// inherited by no child, and never a text-mode translation of line ends
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
// a Windows program meets no symbolic links but those that act as the file itself
#define O_NOFOLLOW 0
#define O_NONBLOCK 0
#define lstat stat
#define S_ISSOCK(mode) 0
#define UTIME_OMIT ((1L << 30) - 2L)
#define AT_FDCWD (-100)

typedef _sigset_t sigset_t;

int futimens(int fd, const struct timespec times[2]);
int utimensat(int dirfd, const char* path, const struct timespec times[2], int flags);
// Windows keeps no permission bits beyond read-only, which a file written anew does not take
inline int fchmod(int, mode_t) { return 0; }
inline int mkdir(const char* path, mode_t) { return _mkdir(path); }

// the Windows heap hands memory back on its own terms
#define M_TRIM_THRESHOLD (-1)
#define M_MMAP_THRESHOLD (-3)
inline int mallopt(int, int) { return 1; }

// Windows executables have no ifunc to pick a function's clone at load time: the default one is built
#define target_clones(...)
