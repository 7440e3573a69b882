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

unsigned EuclideanSearch::nearest(const Point& p, const Tangent& t, unsigned guess, float& least) const {
    const unsigned g = place[guess];
    least = measure(g, p, t);
    // the distance is never below the difference in L
    const float reach = std::sqrt(least) * 1.0001f + 1e-4f;
    const unsigned first = unsigned(std::lower_bound(l.begin(), l.end(), p.L - reach) - l.begin());
    const unsigned last = unsigned(std::upper_bound(l.begin(), l.end(), p.L + reach) - l.begin());
    unsigned best = g;
    for (unsigned n = first; n < last; ++n)
        if (const float d = measure(n, p, t); d < least) least = d, best = n;
    return id[best];
}

unsigned EuclideanSearch::nearestTwo(const Point& p, const Tangent& t, unsigned guess, float& least, float& next) const {
    const unsigned g = place[guess], other = g + 1 < l.size() ? g + 1 : g > 0 ? g - 1 : g;
    const float reach = std::sqrt(std::max(measure(g, p, t), measure(other, p, t))) * 1.0001f + 1e-4f;
    const unsigned first = unsigned(std::lower_bound(l.begin(), l.end(), p.L - reach) - l.begin());
    const unsigned last = unsigned(std::upper_bound(l.begin(), l.end(), p.L + reach) - l.begin());
    unsigned best = first;
    least = next = std::numeric_limits<float>::infinity();
    for (unsigned n = first; n < last; ++n) {
        const float d = measure(n, p, t);
        if (d < least) next = least, least = d, best = n;
        else next = std::min(next, d);
    }
    if (last - first == 1) next = least;
    return id[best];
}

}  // namespace fit
