#pragma once

#include <vector>

#include "colour/FitSpace.h"

namespace colour {

// Centres in the space sorted by L, for the nearest one: only those as near in L as the best found so far are compared.
class EuclideanSearch {
public:
    explicit EuclideanSearch(const std::vector<Point>& centres);
    // the nearest centre to a colour with its hue weight; `guess`, a centre to start from, which wins a tie,
    // else ties go to the first by L
    unsigned nearest(const Point& p, const Tangent& t, unsigned guess, float& least) const;
    // the nearest centre, ties to the first by L, and the distance to the next nearest (the nearest's own where
    // there is one centre), squared, in one pass: the guess and a centre beside it in L bound both distances
    unsigned nearestTwo(const Point& p, const Tangent& t, unsigned guess, float& least, float& next) const;

    static constexpr unsigned block = 8;


private:
    // whether any of the `block` centres from `first` is within `least` (squared) of the colour
    bool anyWithin(unsigned first, const Point& p, const Tangent& t, float least) const;

    float measure(unsigned n, const Point& p, const Tangent& t) const {
        const float el = l[n] - p.L, ea = a[n] - p.a, eb = b[n] - p.b, along = ea * t.u + eb * t.v;
        return el * el + ea * ea + eb * eb + t.extra * along * along;
    }

    std::vector<float> l, a, b;
    std::vector<unsigned> id, place;
};

}  // namespace colour
