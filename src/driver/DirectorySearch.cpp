#include "driver/DirectorySearch.h"

#include <strings.h>

DirectorySearch::DirectorySearch(const std::string& directory, std::string suffix)
    : dir(::opendir(directory.c_str())), suffix(std::move(suffix)) {}

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
        if (name.size() >= suffix.size() &&
            ::strcasecmp(name.c_str() + name.size() - suffix.size(), suffix.c_str()) == 0)
            return name;
    }
    return std::nullopt;
}
