#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "iff/Chunk.h"
#include "image/PngImage.h"

// The ALPH content a MAT file gets from its sources, or nothing for a file without one: the
// colour image's alpha channel, and the alpha image `maskname` when it exists (255 minus its grey,
// bottom row first). Where both exist and differ, the one still equal to the stored plane is the
// one left unedited, so the other wins; where neither exists, the stored plane stays.
// `stored`: the file's ALPH, null for a file without one or a new file; `sameSize`: whether the
// image keeps the file's size; `imagename` names the colour image in reasons.
std::optional<std::vector<std::uint8_t>> chooseAlpha(const PngImage& image, const Chunk* stored, bool sameSize,
                                                     const std::string& imagename, const std::string& maskname);
