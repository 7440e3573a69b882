#include "fs/FileSync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool syncFile(int fd) { return ::fsync(fd) == 0; }

bool syncFileNamed(const std::string& path) {
    // not followed: the backup is a link to this very entry; a FIFO must not block the open. What
    // cannot be opened to read (a link, a file only its writer may read, a name gone) is left to the link.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP || errno == EACCES || errno == ENOENT;
    struct stat st;
    const bool synced = ::fstat(fd, &st) == 0 && (!S_ISREG(st.st_mode) || ::fsync(fd) == 0);
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

bool syncFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // a folder that may be written but not read cannot be synced, and the rename into it is done
    if (fd < 0) return errno == EACCES;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}
