#include "mat2png/Mat2Png.h"

#include <IL/il.h>

#include "driver/FileTime.h"
#include "mat/MatFile.h"
#include "mat/MatReader.h"
#include "mat/PaletteLookup.h"

namespace {

void convert(const std::string& name) { MatFile file("mat/" + name); }

// Current when every image the file makes carries its newest source's time, as written; an image
// newer than that was edited and is not overwritten.
Freshness freshness(const std::string& name) {
    const std::string path = "mat/" + name;
    MatReader mat(path);
    if (mat.isAnim()) return {Freshness::passed, "", ""};
    const MatReader::Outline outline = mat.outline();
    timespec source = mat.modifiedTime();
    const PaletteStamp* palette = outline.palette.empty() ? nullptr : &paletteStamp(outline.palette);
    if (palette && !palette->found) return {Freshness::stale, "", ""};
    if (palette) source = latest(source, palette->time);
    bool stale = false;
    for (const std::string& image : {path + ".png", outline.alpha ? path + "_alpha.png" : std::string()}) {
        timespec written;
        if (image.empty()) continue;
        if (!modifiedTime(image, written)) {
            stale = true;
            continue;
        }
        if (later(written, source))
            return {Freshness::passed, image, "newer than " + path + (palette ? " and " + palette->path : "") + ", not overwritten"};
        stale = stale || later(source, written);
    }
    return {stale ? Freshness::stale : Freshness::current, "", ""};
}

std::string libraries() {
    return "DevIL " + std::to_string(IL_VERSION / 100) + "." + std::to_string(IL_VERSION / 10 % 10) + "." +
           std::to_string(IL_VERSION % 10) + " (compiled), " + std::to_string(ilGetInteger(IL_VERSION_NUM)) +
           " (loaded)\n";
}

}  // namespace

const Program mat2png = {
    "mat2png",
    "Converts every *.mat file in mat/ of the working directory to PNG images beside it:\n"
    "NAME.mat.png (RGB, or RGBA when the file carries an alpha plane) and NAME.mat_alpha.png.\n",
    {".mat"},
    convert,
    libraries,
    {},
    nullptr,
    freshness,
};
