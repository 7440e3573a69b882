#include "colour/EuclideanSearch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace fit {

EuclideanSearch::EuclideanSearch(const std::vector<Point>& centres) : place(centres.size()) {
    std::vector<unsigned> order(centres.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](unsigned x, unsigned y) { return centres[x].L < centres[y].L; });
    for (unsigned n = 0; n < order.size(); ++n) {
        l.push_back(centres[order[n]].L), a.push_back(centres[order[n]].a), b.push_back(centres[order[n]].b);
        id.push_back(order[n]);
        place[order[n]] = n;
    }
}

// The centres are visited outwards from the colour's lightness, nearest in L first, and the visit ends once the
// difference in L alone exceeds the distance to beat: far fewer are compared than in a window fixed beforehand.
// `reach` is that bound with a margin for the rounding of the distance, the same as a window's would be.
namespace {

float reachOf(float distance2) { return std::sqrt(distance2) * 1.0001f + 1e-4f; }

}  // namespace

unsigned EuclideanSearch::nearest(const Point& p, const Tangent& t, unsigned guess, float& least) const {
    const unsigned g = place[guess];
    least = measure(g, p, t);
    float reach = reachOf(least);
    unsigned best = g;
    // the guess keeps a tie, else the first by L; outwards from the guess, which is mostly the nearest or beside it
    const auto visit = [&](unsigned n) {
        if (const float d = measure(n, p, t); d < least || (d == least && best != g && n < best)) {
            if (d < least) reach = reachOf(d);
            least = d, best = n;
        }
    };
    for (unsigned n = g + 1; n < l.size() && l[n] - p.L <= reach; ++n) visit(n);
    for (unsigned n = g; n-- > 0 && p.L - l[n] <= reach;) visit(n);
    return id[best];
}

unsigned EuclideanSearch::nearestTwo(const Point& p, const Tangent& t, unsigned, float& least, float& next) const {
    unsigned best = 0;
    least = next = std::numeric_limits<float>::infinity();
    float reach = std::numeric_limits<float>::infinity();
    const auto visit = [&](unsigned n) {
        const float d = measure(n, p, t);
        if (d < least || (d == least && n < best)) next = least, least = d, best = n;
        else next = std::min(next, d);
        if (next < std::numeric_limits<float>::infinity()) reach = reachOf(next);
    };
    walk(p.L, reach, visit);
    if (l.size() == 1) next = least;
    return id[best];
}

}  // namespace fit
