#include "fs/WriteError.h"

std::exception_ptr WriteError::withPrefix(const std::string& prefix) const { return std::make_exception_ptr(WriteError(prefix + what())); }
