#include "png2mat/Png2Mat.h"

#include <fcntl.h>
#include <png.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "colour/Dither.h"
#include "driver/Console.h"
#include "driver/DirectorySearch.h"
#include "driver/FileTime.h"
#include "driver/Interrupts.h"
#include "driver/TempFile.h"
#include "iff/FileNotFoundException.h"
#include "iff/FormatError.h"
#include "iff/IffWriter.h"
#include "iff/WriteError.h"
#include "mat/MatReader.h"
#include "mat/PalFile.h"
#include "png2mat/ColourMap.h"
#include "png2mat/PngImage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool exact = false;
bool noBackup = false;
bool paletteGiven = false, embedPalette = false, typeGiven = false;
std::string paletteName, typeText;
bool matchGiven = false, rgbMatch = false;
std::string matchRule;
bool ditherGiven = false;

// What every new MAT file shares, set once the directory is entered.
std::optional<PalFile> newPalette;
std::int32_t newType = 0;
// the MAT files in mat/ by their name in lower case, so that no new file differs from one only in case
std::map<std::string, std::string> matsByLowerName;

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

std::string hexColour(std::uint32_t rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", rgb);
    return text;
}

std::string pixelsText(std::int64_t count) { return std::to_string(count) + (count == 1 ? " pixel" : " pixels"); }

// Palette indices of the colour image in stored order: the PNG's bottom row is the first row stored.
// `current`: the stored indices of an image of the same size, or null; `alpha`: the plane the file
// gets, where 255 marks a fully transparent pixel.
Bytes mapColours(const PngImage& image, const std::uint8_t* colours, const std::uint8_t* current,
                 const std::optional<Bytes>& alpha, const std::string& imagename) {
    const std::uint32_t width = image.width(), height = image.height();
    // in the image's order while dithering, which runs from the top; rows are turned over at the end
    Bytes indices(std::size_t{width} * height), open(ditherGiven ? indices.size() : 0);
    // indices painted in an editor's indexed mode are the ones meant, even where the palette repeats a colour
    if (image.indexed()) {
        for (std::uint32_t row = 0; row < height; ++row)
            std::memcpy(indices.data() + std::size_t{row} * width, image.samples() + std::size_t{height - 1 - row} * width, width);
        return indices;
    }
    ColourMap map(colours, !rgbMatch);
    std::int64_t off = 0;
    std::uint32_t firstColour = 0, firstX = 0, firstY = 0;
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint32_t y = height - 1 - row;
        const std::uint8_t* in = image.samples() + std::size_t{y} * width * 4;
        const std::size_t at = std::size_t{ditherGiven ? y : row} * width;
        std::uint8_t* out = indices.data() + at;
        for (std::uint32_t x = 0; x < width; ++x, in += 4) {
            // a pixel still showing its stored index's colour keeps that index, even where the palette repeats the colour
            if (current) {
                const std::uint8_t stored = current[std::size_t{row} * width + x];
                if (std::memcmp(colours + 3 * stored, in, 3) == 0) {
                    out[x] = stored;
                    continue;
                }
            }
            const std::uint32_t rgb = std::uint32_t{in[0]} << 16 | in[1] << 8 | in[2];
            // a transparent pixel takes the nearest colour and no error; a dithered one needs no nearest colour
            const bool spread = ditherGiven && !(alpha && (*alpha)[std::size_t{row} * width + x] == 255);
            const unsigned value = spread ? map.find(rgb) : map.lookup(rgb);
            out[x] = static_cast<std::uint8_t>(value);
            if (!(value & ColourMap::offPalette)) continue;
            if (spread) open[at + x] = 1;
            if (off++ == 0) {
                firstColour = rgb;
                firstX = x;
                firstY = y;
            }
        }
    }
    if (off && exact)
        throw FormatError(pixelsText(off) + " not in the palette, the first " + hexColour(firstColour) + " at x " +
                          std::to_string(firstX) + ", y " + std::to_string(firstY) + " of " + imagename);
    if (off) printDiagnostic(imagename, pixelsText(off) + " not in the palette, " + (ditherGiven ? "dithered" : "mapped to the nearest colour"));
    if (ditherGiven) {
        if (off) dither(image.samples(), width, height, colours, open.data(), indices.data());
        for (std::uint32_t row = 0; row < height / 2; ++row)
            std::swap_ranges(indices.begin() + std::ptrdiff_t{row} * width, indices.begin() + std::ptrdiff_t{row + 1} * width,
                             indices.begin() + std::ptrdiff_t{height - 1 - row} * width);
    }
    return indices;
}

// An alpha plane as stored (255 minus opacity, bottom row first) from samples of `channels`, opacity last,
// or from the palette entries of an image's indices.
Bytes alphaPlane(const PngImage& image, unsigned channels) {
    const std::uint32_t width = image.width(), height = image.height();
    Bytes plane(std::size_t{width} * height);
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint8_t* in = image.samples() + (std::size_t{height - 1 - row} * width) * channels + channels - 1;
        std::uint8_t* out = plane.data() + std::size_t{row} * width;
        for (std::uint32_t x = 0; x < width; ++x, in += channels) out[x] = static_cast<std::uint8_t>(255 - (image.indexed() ? image.opacity(*in) : *in));
    }
    return plane;
}

// The ALPH content to write, or nothing for a file without one.
// `storedAlpha`: the current file's ALPH, null for a file without one or a new file.
std::optional<Bytes> chooseAlpha(const PngImage& image, const Chunk* storedAlpha, bool sameSize, const std::string& path) {
    const std::size_t count = std::size_t{image.width()} * image.height();
    std::optional<Bytes> stored;
    if (storedAlpha && sameSize) stored.emplace(storedAlpha->getData(), storedAlpha->getData() + storedAlpha->getLength());
    std::optional<Bytes> fromColour, fromMask;
    if (image.hasAlpha()) fromColour = alphaPlane(image, image.indexed() ? 1 : 4);
    const std::string maskname = path + "_alpha.png";
    if (exists(maskname)) {
        const PngImage mask(maskname, 1);
        if (mask.width() != image.width() || mask.height() != image.height())
            throw FormatError(maskname + " is " + std::to_string(mask.width()) + " x " + std::to_string(mask.height()) + ", but " +
                              path + ".png is " + std::to_string(image.width()) + " x " + std::to_string(image.height()));
        fromMask = alphaPlane(mask, 1);
    }
    std::optional<Bytes> chosen;
    if (fromColour && fromMask && *fromColour != *fromMask) {
        // the one still equal to the stored plane is the one left unedited
        if (*fromColour == stored) chosen = std::move(fromMask);
        else if (*fromMask == stored) chosen = std::move(fromColour);
        else throw FormatError("the alpha sources disagree: the alpha channel of " + path + ".png differs from " + maskname +
                               (stored ? ", and both differ from the stored plane" : ""));
    } else if (fromColour || fromMask) {
        chosen = fromColour ? std::move(fromColour) : std::move(fromMask);
    } else if (stored) {
        // an editor that saved RGB must not erase the transparency
        return stored;
    } else if (storedAlpha) {
        return Bytes(count, 0);
    } else {
        return {};
    }
    // a fully opaque channel adds no plane to a file that has none
    if (!storedAlpha && std::all_of(chosen->begin(), chosen->end(), [](std::uint8_t a) { return a == 0; })) return {};
    return chosen;
}

// INFO with the image's width and height over the first eight bytes of `info`.
Bytes sized(Bytes info, std::uint32_t width, std::uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        info[i] = static_cast<std::uint8_t>(width >> 8 * i);
        info[4 + i] = static_cast<std::uint8_t>(height >> 8 * i);
    }
    return info;
}

// A MAT in the canonical layout, rebuilt or new: `hots` may be null, `paletteId` is "CMAP" or "NAME".
Bytes layout(const Bytes& info, const Chunk* hots, const char* paletteId, const Bytes& palette, const Bytes& pixels,
             const std::optional<Bytes>& alpha) {
    IffWriter out;
    out.beginForm("BITM");
    out.beginForm("FRAM");
    out.chunk("INFO", info.data(), info.size());
    if (hots) out.chunk("HOTS", hots->getData(), static_cast<std::size_t>(hots->getLength()));
    out.beginForm("PAL ");
    out.chunk(paletteId, palette.data(), palette.size());
    out.endForm();
    out.chunk("PXLS", pixels.data(), pixels.size());
    if (alpha) out.chunk("ALPH", alpha->data(), alpha->size());
    out.endForm();
    out.endForm();
    return out.bytes();
}

// True when the file at `path` holds exactly `bytes`.
bool holds(const std::string& path, const Bytes& bytes, const struct stat& st) {
    if (static_cast<std::uint64_t>(st.st_size) != bytes.size()) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    Bytes current(bytes.size());
    std::size_t done = 0;
    for (ssize_t n; done < current.size() && (n = ::read(fd, current.data() + done, current.size() - done)) > 0;)
        done += static_cast<std::size_t>(n);
    ::close(fd);
    return done == current.size() && current == bytes;
}

Bytes contents(const Chunk& chunk) { return Bytes(chunk.getData(), chunk.getData() + chunk.getLength()); }

// Keeps the current file as path.bak through a hard link, so that path always holds a whole MAT.
// Called with the interrupt signals held back, so that no link is left behind between the two steps.
void backUp(const std::string& path) {
    const std::string backup = path + ".bak";
    const std::size_t slash = path.rfind('/');
    const std::string link = path.substr(0, slash + 1) + tempPrefix(programName, ::getpid()) + "bak";
    ::unlink(link.c_str());
    if (::link(path.c_str(), link.c_str()) == 0 && ::rename(link.c_str(), backup.c_str()) == 0) return;
    const int error = errno;
    ::unlink(link.c_str());
    throw WriteError("cannot keep " + path + " as " + backup + ": " + std::strerror(error));
}

// Replaces the file at `path`, whose status is `old`, or writes a new one (`old` null) that never
// replaces a file put there meanwhile.
void write(const std::string& path, const Bytes& bytes, const struct stat* old) {
    TempFile file(path, "mat");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            file.fail(n < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!old) return file.commit(nullptr, false);
    if (::fchmod(file.fd(), old->st_mode & 07777) != 0) file.fail(errno);
    // an interrupt between the two would leave a backup of a file that was never replaced
    InterruptGuard guard;
    if (!noBackup && done == bytes.size()) backUp(path);
    file.commit();
}

void rebuildMat(const std::string& path) {
    const std::string imagename = path + ".png";
    MatReader mat(path);
    if (mat.isAnim()) return;
    mat.readPalette();
    mat.readPlanes();
    mat.requirePixels();
    const PngImage image(imagename, 4, mat.colours());
    const bool sameSize = image.width() == static_cast<std::uint32_t>(mat.width()) &&
                          image.height() == static_cast<std::uint32_t>(mat.height());
    const std::optional<Bytes> alpha = chooseAlpha(image, mat.alpha(), sameSize, path);
    const Bytes pixels = mapColours(image, mat.colours(), sameSize ? mat.pixels().getData() : nullptr, alpha, imagename);
    const Bytes bytes = layout(sized(contents(mat.info()), image.width(), image.height()), mat.hots(),
                               mat.palette().getId().c_str(), contents(mat.palette()), pixels, alpha);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw WriteError("cannot write " + path + ": " + std::strerror(errno));
    if (holds(path, bytes, st)) {
        // found stale but unchanged: the file takes its images' time, so that the next update run finds it current
        timespec images;
        if (updating() && imageTime(path, images) && later(images, st.st_mtim)) {
            const timespec times[2] = {{0, UTIME_OMIT}, images};
            if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
                throw WriteError("cannot set the time of " + path + ": " + std::strerror(errno));
        }
        return;
    }
    write(path, bytes, &st);
    printLine("Updated ", path);
}

// A new MAT file at `path` from its image, with the palette and type of the command line.
void createMat(const std::string& path) {
    const std::string imagename = path + ".png";
    const std::size_t slash = path.rfind('/');
    const std::string base = path.substr(slash + 1);
    const auto same = matsByLowerName.find(lower(base));
    if (same != matsByLowerName.end() && same->second != base)
        throw FormatError("its MAT file would be " + path + ", but mat/" + same->second + " differs from that name only in case");
    const std::uint8_t* colours = newPalette->getPalette();
    const PngImage image(imagename, 4, colours);
    const std::optional<Bytes> alpha = chooseAlpha(image, nullptr, false, path);
    const Bytes pixels = mapColours(image, colours, nullptr, alpha, imagename);
    Bytes palette(colours, colours + 256 * 3);
    if (!embedPalette) palette.assign(paletteName.c_str(), paletteName.c_str() + paletteName.size() + 1);
    Bytes info = sized(Bytes(12), image.width(), image.height());
    for (int i = 0; i < 4; ++i) info[8 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(newType) >> 8 * i);
    write(path, layout(info, nullptr, embedPalette ? "CMAP" : "NAME", palette, pixels, alpha), nullptr);
    printLine("Created ", path);
}

void convert(const std::string& name) {
    if (isImageName(name)) {
        // an image is rebuilt together with its MAT file; alone it has no palette to map to
        const std::size_t length = name.size();
        const std::string mat = "mat/" + name.substr(0, length - 4);
        bool matExists;
        if (takenWithMat(name, matExists)) return;
        if (matExists) throw FormatError("the image of " + mat + " is read from " + mat + ".png, not from this name");
        if (name.compare(length - 4, 4, ".png") != 0)
            throw FormatError("a new MAT file " + mat + " is made only from an image named " + mat + ".png");
        if (!paletteGiven)
            throw FormatError("there is no MAT file " + mat + " beside it, so no palette to map its colours to; --palette=NAME creates one");
        return createMat(mat);
    }
    const std::string path = "mat/" + name;
    if (!exists(path + ".png")) return;
    rebuildMat(path);
}

// The option values, the palette of new files, the default type from the MAT files in mat/ and their names.
Program::Complaint prepare() {
    if (matchGiven && matchRule != "perceptual" && matchRule != "rgb")
        return {"unknown matching rule '" + matchRule + "' (perceptual or rgb)", true};
    rgbMatch = matchRule == "rgb";
    if (!paletteGiven) {
        if (embedPalette || typeGiven)
            return {std::string("option '--") + (embedPalette ? "embed-palette" : "type") + "' needs '--palette=NAME'", true};
        return {};
    }
    if (paletteName.empty()) return {"option '--palette' needs a palette name", true};
    if (typeGiven) {
        char* end = nullptr;
        errno = 0;
        const long long type = std::strtoll(typeText.c_str(), &end, 10);
        if (errno || end == typeText.c_str() || *end || type < INT32_MIN || type > INT32_MAX)
            return {"invalid type number '" + typeText + "': give a whole number from -2147483648 to 2147483647", true};
        newType = static_cast<std::int32_t>(type);
    }
    try {
        loadPalette(newPalette, paletteName);
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
    if (typeGiven || !creating) return {};
    // only INFO is read; a file that is not a readable bitmap has no type to count
    std::map<std::int32_t, long> counts;
    for (const std::string& name : mats) {
        try {
            const MatReader mat("mat/" + name);
            if (!mat.isAnim()) ++counts[mat.type()];
        } catch (FileNotFoundException* error) {
            delete error;
        } catch (...) {
        }
    }
    long most = 0;
    for (const auto& [type, count] : counts)
        if (count > most) most = count, newType = type;
    return {};
}

// Stale when an image is newer than its MAT file: mat2png gives the images the MAT file's time.
Freshness freshness(const std::string& name) {
    bool matExists;
    if (isImageName(name)) return {takenWithMat(name, matExists) ? Freshness::passed : Freshness::stale, "", ""};
    const std::string path = "mat/" + name;
    timespec images, source;
    if (!imageTime(path, images)) return {Freshness::passed, "", ""};
    if (!modifiedTime(path, source)) return {Freshness::stale, "", ""};
    return {later(images, source) ? Freshness::stale : Freshness::current, "", ""};
}

std::string libraries() {
    return std::string("libpng ") + PNG_LIBPNG_VER_STRING + " (compiled), " + png_get_libpng_ver(nullptr) + " (loaded)\n";
}

}  // namespace

const Program png2mat = {
    "png2mat",
    "Rebuilds every *.mat file in mat/ of the working directory that has an image NAME.mat.png\n"
    "beside it from that image (and NAME.mat_alpha.png), with the palette the file already uses.\n"
    "The previous file is kept as NAME.mat.bak. With --palette, an image without its MAT file\n"
    "becomes a new one.\n",
    {".mat", ".mat.png"},
    convert,
    libraries,
    {{"exact", 0, nullptr, "fail a file whose image has colours not in its palette", &exact},
     {"no-backup", 0, nullptr, "replace NAME.mat without keeping it as NAME.mat.bak", &noBackup},
     {"match", 0, "RULE", "nearest colour by perceptual (CIEDE2000, the default) or rgb distance", &matchGiven, &matchRule},
     {"dither", 0, nullptr, "diffuse the error of colours not in the palette", &ditherGiven},
     {"palette", 0, "NAME", "create a MAT file for each image without one, palette pal/NAME.pal", &paletteGiven, &paletteName},
     {"embed-palette", 0, nullptr, "store the palette's colours in new files instead of its name", &embedPalette},
     {"type", 0, "N", "INFO type of new files (default: the most common one in mat/)", &typeGiven, &typeText}},
    prepare,
    freshness,
};
