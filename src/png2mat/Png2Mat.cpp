#include "png2mat/Png2Mat.h"

#include <fcntl.h>
#include <png.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "colour/Dither.h"
#include "driver/Console.h"
#include "driver/Interrupts.h"
#include "driver/TempFile.h"
#include "iff/FormatError.h"
#include "iff/IffWriter.h"
#include "iff/WriteError.h"
#include "mat/MatReader.h"
#include "png2mat/ColourMap.h"
#include "png2mat/PngImage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool exact = false;
bool noBackup = false;
bool matchGiven = false, rgbMatch = false;
std::string matchRule;
bool ditherGiven = false;

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string hexColour(std::uint32_t rgb) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06X", rgb);
    return text;
}

std::string pixelsText(std::int64_t count) { return std::to_string(count) + (count == 1 ? " pixel" : " pixels"); }

// Palette indices of the colour image in stored order: the PNG's bottom row is the first row stored.
// `alpha`: the plane the file gets, where 255 marks a fully transparent pixel.
Bytes mapColours(const PngImage& image, const MatReader& mat, bool sameSize, const std::optional<Bytes>& alpha,
                 const std::string& imagename) {
    const std::uint32_t width = image.width(), height = image.height();
    const std::uint8_t* colours = mat.colours();
    const std::uint8_t* current = sameSize ? mat.pixels().getData() : nullptr;
    ColourMap map(colours, !rgbMatch);
    // in the image's order while dithering, which runs from the top; rows are turned over at the end
    Bytes indices(std::size_t{width} * height), open(ditherGiven ? indices.size() : 0);
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

// An alpha plane as stored (255 minus opacity, bottom row first) from samples of `channels`, opacity last.
Bytes alphaPlane(const PngImage& image, unsigned channels) {
    const std::uint32_t width = image.width(), height = image.height();
    Bytes plane(std::size_t{width} * height);
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint8_t* in = image.samples() + (std::size_t{height - 1 - row} * width) * channels + channels - 1;
        std::uint8_t* out = plane.data() + std::size_t{row} * width;
        for (std::uint32_t x = 0; x < width; ++x, in += channels) out[x] = static_cast<std::uint8_t>(255 - *in);
    }
    return plane;
}

// The ALPH content to write, or nothing for a file without one.
std::optional<Bytes> chooseAlpha(const PngImage& image, const MatReader& mat, bool sameSize, const std::string& path) {
    const std::size_t count = std::size_t{image.width()} * image.height();
    std::optional<Bytes> stored;
    if (mat.alpha() && sameSize) stored.emplace(mat.alpha()->getData(), mat.alpha()->getData() + mat.alpha()->getLength());
    std::optional<Bytes> fromColour, fromMask;
    if (image.hasAlpha()) fromColour = alphaPlane(image, 4);
    const std::string maskname = path + "_alpha.png";
    if (exists(maskname)) {
        const PngImage mask(maskname, PNG_FORMAT_GRAY);
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
                               ", and both differ from the stored plane");
    } else if (fromColour || fromMask) {
        chosen = fromColour ? std::move(fromColour) : std::move(fromMask);
    } else if (stored) {
        // an editor that saved RGB must not erase the transparency
        return stored;
    } else if (mat.alpha()) {
        return Bytes(count, 0);
    } else {
        return {};
    }
    // a fully opaque channel adds no plane to a file that has none
    if (!mat.alpha() && std::all_of(chosen->begin(), chosen->end(), [](std::uint8_t a) { return a == 0; })) return {};
    return chosen;
}

// The MAT in the canonical layout: the stored INFO type and extra bytes, HOTS and palette chunk, new planes.
Bytes rebuild(const MatReader& mat, std::uint32_t width, std::uint32_t height, const Bytes& pixels,
              const std::optional<Bytes>& alpha) {
    const Chunk& stored = mat.info();
    Bytes info(stored.getData(), stored.getData() + stored.getLength());
    for (int i = 0; i < 4; ++i) {
        info[i] = static_cast<std::uint8_t>(width >> 8 * i);
        info[4 + i] = static_cast<std::uint8_t>(height >> 8 * i);
    }
    IffWriter out;
    out.beginForm("BITM");
    out.beginForm("FRAM");
    out.chunk("INFO", info.data(), info.size());
    if (const Chunk* hots = mat.hots()) out.chunk("HOTS", hots->getData(), static_cast<std::size_t>(hots->getLength()));
    out.beginForm("PAL ");
    const Chunk& palette = mat.palette();
    out.chunk(palette.getId().c_str(), palette.getData(), static_cast<std::size_t>(palette.getLength()));
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

void write(const std::string& path, const Bytes& bytes, mode_t mode) {
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
    if (::fchmod(file.fd(), mode & 07777) != 0) file.fail(errno);
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
    const PngImage image(imagename, PNG_FORMAT_RGBA);
    const bool sameSize = image.width() == static_cast<std::uint32_t>(mat.width()) &&
                          image.height() == static_cast<std::uint32_t>(mat.height());
    const std::optional<Bytes> alpha = chooseAlpha(image, mat, sameSize, path);
    const Bytes pixels = mapColours(image, mat, sameSize, alpha, imagename);
    const Bytes bytes = rebuild(mat, image.width(), image.height(), pixels, alpha);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw WriteError("cannot write " + path + ": " + std::strerror(errno));
    if (holds(path, bytes, st)) return;
    write(path, bytes, st.st_mode);
    printLine("Updated ", path);
}

void convert(const std::string& name) {
    const std::size_t length = name.size();
    if (length > 4 && ::strcasecmp(name.c_str() + length - 4, ".png") == 0) {
        // an image is rebuilt together with its MAT file; alone it has no palette to map to
        const std::string mat = "mat/" + name.substr(0, length - 4);
        if (exists(mat) && name.compare(length - 4, 4, ".png") == 0) return;
        if (exists(mat)) throw FormatError("the image of " + mat + " is read from " + mat + ".png, not from this name");
        throw FormatError("there is no MAT file " + mat + " beside it, so no palette to map its colours to");
    }
    const std::string path = "mat/" + name;
    if (!exists(path + ".png")) return;
    rebuildMat(path);
}

std::string libraries() {
    return std::string("libpng ") + PNG_LIBPNG_VER_STRING + " (compiled), " + png_get_libpng_ver(nullptr) + " (loaded)\n";
}

Program::Complaint prepare() {
    if (matchGiven && matchRule != "perceptual" && matchRule != "rgb")
        return {"unknown matching rule '" + matchRule + "' (perceptual or rgb)", true};
    rgbMatch = matchRule == "rgb";
    return {};
}

}  // namespace

const Program png2mat = {
    "png2mat",
    "Rebuilds every *.mat file in mat/ of the working directory that has an image NAME.mat.png\n"
    "beside it from that image (and NAME.mat_alpha.png), with the palette the file already uses.\n"
    "The previous file is kept as NAME.mat.bak.\n",
    {".mat", ".mat.png"},
    convert,
    libraries,
    {{"exact", 0, nullptr, "fail a file whose image has colours not in its palette", &exact},
     {"match", 0, "RULE", "nearest colour by perceptual (CIEDE2000, the default) or rgb distance", &matchGiven, &matchRule},
     {"dither", 0, nullptr, "diffuse the error of colours not in the palette", &ditherGiven},
     {"no-backup", 0, nullptr, "replace NAME.mat without keeping it as NAME.mat.bak", &noBackup}},
    prepare,
};
