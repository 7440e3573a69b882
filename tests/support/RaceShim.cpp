// Loaded with LD_PRELOAD: another process seems to put a file at $RACE_TARGET just before the
// program renames its new file there, so that a test can show the program never replaces it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int renameat2(int olddir, const char* oldpath, int newdir, const char* newpath, unsigned int flags) {
    using Rename = int (*)(int, const char*, int, const char*, unsigned int);
    static const Rename real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "renameat2"));
    const char* target = std::getenv("RACE_TARGET");
    if (target && std::strcmp(newpath, target) == 0) {
        const int fd = ::openat(newdir, newpath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 && ::write(fd, "old", 3) == 3) ::close(fd);
    }
    return real(olddir, oldpath, newdir, newpath, flags);
}
