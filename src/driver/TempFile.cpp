#include "driver/TempFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "driver/Console.h"
#include "driver/Interrupts.h"
#include "iff/WriteError.h"

namespace {

std::string directoryOf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Gives `from` the new name `to` unless `to` exists: atomically where the file system knows
// RENAME_NOREPLACE, else through a hard link, which refuses an existing name just as well.
bool renameNew(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if ((errno != EINVAL && errno != ENOSYS) || ::link(from, to) != 0) return false;
    ::unlink(from);
    return true;
}

// the pid in this process's temporary names, 0 until the first one
long prefixpid = 0;
std::string prefix;

}  // namespace

std::string tempPrefix(const char* program, long pid) {
    // appended piece by piece: gcc 12 warns falsely about "." + std::string at -O2
    std::string prefix = ".";
    prefix += program;
    prefix += '-';
    prefix += std::to_string(pid);
    prefix += '-';
    return prefix;
}

TempFile::TempFile(const std::string& target, const char* extension) : target(target) {
    static unsigned counter = 0;
    if (!prefixpid) {
        // a forked worker takes its own pid into the names
        static const bool registered = ::pthread_atfork(nullptr, nullptr, [] { prefixpid = 0; }) == 0;
        (void)registered;
        prefixpid = ::getpid();
        prefix = tempPrefix(programName, prefixpid);
    }
    for (int attempt = 0; descriptor < 0; ++attempt) {
        temp = directoryOf(target) + prefix + std::to_string(counter++) + "." + extension;
        // recorded before the creation: a signal in between removes at most a stale file of this very name
        setPendingFile(temp.c_str());
        descriptor = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (descriptor < 0) {
            const int code = errno;
            setPendingFile(nullptr);
            if (code != EEXIST || attempt == 100) raise(code);
        }
    }
}

TempFile::~TempFile() {
    if (descriptor >= 0) ::close(descriptor);
    if (!temp.empty()) {
        ::unlink(temp.c_str());
        setPendingFile(nullptr);
    }
}

void TempFile::fail(int code) {
    if (!error) error = code ? code : EIO;
}

void TempFile::commit(bool replace) {
    const int fd = descriptor;
    descriptor = -1;
    if (::close(fd) != 0) fail(errno);
    if (error) raise(error);
    // forgotten only after the rename: a signal in between finds no file under the old name
    if (replace ? ::rename(temp.c_str(), target.c_str()) != 0 : !renameNew(temp.c_str(), target.c_str())) raise(errno);
    setPendingFile(nullptr);
    temp.clear();
}

void TempFile::raise(int code) const { throw WriteError("cannot write " + target + ": " + std::strerror(code)); }
