#include "colour/Dither.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "colour/Terms.h"
#include "colour/DitherPalette.h"
#include "colour/Lab.h"

namespace colour {

namespace {

// The most error a pixel may carry in linear light: in its luminance (Y), and in its colour apart from that
// (error with the same Y in every channel taken away), in any channel. Colour error the palette cannot work
// off stops growing there, while the lightness still comes out right on average.
constexpr float maxLuminanceError = 0.5f, maxColourError = 0.2f;
constexpr float luminanceFloat[3] = {float(luminance[0]), float(luminance[1]), float(luminance[2])};
constexpr int cellBits = 6, cellCount = 1 << cellBits, linearSteps = 1 << 14;
constexpr std::uint16_t noEntry = 0xFFFF;

// Rows start at a column of their own, at least this far from the edges while the picture is four times as wide:
// where a row starts and ends, the error diffused ahead has nowhere to go, which must not line up into a seam.
constexpr long startMargin = 8;

}  // namespace

void dither(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, const std::uint8_t* colours,
            const std::uint8_t* open, std::uint8_t* indices, bool tiled) {
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
        const double encoded = encodeSrgb(double(i) / linearSteps);
        cellOf[i] = static_cast<std::uint8_t>(std::lround(encoded * 255) >> (8 - cellBits));
    }
    std::vector<std::uint16_t> cells(std::size_t{1} << 3 * cellBits, noEntry);
    unsigned previous = 0;
    const long w = long(width);
    // the entry for a pixel's colour plus the error it carries (clamped); `want` gets the colour aimed at
    const auto choose = [&](const std::uint8_t* in, float* carried, float* want) {
        const float ey = luminanceFloat[0] * carried[0] + luminanceFloat[1] * carried[1] + luminanceFloat[2] * carried[2];
        const float spread = std::max({std::abs(carried[0] - ey), std::abs(carried[1] - ey), std::abs(carried[2] - ey)});
        const float keep = spread > maxColourError ? maxColourError / spread : 1;
        const float clampedY = std::clamp(ey, -maxLuminanceError, maxLuminanceError);
        for (int c = 0; c < 3; ++c) want[c] = std::clamp(decode[in[c]] + clampedY + (carried[c] - ey) * keep, lowest[c], highest[c]);
        std::size_t cell = 0;
        for (int c = 0; c < 3; ++c) cell = cell << cellBits | cellOf[static_cast<std::size_t>(want[c] * linearSteps + 0.5f)];
        if (cells[cell] == noEntry) {
            // the cell's middle stands for it, so that the entry does not depend on which colour came first
            float middle[3], lab[3];
            for (int c = 0; c < 3; ++c) {
                const int code = static_cast<int>(cell >> cellBits * (2 - c) & (cellCount - 1));
                middle[c] = decode[code << (8 - cellBits) | (1 << (7 - cellBits))];
            }
            DitherPalette::labOf(middle, lab);
            cells[cell] = static_cast<std::uint16_t>(previous = palette.nearest(lab, previous));
        }
        return unsigned{cells[cell]};
    };
    const auto wrap = [&](long x) { return x < 0 ? x + w : x >= w ? x - w : x; };
    // the error carried into this row and the next, three channels a pixel
    std::vector<float> rows(6 * std::size_t{width}, 0.0f);
    float* here = rows.data();
    float* below = here + 3 * std::size_t{width};
    const long margin = std::min(startMargin, w / 4);
    // `order`: how many rows came before, whose parity gives the direction (serpentine)
    const auto row = [&](std::uint32_t y, std::uint32_t order) {
        const long ahead = order % 2 == 0 ? 1 : -1;
        const std::size_t rowStart = std::size_t{y} * width;
        const std::uint8_t* isOpen = open + rowStart;
        const std::uint8_t* nextOpen = tiled || y + 1 < height ? open + std::size_t{(y + 1) % height} * width : nullptr;
        // as it tiles, a start drawn from the row's number, so that the result is the same on every run
        const std::uint64_t drawn = (std::uint64_t{y} + 1) * 0x9E3779B97F4A7C15ull >> 32;
        long x = tiled ? margin + long(drawn % std::uint64_t(w - 2 * margin)) : ahead > 0 ? 0 : w - 1;
        for (std::uint32_t step = 0; step < width; ++step, x = wrap(x + ahead)) {
            if (!isOpen[x]) continue;
            float* carried = here + 3 * x;
            float want[3];
            const unsigned index = choose(rgba + 4 * (rowStart + std::size_t(x)), carried, want);
            carried[0] = carried[1] = carried[2] = 0;
            indices[rowStart + std::size_t(x)] = static_cast<std::uint8_t>(index);
            // Floyd and Steinberg's shares: 7 ahead, 3 behind below, 5 below, 1 ahead below, wrapping around the
            // edges if the picture tiles; only open pixels take them, and none goes ahead of the row's last pixel
            const long to[3] = {wrap(x - ahead), x, wrap(x + ahead)};
            const bool behindIn = tiled || to[0] == x - ahead, aheadIn = tiled || to[2] == x + ahead;
            const float shares[4] = {step + 1 < width && aheadIn && isOpen[to[2]] ? 7.0f : 0,
                                     nextOpen && behindIn && nextOpen[to[0]] ? 3.0f : 0, nextOpen && nextOpen[x] ? 5.0f : 0,
                                     nextOpen && aheadIn && nextOpen[to[2]] ? 1.0f : 0};
            const float total = shares[0] + shares[1] + shares[2] + shares[3];
            if (total == 0) continue;
            for (int c = 0; c < 3; ++c) {
                const float error = (want[c] - palette.linear(index)[c]) / total;
                here[3 * to[2] + c] += error * shares[0];
                below[3 * to[0] + c] += error * shares[1];
                below[3 * to[1] + c] += error * shares[2];
                below[3 * to[2] + c] += error * shares[3];
            }
        }
        std::swap(here, below);
        std::fill(below, below + 3 * std::size_t{width}, 0.0f);
    };
    // As it tiles, the rows run from the middle down, on from the top, and end above the middle, so that the
    // bottom edge hands its error to the top one; the first row starts with none, and the error the last one
    // hands down is dropped (forced onto the row's own pixels, it piles up into stray colours).
    const std::uint32_t first = tiled ? height / 2 : 0;
    for (std::uint32_t k = 0; k < height; ++k) row((first + k) % height, k);
}

}  // namespace colour
