#include "fs/DirectorySearch.h"

#include <strings.h>

#include <cerrno>
#include <cstring>

DirectorySearch::DirectorySearch(const std::string& directory, std::vector<const char*> suffixes)
    : dir(::opendir(directory.c_str())), suffixes(std::move(suffixes)) {
    if (!dir) openError = errno;
}

DirectorySearch::~DirectorySearch() {
    if (dir) ::closedir(dir);
}

std::optional<std::string> DirectorySearch::findFirst() {
    if (!dir) return std::nullopt;
    ::rewinddir(dir);
    return findNext();
}

std::optional<std::string> DirectorySearch::findNext() {
    if (!dir) return std::nullopt;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        for (const char* suffix : suffixes) {
            const std::size_t length = std::strlen(suffix);
            if (name.size() >= length && ::strcasecmp(name.c_str() + name.size() - length, suffix) == 0) return name;
        }
    }
    return std::nullopt;
}
