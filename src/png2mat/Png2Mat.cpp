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

#include "driver/CommandLine.h"
#include "driver/Console.h"
#include "fs/DirectorySearch.h"
#include "fs/FileTime.h"
#include "fs/Refusal.h"
#include "fs/WholeFile.h"
#include "fs/WriteError.h"
#include "iff/FormatError.h"
#include "mat/MatReader.h"
#include "mat/MatWriter.h"
#include "png2mat/AlphaSources.h"
#include "image/PngImage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Subject = Png2Mat::Subject;

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

// An image with its MAT file beside it, under the name png2mat reads, is taken with that file.
bool takenWithMat(const std::string& name, bool& matExists) {
    const std::size_t length = name.size();
    matExists = exists("mat/" + name.substr(0, length - 4));
    return matExists && name.compare(length - 4, 4, ".png") == 0;
}

// a name that is only the suffix is no image's
bool isImageName(const std::string& name) { return name.size() > 4 && endsWithIgnoringCase(name, ".png"); }

// A folder's name for listing it: "." for the working directory.
std::string listable(const std::string& folder) { return folder.empty() ? "." : folder; }

Bytes contents(const Chunk& chunk) { return Bytes(chunk.data(), chunk.data() + chunk.length()); }

// The colour image of a MAT file; a reason names it, unless the file reported on is the image itself.
std::unique_ptr<PngImage> readImage(const std::string& imagename, const std::uint8_t* colours, Subject subject) {
    try {
        return std::make_unique<PngImage>(imagename, 4, colours);
    } catch (const Error& error) {
        if (subject == Subject::image) throw;
        std::rethrow_exception(error.withPrefix(imagename + ": "));
    }
}

std::string libraries() { return PngImage::library(); }

}  // namespace

Png2Mat::Target Png2Mat::targetOf(const std::string& image, const std::string& folder) {
    const std::string name = lastPart(image);
    const std::size_t stem = isImageName(name) ? name.size() - 4 : name.size();
    const std::string base = name.substr(0, stem), suffix = stem < name.size() ? name.substr(stem) : ".png";
    return {folder + (base.size() > 4 && endsWithIgnoringCase(base, ".mat") ? base : base + ".mat"), folderPrefix(image) + base + "_alpha" + suffix};
}

std::string Png2Mat::alphaOwner(const std::string& name) {
    if (!isImageName(name)) return {};
    const std::size_t stem = name.size() - 4;
    if (stem <= 6 || ::strncasecmp(name.c_str() + stem - 6, "_alpha", 6) != 0) return {};
    return name.substr(0, stem - 6) + name.substr(stem);
}

namespace {

Png2Mat::Target targetOfItem(const WorkItem& item) { return Png2Mat::targetOf(item.path, item.folder); }

PaletteLookup palettesOf(const std::string& folder, const RunOptions& run) { return PaletteLookup(paletteFolders(run, folder)); }

}  // namespace

Png2Mat::Png2Mat() {
    definition = {
        .name = "png2mat",
        .operands = "[IMAGE|DIR]...",
        .summary = "Rebuilds every *.mat file in mat/ of the working directory that has an image\n"
                   "NAME.mat.png beside it from that image (and NAME.mat_alpha.png), with the\n"
                   "palette the file already uses, keeping the previous file as NAME.mat.bak.\n"
                   "With --palette, an image without its MAT file becomes a new one. IMAGE is a\n"
                   "PNG whose MAT file X.mat is beside it or in the folder of -o (sky.png and\n"
                   "sky.mat.png both belong to sky.mat); DIR stands for every *.png directly in\n"
                   "it but alpha images. Images are only read.\n",
        .suffixes = {".mat", ".mat.png"},
        .folderSuffix = ".png",
        .takes =
            [](const std::string& folder, const std::string& name) {
                // X_alpha.png beside X.png is that image's alpha image, not an image of its own
                const std::string owner = alphaOwner(name);
                struct stat st;
                return owner.empty() || ::lstat((folder + owner).c_str(), &st) != 0;
            },
        .folderHolds = "*.png image",
        .convert = [this](const WorkItem& item, const RunOptions& run) { convert(item, run); },
        .libraries = libraries,
        .options = {{.name = "exact", .help = "fail a file whose image has colours not in its palette"},
                    {.name = "no-backup", .help = "replace NAME.mat without keeping it as NAME.mat.bak"},
                    {.name = "match", .argument = "RULE", .help = "nearest colour: perceptual (CIEDE2000) or rgb"},
                    {.name = "dither", .help = "diffuse the error of colours not in the palette"},
                    {.name = "untiled", .help = "dither images that do not tile from their edges"},
                    {.name = "palette", .argument = "NAME", .help = "make a MAT file of each image without one"},
                    {.name = "embed-palette", .help = "store the palette's colours in new files, not its name"},
                    {.name = "type", .argument = "N", .help = "INFO type of new files (default: commonest there)"}},
        .prepare = [this](const std::vector<WorkItem>& items, const RunOptions& run) { return prepare(items, run); },
        .freshness = [this](const WorkItem& item, const RunOptions& run) { return freshness(item, run); },
        .outputs =
            [](const WorkItem& item, const RunOptions& run) {
                // a MAT file and its backup; the temporary files have names of their own
                const std::string mat = targetOfItem(item).mat;
                return run.has("no-backup") ? std::vector<std::string>{mat} : std::vector<std::string>{mat, mat + ".bak"};
            },
    };
}


void Png2Mat::rebuildMat(const std::string& path, const std::string& imagename, const std::string& alphaname,
                         const PaletteLookup& palettes, Subject subject, const RunOptions& run) {
    std::optional<MatReader> mat;
    try {
        mat.emplace(path);
        if (mat->isAnim()) return;
        mat->readPalette(palettes);
        mat->readPlanes();
        mat->requirePixels();
    } catch (const Error& error) {
        // the file reported on is the image: a reason about its MAT file names that
        if (subject == Subject::mat) throw;
        std::rethrow_exception(error.withPrefix(path + ": "));
    }
    const std::unique_ptr<PngImage> image = readImage(imagename, mat->colours(), subject);
    const bool sameSize = image->width() == static_cast<std::uint32_t>(mat->width()) &&
                          image->height() == static_cast<std::uint32_t>(mat->height());
    const std::optional<Bytes> alpha = chooseAlpha(*image, mat->alpha(), sameSize, imagename, alphaname);
    const Bytes pixels =
        mapColours(*image, mat->colours(), sameSize ? mat->pixels().data() : nullptr, alpha, imagename, settings.rules, run.console);
    const std::optional<Bytes> hots = mat->hots() ? std::optional<Bytes>(contents(*mat->hots())) : std::nullopt;
    const MatWriter out(MatWriter::sizedInfo(contents(mat->info()), image->width(), image->height()), hots,
                        mat->palette().id().c_str(), contents(mat->palette()), pixels, alpha);
    // closed before it is replaced: Windows renames nothing over a file open here
    mat.reset();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw WriteError("cannot write " + path + ": " + std::strerror(errno));
    if (holdsBytes(path, out.bytes(), st)) {
        // found stale but unchanged: the file takes its images' time, so that the next update run finds it current
        timespec images;
        if (run.update && imageTime(imagename, alphaname, images) && later(images, modifiedOf(st))) {
            const timespec times[2] = {{0, UTIME_OMIT}, images};
            if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
                throw WriteError("cannot set the time of " + path + ": " + std::strerror(errno));
        }
        return;
    }
    writeWholeFile(path, out.bytes(), &st, settings.backup, run.console.program);
    run.console.printLine("Updated ", path);
}

void Png2Mat::createMat(const std::string& path, const std::string& imagename, const std::string& alphaname,
                        const std::string& folder, const RunOptions& run) {
    // its MAT file was there when the run was prepared, and is gone
    const NewFiles& files = [&]() -> const NewFiles& {
        const std::lock_guard<std::mutex> hold(newFilesLock);
        if (!newFiles.count(folder)) prepareFolder(folder, run, Types::counted);
        return newFiles.at(folder);
    }();
    const std::string base = lastPart(path);
    const auto same = files.matsByLowerName.find(lower(base));
    if (same != files.matsByLowerName.end() && same->second != base)
        throw Refusal("its MAT file would be " + path + ", but " + folder + same->second + " differs from that name only in case");
    const std::uint8_t* colours = files.palette->colours();
    const std::unique_ptr<PngImage> image = readImage(imagename, colours, Subject::image);
    const std::optional<Bytes> alpha = chooseAlpha(*image, nullptr, false, imagename, alphaname);
    const Bytes pixels = mapColours(*image, colours, nullptr, alpha, imagename, settings.rules, run.console);
    Bytes palette(colours, colours + 256 * 3);
    const std::string& name = *settings.paletteName;
    if (!settings.embedPalette) palette.assign(name.c_str(), name.c_str() + name.size() + 1);
    const MatWriter out(MatWriter::newInfo(image->width(), image->height(), files.type), std::nullopt,
                        settings.embedPalette ? "CMAP" : "NAME", palette, pixels, alpha);
    writeWholeFile(path, out.bytes(), nullptr, Backup::none, run.console.program);
    run.console.printLine("Created ", path);
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
        if (matExists) throw Refusal("the image of " + mat + " is read from " + mat + ".png, not from this name");
        if (name.compare(length - 4, 4, ".png") != 0)
            throw Refusal("a new MAT file " + mat + " is made only from an image named " + mat + ".png");
        if (!settings.paletteName)
            throw Refusal("there is no MAT file " + mat + " beside it, so no palette to map its colours to; --palette=NAME creates one");
        return createMat(mat, mat + ".png", mat + "_alpha.png", "mat/", run);
    }
    const std::string& path = item.path;
    if (!exists(path + ".png")) return;
    rebuildMat(path, path + ".png", path + "_alpha.png", palettesOf("mat/", run), Subject::mat, run);
}

void Png2Mat::convertImage(const WorkItem& item, const RunOptions& run) {
    const Target target = targetOfItem(item);
    if (exists(target.mat)) return rebuildMat(target.mat, item.path, target.alpha, palettesOf(item.folder, run), Subject::image, run);
    if (!settings.paletteName)
        throw Refusal("there is no MAT file " + target.mat + (run.output ? "" : " beside it") +
                      ", so no palette to map its colours to; --palette=NAME creates one");
    createMat(target.mat, item.path, target.alpha, item.folder, run);
}

// The option values; with --palette, what the new files of each folder that gets one share.
Program::Complaint Png2Mat::prepare(const std::vector<WorkItem>& items, const RunOptions& run) {
    settings = {};
    newFiles.clear();
    const std::optional<std::string> matchRule = run.argument("match"), typeText = run.argument("type");
    if (matchRule && *matchRule != "perceptual" && *matchRule != "rgb")
        return {"unknown matching rule '" + *matchRule + "' (perceptual or rgb)", true};
    settings.rules = {.exact = run.has("exact"), .rgb = matchRule == "rgb", .dither = run.has("dither"), .untiled = run.has("untiled")};
    if (settings.rules.untiled && !settings.rules.dither) return {"option '--untiled' needs '--dither'", true};
    settings.backup = run.has("no-backup") ? Backup::none : Backup::keep;
    settings.embedPalette = run.has("embed-palette");
    settings.paletteName = run.argument("palette");
    if (!settings.paletteName) {
        if (settings.embedPalette || typeText)
            return {std::string("option '--") + (settings.embedPalette ? "embed-palette" : "type") + "' needs '--palette=NAME'", true};
        return {};
    }
    if (settings.paletteName->empty()) return {"option '--palette' needs a palette name", true};
    if (typeText) {
        const std::optional<long long> type = wholeNumber(*typeText, INT32_MIN, INT32_MAX);
        if (!type) return {"invalid type number '" + *typeText + "': give a whole number from -2147483648 to 2147483647", true};
        settings.type = static_cast<std::int32_t>(*type);
    }
    // a palette that cannot be had ends the run before any file is written
    try {
        if (run.operands.empty()) {
            // the set run finds its palette before anything else, whether or not an image needs it
            const bool creating = std::any_of(items.begin(), items.end(), [](const WorkItem& item) {
                return isImageName(item.name) && !exists("mat/" + item.name.substr(0, item.name.size() - 4));
            });
            prepareFolder("mat/", run, creating ? Types::counted : Types::unused);
        }
        for (const WorkItem& item : items)
            if (!run.operands.empty() && !newFiles.count(item.folder) && !exists(targetOfItem(item).mat)) prepareFolder(item.folder, run, Types::counted);
    } catch (const Error& error) {
        return {error.what()};
    }
    return {};
}

// The palette of the new files of `folder`, the MAT files there and, with `countTypes`, their most common type.
void Png2Mat::prepareFolder(const std::string& folder, const RunOptions& run, Types types) {
    NewFiles& files = newFiles[folder];
    try {
        loadPalette(files.palette, *settings.paletteName, palettesOf(folder, run));
    } catch (...) {
        newFiles.erase(folder);
        throw;
    }
    const std::vector<std::string> mats = DirectorySearch(listable(folder), {".mat"}).names();
    for (const std::string& name : mats) files.matsByLowerName.emplace(lower(name), name);
    if (settings.type) files.type = *settings.type;
    if (settings.type || types == Types::unused) return;
    // only INFO is read; a file that is not a readable bitmap has no type to count
    std::map<std::int32_t, long> counts;
    for (const std::string& name : mats) {
        try {
            const MatReader mat(folder + name);
            if (!mat.isAnim()) ++counts[mat.type()];
        } catch (const Error&) {
        }
    }
    long most = 0;
    for (const auto& [type, count] : counts)
        if (count > most) most = count, files.type = type;
}

// Stale when an image is newer than its MAT file: mat2png gives the images the MAT file's time.
Freshness Png2Mat::freshness(const WorkItem& item, const RunOptions& run) const {
    timespec images, source;
    if (!run.operands.empty()) {
        // an image without its MAT file makes one, or fails saying why
        const Target target = targetOfItem(item);
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
