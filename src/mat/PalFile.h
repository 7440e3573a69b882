#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "iff/Chunk.h"
#include "mat/PaletteLookup.h"

// A palette file: FORM "PAL " whose first child is a CMAP colour table of at
// least 768 bytes. The colour table lives as long as the PalFile.
class PalFile {
public:
    explicit PalFile(std::string path);
    virtual ~PalFile();
    PalFile(const PalFile&) = delete;
    PalFile& operator=(const PalFile&) = delete;

    // 768 bytes: 256 entries of red, green, blue.
    const std::uint8_t* getPalette() const { return palettechunk->getData(); }

private:
    std::unique_ptr<Chunk> palettechunk;
};

// Loads the palette file that a palette name points to (see PaletteLookup); a failure raises the
// error of its kind (ReadError, FormatError, Refusal) naming the palette and the path tried.
void loadPalette(std::optional<PalFile>& palfile, const std::string& palettename, const PaletteLookup& lookup = PaletteLookup());
