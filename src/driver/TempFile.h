#pragma once

#include <string>

// A new file beside `target`, named ".PROGRAM-PID-N.EXTENSION", that becomes
// `target` only by commit(): a rename, so `target` never holds a partial file
// and a symbolic link there is replaced, not followed. Removed when destroyed
// uncommitted, and by the interrupt handlers if a signal ends the program.
// Failures raise WriteError naming `target` and the system's error text.
class TempFile {
public:
    TempFile(const std::string& target, const char* extension);
    virtual ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return descriptor; }
    const std::string& path() const { return temp; }
    // A write error seen by the caller (an errno value): commit() then fails with it.
    void fail(int error);
    // Closes the file and renames it over the target; with `replace` false, a target that
    // exists by then is left alone and commit() fails with EEXIST.
    void commit(bool replace = true);

private:
    [[noreturn]] void raise(int error) const;

    std::string target;
    std::string temp;
    int descriptor = -1;
    int error = 0;
};

// The name under which this program's temporary files start: ".PROGRAM-PID-".
std::string tempPrefix(const char* program, long pid);
