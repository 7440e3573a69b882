#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "iff/Chunk.h"
#include "iff/IffReader.h"
#include "fs/Limits.h"
#include "mat/PalFile.h"


// The structure of one MAT file, read in three steps so that a caller can act
// between them: the constructor reads up to INFO, readPalette() the optional
// HOTS and the palette form, readPlanes() PXLS and the optional ALPH. Every
// deviation raises FormatError naming what was expected and what was found.
class MatReader {
public:
    // Stops after the outer form's header when it is "ANIM" (see isAnim()).
    explicit MatReader(const std::string& path);
    virtual ~MatReader();
    MatReader(const MatReader&) = delete;
    MatReader& operator=(const MatReader&) = delete;

    // A named palette is looked up in the folders of `lookup`.
    void readPalette(const PaletteLookup& lookup = PaletteLookup());
    void readPlanes();
    // Instead of the two steps above, for a decision on the file that needs neither its palette nor
    // its planes: the palette name it holds (empty for an embedded table) and whether its ALPH
    // plane holds one byte per pixel, so that mat2png writes an alpha image for it.
    struct Outline {
        std::string palette;
        bool alpha = false;
    };
    Outline outline();
    // Raises FormatError unless the size can be converted and PXLS holds one byte per pixel.
    void requirePixels() const;

    bool isAnim() const { return anim; }
    std::int32_t width() const { return w; }
    std::int32_t height() const { return h; }
    std::int32_t type() const { return t; }
    std::int64_t pixelCount() const { return convertiblePixels(w, h); }
    // Whether an ALPH plane of `length` bytes holds one byte per pixel, as an alpha image needs.
    bool alphaFits(std::int64_t length) const { return pixelCount() > 0 && length == pixelCount(); }
    const Chunk& info() const { return *infochunk; }
    // Null when the file has no HOTS, or no ALPH.
    const Chunk* hots() const { return hotschunk.get(); }
    const Chunk* alpha() const { return alphachunk.get(); }
    // The CMAP or NAME chunk as stored in FORM 'PAL '.
    const Chunk& palette() const { return *palettechunk; }
    // 256 entries of red, green, blue: the embedded table or the named palette file's.
    const std::uint8_t* colours() const { return palfile ? palfile->getPalette() : palettechunk->getData(); }
    const Chunk& pixels() const { return *pixelschunk; }
    // The MAT file's modification time.
    const timespec& modifiedTime() const { return reader.modified(); }
    // Frees the planes and the palette once they are spent.
    void release();

private:
    IffReader reader;
    bool anim = false;
    std::int32_t w = 0, h = 0, t = 0;
    std::unique_ptr<Chunk> infochunk, hotschunk, palettechunk, pixelschunk, alphachunk;
    std::optional<PalFile> palfile;
};
