#pragma once

#include <string>

// The path of the palette file that a MAT file names: "pal/" + name + ".pal".
// A backslash is the original platform's separator. Names that would leave
// "pal/" raise FormatError. When the exact file is missing, a file in the
// same directory whose name matches ignoring case is taken instead.
std::string findPalette(std::string name);
