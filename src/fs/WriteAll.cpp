#include "fs/WriteAll.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The one loop: `step` moves at most the bytes left and returns what it moved, as write() does.
template <typename Step>
int transfer(std::size_t size, Step step) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

int writeAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    return transfer(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

int sendAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    return transfer(size, [&](std::size_t done) { return ::send(fd, bytes + done, size - done, MSG_NOSIGNAL); });
}

bool readAll(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    return transfer(size, [&](std::size_t done) { return ::read(fd, bytes + done, size - done); }) == 0;
}
