#pragma once

#include <dirent.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether `name` ends in `suffix`, ignoring case (the whole name may be the suffix).
bool endsWithIgnoringCase(std::string_view name, std::string_view suffix);

// Find-first/find-next over one directory: the names (without directory) of the
// entries whose name ends in one of `suffixes`, ignoring case, in the order the
// directory lists them. A missing directory is the same as no match.
class DirectorySearch {
public:
    DirectorySearch(const std::string& directory, std::vector<const char*> suffixes);
    virtual ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    // The first matching name, or nothing when there is none.
    std::optional<std::string> findFirst();
    // The next matching name, or nothing at the end of the list or on an error.
    std::optional<std::string> findNext();
    // The system's error code when the directory could not be opened, else 0.
    int error() const { return openError; }

private:
    DIR* dir;
    int openError = 0;
    std::vector<const char*> suffixes;
};
