#include "mat/MatReader.h"

#include "iff/FormatError.h"

MatReader::MatReader(const std::string& path) : reader(path) {
    if (reader.atForm("ANIM")) {
        anim = true;
        return;
    }
    reader.expectForm("BITM", "FORM 'BITM' or 'ANIM'");
    reader.enterForm();
    reader.expectForm("FRAM");
    reader.enterForm();
    reader.expectChunk("INFO");
    infochunk = reader.readChunk();
    if (infochunk->getLength() < 12)
        throw FormatError("chunk 'INFO' holds " + std::to_string(infochunk->getLength()) + " bytes, fewer than the 12 it needs");
    w = infochunk->readInt();
    h = infochunk->readInt();
    t = infochunk->readInt();
}

MatReader::~MatReader() = default;

void MatReader::readPalette(const PaletteLookup& lookup) {
    if (!reader.isForm() || reader.eof()) {
        reader.expectChunk("HOTS", "chunk 'HOTS' or FORM 'PAL '");
        hotschunk = reader.readChunk();
    }
    reader.expectForm("PAL ");
    reader.enterForm();
    if (reader.atChunk("CMAP")) {
        palettechunk = reader.readChunk();
        if (palettechunk->getLength() != paletteEntries * 3)
            throw FormatError("the embedded colour table 'CMAP' holds " + std::to_string(palettechunk->getLength()) +
                              " bytes, not 768");
        return;
    }
    reader.expectChunk("NAME", "chunk 'CMAP' or 'NAME' in FORM 'PAL '");
    palettechunk = reader.readChunk();
    if (!palettechunk->hasMore()) throw FormatError("the palette name in chunk 'NAME' is empty");
    loadPalette(palfile, palettechunk->readString(), lookup);
}

MatReader::Outline MatReader::outline() {
    Outline outline;
    if (!reader.isForm() || reader.eof()) reader.skip();
    reader.expectForm("PAL ");
    reader.enterForm();
    if (reader.atChunk("NAME")) {
        const std::unique_ptr<Chunk> name = reader.readChunk();
        if (name->hasMore()) outline.palette = name->readString();
    } else {
        reader.skip();
    }
    reader.expectChunk("PXLS");
    reader.skip();
    outline.alpha = reader.atChunk("ALPH") && alphaFits(reader.chunkLength());
    return outline;
}

void MatReader::readPlanes() {
    reader.expectChunk("PXLS");
    pixelschunk = reader.readChunk();
    if (reader.eof()) return;
    reader.expectChunk("ALPH", "chunk 'ALPH' or the end of the file after 'PXLS'");
    alphachunk = reader.readChunk();
}

void MatReader::requirePixels() const {
    const std::int64_t count = pixelCount();
    if (count < 0)
        throw FormatError("the image size " + std::to_string(w) + " x " + std::to_string(h) + " cannot be converted");
    if (pixelschunk->getLength() != count)
        throw FormatError("the pixel plane 'PXLS' holds " + std::to_string(pixelschunk->getLength()) + " bytes, but " +
                          std::to_string(w) + " x " + std::to_string(h) + " needs " + std::to_string(count));
}

void MatReader::release() {
    pixelschunk.reset();
    alphachunk.reset();
    palettechunk.reset();
    palfile.reset();
}
