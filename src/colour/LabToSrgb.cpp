#include "colour/LabToSrgb.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "colour/Terms.h"

namespace colour {

Rgb nearestCode(const double* linear, const Lab& want) {
    int low[3];
    for (int c = 0; c < 3; ++c) low[c] = std::clamp(int(std::floor(encodeSrgb(std::clamp(linear[c], 0.0, 1.0)) * 255)), 0, 254);
    Rgb best{};
    double least = std::numeric_limits<double>::infinity();
    for (int corner = 0; corner < 8; ++corner) {
        const Rgb code{std::uint8_t(low[0] + (corner >> 2 & 1)), std::uint8_t(low[1] + (corner >> 1 & 1)), std::uint8_t(low[2] + (corner & 1))};
        const Lab lab = labFromSrgb(code[0], code[1], code[2]);
        const double d = (lab.L - want.L) * (lab.L - want.L) + (lab.a - want.a) * (lab.a - want.a) + (lab.b - want.b) * (lab.b - want.b);
        if (d < least) least = d, best = code;
    }
    return best;
}

void linearFromLab(const Lab& want, double* rgb) {
    const double fy = (want.L + 16) / 116, y = want.L > 8 ? fy * fy * fy : want.L / kappa;
    for (int c = 0; c < 3; ++c) rgb[c] = std::clamp(y, 0.0, 1.0);
    for (int step = 0; step < 8; ++step) {
        const Lab at = labFromLinear(rgb[0], rgb[1], rgb[2]);
        const double miss[3] = {want.L - at.L, want.a - at.a, want.b - at.b};
        if (miss[0] * miss[0] + miss[1] * miss[1] + miss[2] * miss[2] < 1e-8) break;
        double j[3][3];
        for (int c = 0; c < 3; ++c) {
            double moved[3] = {rgb[0], rgb[1], rgb[2]};
            const double h = moved[c] > 0.5 ? -1e-6 : 1e-6;
            moved[c] += h;
            const Lab m = labFromLinear(moved[0], moved[1], moved[2]);
            j[0][c] = (m.L - at.L) / h, j[1][c] = (m.a - at.a) / h, j[2][c] = (m.b - at.b) / h;
        }
        const double det = j[0][0] * (j[1][1] * j[2][2] - j[1][2] * j[2][1]) - j[0][1] * (j[1][0] * j[2][2] - j[1][2] * j[2][0]) +
                           j[0][2] * (j[1][0] * j[2][1] - j[1][1] * j[2][0]);
        if (std::abs(det) < 1e-12) break;
        double delta[3];
        for (int c = 0; c < 3; ++c) {
            // Cramer's rule: the column c replaced by the miss
            double m[3][3];
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 3; ++k) m[r][k] = k == c ? miss[r] : j[r][k];
            delta[c] = (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                        m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0])) / det;
        }
        for (int c = 0; c < 3; ++c) rgb[c] = std::clamp(rgb[c] + delta[c], 0.0, 1.0);
    }
}

Rgb codeOfLab(const Lab& want) {
    double linear[3];
    linearFromLab(want, linear);
    return nearestCode(linear, want);
}

}  // namespace colour
