#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "colour/Palette.h"

// Palette files of other programs, in memory: 256 entries written out in one of the formats, and
// any of them (or any colour-mapped PNG) read back, recognised by content.
namespace palette {

using Bytes = std::vector<std::uint8_t>;
enum class Format {
    gpl,   // GIMP palette, text
    act,   // Photoshop colour table: 768 RGB bytes, count and transparent index
    jasc,  // JASC-PAL text (Paint Shop Pro, Aseprite, Pro Motion)
    riff,  // Microsoft RIFF "PAL " file
    png,   // a swatch picture: 16 x 16 cells of 16 pixels, 8-bit colour-mapped
    iff,   // this project's own FORM 'PAL ' with a 768-byte CMAP
};

// "gpl", "act", "jasc", "riff", "png", "iff".
const char* formatName(Format format);
// The format of that name, or nothing.
std::optional<Format> formatNamed(std::string_view name);
// Whether the format is text, fit to go to a terminal.
bool isText(Format format);

// The file of `format` holding `entries`; `name` is the palette's name where the format keeps one
// (gpl), with control characters and bytes that are not UTF-8 replaced by blanks.
Bytes exportPalette(Format format, const colour::Palette& entries, const std::string& name);

struct Imported {
    Format format;
    // 1 to 256 colours of red, green, blue, in the file's order.
    std::vector<std::uint8_t> colours;
    std::size_t count() const { return colours.size() / 3; }
};

// The colours of a palette file of any format above, or of any colour-mapped PNG (its PLTE). Whatever
// is wrong raises FormatError with the reason; text quoted from the file is escaped (see fs/TerminalText.h).
Imported importPalette(const std::uint8_t* data, std::size_t size);


}  // namespace palette
