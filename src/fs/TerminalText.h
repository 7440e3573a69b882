#pragma once

#include <string>
#include <string_view>

// `text` with every byte outside printable ASCII written as \xNN, so that text from a file cannot
// reach a terminal as its control sequences.
std::string terminalText(std::string_view text);
