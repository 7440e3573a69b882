#pragma once

#include <string>

// What was written reaches the disk before the caller goes on (fsync), so that a file that has taken
// its name survives a crash whole. The system's calls per platform: FileSync.cpp, FileSyncInPage.cpp.

// The data and status of the open file `fd`; false with errno set otherwise.
bool syncFile(int fd);
// The same for the file named `path` when it is a regular file, as a backup's link to it needs; true
// for anything else there.
bool syncFileNamed(const std::string& path);
// The names in the folder holding `path`, after a rename into it; true where the file system cannot
// sync a folder (EINVAL) or the folder cannot be opened to read, false with errno set otherwise.
bool syncFolderOf(const std::string& path);
