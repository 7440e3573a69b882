#pragma once

#include <stdexcept>
#include <string>

// The one base of every error the programs raise and report: what() is the reason, for the line
// "PROGRAM: FILE: REASON". Thrown and caught by value.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& reason) : std::runtime_error(reason) {}
    ~Error() override;
};
