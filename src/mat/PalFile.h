#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "iff/Chunk.h"

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
    const timespec& modified() const { return mtime; }

private:
    std::unique_ptr<Chunk> palettechunk;
    timespec mtime{};
};
