#include "colour/Dither.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <numeric>
#include <vector>

#include "colour/Lab.h"

namespace {

// The most error a pixel may carry in linear light: in its luminance (Y), and in its colour apart from that
// (error with the same Y in every channel taken away), in any channel. Colour error the palette cannot work
// off stops growing there, while the lightness still comes out right on average.
constexpr float maxLuminanceError = 0.5f, maxColourError = 0.2f;
// sRGB's primaries to XYZ, each row divided by white's (its sum), so that X, Y and Z of in-gamut colours run to 1
constexpr float toXyz[3][3] = {{0.4124564f / 0.9504700f, 0.3575761f / 0.9504700f, 0.1804375f / 0.9504700f},
                               {0.2126729f, 0.7151522f, 0.0721750f},
                               {0.0193339f / 1.0888300f, 0.1191920f / 1.0888300f, 0.9503041f / 1.0888300f}};
constexpr float luminance[3] = {toXyz[1][0], toXyz[1][1], toXyz[1][2]};

// CIELAB's curve f on 0 to 1, interpolated in a table: within a thousandth of a CIELAB unit
class LabCurve {
public:
    LabCurve() {
        for (int i = 0; i <= steps + 1; ++i) {
            const double t = double(i) / steps, edge = 6.0 / 29;
            table[i] = static_cast<float>(t > edge * edge * edge ? std::cbrt(t) : t / (3 * edge * edge) + 4.0 / 29);
        }
    }
    float operator()(float t) const {
        const float at = std::clamp(t, 0.0f, 1.0f) * steps;
        const int i = static_cast<int>(at);
        return table[i] + (table[i + 1] - table[i]) * (at - static_cast<float>(i));
    }

private:
    static constexpr int steps = 8192;
    float table[steps + 2];
};

const LabCurve labCurve;

// The palette by ascending L for the nearest search by Euclidean distance in CIELAB.
struct Palette {
    float linear[256][3];
    float l[256], a[256], b[256];  // sorted by L, ties by index
    std::int32_t index[256];       // the entry at each sorted place
    std::uint8_t place[256];       // the sorted place of each entry

    explicit Palette(const std::uint8_t* colours) {
        float lab[256][3];
        for (unsigned n = 0; n < 256; ++n) {
            for (int c = 0; c < 3; ++c) linear[n][c] = static_cast<float>(linearFromSrgb(colours[3 * n + c]));
            labOf(linear[n], lab[n]);
        }
        unsigned order[256];
        std::iota(order, order + 256, 0u);
        std::stable_sort(order, order + 256, [&](unsigned x, unsigned y) { return lab[x][0] < lab[y][0]; });
        for (unsigned n = 0; n < 256; ++n) {
            index[n] = static_cast<std::int32_t>(order[n]);
            place[order[n]] = static_cast<std::uint8_t>(n);
            l[n] = lab[order[n]][0], a[n] = lab[order[n]][1], b[n] = lab[order[n]][2];
        }
    }

    static void labOf(const float* rgb, float* lab) {
        float f[3];
        for (int i = 0; i < 3; ++i) f[i] = labCurve(toXyz[i][0] * rgb[0] + toXyz[i][1] * rgb[1] + toXyz[i][2] * rgb[2]);
        lab[0] = 116 * f[1] - 16, lab[1] = 500 * (f[0] - f[1]), lab[2] = 200 * (f[1] - f[2]);
    }

    // The entry nearest to `lab`, ties to the lowest index. Only entries whose difference in L alone is within
    // the distance of the guess `from` can be as near, and they lie together in L's order.
    unsigned nearest(const float* lab, unsigned from) const {
        const float dl = l[place[from]] - lab[0], da = a[place[from]] - lab[1], db = b[place[from]] - lab[2];
        const float reach = std::sqrt(dl * dl + da * da + db * db) * 1.0001f + 1e-4f;
        const unsigned first = static_cast<unsigned>(std::lower_bound(l, l + 256, lab[0] - reach) - l);
        const unsigned last = static_cast<unsigned>(std::upper_bound(l, l + 256, lab[0] + reach) - l);
        // squared distances as integers, which order as the floats do since none is negative
        std::int32_t distances[256];
        std::int32_t least = INT32_MAX;
        for (unsigned n = first; n < last; ++n) {
            const float el = l[n] - lab[0], ea = a[n] - lab[1], eb = b[n] - lab[2];
            distances[n] = std::bit_cast<std::int32_t>(el * el + ea * ea + eb * eb);
            least = std::min(least, distances[n]);
        }
        std::int32_t best = 255;
        for (unsigned n = first; n < last; ++n) best = std::min(best, distances[n] == least ? index[n] : 255);
        return static_cast<unsigned>(best);
    }
};

}  // namespace

// the search's loops run twice as wide where the processor has AVX2
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default"), flatten))
#endif
void dither(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height, const std::uint8_t* colours,
            const std::uint8_t* open, std::uint8_t* indices) {
    const Palette palette(colours);
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
            Palette::labOf(want, lab);
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
