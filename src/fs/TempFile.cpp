#include "fs/TempFile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fs/FileSystem.h"
#include "fs/HardLink.h"
#include "fs/WriteError.h"

namespace {

std::string directoryOf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// The start of every temporary name of the process `pid` of `program`: ".PROGRAM-PID-".
std::string prefixOf(const char* program, long pid) {
    // appended piece by piece: gcc 12 warns falsely about "." + std::string at -O2
    std::string prefix = ".";
    prefix += program;
    prefix += '-';
    prefix += std::to_string(pid);
    prefix += '-';
    return prefix;
}

}  // namespace

std::string temporaryName(const std::string& target, const char* extension, const char* program) {
    // the process's, not a run's: names need only differ within the process, whatever runs in it
    static std::atomic<unsigned> counter = 0;
    return directoryOf(target) + prefixOf(program, ::getpid()) + std::to_string(counter++) + "." + extension;
}

void removeTemporaryFiles(const std::string& directory, const char* program, long pid) {
    const std::string prefix = prefixOf(program, pid);
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return;
    const std::string at = directory.empty() || directory.back() == '/' ? directory : directory + "/";
    while (const dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) ::unlink((at + entry->d_name).c_str());
    ::closedir(dir);
}

TempFile::TempFile(const std::string& target, const char* extension, const char* program) : target(target) {
    for (int attempt = 0; descriptor < 0; ++attempt) {
        temp = temporaryName(target, extension, program);
        // recorded before the creation: a signal in between removes at most a stale file of this very name
        setPendingFile(temp.c_str());
        descriptor = createNewFile(temp.c_str());
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

void TempFile::commit(const timespec* modified, Existing existing) {
    const int fd = descriptor;
    descriptor = -1;
    const timespec times[2] = {{0, UTIME_OMIT}, modified ? *modified : timespec{0, UTIME_OMIT}};
    if (modified && ::futimens(fd, times) != 0) fail(errno);
    if (::close(fd) != 0) fail(errno);
    if (error) raise(error);
    // forgotten only after the rename: a signal in between finds no file under the old name
    if (existing == Existing::replace ? !renameOver(temp.c_str(), target.c_str()) : !renameNew(temp.c_str(), target.c_str())) raise(errno);
    setPendingFile(nullptr);
    temp.clear();
}

void TempFile::raise(int code) const { throw WriteError("cannot write " + target + ": " + std::strerror(code)); }
