#pragma once

#include <cstdint>

namespace colour {

// A palette for dithering, in floats: its entries in linear light, and the entry nearest to a colour by
// CIEDE2000 without its rotation term RT (which only turns the blue hues), the mean hue taken from the
// bisector of the two hue directions instead of angles; ties to the lowest index. The search gives exactly
// what comparing all 256 entries gives, for a fraction of the cost.
class DitherPalette {
public:
    // `colours`: 256 entries of red, green, blue.
    explicit DitherPalette(const std::uint8_t* colours);

    // CIELAB of a colour in linear light, each channel 0 to 1, CIELAB's curve from a table.
    static void labOf(const float* rgb, float* lab);
    // That difference squared between `lab` and the entry `index`.
    float difference(const float* lab, unsigned index) const;
    // The entry nearest to `lab`; `from`, the entry of a neighbour, gives a first guess.
    unsigned nearest(const float* lab, unsigned from) const;
    const float* linear(unsigned index) const { return linearLight[index]; }

private:
    float linearLight[256][3];
    float l[256], a[256], b[256], c[256];  // CIELAB and chroma, sorted by L, ties by index
    std::int32_t index[256];               // the entry at each sorted place
    std::uint8_t place[256];               // the sorted place of each entry
};

}  // namespace colour
