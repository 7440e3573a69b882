#include "mat/PalFile.h"

#include "iff/FormatError.h"
#include "iff/IffReader.h"

PalFile::PalFile(std::string path) {
    IffReader reader(path);
    if (reader.formType() != "PAL ") throw FormatError("palette form type is not PAL");
    reader.enterForm();
    if (reader.chunkName() != "CMAP") throw FormatError("palette does not start with CMAP");
    palettechunk = reader.readChunk();
    // every index 0 to 255 can occur in the pixels, so the table must be complete
    if (palettechunk->getLength() < 256 * 3) throw FormatError("palette has fewer than 256 colours");
}

PalFile::~PalFile() = default;
