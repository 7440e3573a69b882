#pragma once

#include <string>

// An output file could not be written completely; the reason names the file
// and the system's error text.
class WriteError {
public:
    explicit WriteError(std::string reason) : reason(std::move(reason)) {}
    virtual ~WriteError();
    const char* what() const { return reason.c_str(); }

private:
    std::string reason;
};
