#pragma once

#include <string>
#include <string_view>

// `text` with every byte outside printable ASCII written as \xNN, so that text from a file cannot
// reach a terminal as its control sequences.
std::string terminalText(std::string_view text);

// `text` in single quotes, written as terminalText writes it but with a backslash as \x5C too, so
// that a four-byte id read from a file reads back unambiguously: 'PXLS', 'A\x00\x5CB'.
std::string quotedText(std::string_view text);
