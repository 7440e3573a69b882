#pragma once

#include <string>

// A file could not be opened for reading; thrown as a pointer to a new object.
// The reason is the system's error text, or what the entry is instead of a file.
class FileNotFoundException {
public:
    explicit FileNotFoundException(std::string reason) : reason(std::move(reason)) {}
    virtual ~FileNotFoundException();
    const char* what() const { return reason.c_str(); }

private:
    std::string reason;
};
