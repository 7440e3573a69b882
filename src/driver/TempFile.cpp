#include "driver/TempFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "driver/Console.h"
#include "driver/Interrupts.h"
#include "iff/WriteError.h"

namespace {

std::string directoryOf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

}  // namespace

std::string tempPrefix(const char* program, long pid) { return "." + std::string(program) + "-" + std::to_string(pid) + "-"; }

TempFile::TempFile(const std::string& target, const char* extension) : target(target) {
    static unsigned counter = 0;
    // taken once: a forked worker asks again, since its pid differs
    static long pid = 0;
    static std::string prefix;
    if (pid != ::getpid()) {
        pid = ::getpid();
        prefix = tempPrefix(programName, pid);
    }
    for (int attempt = 0; descriptor < 0; ++attempt) {
        temp = directoryOf(target) + prefix + std::to_string(counter++) + "." + extension;
        // the name is recorded together with the creation, so a signal never removes another file
        InterruptGuard guard;
        descriptor = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (descriptor >= 0) setPendingFile(temp.c_str());
        else if (errno != EEXIST || attempt == 100) raise(errno);
    }
}

TempFile::~TempFile() {
    if (descriptor >= 0) ::close(descriptor);
    if (!temp.empty()) {
        InterruptGuard guard;
        ::unlink(temp.c_str());
        setPendingFile(nullptr);
    }
}

void TempFile::fail(int code) {
    if (!error) error = code ? code : EIO;
}

void TempFile::commit() {
    const int fd = descriptor;
    descriptor = -1;
    if (::close(fd) != 0) fail(errno);
    if (error) raise(error);
    InterruptGuard guard;
    if (::rename(temp.c_str(), target.c_str()) != 0) raise(errno);
    setPendingFile(nullptr);
    temp.clear();
}

void TempFile::raise(int code) const { throw WriteError("cannot write " + target + ": " + std::strerror(code)); }
