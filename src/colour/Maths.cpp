#include "colour/Maths.h"

#include <cmath>
#include <limits>

namespace colour {

namespace {

// log 2 and pi / 2 in two parts, the first with trailing zeros so that small multiples of it are exact
constexpr double ln2Hi = 6.93147180369123816490e-01, ln2Lo = 1.90821492927058770002e-10, invLn2 = 1.44269504088896338700e+00;
constexpr double halfPiHi = 1.57079632673412561417e+00, halfPiLo = 6.07710050650619224932e-11, twoOverPi = 6.36619772367581382433e-01;
constexpr double halfPi = 1.57079632679489661923, pi = 3.14159265358979323846;

// sin and cos of |r| <= pi / 4 by their series, nested: the next term is below 1e-21
double sineSeries(double r) {
    const double r2 = r * r;
    double p = 1;
    for (int n = 9; n >= 1; --n) p = 1 - r2 / ((2 * n) * (2 * n + 1)) * p;
    return r * p;
}

double cosineSeries(double r) {
    const double r2 = r * r;
    double p = 1;
    for (int n = 9; n >= 1; --n) p = 1 - r2 / ((2 * n - 1) * (2 * n)) * p;
    return p;
}

// x less the nearest multiple of pi / 2, and which quarter turn that multiple is
double quarterTurns(double x, int& quarter) {
    const double k = std::floor(x * twoOverPi + 0.5);
    quarter = int(std::fmod(k, 4.0));
    if (quarter < 0) quarter += 4;
    return (x - k * halfPiHi) - k * halfPiLo;
}

// atan t for 0 <= t <= 1: three halvings of the angle, atan t = 2 atan(t / (1 + sqrt(1 + t^2))), bring t
// below 0.1, where the series' next term is below 1e-19
double arcTangentUnit(double t) {
    for (int n = 0; n < 3; ++n) t = t / (1 + std::sqrt(1 + t * t));
    const double t2 = t * t;
    double q = 1.0 / 19;
    for (int n = 17; n >= 1; n -= 2) q = 1.0 / n - t2 * q;
    return 8 * t * q;
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
    int e;
    double m = std::frexp(x, &e);
    // m from 0.5 to 4 and e a multiple of 3; then Halley's steps from a line, and Newton's to settle the last bit
    const int rest = ((e % 3) + 3) % 3;
    m = std::ldexp(m, rest), e -= rest;
    double y = 0.681 + 0.2266 * m;
    for (int n = 0; n < 4; ++n) {
        const double y3 = y * y * y;
        y = y * (y3 + 2 * m) / (2 * y3 + m);
    }
    // y^3 - m with the rounding errors of y^3 kept, so that the last step lands on the nearest double
    const double y2 = y * y, y2Error = productError(y, y, y2), y3 = y2 * y, y3Error = productError(y2, y, y3);
    y -= ((y3 - m) + (y3Error + y2Error * y)) / (3 * y2);
    return std::ldexp(y, e / 3);
}

double exponential(double x) {
    if (x != x) return x;
    if (x > 709.8) return std::numeric_limits<double>::infinity();
    if (x < -745.2) return 0;
    // e^x = 2^k e^r with |r| <= log 2 / 2, e^r by its series nested (the next term below 1e-17)
    const double k = std::floor(x * invLn2 + 0.5), r = (x - k * ln2Hi) - k * ln2Lo;
    double p = 1;
    for (int n = 13; n >= 1; --n) p = 1 + r * p / n;
    return std::ldexp(p, int(k));
}

double naturalLog(double x) {
    if (x < 0 || x != x) return std::numeric_limits<double>::quiet_NaN();
    if (x == 0) return -std::numeric_limits<double>::infinity();
    if (!std::isfinite(x)) return x;
    // x = m 2^e with m from sqrt(1/2) to sqrt(2); log m = 2 atanh s, s = (m - 1) / (m + 1) at most 0.172
    int e;
    double m = std::frexp(x, &e);
    if (m < 0.70710678118654752440) m *= 2, --e;
    const double s = (m - 1) / (m + 1), s2 = s * s;
    double q = 1.0 / 25;
    for (int n = 23; n >= 1; n -= 2) q = 1.0 / n + s2 * q;
    return e * ln2Hi + (e * ln2Lo + 2 * s * q);
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
