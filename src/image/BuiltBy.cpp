#include "image/BuiltBy.h"

// Windows' programs, and the page's reader built natively for the tests: the GCC or Clang that compiled this file.
std::string builtBy() { return "Built by GCC-compatible compiler " __VERSION__ "\n"; }
