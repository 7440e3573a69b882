#pragma once

#include <string>

// Converts mat/<name>; reports a failure with one console line and returns
// false, never lets an error escape.
bool processFile(std::string name);

// Converts every *.mat file in mat/ of the working directory. Returns the
// exit status: 0 all converted or passed over, 1 some failed, 2 none found.
int runBatch();
