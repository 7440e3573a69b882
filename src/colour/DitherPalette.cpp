#include "colour/DitherPalette.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <numeric>

#include "colour/Terms.h"
#include "colour/Lab.h"

namespace colour {

namespace {

// sRGB's primaries to XYZ, each row divided by white's, so that X, Y and Z of in-gamut colours run to 1
constexpr auto toXyz = [] {
    std::array<std::array<float, 3>, 3> matrix{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) matrix[i][j] = static_cast<float>(srgbToXyz[i][j] / white[i]);
    return matrix;
}();

// CIELAB's curve f on 0 to 1, interpolated in a table: within a thousandth of a CIELAB unit
class LabCurve {
public:
    LabCurve() {
        for (int i = 0; i <= steps + 1; ++i) table[i] = static_cast<float>(labCurve(double(i) / steps));
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

const LabCurve fastLabCurve;

// a float's bits, as std::bit_cast gives them (which WebAssembly's C++ library lacks)
std::uint32_t bitsOf(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// The difference squared between `lab` (with chroma c1) and entries first to last of the arrays given.
void measure(const float* lab, float c1, const float* ls, const float* as, const float* bs, const float* cs,
             unsigned first, unsigned last, float* __restrict distances) {
    const float l1 = lab[0], a1 = lab[1], b1 = lab[2];
    for (unsigned n = first; n < last; ++n) {
        const auto [dl, sl, cp1, cp2, dc, u1, v1, u2, v2, dh2] = differences(l1, a1, b1, c1, ls[n], as[n], bs[n], cs[n]);
        const float wu = u1 + u2, wv = v1 + v2, rw = 1 / std::sqrt(std::max(wu * wu + wv * wv, 1e-12f));
        const float co = wu * rw, si = wv * rw;
        const float t = hueTerm(co, si);
        const float cBarP = (cp1 + cp2) / 2, sc = chromaWeight(cBarP), sh = hueWeight(cBarP, t);
        distances[n] = dl * dl / (sl * sl) + dc * dc / (sc * sc) + dh2 / (sh * sh);
    }
}

}  // namespace

DitherPalette::DitherPalette(const std::uint8_t* colours) {
    float lab[256][3];
    for (unsigned n = 0; n < 256; ++n) {
        for (int k = 0; k < 3; ++k) linearLight[n][k] = static_cast<float>(linearFromSrgb(colours[3 * n + k]));
        labOf(linearLight[n], lab[n]);
    }
    unsigned order[256];
    std::iota(order, order + 256, 0u);
    std::stable_sort(order, order + 256, [&](unsigned x, unsigned y) { return lab[x][0] < lab[y][0]; });
    for (unsigned n = 0; n < 256; ++n) {
        index[n] = static_cast<std::int32_t>(order[n]);
        place[order[n]] = static_cast<std::uint8_t>(n);
        l[n] = lab[order[n]][0], a[n] = lab[order[n]][1], b[n] = lab[order[n]][2];
        c[n] = std::sqrt(a[n] * a[n] + b[n] * b[n]);
    }
}

void DitherPalette::labOf(const float* rgb, float* lab) {
    float f[3];
    for (int i = 0; i < 3; ++i) f[i] = fastLabCurve(toXyz[i][0] * rgb[0] + toXyz[i][1] * rgb[1] + toXyz[i][2] * rgb[2]);
    lab[0] = 116 * f[1] - 16, lab[1] = 500 * (f[0] - f[1]), lab[2] = 200 * (f[1] - f[2]);
}

// the bound loops run twice as wide where the processor has AVX2
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default"), flatten))
#endif
unsigned DitherPalette::nearest(const float* lab, unsigned from) const {
    const float l1 = lab[0], a1 = lab[1], b1 = lab[2], c1 = std::sqrt(a1 * a1 + b1 * b1);
    const auto euclidean = [&](unsigned n) {
        const float dl = l[n] - l1, da = a[n] - a1, db = b[n] - b1;
        return dl * dl + da * da + db * db;
    };
    // the guess: about the nearest entry in CIELAB, among those as near in L as the last pixel's entry
    const float near = std::sqrt(euclidean(place[from])) * 1.0001f + 1e-4f;
    const unsigned low = static_cast<unsigned>(std::lower_bound(l, l + 256, l1 - near) - l);
    const unsigned high = static_cast<unsigned>(std::upper_bound(l, l + 256, l1 + near) - l);
    std::uint32_t nearestKey = ~0u;  // the distance's bits with the place in the low byte, so that one minimum finds both
    for (unsigned n = low; n < high; ++n) nearestKey = std::min(nearestKey, (bitsOf(euclidean(n)) & ~0xFFu) | n);
    const unsigned guess = nearestKey & 0xFF;
    float guessed;
    measure(lab, c1, l + guess, a + guess, b + guess, c + guess, 0, 1, &guessed);
    // The difference is at least |dL| / SL, SL growing with |L' - 50| up to its largest on 0 to 100: only entries
    // that near in L can be as near as the guess, with SL at most its value at the far end of that window.
    const float reach0 = std::sqrt(guessed) * 1.0001f + 1e-4f, far = std::abs(l1 - 50) + reach0 * float(maxLightnessWeight) / 2;
    const float farSL = lightnessWeight(far), reach = reach0 * farSL * 1.0001f;
    const unsigned first = static_cast<unsigned>(std::lower_bound(l, l + 256, l1 - reach) - l);
    const unsigned last = static_cast<unsigned>(std::upper_bound(l, l + 256, l1 + reach) - l);
    // A cheap bound rules out most of them: SH <= SC, C' <= 1.5 C and dH'^2 + dC'^2 >= da^2 + db^2.
    // What is left is gathered, so that the full measure runs in vector registers.
    const float limit = guessed * 1.0002f + 1e-6f, wl = 1 / (farSL * farSL);
    float kl[256], ka[256], kb[256], kc[256], distances[256];
    std::int32_t ki[256];
    unsigned count = 0;
    for (unsigned n = first; n < last; ++n) {
        const float dl = l[n] - l1, da = a[n] - a1, db = b[n] - b1, sc = 1 + 0.03375f * (c[n] + c1);
        kl[count] = l[n], ka[count] = a[n], kb[count] = b[n], kc[count] = c[n], ki[count] = index[n];
        count += wl * dl * dl + (da * da + db * db) / (sc * sc) <= limit;
    }
    measure(lab, c1, kl, ka, kb, kc, 0, count, distances);
    // as integers, which order as the floats do since none is negative
    std::int32_t least = INT32_MAX, best = 255;
    for (unsigned k = 0; k < count; ++k) least = std::min(least, std::int32_t(bitsOf(distances[k])));
    for (unsigned k = 0; k < count; ++k) best = std::min(best, std::int32_t(bitsOf(distances[k])) == least ? ki[k] : 255);
    return static_cast<unsigned>(best);
}

float DitherPalette::difference(const float* lab, unsigned entry) const {
    const unsigned n = place[entry];
    float d;
    measure(lab, std::sqrt(lab[1] * lab[1] + lab[2] * lab[2]), l + n, a + n, b + n, c + n, 0, 1, &d);
    return d;
}

}  // namespace colour
