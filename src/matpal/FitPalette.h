#pragma once

#include <array>
#include <cstdint>

#include "matpal/Histogram.h"
#include "palette/PaletteFormats.h"

// Palette entries that a new palette takes over unchanged from another one.
struct KeptEntries {
    std::array<bool, 256> kept{};
    palette::Entries colours{};  // the colours of the kept entries, at their indices
    int count() const;
};

// A palette for the colours of `histogram`: the kept entries as they are, and up to `colours`
// fitted colours in the free entries from the lowest index on; entries left over are black. The
// result depends on the histogram alone, never on the order in which its images were read.
palette::Entries fitPalette(const Histogram& histogram, int colours, const KeptEntries& keep);
