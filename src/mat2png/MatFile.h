#pragma once

#include <string>

// Converts one MAT file, in its constructor, into path + ".png" and, when the
// file carries a fitting alpha plane, path + "_alpha.png". The colour image is
// RGB (RGBA with the alpha plane), or with `indexed` the stored indices under
// the file's 256-entry palette. Errors pass out of the constructor; a file
// whose outer form is "ANIM" is passed over.
class MatFile {
public:
    explicit MatFile(std::string path, bool indexed = false);
    virtual ~MatFile();
    MatFile(const MatFile&) = delete;
    MatFile& operator=(const MatFile&) = delete;
};
