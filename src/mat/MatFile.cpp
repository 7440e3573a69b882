#include "mat/MatFile.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <cstring>
#include <memory>
#include <optional>

#include "driver/Console.h"
#include "iff/FileNotFoundException.h"
#include "iff/FormatError.h"
#include "iff/IffReader.h"
#include "iff/WriteError.h"
#include "mat/PalFile.h"
#include "mat/PaletteLookup.h"
#include "mat/SaveImage.h"

namespace {

// The reader must be on a FORM of `type`; `what` says what else would have done, for the message.
void expectForm(const IffReader& reader, const char* type, const char* what = nullptr) {
    if (reader.isForm() && !reader.eof() && reader.formType() == type) return;
    throw FormatError(std::string("expected ") + (what ? what : "FORM " + quoteId(type)) + ", found " + reader.describe());
}

void expectChunk(const IffReader& reader, const char* id, const char* what = nullptr) {
    if (!reader.isForm() && !reader.eof() && reader.chunkName() == id) return;
    throw FormatError(std::string("expected ") + (what ? what : "chunk " + quoteId(id)) + ", found " + reader.describe());
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
        throw WriteError("the image library refused an image of " + std::to_string(width) + " x " + std::to_string(height));
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

// Loads the palette file a NAME chunk points to; its failures name the palette and the path tried.
void loadPalette(std::optional<PalFile>& palfile, const std::string& palettename) {
    const std::string path = findPalette(palettename);
    const std::string where = "palette \"" + palettename + "\" (" + path + "): ";
    try {
        palfile.emplace(path);
    } catch (FileNotFoundException* error) {
        const std::unique_ptr<FileNotFoundException> owned(error);
        throw FormatError(where + error->what());
    } catch (const FormatError& error) {
        throw FormatError(where + error.what());
    }
}

}  // namespace

MatFile::MatFile(std::string path) {
    IffReader reader(path);
    if (reader.isForm() && !reader.eof() && reader.formType() == "ANIM") return;
    expectForm(reader, "BITM", "FORM 'BITM' or 'ANIM'");
    reader.enterForm();
    expectForm(reader, "FRAM");
    reader.enterForm();
    expectChunk(reader, "INFO");
    {
        const std::unique_ptr<Chunk> info = reader.readChunk();
        if (info->getLength() < 12)
            throw FormatError("chunk 'INFO' holds " + std::to_string(info->getLength()) + " bytes, fewer than the 12 it needs");
        width = info->readInt();
        height = info->readInt();
        type = info->readInt();
    }
    printLine("type ", std::to_string(type));

    if (!reader.isForm() || reader.eof()) {
        expectChunk(reader, "HOTS", "chunk 'HOTS' or FORM 'PAL '");
        reader.skip();
    }
    expectForm(reader, "PAL ");
    reader.enterForm();

    std::unique_ptr<Chunk> palettechunk;
    std::optional<PalFile> palfile;
    const std::uint8_t* colours = nullptr;
    if (!reader.isForm() && !reader.eof() && reader.chunkName() == "CMAP") {
        palettechunk = reader.readChunk();
        if (palettechunk->getLength() != 256 * 3)
            throw FormatError("the embedded colour table 'CMAP' holds " + std::to_string(palettechunk->getLength()) +
                              " bytes, not 768");
        colours = palettechunk->getData();
    } else {
        expectChunk(reader, "NAME", "chunk 'CMAP' or 'NAME' in FORM 'PAL '");
        const std::unique_ptr<Chunk> namechunk = reader.readChunk();
        if (!namechunk->hasMore()) throw FormatError("the palette name in chunk 'NAME' is empty");
        loadPalette(palfile, namechunk->readString());
        colours = palfile->getPalette();
    }

    expectChunk(reader, "PXLS");
    std::unique_ptr<Chunk> pixelschunk = reader.readChunk();

    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilEnable(IL_FILE_OVERWRITE);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);

    const std::int64_t pixels = pixelCount(width, height);
    bool alpha = false;
    std::unique_ptr<Chunk> alphachunk;
    if (!reader.eof()) {
        expectChunk(reader, "ALPH", "chunk 'ALPH' or the end of the file after 'PXLS'");
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

    if (pixels < 0)
        throw FormatError("the image size " + std::to_string(width) + " x " + std::to_string(height) + " cannot be converted");
    if (pixelschunk->getLength() != pixels)
        throw FormatError("the pixel plane 'PXLS' holds " + std::to_string(pixelschunk->getLength()) + " bytes, but " +
                          std::to_string(width) + " x " + std::to_string(height) + " needs " + std::to_string(pixels));
    LibraryImage image;
    texImage(width, height, alpha ? 4 : 3, alpha ? IL_RGBA : IL_RGB, nullptr);
    // expanded straight into the library's image: a buffer of our own would be one more full-size copy
    std::uint8_t* out = ilGetData();
    if (!out) throw WriteError("the image library has no memory for the image");
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
