#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether `name` ends in `suffix`, ignoring case (the whole name may be the suffix).
bool endsWithIgnoringCase(std::string_view name, std::string_view suffix);

// The names (without directory) of the entries of one directory whose name ends in one of
// `suffixes`, ignoring case, in the order the directory lists them, read by the constructor. A
// missing directory is the same as no match, and error() says why.
class DirectorySearch {
public:
    DirectorySearch(const std::string& directory, const std::vector<const char*>& suffixes);

    const std::vector<std::string>& names() const { return found; }
    // The system's error code when the directory could not be opened, else 0.
    int error() const { return openError; }

private:
    std::vector<std::string> found;
    int openError = 0;
};
