#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/Console.h"
#include "image/PngImage.h"

// How colours not in the palette are taken.
struct MappingRules {
    bool exact = false;   // fail the file instead
    bool rgb = false;     // nearest by RGB distance instead of CIEDE2000
    bool dither = false;  // diffuse their error
};

// Palette indices of the colour image in stored order (the image's bottom row first). A pixel that
// still shows its stored index's colour keeps that index; an indexed image keeps its indices.
// `current`: the stored indices of an image of the same size, or null; `alpha`: the plane the file
// gets, where 255 marks a fully transparent pixel; `imagename` names the image in the messages
// printed on `console`.
std::vector<std::uint8_t> mapColours(const PngImage& image, const std::uint8_t* colours, const std::uint8_t* current,
                                     const std::optional<std::vector<std::uint8_t>>& alpha, const std::string& imagename,
                                     const MappingRules& rules, const Console& console);
