#pragma once

#include "fs/Error.h"

// A wrong command line, found while running a command: exit status 64, the reason on standard
// error and, for a wrong option rather than a missing file, the line "Try 'PROGRAM --help'".
class UsageError : public ErrorOfKind<UsageError> {
public:
    enum class Hint { none, help };

    explicit UsageError(const std::string& reason, Hint hint = Hint::help) : ErrorOfKind(reason), hint(hint) {}

    Hint hint;
};
