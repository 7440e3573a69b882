#pragma once

#include <array>
#include <cstdint>

namespace colour {

// A whole palette: 256 entries of red, green, blue.
using Palette = std::array<std::uint8_t, 768>;

}  // namespace colour
