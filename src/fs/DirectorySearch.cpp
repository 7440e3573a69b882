#include "fs/DirectorySearch.h"

#include <strings.h>

#include <cerrno>
#include <cstring>

bool endsWithIgnoringCase(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() && ::strncasecmp(name.data() + name.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

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
        for (const char* suffix : suffixes)
            if (endsWithIgnoringCase(name, suffix)) return name;
    }
    return std::nullopt;
}
