// Loaded with LD_PRELOAD, so that a test can make something happen at one exact moment of a run.
// $RACE_TARGET: another process seems to put a file there just before the program renames its new
// file there, so that a test can show the program never replaces it.
// $RACE_PAUSE_AT=N (or N+: the Nth and every later one): once the Nth temporary file of the run,
// counted over all its processes, is created, its process puts a file named by its pid in the
// directory $RACE_PAUSED and waits: a signal that ends the process ends it there, SIGUSR1 lets it go on.
// $CRASH_ON: a process that opens a file whose name ends so dies of SIGSEGV, as a conversion that
// crashes on that file would.
// $CALL_LOG: every fsync (with the file's path), rename, renameat2, link and pthread_create is appended to
// that file, one line each, in the order the run makes them. $SYNC_FAIL=KIND:ERROR (KIND file or folder,
// ERROR EIO or EINVAL): fsync of that kind of file fails so, as a disk or a file system refusing it would.
// $CPUS=N: the process may run on N CPUs (its affinity mask says so). $THREAD_FAIL_AT=N: the Nth thread
// started fails to start (EAGAIN), as past a limit on threads.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The libc function NAME that this library stands in front of.
template <class Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

using Open = int (*)(const char*, int, ...);

Open realOpen() {
    static const Open found = real<Open>("open");
    return found;
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

void logCall(const char* call, const char* first, const char* second = nullptr) {
    const char* log = std::getenv("CALL_LOG");
    if (!log) return;
    const std::string line = std::string(call) + (*first ? std::string(" ") + first : "") + (second ? std::string(" ") + second : "") + "\n";
    const int fd = realOpen()(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());  // a line lost fails the test
    ::close(fd);
}

}  // namespace

extern "C" int fsync(int fd) {
    static const auto realFsync = real<int (*)(int)>("fsync");
    char path[PATH_MAX] = "?";
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
    path[length > 0 ? length : 1] = 0;
    logCall("fsync", path);
    struct stat st;
    if (const char* fail = std::getenv("SYNC_FAIL"); fail && ::fstat(fd, &st) == 0) {
        const std::string kind = S_ISDIR(st.st_mode) ? "folder:" : "file:";
        if (std::strncmp(fail, kind.c_str(), kind.size()) == 0) {
            errno = std::strcmp(fail + kind.size(), "EINVAL") == 0 ? EINVAL : EIO;
            return -1;
        }
    }
    return realFsync(fd);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument) {
    static const auto realCreate = real<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
    static std::atomic<long> started{0};
    logCall("pthread_create", "");
    const char* failAt = std::getenv("THREAD_FAIL_AT");
    if (failAt && ++started == std::atol(failAt)) return EAGAIN;
    return realCreate(thread, attributes, start, argument);
}

extern "C" int sched_getaffinity(pid_t pid, std::size_t size, cpu_set_t* set) {
    static const auto realAffinity = real<int (*)(pid_t, std::size_t, cpu_set_t*)>("sched_getaffinity");
    const char* cpus = std::getenv("CPUS");
    if (!cpus) return realAffinity(pid, size, set);
    CPU_ZERO_S(size, set);
    for (long n = 0; n < std::atol(cpus); ++n) CPU_SET_S(n, size, set);
    return 0;
}

extern "C" int rename(const char* from, const char* to) {
    static const auto realRename = real<int (*)(const char*, const char*)>("rename");
    logCall("rename", from, to);
    return realRename(from, to);
}

extern "C" int link(const char* from, const char* to) {
    static const auto realLink = real<int (*)(const char*, const char*)>("link");
    logCall("link", from, to);
    return realLink(from, to);
}

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
    static const Rename realRename = real<Rename>("renameat2");
    logCall("renameat2", oldpath, newpath);
    const char* target = std::getenv("RACE_TARGET");
    if (target && std::strcmp(newpath, target) == 0) {
        const int fd = ::openat(newdir, newpath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 && ::write(fd, "old", 3) == 3) ::close(fd);
    }
    return realRename(olddir, oldpath, newdir, newpath, flags);
}
