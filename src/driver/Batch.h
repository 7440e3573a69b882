#pragma once

#include <string>

#include "driver/Program.h"

enum class Processed { done, failed, current };

// Converts mat/<name> with the program's conversion, unless an update run finds it
// current or passes it over; reports a failure with its console line and reason,
// never lets an error escape.
Processed processFile(const Program& program, const std::string& name);
