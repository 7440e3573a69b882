#include "mat/MatFile.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <cstring>
#include <memory>
#include <optional>

#include "iff/FormatError.h"
#include "iff/IffReader.h"
#include "mat/PalFile.h"
#include "mat/PrintLine.h"
#include "mat/PaletteLookup.h"
#include "mat/SaveImage.h"
#include "mat/WriteError.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) throw FormatError(what);
}

// libpng refuses wider or taller images, and its refusal would crash inside DevIL
constexpr std::int64_t maxSide = 1000000;
// the RGBA buffer must fit a signed 32-bit size, as DevIL computes it that way
constexpr std::int64_t maxPixels = 0x7FFFFFFF / 4;

// Pixel count of a valid image size, or -1 when the size cannot be converted.
std::int64_t pixelCount(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0 || width > maxSide || height > maxSide) return -1;
    const std::int64_t count = std::int64_t{width} * height;
    return count <= maxPixels ? count : -1;
}

// One DevIL image, deleted again once saved so that memory stays flat over a batch.
class LibraryImage {
public:
    LibraryImage() {
        ilGenImages(1, &name);
        ilBindImage(name);
    }
    ~LibraryImage() { ilDeleteImages(1, &name); }
    LibraryImage(const LibraryImage&) = delete;
    LibraryImage& operator=(const LibraryImage&) = delete;

private:
    ILuint name = 0;
};

// Creates the bound image's pixels, copied from `data` or left for the caller to fill when it is null.
void texImage(std::int32_t width, std::int32_t height, ILubyte channels, ILenum format, const std::uint8_t* data) {
    if (!ilTexImage(static_cast<ILuint>(width), static_cast<ILuint>(height), 1, channels, format, IL_UNSIGNED_BYTE,
                    const_cast<std::uint8_t*>(data)))
        throw WriteError("the image library refused the image");
}

// Palette colours of every pixel, followed by 255 minus its alpha byte when there is an alpha plane.
void expand(const std::uint8_t* colours, const std::uint8_t* indices, const std::uint8_t* alphaplane,
            std::size_t count, std::uint8_t* out) {
    if (!alphaplane) {
        for (std::size_t p = 0; p < count; ++p, out += 3) std::memcpy(out, colours + 3 * indices[p], 3);
        return;
    }
    for (std::size_t p = 0; p < count; ++p, out += 4) {
        std::memcpy(out, colours + 3 * indices[p], 3);
        out[3] = static_cast<std::uint8_t>(255 - alphaplane[p]);
    }
}

}  // namespace

MatFile::MatFile(std::string path) {
    IffReader reader(path);
    std::string name = reader.formType();
    if (name == "ANIM") return;
    check(name == "BITM", "outer form type is BITM");
    reader.enterForm();
    check(reader.formType() == "FRAM", "form type is FRAM");
    reader.enterForm();
    check(reader.chunkName() == "INFO", "chunk is INFO");
    {
        const std::unique_ptr<Chunk> info = reader.readChunk();
        width = info->readInt();
        height = info->readInt();
        type = info->readInt();
    }
    printLine("type ", std::to_string(type));

    if (!reader.isForm()) {
        check(reader.chunkName() == "HOTS", "chunk after INFO is HOTS");
        reader.skip();
    }
    check(reader.formType() == "PAL ", "form type is PAL");
    reader.enterForm();

    std::unique_ptr<Chunk> palettechunk;
    std::optional<PalFile> palfile;
    const std::uint8_t* colours = nullptr;
    name = reader.chunkName();
    if (name == "CMAP") {
        palettechunk = reader.readChunk();
        check(palettechunk->getLength() == 256 * 3, "the embedded colour table is 768 bytes");
        colours = palettechunk->getData();
    } else if (name == "NAME") {
        const std::string palettename = reader.readChunk()->readString();
        palfile.emplace(findPalette(palettename));
        colours = palfile->getPalette();
    } else {
        throw FormatError("no colour table in the palette form");
    }

    check(reader.chunkName() == "PXLS", "chunk is PXLS");
    std::unique_ptr<Chunk> pixelschunk = reader.readChunk();

    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilEnable(IL_FILE_OVERWRITE);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);

    const std::int64_t pixels = pixelCount(width, height);
    bool alpha = false;
    std::unique_ptr<Chunk> alphachunk;
    if (!reader.eof()) {
        check(reader.chunkName() == "ALPH", "chunk after PXLS is ALPH");
        alphachunk = reader.readChunk();
        if (pixels > 0 && alphachunk->getLength() == pixels) {
            const std::string alphaname = path + "_alpha.png";
            {
                LibraryImage image;
                texImage(width, height, 1, IL_LUMINANCE, alphachunk->getData());
                iluNegative();
                saveImage(alphaname);
            }
            printLine("Wrote alpha channel in ", alphaname);
            alpha = true;
        }
    }
    if (!alpha) printLine("No alpha channel in ", path);

    check(pixels > 0 && pixelschunk->getLength() == pixels, "the pixel plane holds width * height bytes");
    LibraryImage image;
    texImage(width, height, alpha ? 4 : 3, alpha ? IL_RGBA : IL_RGB, nullptr);
    // expanded straight into the library's image: a buffer of our own would be one more full-size copy
    std::uint8_t* out = ilGetData();
    if (!out) throw WriteError("the image library has no pixels");
    expand(colours, pixelschunk->getData(), alpha ? alphachunk->getData() : nullptr, static_cast<std::size_t>(pixels),
           out);
    // the planes are spent; freeing them before encoding keeps the peak at one image
    pixelschunk.reset();
    alphachunk.reset();
    palettechunk.reset();
    palfile.reset();
    saveImage(path + ".png");
}

MatFile::~MatFile() = default;
