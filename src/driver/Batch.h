#pragma once

#include <string>

#include "driver/Program.h"

// Converts mat/<name> with the program's conversion; reports a failure with
// its console line and reason, and returns false, never lets an error escape.
bool processFile(const Program& program, const std::string& name);
