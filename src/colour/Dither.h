#pragma once

#include <cstdint>

namespace colour {

// Floyd-Steinberg error diffusion into a palette, in linear light, serpentine, deterministic, over the picture
// as it tiles: error leaving an edge enters the opposite one, so that no seam shows where copies meet. The
// rows run from the middle one around, each from a column of its own; where a row, or the whole, starts
// and ends lies inside the picture, scattered, instead of along its edges. Not `tiled`, the rows run from the
// top, each from its first pixel, and error leaving the picture goes to the neighbours inside it instead. The error a pixel carries is clamped, so that a colour the palette
// cannot reach does not pile up error that floods an area with one entry. Each pixel takes the entry
// nearest to its colour plus the carried error by CIEDE2000 without its rotation term RT, computed in
// floats (CIELAB's curve from a table), ties to the lowest index; the search is exact for that difference.
//
// `rgba`: the image, top row first; `open`: per pixel, nonzero for a pixel to dither. A pixel that is not
// open keeps its index in `indices` and neither takes nor passes error: its neighbours share its part.
// `colours`: 256 entries of red, green, blue. `indices`: one per pixel, in the image's order.
void dither(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, const std::uint8_t* colours,
            const std::uint8_t* open, std::uint8_t* indices, bool tiled = true);

}  // namespace colour
