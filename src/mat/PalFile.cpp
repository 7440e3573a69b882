#include "mat/PalFile.h"

#include "iff/FormatError.h"
#include "iff/IffReader.h"
#include "mat/PaletteLookup.h"

PalFile::PalFile(std::string path) {
    IffReader reader(path);
    reader.expectForm("PAL ");
    reader.enterForm();
    reader.expectChunk("CMAP", "chunk 'CMAP' first in FORM 'PAL '");
    palettechunk = reader.readChunk();
    // every index 0 to 255 can occur in the pixels, so the table must be complete
    if (palettechunk->getLength() < 256 * 3)
        throw FormatError("the colour table 'CMAP' holds " + std::to_string(palettechunk->getLength()) +
                          " bytes, fewer than 768");
}

PalFile::~PalFile() = default;

void loadPalette(std::optional<PalFile>& palfile, const std::string& palettename, const PaletteLookup& lookup) {
    const std::string path = lookup.find(palettename);
    const std::string where = "palette \"" + palettename + "\" (" + path + "): ";
    try {
        palfile.emplace(path);
    } catch (const Error& error) {
        std::rethrow_exception(error.withPrefix(where));
    }
}
