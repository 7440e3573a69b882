#include "mat2png/Mat2Png.h"

#include <IL/il.h>

#include "mat/MatFile.h"

namespace {

bool indexed = false;

void convert(const std::string& name) { MatFile file("mat/" + name, indexed); }

std::string libraries() {
    return "DevIL " + std::to_string(IL_VERSION / 100) + "." + std::to_string(IL_VERSION / 10 % 10) + "." +
           std::to_string(IL_VERSION % 10) + " (compiled), " + std::to_string(ilGetInteger(IL_VERSION_NUM)) +
           " (loaded)\n";
}

}  // namespace

const Program mat2png = {
    "mat2png",
    "Converts every *.mat file in mat/ of the working directory to PNG images beside it:\n"
    "NAME.mat.png (RGB, or RGBA when the file carries an alpha plane; colour-mapped with -i) and\n"
    "NAME.mat_alpha.png.\n",
    {".mat"},
    convert,
    libraries,
    {{"indexed", 'i', nullptr, "write NAME.mat.png as the stored indices under the file's palette", &indexed}},
};
