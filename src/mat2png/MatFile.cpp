#include "mat2png/MatFile.h"

#include <cstring>
#include <memory>

#include "mat/MatReader.h"
#include "mat2png/SaveImage.h"
#include "mat2png/WriterImage.h"

namespace {

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

void convertMatFile(const std::string& path, const std::string& output, const PaletteLookup& palettes, ColourImage colour,
                    const Console& console) {
    const bool indexed = colour == ColourImage::indexed;
    MatReader mat(path);
    if (mat.isAnim()) return;
    console.printLine("type ", std::to_string(mat.type()));
    mat.readPalette(palettes);
    mat.readPlanes();
    // the images carry the MAT file's time, by which an update run knows them current or edited
    const timespec source = mat.modifiedTime();

    const std::int32_t width = mat.width(), height = mat.height();
    const std::int64_t pixels = mat.pixelCount();
    const bool alpha = mat.alpha() && mat.alphaFits(mat.alpha()->getLength());
    if (alpha) {
        const std::string alphaname = output + "_alpha.png";
        if (indexed) {
            // the same grey levels as the library's negative, through the writer of the indexed images
            saveSamples(alphaname, width, height, mat.alpha()->getData(), nullptr, source, console.program, true);
        } else {
            WriterImage(width, height, 1, mat.alpha()->getData()).save(alphaname, source, console.program, true);
        }
        console.printLine("Wrote alpha channel in ", alphaname);
    } else {
        console.printLine("No alpha channel in ", path);
    }

    mat.requirePixels();
    if (indexed) {
        // the indices as stored, under the whole palette: an editor shows it and paints with its entries only
        saveSamples(output + ".png", width, height, mat.pixels().getData(), mat.colours(), source, console.program);
        return;
    }
    WriterImage image(width, height, alpha ? 4 : 3);
    // expanded straight into the writer's image: a buffer of our own would be one more full-size copy
    std::uint8_t* out = image.data();
    expand(mat.colours(), mat.pixels().getData(), alpha ? mat.alpha()->getData() : nullptr, static_cast<std::size_t>(pixels),
           out);
    // the planes are spent; freeing them before encoding keeps the peak at one image
    mat.release();
    image.save(output + ".png", source, console.program);
}
