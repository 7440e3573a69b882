#include "colour/Dither.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "colour/Lab.h"

namespace {

// The most error a pixel may carry in linear light: in its luminance (Y), and in its colour apart from that
// (error with the same Y in every channel taken away), in any channel. Colour error the palette cannot work
// off stops growing there, while the lightness still comes out right on average.
constexpr float maxLuminanceError = 0.5f, maxColourError = 0.2f;
constexpr float luminance[3] = {0.2126729f, 0.7151522f, 0.0721750f};

struct Palette {
    float linear[256][3];
    alignas(32) float l[256], a[256], b[256];

    explicit Palette(const std::uint8_t* colours) {
        for (unsigned n = 0; n < 256; ++n) {
            for (int c = 0; c < 3; ++c) linear[n][c] = static_cast<float>(linearFromSrgb(colours[3 * n + c]));
            const Lab e = labFromSrgb(colours[3 * n], colours[3 * n + 1], colours[3 * n + 2]);
            l[n] = static_cast<float>(e.L), a[n] = static_cast<float>(e.a), b[n] = static_cast<float>(e.b);
        }
    }

    unsigned nearest(const Lab& colour) const {
        const float l1 = static_cast<float>(colour.L), a1 = static_cast<float>(colour.a), b1 = static_cast<float>(colour.b);
        alignas(32) float distance[256];
        for (unsigned n = 0; n < 256; ++n) {
            const float dl = l[n] - l1, da = a[n] - a1, db = b[n] - b1;
            distance[n] = dl * dl + da * da + db * db;
        }
        return static_cast<unsigned>(std::min_element(distance, distance + 256) - distance);
    }
};

}  // namespace

void dither(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, const std::uint8_t* colours,
            const std::uint8_t* open, std::uint8_t* indices) {
    const Palette palette(colours);
    // the error carried into this row and the next, three channels a pixel, a spare pixel at either end
    std::vector<float> rows(6 * (std::size_t{width} + 2), 0.0f);
    float* here = rows.data() + 3;
    float* below = here + 3 * (std::size_t{width} + 2);
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
            const float y = luminance[0] * carried[0] + luminance[1] * carried[1] + luminance[2] * carried[2];
            const float spread = std::max({std::abs(carried[0] - y), std::abs(carried[1] - y), std::abs(carried[2] - y)});
            const float keep = spread > maxColourError ? maxColourError / spread : 1;
            const float clampedY = std::clamp(y, -maxLuminanceError, maxLuminanceError);
            float want[3];
            for (int c = 0; c < 3; ++c) {
                want[c] = std::clamp(static_cast<float>(linearFromSrgb(in[c])) + clampedY + (carried[c] - y) * keep, 0.0f, 1.0f);
                carried[c] = 0;
            }
            const unsigned index = palette.nearest(labFromLinear(want[0], want[1], want[2]));
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
                const float error = (want[c] - palette.linear[index][c]) / total;
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
