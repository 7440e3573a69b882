#include "colour/EuclideanSearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace colour {

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

using Floats = float __attribute__((vector_size(EuclideanSearch::block * sizeof(float))));

}  // namespace

inline bool EuclideanSearch::anyWithin(unsigned first, const Point& p, const Tangent& t, float least) const {
    Floats el, ea, eb;
    std::memcpy(&el, &l[first], sizeof el), std::memcpy(&ea, &a[first], sizeof ea), std::memcpy(&eb, &b[first], sizeof eb);
    el -= p.L, ea -= p.a, eb -= p.b;
    const Floats along = ea * t.u + eb * t.v;
    const auto within = el * el + ea * ea + eb * eb + t.extra * along * along <= least;
    for (unsigned k = 0; k < block; ++k)
        if (within[k]) return true;
    return false;
}

// the blocks are measured twice as wide where the processor has AVX2
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
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
    // Eight centres are measured at once, by the same operations as measure(); a block in which none is as near as
    // the best so far and all are in reach is passed over whole, any other is visited one by one as before.
    const auto size = unsigned(l.size());
    unsigned n = g + 1;
    for (; n + block <= size; n += block) {
        if (l[n + block - 1] - p.L > reach || anyWithin(n, p, t, least)) break;
    }
    for (; n < size && l[n] - p.L <= reach; ++n) visit(n);
    n = g;
    for (; n >= block; n -= block) {
        if (p.L - l[n - block] > reach || anyWithin(n - block, p, t, least)) break;
    }
    while (n-- > 0 && p.L - l[n] <= reach) visit(n);
    return id[best];
}

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
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
    // Outwards from the colour's lightness, nearest in L first, a block of eight at a time where it can be passed over
    // whole (none within the second distance); the set of centres compared is then larger than one by one, but holds
    // every centre within reach, so the result is the same.
    const auto size = unsigned(l.size());
    unsigned up = unsigned(std::lower_bound(l.begin(), l.end(), p.L) - l.begin()), down = up;
    while (true) {
        const bool canUp = up < size && l[up] - p.L <= reach, canDown = down > 0 && p.L - l[down - 1] <= reach;
        if (canUp && (!canDown || l[up] - p.L <= p.L - l[down - 1])) {
            if (up + block > size) visit(up++);
            else if (anyWithin(up, p, t, next)) for (const unsigned end = up + block; up < end;) visit(up++);
            else up += block;
        } else if (canDown) {
            if (down < block) visit(--down);
            else if (anyWithin(down - block, p, t, next)) for (const unsigned end = down - block; down > end;) visit(--down);
            else down -= block;
        } else break;
    }
    if (l.size() == 1) next = least;
    return id[best];
}

}  // namespace colour
