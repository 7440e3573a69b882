#include "driver/UsageError.h"

std::exception_ptr UsageError::withPrefix(const std::string& prefix) const { return std::make_exception_ptr(UsageError(prefix + what(), hint)); }
