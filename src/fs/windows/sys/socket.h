#pragma once

// The one call of sockets the shared code makes, for a descriptor that is a pipe on Windows.
#include <io.h>

#define MSG_NOSIGNAL 0
inline int send(int fd, const void* data, unsigned size, int) { return _write(fd, data, size); }
