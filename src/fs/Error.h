#pragma once

#include <exception>
#include <stdexcept>
#include <string>

// The one base of every error the programs raise and report: what() is the reason, for the line
// "PROGRAM: FILE: REASON". Thrown and caught by value; the kind (its class) tells what happened:
// ReadError, WriteError, Refusal (fs), FormatError (iff), UsageError (driver).
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& reason) : std::runtime_error(reason) {}

    // An error of the same kind whose reason is `prefix` and this one's, for std::rethrow_exception:
    // a caller names the file a reason is about without hiding what happened to it.
    virtual std::exception_ptr withPrefix(const std::string& prefix) const = 0;
};

// The base of each kind, which writes its withPrefix once: a copy of the error, what else it holds
// kept, with the longer reason.
template <class Kind>
class ErrorOfKind : public Error {
public:
    using Error::Error;

    std::exception_ptr withPrefix(const std::string& prefix) const final {
        Kind prefixed = static_cast<const Kind&>(*this);
        static_cast<std::runtime_error&>(prefixed) = std::runtime_error(prefix + what());
        return std::make_exception_ptr(prefixed);
    }
};

// The reason to print for any error: what() of ours and the library's, "out of memory" for a failed
// allocation.
std::string reasonOf(std::exception_ptr error);
