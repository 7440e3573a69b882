#include "colour/Fitter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "colour/EuclideanSearch.h"
#include "colour/Lab.h"
#include "colour/LabToSrgb.h"
#include "colour/Parallel.h"
#include "colour/Terms.h"

namespace colour {

std::vector<Point> Fitter::relocate(std::vector<Point> centres) {
    Relocation r{centres, std::vector<float>(points.size()), std::vector<float>(points.size()), {}, {}, {}, std::vector<std::uint32_t>(points.size())};
    for (const Rgb& code : fixedCodes) r.all.push_back(pointOf(labOf(code)));
    r.utility.resize(r.all.size()), r.load.resize(r.all.size()), r.start.resize(r.all.size() + 1);
    // entries that failed to move, and that failed to take one, since the last move that stayed
    std::vector<bool> triedFrom(r.all.size(), false), triedTo(r.all.size(), false);
    int trials = 0;
    for (bool moved = true; moved && trials < relocations;) {
        survey(r);
        moved = false;
        // entries whose colours a move of this batch may have changed, and ones passed over in it
        std::vector<bool> touched(r.all.size(), false), passed(r.all.size(), false);
        for (int batch = 0; batch < 16 && trials < relocations;) {
            std::size_t from = count, to = r.all.size();
            for (std::size_t k = 0; k < count; ++k)
                if (!triedFrom[k] && !touched[k] && !passed[k] && (from == count || r.utility[k] < r.utility[from])) from = k;
            for (std::size_t k = 0; k < r.all.size(); ++k)
                if (k != from && !triedTo[k] && !touched[k] && !passed[k] && (to == r.all.size() || r.load[k] > r.load[to])) to = k;
            if (from == count || to == r.all.size() || r.start[to] == r.start[to + 1]) break;
            std::vector<unsigned> near = nearestCentres(r.all, r.all[to], 8);
            for (unsigned k : nearestCentres(r.all, r.all[from], 4)) near.push_back(k);
            std::sort(near.begin(), near.end());
            near.erase(std::unique(near.begin(), near.end()), near.end());
            if (std::any_of(near.begin(), near.end(), [&](unsigned k) { return touched[k]; })) {
                passed[from] = passed[to] = true;
                continue;
            }
            ++batch, ++trials;
            std::vector<std::uint32_t> local;
            for (unsigned k : near) local.insert(local.end(), r.members.begin() + long(r.start[k]), r.members.begin() + long(r.start[k + 1]));
            if (tryMove(r, unsigned(from), unsigned(to), near, local)) {
                moved = true;
                for (unsigned k : near) touched[k] = true;
                for (std::uint32_t i : local) touched[owner[i]] = true;
            } else {
                triedFrom[from] = triedTo[to] = true;
            }
        }
        if (moved) {
            std::fill(triedFrom.begin(), triedFrom.end(), false);
            std::fill(triedTo.begin(), triedTo.end(), false);
        }
    }
    r.all.resize(count);
    return r.all;
}

void Fitter::survey(Relocation& r) {
    const EuclideanSearch search(r.all);
    parallel.inParts(points.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) owner[i] = search.nearestTwo(points[i], tangents[i], owner[i], r.distance[i], r.next[i]);
    });
    std::fill(r.utility.begin(), r.utility.end(), 0.0);
    std::fill(r.load.begin(), r.load.end(), 0.0);
    std::fill(r.start.begin(), r.start.end(), 0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double d = std::sqrt(double(r.distance[i]));
        r.load[owner[i]] += weight[i] * d;
        r.utility[owner[i]] += weight[i] * (std::sqrt(double(r.next[i])) - d);
        ++r.start[owner[i] + 1];
    }
    std::partial_sum(r.start.begin(), r.start.end(), r.start.begin());
    std::vector<std::size_t> fill(r.start.begin(), r.start.end() - 1);
    for (std::size_t i = 0; i < points.size(); ++i) r.members[fill[owner[i]]++] = std::uint32_t(i);
}

std::vector<unsigned> Fitter::nearestCentres(const std::vector<Point>& all, const Point& at, std::size_t n) {
    std::vector<std::pair<float, unsigned>> byDistance;
    for (unsigned k = 0; k < all.size(); ++k) byDistance.push_back({distance2(all[k], at), k});
    std::partial_sort(byDistance.begin(), byDistance.begin() + long(std::min(n, byDistance.size())), byDistance.end());
    std::vector<unsigned> nearest;
    for (std::size_t k = 0; k < std::min(n, byDistance.size()); ++k) nearest.push_back(byDistance[k].second);
    return nearest;
}

bool Fitter::tryMove(Relocation& r, unsigned from, unsigned to, const std::vector<unsigned>& near, const std::vector<std::uint32_t>& local) {
    std::uint32_t worstMember = r.members[r.start[to]];
    for (std::size_t m = r.start[to]; m < r.start[to + 1]; ++m)
        if (weight[r.members[m]] * r.distance[r.members[m]] > weight[worstMember] * r.distance[worstMember]) worstMember = r.members[m];
    std::vector<Point> savedCentres = r.all;
    std::vector<std::pair<unsigned, float>> saved;
    double before = 0;
    for (std::uint32_t i : local) saved.push_back({owner[i], r.distance[i]}), before += weight[i] * std::sqrt(double(r.distance[i]));
    const Point& x = points[worstMember];
    r.all[from] = {(r.all[to].L + x.L) / 2, (r.all[to].a + x.a) / 2, (r.all[to].b + x.b) / 2};
    if (settle(r, near, local) < before) return true;
    r.all = std::move(savedCentres);
    for (std::size_t n = 0; n < local.size(); ++n) owner[local[n]] = saved[n].first, r.distance[local[n]] = saved[n].second;
    return false;
}

double Fitter::settle(Relocation& r, const std::vector<unsigned>& near, const std::vector<std::uint32_t>& local) {
    double after = 0;
    for (int round = 0; round < 4; ++round) {
        const EuclideanSearch search(r.all);
        std::vector<std::array<double, 4>> sums(near.size());
        after = 0;
        // the searches in threads, the sums in order, so that they come out the same on any number of CPUs
        parallel.inParts(
            local.size(),
            [&](std::size_t first, std::size_t last) {
                for (std::size_t n = first; n < last; ++n) {
                    const std::uint32_t i = local[n];
                    owner[i] = search.nearest(points[i], tangents[i], owner[i], r.distance[i]);
                }
            },
            1024);
        for (std::uint32_t i : local) {
            const double d = std::sqrt(double(r.distance[i])), w = weight[i] / std::max(d, 0.1);
            after += weight[i] * d;
            const auto at = std::lower_bound(near.begin(), near.end(), owner[i]);
            if (at == near.end() || *at != owner[i]) continue;
            auto& s = sums[std::size_t(at - near.begin())];
            s[0] += w, s[1] += w * points[i].L, s[2] += w * points[i].a, s[3] += w * points[i].b;
        }
        if (round == 3) break;
        for (std::size_t n = 0; n < near.size(); ++n)
            if (near[n] < count && sums[n][0] > 0) r.all[near[n]] = {float(sums[n][1] / sums[n][0]), float(sums[n][2] / sums[n][0]), float(sums[n][3] / sums[n][0])};
    }
    return after;
}

}  // namespace colour
