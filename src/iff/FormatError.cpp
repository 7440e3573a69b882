#include "iff/FormatError.h"

std::exception_ptr FormatError::withPrefix(const std::string& prefix) const { return std::make_exception_ptr(FormatError(prefix + what())); }
