#pragma once

#include "fs/Error.h"

// A wrong command line, found while running a command: exit status 64, the reason on standard
// error and, for a wrong option rather than a missing file, the line "Try 'PROGRAM --help'".
class UsageError : public Error {
public:
    enum class Hint { none, help };

    explicit UsageError(const std::string& reason, Hint hint = Hint::help) : Error(reason), hint(hint) {}
    std::exception_ptr withPrefix(const std::string& prefix) const override;

    Hint hint;
};
