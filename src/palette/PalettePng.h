#pragma once

#include "palette/PaletteFormats.h"

// The PNG side of the palette formats, written and read with libpng in memory.
namespace palette {

// The swatch's layout, which both PNG back ends write: 16 x 16 cells of 16 pixels, entry n in row
// n / 16, column n % 16.
constexpr std::uint32_t swatchCell = 16, swatchSide = 16 * swatchCell;
constexpr std::uint8_t swatchIndex(std::uint32_t x, std::uint32_t y) { return static_cast<std::uint8_t>(y / swatchCell * 16 + x / swatchCell); }

// swatchSide x swatchSide pixels, 8-bit colour-mapped, in the layout above.
Bytes swatchPng(const colour::Palette& entries);

// The PLTE of a colour-mapped PNG, once the whole file has decoded; anything else raises FormatError.
Imported pngPalette(const std::uint8_t* data, std::size_t size);

}  // namespace palette
