#include "colour/Dither.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "colour/DitherPalette.h"
#include "colour/Lab.h"

namespace {

// The most error a pixel may carry in linear light: in its luminance (Y), and in its colour apart from that
// (error with the same Y in every channel taken away), in any channel. Colour error the palette cannot work
// off stops growing there, while the lightness still comes out right on average.
constexpr float maxLuminanceError = 0.5f, maxColourError = 0.2f;
// Y of the sRGB primaries
constexpr float luminance[3] = {0.2126729f, 0.7151522f, 0.0721750f};

}  // namespace

void dither(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, const std::uint8_t* colours,
            const std::uint8_t* open, std::uint8_t* indices) {
    const DitherPalette palette(colours);
    float decode[256];
    for (int v = 0; v < 256; ++v) decode[v] = static_cast<float>(linearFromSrgb(static_cast<std::uint8_t>(v)));
    // the error carried into this row and the next, three channels a pixel, a spare pixel at either end
    std::vector<float> rows(6 * (std::size_t{width} + 2), 0.0f);
    float* here = rows.data() + 3;
    float* below = here + 3 * (std::size_t{width} + 2);
    unsigned previous = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        const bool forward = y % 2 == 0;
        const std::size_t rowStart = std::size_t{y} * width;
        const std::uint8_t* isOpen = open + rowStart;
        const std::uint8_t* nextOpen = y + 1 < height ? isOpen + width : nullptr;
        for (std::uint32_t step = 0; step < width; ++step) {
            const std::uint32_t x = forward ? step : width - 1 - step;
            if (!isOpen[x]) continue;
            const std::uint8_t* in = rgba + 4 * (rowStart + x);
            float* carried = here + 3 * x;
            const float ey = luminance[0] * carried[0] + luminance[1] * carried[1] + luminance[2] * carried[2];
            const float spread = std::max({std::abs(carried[0] - ey), std::abs(carried[1] - ey), std::abs(carried[2] - ey)});
            const float keep = spread > maxColourError ? maxColourError / spread : 1;
            const float clampedY = std::clamp(ey, -maxLuminanceError, maxLuminanceError);
            float want[3], lab[3];
            for (int c = 0; c < 3; ++c) {
                want[c] = std::clamp(decode[in[c]] + clampedY + (carried[c] - ey) * keep, 0.0f, 1.0f);
                carried[c] = 0;
            }
            DitherPalette::labOf(want, lab);
            const unsigned index = previous = palette.nearest(lab, previous);
            indices[rowStart + x] = static_cast<std::uint8_t>(index);
            // Floyd and Steinberg's shares: 7 ahead, 3 behind below, 5 below, 1 ahead below; only open pixels take them
            const long ahead = forward ? 1 : -1;
            const auto takes = [&](const std::uint8_t* row, long dx) {
                const long nx = long(x) + dx;
                return row && nx >= 0 && nx < long(width) && row[nx];
            };
            const float shares[4] = {takes(isOpen, ahead) ? 7.0f : 0, takes(nextOpen, -ahead) ? 3.0f : 0,
                                     takes(nextOpen, 0) ? 5.0f : 0, takes(nextOpen, ahead) ? 1.0f : 0};
            const float total = shares[0] + shares[1] + shares[2] + shares[3];
            if (total == 0) continue;
            for (int c = 0; c < 3; ++c) {
                const float error = (want[c] - palette.linear(index)[c]) / total;
                here[3 * (x + ahead) + c] += error * shares[0];
                below[3 * (x - ahead) + c] += error * shares[1];
                below[3 * x + c] += error * shares[2];
                below[3 * (x + ahead) + c] += error * shares[3];
            }
        }
        std::swap(here, below);
        std::fill(below - 3, below + 3 * (std::size_t{width} + 1), 0.0f);
    }
}
