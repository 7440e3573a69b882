#pragma once

#include <ctime>
#include <string>

// A new file beside `target`, named ".PROGRAM-PID-N.EXTENSION" after the program writing it, that becomes
// `target` only by commit(): a rename, so `target` never holds a partial file
// and a symbolic link there is replaced, not followed. Removed when destroyed
// uncommitted, and by removePendingTempFile() if a signal ends the program.
// Failures raise WriteError naming `target` and the system's error text.
class TempFile {
public:
    TempFile(const std::string& target, const char* extension, const char* program);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return descriptor; }
    const std::string& path() const { return temp; }
    // A write error seen by the caller (an errno value): commit() then fails with it.
    void fail(int error);
    // Closes the file and renames it over the target, with `modified` as its modification time
    // when given (an update run compares it with its sources'); with `replace` false, a target
    // that exists by then is left alone and commit() fails with EEXIST.
    void commit(const timespec* modified = nullptr, bool replace = true);

private:
    [[noreturn]] void raise(int error) const;

    std::string target;
    std::string temp;
    int descriptor = -1;
    int error = 0;
};

// A name for a temporary file of `program` beside `target` in this process's scheme, not yet used by
// this process.
std::string temporaryName(const std::string& target, const char* extension, const char* program);

// Removes the temporary files that the process `pid` of `program` left in `directory` (a worker
// that died cannot remove its own).
void removeTemporaryFiles(const std::string& directory, const char* program, long pid);

// For a signal handler, async-signal-safe: removes the temporary file being written, if any.
void removePendingTempFile();
// In a new worker: the parent's temporary file is not the worker's to remove.
void forgetPendingTempFile();
