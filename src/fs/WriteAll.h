#pragma once

#include <cstddef>

// Writes all `size` bytes at `data` to `fd`, again after a call a signal interrupted; returns 0, or
// the error that stopped it (ENOSPC for a write that took nothing).
int writeAll(int fd, const void* data, std::size_t size);

// The same through send() without SIGPIPE, for a socket whose other end may be gone.
int sendAll(int fd, const void* data, std::size_t size);

// Reads exactly `size` bytes into `data`, again after a call a signal interrupted; false at the end
// of the file or on an error.
bool readAll(int fd, void* data, std::size_t size);
