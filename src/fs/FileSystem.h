#pragma once

#include <sys/stat.h>

#include <ctime>
#include <string>

// What the file services ask of the system in its own way: POSIX (FileSystem.cpp, the page too) or
// Windows (FileSystemWindows.cpp).

// The modification time, and the time the status last changed (Windows: the creation), of a stat result.
timespec modifiedOf(const struct stat& st);
timespec changedOf(const struct stat& st);

// Opens `path` for reading without waiting for a FIFO's writer, and so that it can be renamed over
// meanwhile; a descriptor, or -1 with errno set.
int openForReading(const char* path);

// Creates `path`, which must not exist and is no link followed, for writing; a descriptor, or -1 with errno set.
int createNewFile(const char* path);

// Records the temporary file the calling thread writes (null: none), for removePendingTempFile.
void setPendingFile(const char* path);

// The same text for every name of one folder (device and inode), empty when it cannot be found.
std::string folderKey(const std::string& folder);
// The same text for every spelling of one name within a folder (Windows: ASCII letters in any case).
std::string nameKey(const std::string& name);
