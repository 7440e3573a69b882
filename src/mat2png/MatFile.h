#pragma once

#include <string>

#include "driver/Console.h"
#include "mat/PaletteLookup.h"

// How the colour image of a MAT file is written: as RGB (RGBA with the alpha plane), or as the
// stored indices under the file's 256-entry palette.
enum class ColourImage { rgb, indexed };

// Converts one MAT file `path` into output + ".png" and, when the file carries a fitting alpha plane,
// output + "_alpha.png", printing its lines on `console`; a palette it names is looked up through
// `palettes`. Errors pass out; a file whose outer form is "ANIM" is passed over.
void convertMatFile(const std::string& path, const std::string& output, const PaletteLookup& palettes, ColourImage colour,
                    const Console& console);
