#include "mat2png/Mat2Png.h"

#include <IL/il.h>
#include <sys/stat.h>

#include "fs/FileTime.h"
#include "mat2png/MatFile.h"
#include "mat/MatReader.h"
#include "mat/PaletteLookup.h"

namespace {

// Current when every image the file makes carries the MAT file's time, as written, and was written
// after its palette file last changed; an image newer than the MAT file was edited and is kept.
Freshness freshness(const std::string& name) {
    const std::string path = "mat/" + name;
    MatReader mat(path);
    if (mat.isAnim()) return {Freshness::passed, "", ""};
    const MatReader::Outline outline = mat.outline();
    const timespec& source = mat.modifiedTime();
    const PaletteStamp* palette = outline.palette.empty() ? nullptr : &paletteStamp(outline.palette);
    if (palette && !palette->found) return {Freshness::stale, "", ""};
    bool stale = false;
    for (const std::string& image : {path + ".png", outline.alpha ? path + "_alpha.png" : std::string()}) {
        struct stat st;
        if (image.empty()) continue;
        if (::stat(image.c_str(), &st) != 0) {
            stale = true;
            continue;
        }
        if (later(st.st_mtim, source)) return {Freshness::passed, image, "newer than " + path + ", not overwritten"};
        // an image's status changes last when it is written, so a palette changed since is newer than that
        stale = stale || later(source, st.st_mtim) || (palette && later(palette->time, st.st_ctim));
    }
    return {stale ? Freshness::stale : Freshness::current, "", ""};
}

std::string libraries() {
    return "DevIL " + std::to_string(IL_VERSION / 100) + "." + std::to_string(IL_VERSION / 10 % 10) + "." +
           std::to_string(IL_VERSION % 10) + " (compiled), " + std::to_string(ilGetInteger(IL_VERSION_NUM)) +
           " (loaded)\n";
}

}  // namespace

Mat2Png::Mat2Png() {
    definition = {
        "mat2png",
        "Converts every *.mat file in mat/ of the working directory to PNG images beside it:\n"
        "NAME.mat.png (RGB, or RGBA when the file carries an alpha plane; colour-mapped with -i) and\n"
        "NAME.mat_alpha.png.\n",
        {".mat"},
        [this](const std::string& name, const RunOptions&) { MatFile file("mat/" + name, indexed); },
        libraries,
        {{"indexed", 'i', nullptr, "write NAME.mat.png as the stored indices under the file's palette",
          [this](const char*) { indexed = true; }}},
        nullptr,
        freshness,
    };
}
