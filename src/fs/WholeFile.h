#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

// Whether the file at `path`, of status `st`, holds exactly `bytes`.
bool holdsBytes(const std::string& path, const std::vector<std::uint8_t>& bytes, const struct stat& st);

// Writes `bytes` as the whole file `path` through a temporary file and a rename, so that `path`
// always holds a whole file. `old`: the status of the file it replaces, whose permissions it takes,
// kept as path.bak first when `backup` is set; or null for a new file, which never replaces a file
// put there meanwhile. `program` names the temporary files. Raises WriteError.
void writeWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes, const struct stat* old,
                    bool backup, const char* program);
