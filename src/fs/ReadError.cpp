#include "fs/ReadError.h"

std::exception_ptr ReadError::withPrefix(const std::string& prefix) const { return std::make_exception_ptr(ReadError(prefix + what())); }
