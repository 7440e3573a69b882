#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

// Whether the file at `path`, of status `st`, holds exactly `bytes`.
bool holdsBytes(const std::string& path, const std::vector<std::uint8_t>& bytes, const struct stat& st);

// Whether the file a new one replaces is kept as path.bak.
enum class Backup { none, keep };

// Writes `bytes` as the whole file `path` through a temporary file and a rename, so that `path`
// always holds a whole file, on the disk (the file, a backup and their folder synced) before it returns. `old`: the status of the file it replaces, whose permissions it takes,
// kept as path.bak first with Backup::keep; or null for a new file, which never replaces a file
// put there meanwhile. `program` names the temporary files. Raises WriteError.
void writeWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes, const struct stat* old,
                    Backup backup, const char* program);
