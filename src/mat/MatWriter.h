#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A MAT file in the canonical layout, built in memory by the constructor: FORM 'BITM' holding
// FORM 'FRAM' with INFO, HOTS when there is one, FORM 'PAL ' with the palette chunk (CMAP, the
// colours, or NAME, a palette name with its terminating zero), PXLS and ALPH when there is one.
class MatWriter {
public:
    using Bytes = std::vector<std::uint8_t>;

    MatWriter(const Bytes& info, const std::optional<Bytes>& hots, const char* paletteId, const Bytes& palette,
              const Bytes& pixels, const std::optional<Bytes>& alpha);

    const Bytes& bytes() const { return data; }

    // INFO's content: `info` (12 bytes or more, as stored) with its width and height replaced.
    static Bytes sizedInfo(Bytes info, std::uint32_t width, std::uint32_t height);
    // A new file's INFO: width, height and type.
    static Bytes newInfo(std::uint32_t width, std::uint32_t height, std::int32_t type);

private:
    Bytes data;
};
