// Loaded with LD_PRELOAD: a process that opens a file whose name ends in $CRASH_ON dies of SIGSEGV,
// as a conversion that crashes on that file would.
#include <dlfcn.h>
#include <fcntl.h>

#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

void crashOn(const char* path) {
    const char* suffix = std::getenv("CRASH_ON");
    const std::size_t length = suffix ? std::strlen(suffix) : 0, size = std::strlen(path);
    if (length && size >= length && std::strcmp(path + size - length, suffix) == 0) {
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    }
}

template <class Open>
int forward(const char* symbol, const char* path, int flags, va_list args) {
    static const Open real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, symbol));
    crashOn(path);
    const mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
    return real(path, flags, mode);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward<int (*)(const char*, int, ...)>("open", path, flags, args);
    va_end(args);
    return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forward<int (*)(const char*, int, ...)>("open64", path, flags, args);
    va_end(args);
    return fd;
}
