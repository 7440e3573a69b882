#include "colour/Maths.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace colour {

namespace {

// log 2 and pi / 2 in two parts, the first with trailing zeros so that small multiples of it are exact
constexpr double ln2Hi = 6.93147180369123816490e-01, ln2Lo = 1.90821492927058770002e-10, invLn2 = 1.44269504088896338700e+00;
constexpr double halfPiHi = 1.57079632673412561417e+00, halfPiLo = 6.07710050650619224932e-11, twoOverPi = 6.36619772367581382433e-01;
constexpr double halfPi = 1.57079632679489661923, pi = 3.14159265358979323846;

// The series' coefficients, worked out by the compiler, whose every division rounds as IEEE 754 says
template <int N, typename Coefficient>
constexpr std::array<double, N> series(Coefficient coefficient) {
    std::array<double, N> c{};
    for (int n = 0; n < N; ++n) c[n] = coefficient(n);
    return c;
}
// 1 / n! for e^r; (-1)^n / (2n + 1)! and (-1)^n / (2n)! for sin and cos; (-1)^n / (2n + 1) for atan; 1 / (2n + 1) for atanh
constexpr auto inverseFactorials = series<14>([](int n) {
    double c = 1;
    for (int k = 2; k <= n; ++k) c /= k;
    return c;
});
constexpr auto sineTerms = series<10>([](int n) {
    double c = 1;
    for (int k = 2; k <= 2 * n + 1; ++k) c /= k;
    return n % 2 ? -c : c;
});
constexpr auto cosineTerms = series<10>([](int n) {
    double c = 1;
    for (int k = 2; k <= 2 * n; ++k) c /= k;
    return n % 2 ? -c : c;
});
constexpr auto arcTangentTerms = series<8>([](int n) { return (n % 2 ? -1.0 : 1.0) / (2 * n + 1); });
constexpr auto atanhTerms = series<13>([](int n) { return 1.0 / (2 * n + 1); });
// atan(k / 8) for k = 0 to 8, each the double nearest to the exact value
constexpr double arcTangentOfEighths[9] = {0.0, 0.12435499454676144, 0.24497866312686414, 0.35877067027057225, 0.4636476090008061,
                                           0.5585993153435624, 0.6435011087932844, 0.7188299996216245, 0.7853981633974483};

// c[0] + c[1] x + c[2] x^2 + ...: the even and the odd terms nested apart, two chains that the processor
// runs side by side
template <std::size_t N>
double polynomial(const std::array<double, N>& c, double x) {
    const double x2 = x * x;
    double even = 0, odd = 0;
    for (std::size_t n = N; n-- > 0;) {
        if (n % 2) odd = odd * x2 + c[n];
        else even = even * x2 + c[n];
    }
    return even + x * odd;
}

std::uint64_t bitsOf(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

double fromBits(std::uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// x rounded to the nearest integer (ties to even) for |x| below 2^51, by adding and taking away 1.5 * 2^52
double nearestInteger(double x) { return (x + 6755399441055744.0) - 6755399441055744.0; }

// 2^k for k from -1022 to 1023, exactly
double twoTo(int k) { return fromBits(std::uint64_t(k + 1023) << 52); }

// sin and cos of |r| <= pi / 4 by their series: the next term is below 1e-21
double sineSeries(double r) { return r * polynomial(sineTerms, r * r); }
double cosineSeries(double r) { return polynomial(cosineTerms, r * r); }

// x less the nearest multiple of pi / 2, and which quarter turn that multiple is (|x| below 2^50)
double quarterTurns(double x, int& quarter) {
    const double k = nearestInteger(x * twoOverPi);
    quarter = int(k) & 3;
    return (x - k * halfPiHi) - k * halfPiLo;
}

// atan t for 0 <= t <= 1: atan(k / 8) for the nearest eighth, plus atan of what is left, at most 1/16, whose
// series' next term is below 1e-19
double arcTangentUnit(double t) {
    const int k = int(t * 8 + 0.5);
    const double c = k / 8.0, d = (t - c) / (1 + t * c);
    return arcTangentOfEighths[k] + d * polynomial(arcTangentTerms, d * d);
}

// a * b as its rounded product and the rounding error, exactly (Dekker): each factor split into halves of 26
// bits, whose products are exact; it needs a * b + c left unfused, as the colour code is built
double productError(double a, double b, double product) {
    const auto split = [](double x, double& high, double& low) {
        const double c = 134217729.0 * x;
        high = c - (c - x), low = x - high;
    };
    double ah, al, bh, bl;
    split(a, ah, al), split(b, bh, bl);
    return ((ah * bh - product) + ah * bl + al * bh) + al * bl;
}

}  // namespace

double cubeRoot(double x) {
    if (x == 0 || !std::isfinite(x)) return x;
    if (x < 0) return -cubeRoot(-x);
    // subnormal numbers scaled by 2^54 first, whose cube root is 2^18, and the largest down, so that 3 x is finite
    if (x < std::numeric_limits<double>::min()) return cubeRoot(x * 18014398509481984.0) / 262144.0;
    if (x > 1e300) return cubeRoot(x / 18014398509481984.0) * 262144.0;
    // a first guess within a few per cent from the exponent's bits divided by 3, two of Halley's steps, then
    // Newton's step with y^3 - x exact but for its last rounding, which lands on the nearest double
    double y = fromBits(bitsOf(x) / 3 + 0x2A9F7893782DA1CEu);
    for (int n = 0; n < 2; ++n) {
        const double y3 = y * y * y;
        y *= (y3 + 2 * x) / (2 * y3 + x);
    }
    const double y2 = y * y, y2Error = productError(y, y, y2), y3 = y2 * y, y3Error = productError(y2, y, y3);
    return y - ((y3 - x) + (y3Error + y2Error * y)) / (3 * y2);
}

double exponential(double x) {
    if (x != x) return x;
    if (x > 709.78) return std::numeric_limits<double>::infinity();
    if (x < -708.39) return x < -745.2 ? 0 : exponential(x + 64 * ln2Hi + 64 * ln2Lo) * twoTo(-64);
    // e^x = 2^k e^r with |r| <= log 2 / 2, e^r by its series (the next term below 1e-17)
    const double k = nearestInteger(x * invLn2), r = (x - k * ln2Hi) - k * ln2Lo;
    const double p = polynomial(inverseFactorials, r);
    // 2^k in two factors, each a normal number, where k is 1024
    return k > 1023 ? p * 2 * twoTo(int(k) - 1) : p * twoTo(int(k));
}

double naturalLog(double x) {
    if (x < 0 || x != x) return std::numeric_limits<double>::quiet_NaN();
    if (x == 0) return -std::numeric_limits<double>::infinity();
    if (!std::isfinite(x)) return x;
    if (x < std::numeric_limits<double>::min()) return naturalLog(x * 18014398509481984.0) - 54 * ln2Hi - 54 * ln2Lo;
    // x = m 2^e with m from sqrt(1/2) to sqrt(2); log m = 2 atanh s, s = (m - 1) / (m + 1) at most 0.172
    const std::uint64_t bits = bitsOf(x);
    int e = int(bits >> 52) - 1023;
    double m = fromBits((bits & 0x000FFFFFFFFFFFFFu) | 0x3FF0000000000000u);
    if (m > 1.41421356237309504880) m /= 2, ++e;
    const double s = (m - 1) / (m + 1);
    return e * ln2Hi + (e * ln2Lo + 2 * s * polynomial(atanhTerms, s * s));
}

double power(double x, double y) { return x == 0 ? 0 : exponential(y * naturalLog(x)); }

double logOnePlus(double x) {
    // log(1 + x) as log u times x over u - 1, which cancels the rounding of u = 1 + x (Goldberg)
    const double u = 1 + x;
    return u == 1 ? x : naturalLog(u) * (x / (u - 1));
}

double exponentialMinusOne(double x) {
    // e^x - 1 as (u - 1) x / log u, which cancels the rounding of u = e^x (Kahan)
    const double u = exponential(x);
    if (u == 1) return x;
    if (u - 1 == -1) return -1;
    return (u - 1) * x / naturalLog(u);
}

double arcTangent(double y, double x) {
    const double ax = std::abs(x), ay = std::abs(y);
    if (ax == 0 && ay == 0) return 0;
    double angle = ay <= ax ? arcTangentUnit(ay / ax) : halfPi - arcTangentUnit(ax / ay);
    if (x < 0) angle = pi - angle;
    return y < 0 ? -angle : angle;
}

double sine(double x) {
    int quarter;
    const double r = quarterTurns(x, quarter);
    return quarter == 0 ? sineSeries(r) : quarter == 1 ? cosineSeries(r) : quarter == 2 ? -sineSeries(r) : -cosineSeries(r);
}

double cosine(double x) {
    int quarter;
    const double r = quarterTurns(x, quarter);
    return quarter == 0 ? cosineSeries(r) : quarter == 1 ? -sineSeries(r) : quarter == 2 ? -cosineSeries(r) : sineSeries(r);
}

}  // namespace colour
