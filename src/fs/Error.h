#pragma once

#include <exception>
#include <stdexcept>
#include <string>

// The one base of every error the programs raise and report: what() is the reason, for the line
// "PROGRAM: FILE: REASON". Thrown and caught by value.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& reason) : std::runtime_error(reason) {}
    ~Error() override;
};

// The reason to print for any error: what() of ours and the library's, "out of memory" for a failed
// allocation.
std::string reasonOf(std::exception_ptr error);
