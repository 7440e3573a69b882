#pragma once

#include "driver/Program.h"

// mat2png: every *.mat file in mat/ to PNG images beside it. Holds its options.
class Mat2Png {
public:
    Mat2Png();
    Mat2Png(const Mat2Png&) = delete;
    Mat2Png& operator=(const Mat2Png&) = delete;

    const Program& program() const { return definition; }
    // -i: the colour image as the stored indices under the file's palette
    bool indexed = false;

private:
    Program definition;
};
