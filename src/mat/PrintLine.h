#pragma once

#include <string>

// One console line: a literal ending in a blank, then a name or number; the
// stream is flushed so that lines already printed survive a later failure.
void printLine(const char* text, const std::string& value);
