#pragma once

#include <vector>

#include "colour/FitSpace.h"
#include "colour/LabToSrgb.h"
#include "colour/Parallel.h"

namespace colour {

// what the fit knows of each colour it works on
struct Colours {
    std::vector<Rgb> codes;
    std::vector<Lab> lab;
    std::vector<Point> points;
    std::vector<Tangent> tangents;
    std::vector<double> weight;

    void add(const Rgb& code, const Lab& at, double count) {
        codes.push_back(code), lab.push_back(at), weight.push_back(count);
    }
    // the places in the space, computed last and in threads, as they cost most
    void place(Parallel& parallel);
};

// A large histogram's colours merged in cells of 2 x 2 x 2 codes: each cell's weight, its mean in CIELAB, and its
// commonest code. The codes of a cell differ by 1.23 in CIEDE2000 at most (among dark colours), mostly far less,
// so the stages that work in the space lose little by it, and take far less time.
Colours mergedInCells(const Colours& every, Parallel& parallel);

}  // namespace colour
