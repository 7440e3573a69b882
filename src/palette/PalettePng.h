#pragma once

#include "palette/PaletteFormats.h"

// The PNG side of the palette formats, written and read with libpng in memory.
namespace palette {

// 256 x 256 pixels, 8-bit colour-mapped: 16 x 16 cells of 16 pixels, entry n in row n / 16, column n % 16.
Bytes swatchPng(const Entries& entries);

// The PLTE of a colour-mapped PNG, once the whole file has decoded; anything else raises FormatError.
Imported pngPalette(const std::uint8_t* data, std::size_t size);

}  // namespace palette
