#include "fs/FileSystem.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "fs/TempFile.h"

namespace {

// read by the process's signal handler, so the process's and not a run's: fixed storage, no allocation
char pending[PATH_MAX];
volatile sig_atomic_t haspending = 0;

}  // namespace

timespec modifiedOf(const struct stat& st) { return st.st_mtim; }

timespec changedOf(const struct stat& st) { return st.st_ctim; }

std::string folderKey(const std::string& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string nameKey(const std::string& name) { return name; }

// O_NONBLOCK keeps a FIFO from blocking the open; reads of a regular file ignore it
int openForReading(const char* path) { return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

int createNewFile(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666); }

void setPendingFile(const char* path) {
    // the handler reads the name only while the flag is set, so it never sees half of one
    haspending = 0;
    if (!path || std::strlen(path) >= sizeof pending) return;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::strcpy(pending, path);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    haspending = 1;
}

void removePendingTempFile() {
    if (haspending) ::unlink(pending);
}

void forgetPendingTempFile() { haspending = 0; }
