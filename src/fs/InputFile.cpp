#include "fs/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below anyway, and reads of a
    // regular file ignore it
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    mtime = st.st_mtim;
}

InputFile::~InputFile() { std::fclose(file); }
