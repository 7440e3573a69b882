#pragma once

// The elementary functions the colour code decides with, written here from + - * / and sqrt (which IEEE 754
// rounds the same on every machine) and the bits of the exponent: the C libraries of
// Linux and of WebAssembly differ in the last bits of cbrt, atan2, sin, exp and the rest, and a last bit can
// change which palette entry is nearest. Each is within a few units in the last place of the exact value.
namespace colour {

double cubeRoot(double x);
// e^x, and log x for x > 0
double exponential(double x);
double naturalLog(double x);
// x^y for x >= 0 (0 for x = 0)
double power(double x, double y);
// log(1 + x) for x > -1, and e^x - 1, exact for small x as well
double logOnePlus(double x);
double exponentialMinusOne(double x);
// the angle of (x, y) in radians, -pi to pi, 0 for (0, 0)
double arcTangent(double y, double x);
// of an angle in radians, for angles within some thousands of turns
double sine(double x);
double cosine(double x);

}  // namespace colour
