#pragma once

#include "fs/Error.h"

// An output file could not be written completely; the reason names the file and the system's
// error text.
class WriteError : public Error {
public:
    using Error::Error;
    std::exception_ptr withPrefix(const std::string& prefix) const override;
};
