#include "fs/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/FileSystem.h"
#include "fs/ReadError.h"

namespace {

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

}  // namespace

InputFile::InputFile(const std::string& path) {
    const int fd = openForReading(path.c_str());
    if (fd < 0) throw ReadError(std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::string reason = std::string("is ") + kindOf(st.st_mode) + ", not a file";
        ::close(fd);
        throw ReadError(reason);
    }
    file = ::fdopen(fd, "rb");
    if (!file) {
        const std::string reason = std::strerror(errno);
        ::close(fd);
        throw ReadError(reason);
    }
    bytes = static_cast<std::uint64_t>(st.st_size);
    mtime = modifiedOf(st);
}

InputFile::~InputFile() { std::fclose(file); }
