#pragma once

#include <ctime>
#include <string>

// The path of the palette file that a MAT file names: "pal/" + name + ".pal".
// A backslash is the original platform's separator. Names that would leave
// "pal/" raise FormatError. When the exact file is missing, a file in the
// same directory whose name matches ignoring case is taken instead.
std::string findPalette(std::string name);

// The modification time of the palette file `name` refers to (found false when there is no such
// file), remembered per name for the process's life: an update run asks for the same few palettes
// once per MAT file.
struct PaletteStamp {
    timespec time{};
    bool found = false;
};
const PaletteStamp& paletteStamp(const std::string& name);
