#include "colour/Dither.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "colour/Terms.h"
#include "colour/DitherPalette.h"
#include "colour/Lab.h"

namespace {

// The most error a pixel may carry in linear light: in its luminance (Y), and in its colour apart from that
// (error with the same Y in every channel taken away), in any channel. Colour error the palette cannot work
// off stops growing there, while the lightness still comes out right on average.
constexpr float maxLuminanceError = 0.5f, maxColourError = 0.2f;
constexpr float luminance[3] = {float(colour::luminance[0]), float(colour::luminance[1]), float(colour::luminance[2])};
constexpr int cellBits = 6, cellCount = 1 << cellBits, linearSteps = 1 << 14;
constexpr std::uint16_t noEntry = 0xFFFF;

}  // namespace

void dither(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, const std::uint8_t* colours,
            const std::uint8_t* open, std::uint8_t* indices) {
    const DitherPalette palette(colours);
    // what the palette can show at all, per channel: a colour beyond it is aimed at its edge, so that the
    // error of an unreachable colour is not handed on to flood its neighbours with the nearest extreme
    float lowest[3] = {1, 1, 1}, highest[3] = {0, 0, 0};
    for (unsigned index = 0; index < 256; ++index)
        for (int c = 0; c < 3; ++c) {
            lowest[c] = std::min(lowest[c], palette.linear(index)[c]);
            highest[c] = std::max(highest[c], palette.linear(index)[c]);
        }
    float decode[256];
    for (int v = 0; v < 256; ++v) decode[v] = static_cast<float>(linearFromSrgb(static_cast<std::uint8_t>(v)));
    // The entry for a wanted colour is searched for once per cell of the colour cube, the colour rounded to
    // cellBits a channel of its sRGB encoding, and kept: a photograph's wanted colours fall in few cells, and
    // the error handed on is reckoned from the colour itself, so the rounding evens out like any other error.
    std::vector<std::uint8_t> cellOf(linearSteps + 1);
    for (int i = 0; i <= linearSteps; ++i) {
        const double encoded = colour::encodeSrgb(double(i) / linearSteps);
        cellOf[i] = static_cast<std::uint8_t>(std::lround(encoded * 255) >> (8 - cellBits));
    }
    std::vector<std::uint16_t> cells(std::size_t{1} << 3 * cellBits, noEntry);
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
                want[c] = std::clamp(decode[in[c]] + clampedY + (carried[c] - ey) * keep, lowest[c], highest[c]);
                carried[c] = 0;
            }
            std::size_t cell = 0;
            for (int c = 0; c < 3; ++c) cell = cell << cellBits | cellOf[static_cast<std::size_t>(want[c] * linearSteps + 0.5f)];
            if (cells[cell] == noEntry) {
                // the cell's middle stands for it, so that the entry does not depend on which colour came first
                float middle[3];
                for (int c = 0; c < 3; ++c) {
                    const int code = static_cast<int>(cell >> cellBits * (2 - c) & (cellCount - 1));
                    middle[c] = decode[code << (8 - cellBits) | (1 << (7 - cellBits))];
                }
                DitherPalette::labOf(middle, lab);
                cells[cell] = static_cast<std::uint16_t>(previous = palette.nearest(lab, previous));
            }
            const unsigned index = cells[cell];
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
