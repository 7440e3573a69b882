#pragma once

// File reading shared by the floors: a whole file into a buffer kept from file to file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline bool slurp(const std::string& path, Bytes& data) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    bool ok = fd >= 0 && fstat(fd, &st) == 0;
    if (ok) {
        data.resize(std::size_t(st.st_size));
        ok = read(fd, data.data(), data.size()) == ssize_t(data.size());
    }
    if (fd >= 0) close(fd);
    return ok;
}

inline std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
