#include "fs/Refusal.h"

std::exception_ptr Refusal::withPrefix(const std::string& prefix) const { return std::make_exception_ptr(Refusal(prefix + what())); }
