#include "png2mat/Png2Mat.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/Console.h"
#include "fs/DirectorySearch.h"
#include "fs/FileTime.h"
#include "fs/WholeFile.h"
#include "fs/WriteError.h"
#include "iff/FormatError.h"
#include "mat/MatReader.h"
#include "mat/MatWriter.h"
#include "png2mat/AlphaSources.h"
#include "image/PngImage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The newest time of the images a MAT file is rebuilt from, or false when it has no colour image.
bool imageTime(const std::string& image, const std::string& alphaImage, timespec& newest) {
    if (!modifiedTime(image, newest)) return false;
    timespec alpha;
    if (modifiedTime(alphaImage, alpha)) newest = latest(newest, alpha);
    return true;
}

bool endsWith(const std::string& name, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return name.size() > length && ::strcasecmp(name.c_str() + name.size() - length, suffix) == 0;
}

// An image with its MAT file beside it, under the name png2mat reads, is taken with that file.
bool takenWithMat(const std::string& name, bool& matExists) {
    const std::size_t length = name.size();
    matExists = exists("mat/" + name.substr(0, length - 4));
    return matExists && name.compare(length - 4, 4, ".png") == 0;
}

bool isImageName(const std::string& name) { return endsWith(name, ".png"); }

// A folder's name for listing it: "." for the working directory.
std::string listable(const std::string& folder) { return folder.empty() ? "." : folder; }

Bytes contents(const Chunk& chunk) { return Bytes(chunk.getData(), chunk.getData() + chunk.getLength()); }

// The colour image of a MAT file; a reason names it, unless the file reported on is the image itself.
std::unique_ptr<PngImage> readImage(const std::string& imagename, const std::uint8_t* colours, bool named) {
    try {
        return std::make_unique<PngImage>(imagename, 4, colours);
    } catch (const Error& error) {
        if (!named) throw;
        throw FormatError(imagename + ": " + error.what());
    }
}

std::string libraries() { return PngImage::library(); }

}  // namespace

Png2Mat::Png2Mat() {
    definition = {
        "png2mat",
        "[IMAGE|DIR]...",
        "Rebuilds every *.mat file in mat/ of the working directory that has an image\n"
        "NAME.mat.png beside it from that image (and NAME.mat_alpha.png), with the\n"
        "palette the file already uses, keeping the previous file as NAME.mat.bak.\n"
        "With --palette, an image without its MAT file becomes a new one. IMAGE is a\n"
        "PNG whose MAT file X.mat is beside it or in the folder of -o (sky.png and\n"
        "sky.mat.png both belong to sky.mat); DIR stands for every *.png directly in\n"
        "it but alpha images. Images are only read.\n",
        {".mat", ".mat.png"},
        ".png",
        [](const std::string& folder, const std::string& name) {
            // X_alpha.png beside X.png is that image's alpha image, not an image of its own
            const std::size_t stem = name.size() - 4;
            struct stat st;
            return !(stem > 6 && ::strncasecmp(name.c_str() + stem - 6, "_alpha", 6) == 0 &&
                     ::lstat((folder + name.substr(0, stem - 6) + name.substr(stem)).c_str(), &st) == 0);
        },
        "*.png image",
        [this](const WorkItem& item, const RunOptions& run) { convert(item, run); },
        libraries,
        {{"exact", 0, nullptr, "fail a file whose image has colours not in its palette", [this](const char*) { rules.exact = true; }},
         {"no-backup", 0, nullptr, "replace NAME.mat without keeping it as NAME.mat.bak", [this](const char*) { noBackup = true; }},
         {"match", 0, "RULE", "nearest colour: perceptual (CIEDE2000) or rgb",
          [this](const char* rule) { matchRule = rule; }},
         {"dither", 0, nullptr, "diffuse the error of colours not in the palette", [this](const char*) { rules.dither = true; }},
         {"palette", 0, "NAME", "make a MAT file of each image without one",
          [this](const char* name) { paletteName = name; }},
         {"embed-palette", 0, nullptr, "store the palette's colours in new files, not its name",
          [this](const char*) { embedPalette = true; }},
         {"type", 0, "N", "INFO type of new files (default: commonest there)",
          [this](const char* type) { typeText = type; }}},
        [this](const std::vector<WorkItem>& items, const RunOptions& run) { return prepare(items, run); },
        [this](const WorkItem& item, const RunOptions& run) { return freshness(item, run); },
        [this](const WorkItem& item) { return outputs(item); },
    };
}

namespace {

// The MAT file an image operand belongs to: X.mat in its output folder, where X is the image's name
// without ".png" and without a final ".mat"; its alpha image is X_alpha.png beside it (X.mat_alpha.png
// for X.mat.png).
struct Target {
    std::string mat, alpha;
};

Target targetOf(const WorkItem& item) {
    const std::string name = lastPart(item.path);
    const std::size_t stem = isImageName(name) ? name.size() - 4 : name.size();
    const std::string base = name.substr(0, stem), suffix = stem < name.size() ? name.substr(stem) : ".png";
    return {item.folder + (endsWith(base, ".mat") ? base : base + ".mat"), folderPrefix(item.path) + base + "_alpha" + suffix};
}

PaletteLookup palettesOf(const std::string& folder, const RunOptions& run) { return PaletteLookup(paletteFolders(run, folder)); }

}  // namespace

void Png2Mat::rebuildMat(const std::string& path, const std::string& imagename, const std::string& alphaname,
                         const PaletteLookup& palettes, bool aboutImage, const RunOptions& run) {
    std::optional<MatReader> mat;
    try {
        mat.emplace(path);
        if (mat->isAnim()) return;
        mat->readPalette(palettes);
        mat->readPlanes();
        mat->requirePixels();
    } catch (const Error& error) {
        // the file reported on is the image: a reason about its MAT file names that
        if (!aboutImage) throw;
        throw FormatError(path + ": " + error.what());
    }
    const std::unique_ptr<PngImage> image = readImage(imagename, mat->colours(), !aboutImage);
    const bool sameSize = image->width() == static_cast<std::uint32_t>(mat->width()) &&
                          image->height() == static_cast<std::uint32_t>(mat->height());
    const std::optional<Bytes> alpha = chooseAlpha(*image, mat->alpha(), sameSize, imagename, alphaname);
    const Bytes pixels = mapColours(*image, mat->colours(), sameSize ? mat->pixels().getData() : nullptr, alpha, imagename, rules);
    const std::optional<Bytes> hots = mat->hots() ? std::optional<Bytes>(contents(*mat->hots())) : std::nullopt;
    const MatWriter out(MatWriter::sizedInfo(contents(mat->info()), image->width(), image->height()), hots,
                        mat->palette().getId().c_str(), contents(mat->palette()), pixels, alpha);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw WriteError("cannot write " + path + ": " + std::strerror(errno));
    if (holdsBytes(path, out.bytes(), st)) {
        // found stale but unchanged: the file takes its images' time, so that the next update run finds it current
        timespec images;
        if (run.update && imageTime(imagename, alphaname, images) && later(images, st.st_mtim)) {
            const timespec times[2] = {{0, UTIME_OMIT}, images};
            if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
                throw WriteError("cannot set the time of " + path + ": " + std::strerror(errno));
        }
        return;
    }
    writeWholeFile(path, out.bytes(), &st, !noBackup);
    printLine("Updated ", path);
}

void Png2Mat::createMat(const std::string& path, const std::string& imagename, const std::string& alphaname,
                        const std::string& folder, const RunOptions& run) {
    if (!newFiles.count(folder)) {
        // its MAT file was there when the run was prepared, and is gone
        const Program::Complaint complaint = prepareFolder(folder, run, true);
        if (!complaint.text.empty()) throw FormatError(complaint.text);
    }
    const NewFiles& files = newFiles.at(folder);
    const std::string base = lastPart(path);
    const auto same = files.matsByLowerName.find(lower(base));
    if (same != files.matsByLowerName.end() && same->second != base)
        throw FormatError("its MAT file would be " + path + ", but " + folder + same->second + " differs from that name only in case");
    const std::uint8_t* colours = files.palette->getPalette();
    const std::unique_ptr<PngImage> image = readImage(imagename, colours, false);
    const std::optional<Bytes> alpha = chooseAlpha(*image, nullptr, false, imagename, alphaname);
    const Bytes pixels = mapColours(*image, colours, nullptr, alpha, imagename, rules);
    Bytes palette(colours, colours + 256 * 3);
    if (!embedPalette) palette.assign(paletteName->c_str(), paletteName->c_str() + paletteName->size() + 1);
    const MatWriter out(MatWriter::newInfo(image->width(), image->height(), files.type), std::nullopt,
                        embedPalette ? "CMAP" : "NAME", palette, pixels, alpha);
    writeWholeFile(path, out.bytes(), nullptr, false);
    printLine("Created ", path);
}

void Png2Mat::convert(const WorkItem& item, const RunOptions& run) {
    if (!run.operands.empty()) return convertImage(item, run);
    const std::string& name = item.name;
    if (isImageName(name)) {
        // an image is rebuilt together with its MAT file; alone it has no palette to map to
        const std::size_t length = name.size();
        const std::string mat = "mat/" + name.substr(0, length - 4);
        bool matExists;
        if (takenWithMat(name, matExists)) return;
        if (matExists) throw FormatError("the image of " + mat + " is read from " + mat + ".png, not from this name");
        if (name.compare(length - 4, 4, ".png") != 0)
            throw FormatError("a new MAT file " + mat + " is made only from an image named " + mat + ".png");
        if (!paletteName)
            throw FormatError("there is no MAT file " + mat + " beside it, so no palette to map its colours to; --palette=NAME creates one");
        return createMat(mat, mat + ".png", mat + "_alpha.png", "mat/", run);
    }
    const std::string& path = item.path;
    if (!exists(path + ".png")) return;
    rebuildMat(path, path + ".png", path + "_alpha.png", palettesOf("mat/", run), false, run);
}

void Png2Mat::convertImage(const WorkItem& item, const RunOptions& run) {
    const Target target = targetOf(item);
    if (exists(target.mat)) return rebuildMat(target.mat, item.path, target.alpha, palettesOf(item.folder, run), true, run);
    if (!paletteName)
        throw FormatError("there is no MAT file " + target.mat + (run.output ? "" : " beside it") +
                          ", so no palette to map its colours to; --palette=NAME creates one");
    createMat(target.mat, item.path, target.alpha, item.folder, run);
}

// The option values; with --palette, what the new files of each folder that gets one share.
Program::Complaint Png2Mat::prepare(const std::vector<WorkItem>& items, const RunOptions& run) {
    if (matchRule && *matchRule != "perceptual" && *matchRule != "rgb")
        return {"unknown matching rule '" + *matchRule + "' (perceptual or rgb)", true};
    rules.rgb = matchRule == "rgb";
    if (!paletteName) {
        if (embedPalette || typeText)
            return {std::string("option '--") + (embedPalette ? "embed-palette" : "type") + "' needs '--palette=NAME'", true};
        return {};
    }
    if (paletteName->empty()) return {"option '--palette' needs a palette name", true};
    if (typeText) {
        char* end = nullptr;
        errno = 0;
        const long long type = std::strtoll(typeText->c_str(), &end, 10);
        if (errno || end == typeText->c_str() || *end || type < INT32_MIN || type > INT32_MAX)
            return {"invalid type number '" + *typeText + "': give a whole number from -2147483648 to 2147483647", true};
        givenType = static_cast<std::int32_t>(type);
    }
    if (run.operands.empty()) {
        // the set run finds its palette before anything else, whether or not an image needs it
        const bool creating = std::any_of(items.begin(), items.end(), [](const WorkItem& item) {
            return isImageName(item.name) && !exists("mat/" + item.name.substr(0, item.name.size() - 4));
        });
        return prepareFolder("mat/", run, creating);
    }
    for (const WorkItem& item : items) {
        if (newFiles.count(item.folder) || exists(targetOf(item).mat)) continue;
        const Program::Complaint complaint = prepareFolder(item.folder, run, true);
        if (!complaint.text.empty()) return complaint;
    }
    return {};
}

// The palette of the new files of `folder`, the MAT files there and, with `countTypes`, their most common type.
Program::Complaint Png2Mat::prepareFolder(const std::string& folder, const RunOptions& run, bool countTypes) {
    NewFiles& files = newFiles[folder];
    try {
        loadPalette(files.palette, *paletteName, palettesOf(folder, run));
    } catch (const FormatError& error) {
        newFiles.erase(folder);
        return {error.what()};
    }
    std::vector<std::string> mats;
    DirectorySearch search(listable(folder), {".mat"});
    for (std::optional<std::string> name = search.findFirst(); name; name = search.findNext()) mats.push_back(*name);
    for (const std::string& name : mats) files.matsByLowerName.emplace(lower(name), name);
    if (givenType) files.type = *givenType;
    if (givenType || !countTypes) return {};
    // only INFO is read; a file that is not a readable bitmap has no type to count
    std::map<std::int32_t, long> counts;
    for (const std::string& name : mats) {
        try {
            const MatReader mat(folder + name);
            if (!mat.isAnim()) ++counts[mat.type()];
        } catch (...) {
        }
    }
    long most = 0;
    for (const auto& [type, count] : counts)
        if (count > most) most = count, files.type = type;
    return {};
}

// Stale when an image is newer than its MAT file: mat2png gives the images the MAT file's time.
Freshness Png2Mat::freshness(const WorkItem& item, const RunOptions& run) const {
    timespec images, source;
    if (!run.operands.empty()) {
        // an image without its MAT file makes one, or fails saying why
        const Target target = targetOf(item);
        if (!imageTime(item.path, target.alpha, images) || !modifiedTime(target.mat, source)) return {Freshness::stale, "", ""};
        return {later(images, source) ? Freshness::stale : Freshness::current, "", ""};
    }
    bool matExists;
    if (isImageName(item.name)) return {takenWithMat(item.name, matExists) ? Freshness::passed : Freshness::stale, "", ""};
    const std::string& path = item.path;
    if (!imageTime(path + ".png", path + "_alpha.png", images)) return {Freshness::passed, "", ""};
    if (!modifiedTime(path, source)) return {Freshness::stale, "", ""};
    return {later(images, source) ? Freshness::stale : Freshness::current, "", ""};
}

// A MAT file and its backup; the temporary files have names of their own.
std::vector<std::string> Png2Mat::outputs(const WorkItem& item) const {
    const std::string mat = targetOf(item).mat;
    if (noBackup) return {mat};
    return {mat, mat + ".bak"};
}
