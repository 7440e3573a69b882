#include "colour/Lab.h"

#include <array>
#include <cmath>

#include "colour/Terms.h"

namespace colour {

namespace {

const std::array<double, 256> linearTable = [] {
    std::array<double, 256> table{};
    for (int v = 0; v < 256; ++v) table[v] = decodeSrgb(v / 255.0);
    return table;
}();

}  // namespace

double linearFromSrgb(std::uint8_t v) { return linearTable[v]; }

Lab labFromLinear(double r, double g, double b) {
    double f[3];
    for (int i = 0; i < 3; ++i) f[i] = labCurve((srgbToXyz[i][0] * r + srgbToXyz[i][1] * g + srgbToXyz[i][2] * b) / white[i]);
    return {116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])};
}

Lab labFromSrgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return labFromLinear(linearTable[r], linearTable[g], linearTable[b]);
}

double ciede2000(const Lab& x, const Lab& y) {
    const double cBar = (std::sqrt(x.a * x.a + x.b * x.b) + std::sqrt(y.a * y.a + y.b * y.b)) / 2;
    const double g = aScale(cBar);
    const double a1 = g * x.a, a2 = g * y.a;
    const double c1 = std::sqrt(a1 * a1 + x.b * x.b), c2 = std::sqrt(a2 * a2 + y.b * y.b);
    const bool grey = c1 * c2 == 0;
    // The hues as unit vectors, which spare most of the angles: 2 sin(dh/2) is the distance between them, with
    // the sign of their cross product, and the mean hue is their bisector. Opposite hues, where the bisector
    // is undefined and the sign rests on how the hue difference wraps, take the angles.
    const double u1 = c1 > 0 ? a1 / c1 : 1, v1 = c1 > 0 ? x.b / c1 : 0, u2 = c2 > 0 ? a2 / c2 : 1, v2 = c2 > 0 ? y.b / c2 : 0;
    const double cross = u1 * v2 - v1 * u2;
    double dH = 0, meanU = 1, meanV = 0;
    if (grey) {
        // the mean hue is the sum of the hues, the one hue there is
        if (c1 > 0) meanU = u1, meanV = v1;
        else if (c2 > 0) meanU = u2, meanV = v2;
    } else if (const double wu = u1 + u2, wv = v1 + v2, w = std::sqrt(wu * wu + wv * wv); w > 1e-6) {
        const double du = u2 - u1, dv = v2 - v1;
        dH = std::sqrt(c1 * c2) * std::sqrt(du * du + dv * dv) * (cross < 0 ? -1 : 1);
        meanU = wu / w, meanV = wv / w;
    } else {
        const auto hue = [](double b, double a) {
            const double h = arcTangent(b, a) / degrees;
            return h < 0 ? h + 360 : h;
        };
        const double h1 = hue(x.b, a1), h2 = hue(y.b, a2);
        double dh = h2 - h1;
        if (dh > 180) dh -= 360;
        else if (dh < -180) dh += 360;
        double sum = h1 + h2, hBar = std::abs(h1 - h2) <= 180 ? sum / 2 : sum < 360 ? (sum + 360) / 2 : (sum - 360) / 2;
        // Exactly opposite hues are 180 degrees apart, not a rounding either side of it: the second hue is the
        // first plus or minus 180, the difference does not wrap, and the mean is halfway on the first's side.
        if (a2 == -a1 && y.b == -x.b) dh = h1 < 180 ? 180 : -180, hBar = h1 < 180 ? h1 + 90 : h1 - 90;
        dH = 2 * std::sqrt(c1 * c2) * sine(dh / 2 * degrees);
        meanU = cosine(hBar * degrees), meanV = sine(hBar * degrees);
    }
    const double dL = y.L - x.L, dC = c2 - c1;
    const double lBar = (x.L + y.L) / 2 - 50, cBarP = (c1 + c2) / 2;
    const double t = hueTerm(meanU, meanV);
    // The rotation term, centred on a mean hue of 275 degrees, fades as exp(-(dh / 25)^2): beyond 150 degrees from
    // there it is below 1e-15 and changes the result in its last bit at most, so the angles are not needed.
    double rT = 0;
    if (meanU * cos275 + meanV * sin275 > cos150) {
        double hBar = arcTangent(meanV, meanU) / degrees;
        if (hBar < 0) hBar += 360;
        const double dTheta = 30 * exponential(-((hBar - 275) / 25) * ((hBar - 275) / 25));
        rT = -sine(2 * dTheta * degrees) * rotationChroma(cBarP);
    }
    const double sL = lightnessWeight(lBar), sC = chromaWeight(cBarP), sH = hueWeight(cBarP, t);
    const double l = dL / sL, c = dC / sC, h = dH / sH;
    return std::sqrt(l * l + c * c + h * h + rT * c * h);
}

}  // namespace colour
