#include "fs/DirectorySearch.h"

#include <dirent.h>
#include <strings.h>

#include <cerrno>

bool endsWithIgnoringCase(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() && ::strncasecmp(name.data() + name.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

DirectorySearch::DirectorySearch(const std::string& directory, const std::vector<const char*>& suffixes) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) {
        openError = errno;
        return;
    }
    // a read error ends the list where it happens
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        for (const char* suffix : suffixes)
            if (endsWithIgnoringCase(name, suffix)) {
                found.push_back(name);
                break;
            }
    }
    ::closedir(dir);
}
