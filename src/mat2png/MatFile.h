#pragma once

#include <string>

#include "mat/PaletteLookup.h"

// Converts one MAT file `path`, in its constructor, into output + ".png" and, when
// the file carries a fitting alpha plane, output + "_alpha.png"; a palette it names
// is looked up through `palettes`. The colour image is RGB (RGBA with the alpha
// plane), or with `indexed` the stored indices under the file's 256-entry palette.
// Errors pass out of the constructor; a file whose outer form is "ANIM" is passed over.
class MatFile {
public:
    MatFile(const std::string& path, const std::string& output, const PaletteLookup& palettes, bool indexed = false);
    virtual ~MatFile();
    MatFile(const MatFile&) = delete;
    MatFile& operator=(const MatFile&) = delete;
};
