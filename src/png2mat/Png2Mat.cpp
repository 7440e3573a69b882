#include "png2mat/Png2Mat.h"

#include <fcntl.h>
#include <png.h>
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

// The newest time of the images mat/NAME is rebuilt from, or false when it has no colour image.
bool imageTime(const std::string& path, timespec& newest) {
    if (!modifiedTime(path + ".png", newest)) return false;
    timespec alpha;
    if (modifiedTime(path + "_alpha.png", alpha)) newest = latest(newest, alpha);
    return true;
}

// An image with its MAT file beside it, under the name png2mat reads, is taken with that file.
bool takenWithMat(const std::string& name, bool& matExists) {
    const std::size_t length = name.size();
    matExists = exists("mat/" + name.substr(0, length - 4));
    return matExists && name.compare(length - 4, 4, ".png") == 0;
}

bool isImageName(const std::string& name) { return name.size() > 4 && ::strcasecmp(name.c_str() + name.size() - 4, ".png") == 0; }

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

std::string libraries() {
    return std::string("libpng ") + PNG_LIBPNG_VER_STRING + " (compiled), " + png_get_libpng_ver(nullptr) + " (loaded)\n";
}

}  // namespace

Png2Mat::Png2Mat() {
    definition = {
        "png2mat",
        "Rebuilds every *.mat file in mat/ of the working directory that has an image NAME.mat.png\n"
        "beside it from that image (and NAME.mat_alpha.png), with the palette the file already uses.\n"
        "The previous file is kept as NAME.mat.bak. With --palette, an image without its MAT file\n"
        "becomes a new one.\n",
        {".mat", ".mat.png"},
        [this](const std::string& name, const RunOptions& run) { convert(name, run); },
        libraries,
        {{"exact", 0, nullptr, "fail a file whose image has colours not in its palette", [this](const char*) { rules.exact = true; }},
         {"no-backup", 0, nullptr, "replace NAME.mat without keeping it as NAME.mat.bak", [this](const char*) { noBackup = true; }},
         {"match", 0, "RULE", "nearest colour by perceptual (CIEDE2000, the default) or rgb distance",
          [this](const char* rule) { matchRule = rule; }},
         {"dither", 0, nullptr, "diffuse the error of colours not in the palette", [this](const char*) { rules.dither = true; }},
         {"palette", 0, "NAME", "create a MAT file for each image without one, palette pal/NAME.pal",
          [this](const char* name) { paletteName = name; }},
         {"embed-palette", 0, nullptr, "store the palette's colours in new files instead of its name",
          [this](const char*) { embedPalette = true; }},
         {"type", 0, "N", "INFO type of new files (default: the most common one in mat/)", [this](const char* type) { typeText = type; }}},
        [this] { return prepare(); },
        [this](const std::string& name) { return freshness(name); },
    };
}

void Png2Mat::rebuildMat(const std::string& path, const RunOptions& run) {
    const std::string imagename = path + ".png";
    MatReader mat(path);
    if (mat.isAnim()) return;
    mat.readPalette();
    mat.readPlanes();
    mat.requirePixels();
    const std::unique_ptr<PngImage> image = readImage(imagename, mat.colours(), true);
    const bool sameSize = image->width() == static_cast<std::uint32_t>(mat.width()) &&
                          image->height() == static_cast<std::uint32_t>(mat.height());
    const std::optional<Bytes> alpha = chooseAlpha(*image, mat.alpha(), sameSize, imagename, path + "_alpha.png");
    const Bytes pixels = mapColours(*image, mat.colours(), sameSize ? mat.pixels().getData() : nullptr, alpha, imagename, rules);
    const std::optional<Bytes> hots = mat.hots() ? std::optional<Bytes>(contents(*mat.hots())) : std::nullopt;
    const MatWriter out(MatWriter::sizedInfo(contents(mat.info()), image->width(), image->height()), hots,
                        mat.palette().getId().c_str(), contents(mat.palette()), pixels, alpha);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw WriteError("cannot write " + path + ": " + std::strerror(errno));
    if (holdsBytes(path, out.bytes(), st)) {
        // found stale but unchanged: the file takes its images' time, so that the next update run finds it current
        timespec images;
        if (run.update && imageTime(path, images) && later(images, st.st_mtim)) {
            const timespec times[2] = {{0, UTIME_OMIT}, images};
            if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
                throw WriteError("cannot set the time of " + path + ": " + std::strerror(errno));
        }
        return;
    }
    writeWholeFile(path, out.bytes(), &st, !noBackup);
    printLine("Updated ", path);
}

void Png2Mat::createMat(const std::string& path) {
    const std::string imagename = path + ".png";
    const std::size_t slash = path.rfind('/');
    const std::string base = path.substr(slash + 1);
    const auto same = matsByLowerName.find(lower(base));
    if (same != matsByLowerName.end() && same->second != base)
        throw FormatError("its MAT file would be " + path + ", but mat/" + same->second + " differs from that name only in case");
    const std::uint8_t* colours = newPalette->getPalette();
    const std::unique_ptr<PngImage> image = readImage(imagename, colours, false);
    const std::optional<Bytes> alpha = chooseAlpha(*image, nullptr, false, imagename, path + "_alpha.png");
    const Bytes pixels = mapColours(*image, colours, nullptr, alpha, imagename, rules);
    Bytes palette(colours, colours + 256 * 3);
    if (!embedPalette) palette.assign(paletteName->c_str(), paletteName->c_str() + paletteName->size() + 1);
    const MatWriter out(MatWriter::newInfo(image->width(), image->height(), newType), std::nullopt,
                        embedPalette ? "CMAP" : "NAME", palette, pixels, alpha);
    writeWholeFile(path, out.bytes(), nullptr, false);
    printLine("Created ", path);
}

void Png2Mat::convert(const std::string& name, const RunOptions& run) {
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
        return createMat(mat);
    }
    const std::string path = "mat/" + name;
    if (!exists(path + ".png")) return;
    rebuildMat(path, run);
}

// The option values, the palette of new files, the default type from the MAT files in mat/ and their names.
Program::Complaint Png2Mat::prepare() {
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
        newType = static_cast<std::int32_t>(type);
    }
    try {
        loadPalette(newPalette, *paletteName);
    } catch (const FormatError& error) {
        return {error.what()};
    }
    std::vector<std::string> mats, images;
    DirectorySearch search("mat", {".mat", ".mat.png"});
    for (std::optional<std::string> name = search.findFirst(); name; name = search.findNext()) {
        const bool image = isImageName(*name);
        (image ? images : mats).push_back(*name);
    }
    for (const std::string& name : mats) matsByLowerName.emplace(lower(name), name);
    const bool creating = std::any_of(images.begin(), images.end(), [](const std::string& name) {
        return !exists("mat/" + name.substr(0, name.size() - 4));
    });
    if (typeText || !creating) return {};
    // only INFO is read; a file that is not a readable bitmap has no type to count
    std::map<std::int32_t, long> counts;
    for (const std::string& name : mats) {
        try {
            const MatReader mat("mat/" + name);
            if (!mat.isAnim()) ++counts[mat.type()];
        } catch (...) {
        }
    }
    long most = 0;
    for (const auto& [type, count] : counts)
        if (count > most) most = count, newType = type;
    return {};
}

// Stale when an image is newer than its MAT file: mat2png gives the images the MAT file's time.
Freshness Png2Mat::freshness(const std::string& name) const {
    bool matExists;
    if (isImageName(name)) return {takenWithMat(name, matExists) ? Freshness::passed : Freshness::stale, "", ""};
    const std::string path = "mat/" + name;
    timespec images, source;
    if (!imageTime(path, images)) return {Freshness::passed, "", ""};
    if (!modifiedTime(path, source)) return {Freshness::stale, "", ""};
    return {later(images, source) ? Freshness::stale : Freshness::current, "", ""};
}
