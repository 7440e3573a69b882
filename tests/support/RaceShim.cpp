// Loaded with LD_PRELOAD, so that a test can make something happen at one exact moment of a run.
// $RACE_TARGET: another process seems to put a file there just before the program renames its new
// file there, so that a test can show the program never replaces it.
// $RACE_PAUSE_AT=N (or N+: the Nth and every later one): once the Nth temporary file of the run,
// counted over all its processes, is created, its process puts a file named by its pid in the
// directory $RACE_PAUSED and waits: a signal that ends the process ends it there, SIGUSR1 lets it go on.
// $CRASH_ON: a process that opens a file whose name ends so dies of SIGSEGV, as a conversion that
// crashes on that file would.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Open = int (*)(const char*, int, ...);

Open realOpen() {
    static const Open real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open"));
    return real;
}

volatile sig_atomic_t resumed = 0;

// Whether this creation of a temporary file is a pause point: one byte per creation in a file opened
// for appending, whose offset after the write is then this creation's number in the run.
bool isPausePoint(const char* path, int flags, const char* paused) {
    const char* at = std::getenv("RACE_PAUSE_AT");
    const char* base = std::strrchr(path, '/');
    if (!at || !paused || (flags & (O_CREAT | O_EXCL)) != (O_CREAT | O_EXCL) || (base ? base[1] : path[0]) != '.') return false;
    const int fd = realOpen()((std::string(paused) + "/.count").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    char* more = nullptr;
    const long nth = std::strtol(at, &more, 10);
    const off_t number = fd >= 0 && ::write(fd, "x", 1) == 1 ? ::lseek(fd, 0, SEEK_CUR) : 0;
    if (fd >= 0) ::close(fd);
    return number == nth || (*more == '+' && number > nth);
}

void pauseHere(const char* paused) {
    struct sigaction action {};
    action.sa_handler = [](int) { resumed = 1; };
    ::sigaction(SIGUSR1, &action, nullptr);
    sigset_t usr1, waiting;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &usr1, &waiting);
    sigdelset(&waiting, SIGUSR1);
    const std::string pid = std::to_string(::getpid());
    const int fd = realOpen()((std::string(paused) + "/" + pid).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
    // the program's own signal handlers may run and return: only SIGUSR1 lets the process go on
    while (!resumed) ::sigsuspend(&waiting);
    resumed = 0;
    ::sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
}

void crashOn(const char* path) {
    const char* suffix = std::getenv("CRASH_ON");
    const std::size_t length = suffix ? std::strlen(suffix) : 0, size = std::strlen(path);
    if (length && size >= length && std::strcmp(path + size - length, suffix) == 0) {
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    }
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    crashOn(path);
    const int fd = realOpen()(path, flags, mode);
    const char* paused = std::getenv("RACE_PAUSED");
    if (fd >= 0 && isPausePoint(path, flags, paused)) pauseHere(paused);
    return fd;
}

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
