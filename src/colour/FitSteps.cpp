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

namespace {

// CIEDE2000 of a and b, or `cap` where it is more: it is at least the difference in L over the largest SL, which
// spares working it out for most colours far from a step
double cappedDifference(const Lab& a, const Lab& b, double cap) {
    if (std::abs(a.L - b.L) > cap * maxLightnessWeight * (1 + 1e-9)) return cap;
    return std::min(cap, ciede2000(a, b));
}

// differenceBound2 from each of `count` colours, given as rows of L, a, b and chroma, to a colour
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
void bounds(const float* colours, std::size_t count, const Lab& to, float* bound) {
    const float l2 = float(to.L), a2 = float(to.a), b2 = float(to.b), c2 = float(std::sqrt(to.a * to.a + to.b * to.b));
    const float *l = colours, *a = colours + count, *b = colours + 2 * count, *c = colours + 3 * count;
    for (std::size_t k = 0; k < count; ++k) bound[k] = differenceBound2(l[k], a[k], b[k], c[k], l2, a2, b2, c2);
}

}  // namespace

std::vector<Rgb> Fitter::nudge(std::vector<Rgb> fitted) const {
    NudgePass pass{fitted, {}, {}, {}, std::vector<float>(points.size()), {}, {}, {}};
    std::vector<Rgb> best = fitted;
    double bestError = std::numeric_limits<double>::infinity();
    // entries worth trying: all at first, then those that moved or gained or lost colours in the last pass
    std::vector<bool> retry(256, true);
    // CIEDE2000 differences and searches spent, bounded: a few tenths of a second, however many colours
    std::size_t spent = 0;
    for (int round = 0;; ++round) {
        pass.palette = paletteOf(pass.fitted);
        const double error = assign(pass.palette, pass.measured, pass.distance);
        pass.nearest = pass.measured.nearest;
        if (!(error < bestError)) break;
        const bool enough = error > bestError * (1 - 1e-4) || round == nudgePasses || spent > nudgeWork;
        bestError = error, best = pass.fitted;
        if (enough) break;
        startPass(pass);
        std::vector<unsigned> todo;
        for (unsigned k = 0; k < count; ++k)
            if (retry[freeIndices[k]]) todo.push_back(k);
        // Entries are taken a few at a time: what each finds is worked out in threads from the state before
        // the few, and used if what it read has not changed since, else worked out again; so the result is
        // the one of taking the entries one by one.
        std::vector<Steps> found;
        for (std::size_t w = 0; w < todo.size() && spent <= nudgeWork; w += nudgeAhead) {
            found.resize(std::min(nudgeAhead, todo.size() - w));
            parallel.each(found.size(), [&](std::size_t j) { found[j] = stepsOf(todo[w + j], pass); });
            // entries whose colours changed since, and the entries moved, with their new colours
            std::vector<bool> changed(256, false);
            std::vector<std::pair<unsigned, Lab>> moved;
            for (Steps& step : found) {
                if (spent > nudgeWork) break;
                if (!stillHolds(step, changed, moved)) step = stepsOf(step.slot, pass);
                spent += step.spent;
                applySteps(step, pass, changed, moved);
            }
        }
        retry = pass.next;
    }
    return best;
}

void Fitter::startPass(NudgePass& pass) const {
    pass.listed.assign(256, {});
    for (std::size_t i = 0; i < points.size(); ++i) pass.listed[pass.nearest[i]].push_back(std::uint32_t(i));
    const PerceptualSearch search(pass.palette.data());
    pass.entries.resize(256);
    for (unsigned e = 0; e < 256; ++e) pass.entries[e] = pointOf(search.entry(e));
    pass.next.assign(256, false);
}

Steps Fitter::stepsOf(unsigned slot, const NudgePass& pass) const {
    Steps found;
    found.slot = slot;
    const unsigned e = freeIndices[slot];
    std::vector<std::pair<float, unsigned>> byDistance;
    for (unsigned f = 0; f < 256; ++f) byDistance.push_back({distance2(pass.entries[f], pass.entries[e]), f});
    std::partial_sort(byDistance.begin(), byDistance.begin() + nudgeNeighbours, byDistance.end());
    // the palette without e: e repeats its nearest other entry
    const unsigned stand = byDistance[0].second != e ? byDistance[0].second : byDistance[1].second;
    Palette others = pass.palette;
    std::copy(pass.palette.begin() + 3 * stand, pass.palette.begin() + 3 * stand + 3, others.begin() + 3 * e);
    const PerceptualSearch without(others.data());
    std::vector<bool> seen(points.size(), false);
    for (int n = 0; n < nudgeNeighbours; ++n) {
        const unsigned f = byDistance[std::size_t(n)].second;
        found.neighbours.push_back(f);
        for (std::uint32_t i : pass.listed[f]) {
            if (pass.nearest[i] != f || seen[i]) continue;
            seen[i] = true;
            found.colours.push_back(i);
            if (f != e) {
                found.restDifference.push_back(pass.distance[i]), found.restEntry.push_back(std::uint8_t(f));
                continue;
            }
            const auto [other, difference] = without.match(lab[i]);
            found.own.push_back(std::uint32_t(found.colours.size() - 1));
            found.restDifference.push_back(difference);
            found.restEntry.push_back(std::uint8_t(other == e ? stand : other));
        }
    }
    found.spent = found.colours.size();
    found.target = steps(pass.fitted[slot], e, found, pass.nearest);
    return found;
}

bool Fitter::stillHolds(const Steps& step, const std::vector<bool>& changed, const std::vector<std::pair<unsigned, Lab>>& moved) const {
    for (unsigned f : step.neighbours)
        if (changed[f]) return false;
    for (std::uint32_t n : step.own)
        for (const auto& [entry, now] : moved) {
            const Lab& colour = lab[step.colours[n]];
            if (entry == step.restEntry[n]) return false;
            // CIEDE2000 is at least the difference in L over SL, which is at most its largest
            if (std::abs(now.L - colour.L) <= step.restDifference[n] * maxLightnessWeight && ciede2000(colour, now) <= step.restDifference[n])
                return false;
        }
    return true;
}

void Fitter::applySteps(const Steps& step, NudgePass& pass, std::vector<bool>& changed, std::vector<std::pair<unsigned, Lab>>& moved) const {
    const unsigned e = freeIndices[step.slot];
    if (step.target == pass.fitted[step.slot]) return;
    pass.fitted[step.slot] = step.target;
    std::copy(step.target.begin(), step.target.end(), pass.palette.begin() + 3 * e);
    pass.next[e] = changed[e] = true;
    const Lab movedTo = labOf(step.target);
    moved.push_back({e, movedTo});
    for (std::size_t n = 0; n < step.colours.size(); ++n) {
        const std::uint32_t i = step.colours[n];
        const double d = cappedDifference(lab[i], movedTo, step.restDifference[n]);
        const std::uint8_t owner = d < step.restDifference[n] ? std::uint8_t(e) : step.restEntry[n];
        const float to = float(d);
        if (owner != pass.nearest[i]) pass.listed[owner].push_back(i), pass.next[owner] = pass.next[pass.nearest[i]] = true;
        if (owner != pass.nearest[i] || to != pass.distance[i]) changed[owner] = changed[pass.nearest[i]] = true;
        pass.nearest[i] = owner, pass.distance[i] = to;
    }
}

Rgb Fitter::steps(Rgb at, unsigned e, Steps& found, const std::vector<std::uint8_t>& nearest) const {
    const std::vector<std::uint32_t>& local = found.colours;
    const std::vector<double>& rest = found.restDifference;
    std::vector<std::uint32_t> near;
    std::vector<float> nearLab, capBound, bound;
    for (int step = 0; step < 8; ++step) {
        const Lab here = labOf(at);
        const Point hereInSpace = pointOf(here);
        std::vector<std::pair<Rgb, Lab>> around;
        double reach = 0;  // the farthest a step goes, by CIEDE2000
        for (int move = 0; move < 27; ++move) {
            const int d[3] = {move / 9 - 1, move / 3 % 3 - 1, move % 3 - 1};
            if (d[0] == 0 && d[1] == 0 && d[2] == 0) continue;
            Rgb code;
            bool inside = true;
            for (int c = 0; c < 3; ++c) {
                const int v = at[c] + d[c];
                inside = inside && v >= 0 && v <= 255;
                code[c] = std::uint8_t(std::clamp(v, 0, 255));
            }
            if (!inside) continue;
            around.push_back({code, labOf(code)});
            reach = std::max(reach, ciede2000(here, around.back().second));
        }
        // the colours a step may change: the entry's own, and others about as near to it as to their
        // entries, judged generously in the space, where leaving one out can only hide a gain
        near.clear();
        double guess = 0;
        for (std::size_t n = 0; n < local.size(); ++n) {
            const std::uint32_t i = local[n];
            const double inSpace = std::sqrt(double(spaceDistance2(points[i], tangents[i], hereInSpace)));
            if (nearest[i] != e && inSpace > (rest[n] + reach) * 1.25) continue;
            near.push_back(std::uint32_t(n));
            guess += weight[i] * std::min(rest[n], inSpace);
        }
        // the codes around ranked by their cost in the space, which is cheap; the first few that it finds
        // about as good as here or better are measured exactly
        std::vector<std::pair<double, Rgb>> ranked;
        for (const auto& [code, codeLab] : around) {
            const Point p = pointOf(codeLab);
            double total = 0;
            for (std::uint32_t n : near)
                total += weight[local[n]] * std::min(rest[n], double(std::sqrt(spaceDistance2(points[local[n]], tangents[local[n]], p))));
            ranked.push_back({total, code});
        }
        std::size_t tried = std::min(nudgeTried, ranked.size());
        std::partial_sort(ranked.begin(), ranked.begin() + long(tried), ranked.end());
        while (tried > 0 && ranked[tried - 1].first > guess * 1.01) --tried;
        if (tried == 0) break;
        found.spent += near.size() * (1 + tried);
        // the near colours as floats for the bound, and the bound past which a difference is its cap
        const std::size_t size = near.size();
        nearLab.resize(4 * size), capBound.resize(size), bound.resize(size);
        for (std::size_t k = 0; k < size; ++k) {
            const Lab& c = lab[local[near[k]]];
            nearLab[k] = float(c.L), nearLab[size + k] = float(c.a), nearLab[2 * size + k] = float(c.b);
            nearLab[3 * size + k] = float(std::sqrt(c.a * c.a + c.b * c.b));
            capBound[k] = float(boundLimit(rest[near[k]]) * boundLimit(rest[near[k]]));
        }
        const auto cost = [&](const Rgb& code) {
            const Lab codeLab = labOf(code);
            bounds(nearLab.data(), size, codeLab, bound.data());
            double total = 0;
            for (std::size_t k = 0; k < size; ++k) {
                const std::uint32_t n = near[k];
                // where the bound passes the cap, so does the difference
                total += weight[local[n]] * (bound[k] > capBound[k] ? rest[n] : cappedDifference(lab[local[n]], codeLab, rest[n]));
            }
            return total;
        };
        double least = cost(at);
        Rgb pick = at;
        for (std::size_t r = 0; r < tried; ++r)
            if (const double total = cost(ranked[r].second); total < least * (1 - 1e-9)) least = total, pick = ranked[r].second;
        if (pick == at) break;
        at = pick;
    }
    return at;
}

}  // namespace colour
