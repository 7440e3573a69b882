#include "mat2png/Mat2Png.h"

#include <sys/stat.h>

#include "fs/FileTime.h"
#include "mat2png/MatFile.h"
#include "mat2png/WriterImage.h"
#include "mat/MatReader.h"
#include "mat/PaletteLookup.h"

namespace {

// Where the images of a MAT file go: beside it, or in the -o folder, under its name.
std::string outputOf(const WorkItem& item) { return item.folder + lastPart(item.path); }

PaletteLookup palettesOf(const WorkItem& item, const RunOptions& run) { return PaletteLookup(paletteFolders(run, folderPrefix(item.path))); }


}  // namespace

// Current when every image the file makes carries the MAT file's time, as written, and was written
// after its palette file last changed; an image newer than the MAT file was edited and is kept.
Freshness Mat2Png::freshness(const WorkItem& item, const RunOptions& run) {
    const std::string& path = item.path;
    const std::string output = outputOf(item);
    MatReader mat(path);
    if (mat.isAnim()) return {Freshness::passed, "", ""};
    const MatReader::Outline outline = mat.outline();
    const timespec& source = mat.modifiedTime();
    const PaletteStamp* palette = nullptr;
    if (!outline.palette.empty()) {
        const PaletteLookup palettes = palettesOf(item, run);
        std::string key = outline.palette;
        for (const std::string& folder : palettes.folders()) key += '\0' + folder;
        const std::lock_guard<std::mutex> hold(stampsLock);
        const auto [at, added] = stamps.try_emplace(key);
        if (added) at->second = palettes.stamp(outline.palette);
        palette = &at->second;
    }
    if (palette && !palette->found) return {Freshness::stale, "", ""};
    bool stale = false;
    for (const std::string& image : {output + ".png", outline.alpha ? output + "_alpha.png" : std::string()}) {
        struct stat st;
        if (image.empty()) continue;
        if (::stat(image.c_str(), &st) != 0) {
            stale = true;
            continue;
        }
        if (later(modifiedOf(st), source)) return {Freshness::passed, image, "newer than " + path + ", not overwritten"};
        // an image's status changes last when it is written, so a palette changed since is newer than that
        stale = stale || later(source, modifiedOf(st)) || (palette && later(palette->time, changedOf(st)));
    }
    return {stale ? Freshness::stale : Freshness::current, "", ""};
}

Mat2Png::Mat2Png() {
    definition = {
        .name = "mat2png",
        .operands = "[FILE|DIR]...",
        .summary = "Converts MAT files to PNG images: NAME.mat.png (RGB, or RGBA when the file\n"
                   "carries an alpha plane; colour-mapped with -i) and NAME.mat_alpha.png, beside\n"
                   "each file or in the folder of -o. FILE is a MAT file; DIR stands for every\n"
                   "*.mat file directly in it. Without operands: every *.mat file in mat/ of the\n"
                   "working directory.\n",
        .suffixes = {".mat"},
        .folderSuffix = ".mat",
        .folderHolds = "*.mat file",
        .convert =
            [](const WorkItem& item, const RunOptions& run) {
                convertMatFile(item.path, outputOf(item), palettesOf(item, run),
                               run.has("indexed") ? ColourImage::indexed : ColourImage::rgb, run.console);
            },
        .libraries = WriterImage::library,
        .options = {{.name = "indexed", .letter = 'i', .help = "write NAME.mat.png as indices under the file's palette"}},
        .prepare =
            [this](const std::vector<WorkItem>&, const RunOptions&) {
                stamps.clear();
                return Program::Complaint{};
            },
        .freshness = [this](const WorkItem& item, const RunOptions& run) { return freshness(item, run); },
        .outputs = [](const WorkItem& item,
                      const RunOptions&) { return std::vector<std::string>{outputOf(item) + ".png", outputOf(item) + "_alpha.png"}; },
    };
}
