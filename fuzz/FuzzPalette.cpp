// libFuzzer target: one input is a palette file of any format matpal imports; what is
// accepted must hold 1 to 256 colours and come back unchanged through this project's own format.

#include <cstdint>
#include <cstdlib>

#include "iff/FormatError.h"
#include "palette/PaletteFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    palette::Imported imported{palette::Format::iff, {}};
    try {
        imported = palette::importPalette(data, size);
    } catch (const FormatError&) {
        return 0;
    }
    if (imported.count() < 1 || imported.count() > 256 || imported.colours.size() % 3 != 0) std::abort();
    colour::Palette entries{};
    std::copy(imported.colours.begin(), imported.colours.end(), entries.begin());
    const palette::Bytes again = palette::exportPalette(palette::Format::iff, entries, "");
    if (palette::importPalette(again.data(), again.size()).colours != palette::Bytes(entries.begin(), entries.end())) std::abort();
    return 0;
}
