#pragma once

#include <string>

// The file's content is not a well-formed MAT or palette file: a failed check,
// a truncated or forged size, or a read past the end of the file. The reason
// names what was expected and what was found.
class FormatError {
public:
    explicit FormatError(std::string reason) : reason(std::move(reason)) {}
    virtual ~FormatError();
    const char* what() const { return reason.c_str(); }

private:
    std::string reason;
};
