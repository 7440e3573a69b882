#include "colour/PaletteFit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "colour/EuclideanSearch.h"
#include "colour/FitColours.h"
#include "colour/Lab.h"
#include "colour/LabToSrgb.h"
#include "colour/Parallel.h"
#include "colour/PerceptualSearch.h"
#include "colour/Terms.h"

namespace {

using namespace colour;
using namespace fit;

// std::partition with its swaps written out, so that the order of the two halves, which sums over them follow,
// is the same with every C++ library
template <typename Iterator, typename Predicate>
Iterator partitionInPlace(Iterator first, Iterator last, const Predicate& below) {
    while (true) {
        while (first != last && below(*first)) ++first;
        if (first == last) return first;
        --last;
        while (first != last && !below(*last)) --last;
        if (first == last) return first;
        std::iter_swap(first, last);
        ++first;
    }
}

// What the steps of one entry read and found: the entry's slot among the fitted ones, the entries whose colours
// it read, the colours it may take (`own`: the positions of its own among them), each one's difference to its
// nearest entry but this one and that entry, the code it steps to, and the differences and searches spent.
struct Steps {
    unsigned slot;
    std::vector<unsigned> neighbours;
    std::vector<std::uint32_t> colours, own;
    std::vector<double> restDifference;
    std::vector<std::uint8_t> restEntry;
    Rgb target;
    std::size_t spent;
};

class Fitter {
public:
    Fitter(const std::vector<ColourCount>& histogram, unsigned entries, const std::array<std::uint8_t, 768>& base,
           const std::vector<unsigned>& freeIndices)
        : count(entries), base(base), freeIndices(freeIndices) {
        Colours every;
        for (const ColourCount& c : histogram)
            if (c.count > 0) every.add({std::uint8_t(c.rgb >> 16), std::uint8_t(c.rgb >> 8), std::uint8_t(c.rgb)}, {}, double(c.count));
        inParallel(every.lab.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) every.lab[i] = labOf(every.codes[i]);
        });
        every.place();
        if (every.codes.size() > mergeAbove) {
            Colours merged = mergedInCells(every);
            take(merged);
            exact = std::move(every);
        } else {
            take(every);
        }
        owner.assign(points.size(), 0);
        // the entries not fitted, each colour once: they take pixels as any entry does
        std::vector<bool> isFree(256, false);
        for (unsigned k = 0; k < count; ++k) isFree[freeIndices[k]] = true;
        for (unsigned n = 0; n < 256; ++n) {
            const Rgb code{base[3 * n], base[3 * n + 1], base[3 * n + 2]};
            if (!isFree[n] && std::find(fixedCodes.begin(), fixedCodes.end(), code) == fixedCodes.end()) fixedCodes.push_back(code);
        }
    }

    // the fitted entries, in the order of the free indices
    std::vector<Rgb> fit() {
        std::vector<Rgb> distinct;
        for (const Rgb& code : codes)
            if (std::find(fixedCodes.begin(), fixedCodes.end(), code) == fixedCodes.end()) distinct.push_back(code);
        if (distinct.size() <= count) return distinct;
        // means first, then towards medians: the error measured is a sum of distances, not of their squares
        std::vector<Point> centres = euclideanRounds(seeds(), false, 12);
        centres = euclideanRounds(std::move(centres), true, 12);
        std::vector<Rgb> fitted = perceptualRounds(relocate(std::move(centres)));
        // the last stages measure every colour as it is
        if (!exact.codes.empty()) take(exact);
        return polish(nudge(std::move(fitted)));
    }

    // the colours the stages work on, swapped with `other`
    void take(Colours& other) {
        std::swap(codes, other.codes), std::swap(lab, other.lab), std::swap(points, other.points);
        std::swap(tangents, other.tangents), std::swap(weight, other.weight);
    }

    // Each colour's nearest entry by CIEDE2000 and its difference to it, found in threads; returns the
    // differences weighted by the colours' counts, summed.
    double assign(const PerceptualSearch& search, std::vector<std::uint8_t>& nearest, std::vector<float>& distance) const {
        inParallel(points.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) {
                nearest[i] = std::uint8_t(search.nearest(lab[i]));
                distance[i] = float(ciede2000(lab[i], search.entry(nearest[i])));
            }
        });
        double error = 0;
        for (std::size_t i = 0; i < points.size(); ++i) error += weight[i] * distance[i];
        return error;
    }

    // Rounding a centre to a code seldom gives the code its colours want most: each entry in turn steps to one
    // of the 26 codes around it while that lowers the exact CIEDE2000 of its colours and of those it could take
    // from the entries near it. Every pass ends with all colours measured afresh, and stays only if the error
    // fell, since a step may take colours of farther entries that went unseen.
    std::vector<Rgb> nudge(std::vector<Rgb> fitted) const {
        NudgePass pass{fitted, {}, std::vector<std::uint8_t>(points.size()), std::vector<float>(points.size()), {}, {}, {}};
        std::vector<Rgb> best = fitted;
        double bestError = std::numeric_limits<double>::infinity();
        // entries worth trying: all at first, then those that moved or gained or lost colours in the last pass
        std::vector<bool> retry(256, true);
        // CIEDE2000 differences and searches spent, bounded: a few tenths of a second, however many colours
        std::size_t spent = 0;
        for (int round = 0;; ++round) {
            pass.palette = paletteOf(pass.fitted);
            const double error = assign(PerceptualSearch(pass.palette.data()), pass.nearest, pass.distance);
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
                eachInParallel(found.size(), [&](std::size_t j) { found[j] = stepsOf(todo[w + j], pass); });
                // entries whose colours changed since, and the entries moved, with their new colours
                std::vector<bool> changed(256, false);
                std::vector<std::pair<unsigned, Lab>> moved;
                for (Steps& step : found) {
                    if (spent > nudgeWork) break;
                    if (!stillHolds(step, changed, moved)) step = stepsOf(step.slot, pass);
                    spent += step.spent;
                    take(step, pass, changed, moved);
                }
            }
            retry = pass.next;
        }
        return best;
    }

    // The state a pass of nudge() works on: the fitted entries and the palette, each colour's nearest entry and
    // its difference to it, the colours listed per entry (a colour that changes entry is listed again, and
    // counts only where its entry is), the entries' places in the space, and the entries to try in the next pass.
    struct NudgePass {
        std::vector<Rgb> fitted;
        std::array<std::uint8_t, 768> palette;
        std::vector<std::uint8_t> nearest;
        std::vector<float> distance;
        std::vector<std::vector<std::uint32_t>> listed;
        std::vector<Point> entries;
        std::vector<bool> next;
    };

    void startPass(NudgePass& pass) const {
        pass.listed.assign(256, {});
        for (std::size_t i = 0; i < points.size(); ++i) pass.listed[pass.nearest[i]].push_back(std::uint32_t(i));
        const PerceptualSearch search(pass.palette.data());
        pass.entries.resize(256);
        for (unsigned e = 0; e < 256; ++e) pass.entries[e] = pointOf(search.entry(e));
        pass.next.assign(256, false);
    }

    // What the steps of the entry in `slot` find from the pass as it is: its neighbours, the colours it may take
    // with each one's difference to its nearest entry but this one and that entry, and the code it steps to.
    Steps stepsOf(unsigned slot, const NudgePass& pass) const {
        Steps found;
        found.slot = slot;
        const unsigned e = freeIndices[slot];
        std::vector<std::pair<float, unsigned>> byDistance;
        for (unsigned f = 0; f < 256; ++f) byDistance.push_back({distance2(pass.entries[f], pass.entries[e]), f});
        std::partial_sort(byDistance.begin(), byDistance.begin() + nudgeNeighbours, byDistance.end());
        // the palette without e: e repeats its nearest other entry
        const unsigned stand = byDistance[0].second != e ? byDistance[0].second : byDistance[1].second;
        std::array<std::uint8_t, 768> others = pass.palette;
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
                const unsigned other = without.nearest(lab[i]);
                found.own.push_back(std::uint32_t(found.colours.size() - 1));
                found.restDifference.push_back(ciede2000(lab[i], without.entry(other)));
                found.restEntry.push_back(std::uint8_t(other == e ? stand : other));
            }
        }
        found.spent = found.colours.size();
        found.target = steps(pass.fitted[slot], e, found, pass.nearest);
        return found;
    }

    // What the steps read is unchanged: the colours of the neighbours, and for the entry's own colours their
    // nearest other entries, which a moved entry may have been or may have come nearer than.
    bool stillHolds(const Steps& step, const std::vector<bool>& changed, const std::vector<std::pair<unsigned, Lab>>& moved) const {
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

    // Moves the entry to the code its steps found, and its colours and those it takes to their nearest entries.
    void take(const Steps& step, NudgePass& pass, std::vector<bool>& changed, std::vector<std::pair<unsigned, Lab>>& moved) const {
        const unsigned e = freeIndices[step.slot];
        if (step.target == pass.fitted[step.slot]) return;
        pass.fitted[step.slot] = step.target;
        std::copy(step.target.begin(), step.target.end(), pass.palette.begin() + 3 * e);
        pass.next[e] = changed[e] = true;
        const Lab movedTo = labOf(step.target);
        moved.push_back({e, movedTo});
        for (std::size_t n = 0; n < step.colours.size(); ++n) {
            const std::uint32_t i = step.colours[n];
            const double d = ciede2000(lab[i], movedTo);
            const std::uint8_t owner = d < step.restDifference[n] ? std::uint8_t(e) : step.restEntry[n];
            const float to = float(std::min(d, step.restDifference[n]));
            if (owner != pass.nearest[i]) pass.listed[owner].push_back(i), pass.next[owner] = pass.next[pass.nearest[i]] = true;
            if (owner != pass.nearest[i] || to != pass.distance[i]) changed[owner] = changed[pass.nearest[i]] = true;
            pass.nearest[i] = owner, pass.distance[i] = to;
        }
    }

    // The steps of entry e from `at` to one of the 26 codes around it, while they lower the exact CIEDE2000 of
    // the colours it may take (`found`); adds the differences spent to found.spent.
    Rgb steps(Rgb at, unsigned e, Steps& found, const std::vector<std::uint8_t>& nearest) const {
        const std::vector<std::uint32_t>& local = found.colours;
        const std::vector<double>& rest = found.restDifference;
        std::vector<std::uint32_t> near;
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
            const auto cost = [&](const Rgb& code) {
                const Lab codeLab = labOf(code);
                double total = 0;
                for (std::uint32_t n : near) total += weight[local[n]] * std::min(rest[n], ciede2000(lab[local[n]], codeLab));
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

    // Where the histogram is small enough, each entry in turn moves to the colour, among every colour of the
    // histogram and the codes one step from the entry, that lowers the error most, until none does: the
    // palette is then a local optimum that no single move among those improves.
    std::vector<Rgb> polish(std::vector<Rgb> fitted) const {
        const double n = double(points.size());
        if (double(count) * n * (256 + 6 + n) > 4e6) return fitted;
        std::vector<double> rest(points.size());
        for (bool improved = true; improved;) {
            improved = false;
            for (unsigned k = 0; k < count; ++k) {
                // each colour's distance to its nearest entry but this one
                const std::array<std::uint8_t, 768> palette = paletteOf(fitted);
                std::vector<Lab> others;
                for (unsigned e = 0; e < 256; ++e)
                    if (e != freeIndices[k]) others.push_back(labFromSrgb(palette[3 * e], palette[3 * e + 1], palette[3 * e + 2]));
                for (std::size_t i = 0; i < points.size(); ++i) {
                    rest[i] = std::numeric_limits<double>::infinity();
                    for (const Lab& other : others) rest[i] = std::min(rest[i], ciede2000(lab[i], other));
                }
                const auto error = [&](const Rgb& code) {
                    const Lab at = labOf(code);
                    double sum = 0;
                    for (std::size_t i = 0; i < points.size(); ++i) sum += weight[i] * std::min(rest[i], ciede2000(lab[i], at));
                    return sum;
                };
                double least = error(fitted[k]);
                std::vector<Rgb> candidates = codes;
                for (int move = 0; move < 6; ++move) {
                    Rgb code = fitted[k];
                    const int c = move / 2, v = code[c] + (move % 2 ? 1 : -1);
                    if (v < 0 || v > 255) continue;
                    code[c] = std::uint8_t(v);
                    candidates.push_back(code);
                }
                for (const Rgb& code : candidates)
                    if (const double e = error(code); e < least * (1 - 1e-12)) least = e, fitted[k] = code, improved = true;
            }
        }
        return fitted;
    }

    // Lloyd's rounds stop in a local optimum that leaves some entries serving little and others too much;
    // the entry whose loss would cost least moves beside the entry of most error, and the move stays if after
    // a few rounds the error is less (Fritzke's LBG-U), in the space with the sum of distances. A move's rounds
    // run on the colours of the entries near both places only, whose error can only fall for the others.
    std::vector<Point> relocate(std::vector<Point> centres) {
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

    // What relocate() knows between moves: the centres (the fixed entries after the fitted ones), each colour's
    // distance to its nearest centre and to the next, squared, each centre's utility (what losing it would
    // cost) and load (its colours' summed distance), and its colours, members[start[k]] to members[start[k + 1]].
    struct Relocation {
        std::vector<Point> all;
        std::vector<float> distance, next;
        std::vector<double> utility, load;
        std::vector<std::size_t> start;
        std::vector<std::uint32_t> members;
    };

    // Every colour's nearest two centres, and what that gives the centres.
    void survey(Relocation& r) {
        const EuclideanSearch search(r.all);
        inParallel(points.size(), [&](std::size_t first, std::size_t last) {
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

    // the `n` centres nearest to a place, by index order among equals
    static std::vector<unsigned> nearestCentres(const std::vector<Point>& all, const Point& at, std::size_t n) {
        std::vector<std::pair<float, unsigned>> byDistance;
        for (unsigned k = 0; k < all.size(); ++k) byDistance.push_back({distance2(all[k], at), k});
        std::partial_sort(byDistance.begin(), byDistance.begin() + long(std::min(n, byDistance.size())), byDistance.end());
        std::vector<unsigned> nearest;
        for (std::size_t k = 0; k < std::min(n, byDistance.size()); ++k) nearest.push_back(byDistance[k].second);
        return nearest;
    }

    // Moves centre `from` halfway from centre `to` to the member adding most to its error, and lets the centres
    // `near` settle over the colours `local` in a few rounds; keeps it if their summed distance fell, else puts
    // everything back. Returns whether it was kept.
    bool tryMove(Relocation& r, unsigned from, unsigned to, const std::vector<unsigned>& near, const std::vector<std::uint32_t>& local) {
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

    // Four rounds over the colours `local`: each takes its nearest centre, and the fitted centres among `near`
    // move towards their colours' medians (three moves); returns the colours' summed distance in the last.
    double settle(Relocation& r, const std::vector<unsigned>& near, const std::vector<std::uint32_t>& local) {
        double after = 0;
        for (int round = 0; round < 4; ++round) {
            const EuclideanSearch search(r.all);
            std::vector<std::array<double, 4>> sums(near.size());
            after = 0;
            for (std::uint32_t i : local) {
                owner[i] = search.nearest(points[i], tangents[i], owner[i], r.distance[i]);
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

    // Splits the colours into `count` boxes, always the box whose split lowers the weighted squared error in the
    // space most, across the axis and at the place that leave the least error in the two halves; the boxes' means.
    std::vector<Point> seeds() const {
        struct Box {
            std::size_t begin, end;
            double error, gain;  // the weighted squared error, and what the best split takes off it
            int axis;
            float at;  // the colours below it on the axis go to the first half
        };
        std::vector<std::uint32_t> order(points.size());
        std::iota(order.begin(), order.end(), 0u);
        const auto value = [&](std::uint32_t i, int axis) { return axis == 0 ? points[i].L : axis == 1 ? points[i].a : points[i].b; };
        constexpr int bins = 256;
        const auto measure = [&](std::size_t begin, std::size_t end) {
            Box box{begin, end, 0, 0, -1, 0};
            double best = std::numeric_limits<double>::infinity();
            for (int axis = 0; axis < 3; ++axis) {
                float low = std::numeric_limits<float>::infinity(), high = -low;
                for (std::size_t k = begin; k < end; ++k) low = std::min(low, value(order[k], axis)), high = std::max(high, value(order[k], axis));
                if (!(high > low)) continue;
                // per bin: weight, weighted sums of L, a, b and of the squared norm
                std::vector<std::array<double, 5>> sums(bins);
                const float scale = bins / (high - low) * 0.99999f;
                for (std::size_t k = begin; k < end; ++k) {
                    const std::uint32_t i = order[k];
                    const int bin = std::min(bins - 1, int((value(i, axis) - low) * scale));
                    const double w = weight[i], L = points[i].L, A = points[i].a, B = points[i].b;
                    auto& s = sums[bin];
                    s[0] += w, s[1] += w * L, s[2] += w * A, s[3] += w * B, s[4] += w * (L * L + A * A + B * B);
                }
                std::array<double, 5> all{};
                for (const auto& s : sums)
                    for (int c = 0; c < 5; ++c) all[c] += s[c];
                const auto error = [](const std::array<double, 5>& s) {
                    return s[0] > 0 ? s[4] - (s[1] * s[1] + s[2] * s[2] + s[3] * s[3]) / s[0] : 0.0;
                };
                box.error = error(all);
                std::array<double, 5> left{};
                for (int t = 0; t + 1 < bins; ++t) {
                    for (int c = 0; c < 5; ++c) left[c] += sums[t][c];
                    if (left[0] == 0 || left[0] == all[0]) continue;
                    std::array<double, 5> right;
                    for (int c = 0; c < 5; ++c) right[c] = all[c] - left[c];
                    if (const double e = error(left) + error(right); e < best) best = e, box.axis = axis, box.at = low + float(t + 1) / scale, box.gain = box.error - e;
                }
            }
            return box;
        };
        std::vector<Box> boxes{measure(0, order.size())};
        while (boxes.size() < count) {
            std::size_t pick = boxes.size();
            for (std::size_t n = 0; n < boxes.size(); ++n)
                if (boxes[n].axis >= 0 && (pick == boxes.size() || boxes[n].gain > boxes[pick].gain)) pick = n;
            if (pick == boxes.size()) break;
            const Box box = boxes[pick];
            const auto middle = partitionInPlace(order.begin() + long(box.begin), order.begin() + long(box.end),
                                               [&](std::uint32_t i) { return value(i, box.axis) < box.at; });
            const std::size_t split = std::size_t(middle - order.begin());
            if (split == box.begin || split == box.end) {
                boxes[pick].axis = -1;
                continue;
            }
            boxes[pick] = measure(box.begin, split);
            boxes.push_back(measure(split, box.end));
        }
        std::vector<Point> centres;
        for (const Box& box : boxes) {
            double sum[4] = {};
            for (std::size_t k = box.begin; k < box.end; ++k) {
                const std::uint32_t i = order[k];
                sum[0] += weight[i], sum[1] += weight[i] * points[i].L, sum[2] += weight[i] * points[i].a, sum[3] += weight[i] * points[i].b;
            }
            centres.push_back({float(sum[1] / sum[0]), float(sum[2] / sum[0]), float(sum[3] / sum[0])});
        }
        // boxes that could not be split leave centres for the first round to place
        while (centres.size() < count) centres.push_back(centres.front());
        return centres;
    }

    // The colour that adds the most to the error, `distance` to its entry weighted by its count; that colour's
    // distance then falls to nought, and so do those of colours nearer to it than to their entries.
    template <typename Distance>
    std::size_t worst(std::vector<float>& distance, const Distance& to) const {
        std::size_t pick = 0;
        for (std::size_t i = 1; i < points.size(); ++i)
            if (weight[i] * distance[i] > weight[pick] * distance[pick]) pick = i;
        for (std::size_t i = 0; i < points.size(); ++i) distance[i] = std::min(distance[i], to(i, pick));
        return pick;
    }

    // Lloyd's rounds in the space, the entries not fitted taking part unmoved: each entry moves to its colours'
    // mean, or with `median` a step towards their median (Weiszfeld's), which the sum of distances favours.
    std::vector<Point> euclideanRounds(std::vector<Point> centres, bool median, int rounds) {
        std::vector<Point> all = centres;
        for (const Rgb& code : fixedCodes) all.push_back(pointOf(labOf(code)));
        std::vector<float> distance(points.size());
        double previous = std::numeric_limits<double>::infinity();
        for (int round = 0; round < rounds; ++round) {
            const EuclideanSearch search(all);
            inParallel(points.size(), [&](std::size_t first, std::size_t last) {
                for (std::size_t i = first; i < last; ++i) owner[i] = search.nearest(points[i], tangents[i], owner[i], distance[i]);
            });
            std::vector<std::array<double, 4>> sums(count);
            double error = 0;
            for (std::size_t i = 0; i < points.size(); ++i) {
                const double d = median ? std::sqrt(double(distance[i])) : distance[i], w = median ? weight[i] / std::max(d, 0.1) : weight[i];
                error += weight[i] * d;
                if (owner[i] >= count) continue;
                auto& s = sums[owner[i]];
                s[0] += w, s[1] += w * points[i].L, s[2] += w * points[i].a, s[3] += w * points[i].b;
            }
            bool reseeded = false;
            for (unsigned k = 0; k < count; ++k) {
                if (sums[k][0] > 0) {
                    all[k] = {float(sums[k][1] / sums[k][0]), float(sums[k][2] / sums[k][0]), float(sums[k][3] / sums[k][0])};
                    continue;
                }
                all[k] = points[worst(distance, [&](std::size_t i, std::size_t p) { return distance2(points[i], points[p]); })];
                reseeded = true;
            }
            if (!reseeded && error >= previous * (1 - 1e-3)) break;
            previous = error;
        }
        all.resize(count);
        return all;
    }

    std::array<std::uint8_t, 768> paletteOf(const std::vector<Rgb>& fitted) const {
        std::array<std::uint8_t, 768> palette = base;
        for (unsigned k = 0; k < count; ++k) std::copy(fitted[k].begin(), fitted[k].end(), palette.begin() + 3 * freeIndices[k]);
        return palette;
    }

    // Rounds that assign each colour to its nearest entry by CIEDE2000, then move each entry to whichever of
    // its members' means (in CIELAB, in linear light, and one towards their median) and its commonest members
    // lowers their summed CIEDE2000 the most; the best palette of all rounds is kept.
    std::vector<Rgb> perceptualRounds(const std::vector<Point>& centres) {
        std::vector<Rgb> fitted;
        for (const Point& p : centres) fitted.push_back(codeOfLab(fitSpace().lab(p)));
        std::vector<int> slot(256, -1);
        for (unsigned k = 0; k < count; ++k) slot[freeIndices[k]] = int(k);
        std::vector<Rgb> best = fitted;
        double bestError = std::numeric_limits<double>::infinity();
        std::vector<std::uint8_t> nearest(points.size());
        std::vector<float> distance(points.size());
        for (int round = 0; round < 6; ++round) {
            const std::array<std::uint8_t, 768> palette = paletteOf(fitted);
            const PerceptualSearch search(palette.data());
            const double error = assign(search, nearest, distance);
            const bool better = error < bestError * (1 - 1e-4);
            if (error < bestError) bestError = error, best = fitted;
            if (!better && round > 0) break;
            // the members of each fitted entry
            std::vector<std::size_t> start(count + 1, 0);
            for (std::size_t i = 0; i < points.size(); ++i)
                if (slot[nearest[i]] >= 0) ++start[slot[nearest[i]] + 1];
            std::partial_sum(start.begin(), start.end(), start.begin());
            std::vector<std::uint32_t> members(start[count]);
            std::vector<std::size_t> fill(start.begin(), start.end() - 1);
            for (std::size_t i = 0; i < points.size(); ++i)
                if (slot[nearest[i]] >= 0) members[fill[slot[nearest[i]]]++] = std::uint32_t(i);
            inParallel(
                count,
                [&](std::size_t first, std::size_t last) {
                    for (std::size_t k = first; k < last; ++k)
                        if (start[k] < start[k + 1]) fitted[k] = bestCentre(fitted[k], members.data() + start[k], members.data() + start[k + 1], distance);
                },
                1);
            // entries left without colours go where the error is, one after another
            for (unsigned k = 0; k < count; ++k)
                if (start[k] == start[k + 1]) fitted[k] = codes[worst(distance, [&](std::size_t i, std::size_t p) { return float(ciede2000(lab[i], lab[p])); })];
        }
        return best;
    }

    Rgb bestCentre(const Rgb& current, const std::uint32_t* first, const std::uint32_t* last, const std::vector<float>& distance) const {
        double w = 0, sum[3] = {}, linear[3] = {}, median[4] = {};
        for (const std::uint32_t* m = first; m != last; ++m) {
            const std::size_t i = *m;
            const double wi = weight[i], pull = wi / std::max(double(distance[i]), 0.05);
            w += wi;
            sum[0] += wi * lab[i].L, sum[1] += wi * lab[i].a, sum[2] += wi * lab[i].b;
            for (int c = 0; c < 3; ++c) linear[c] += wi * linearFromSrgb(codes[i][c]);
            median[0] += pull, median[1] += pull * lab[i].L, median[2] += pull * lab[i].a, median[3] += pull * lab[i].b;
        }
        for (int c = 0; c < 3; ++c) linear[c] /= w;
        std::vector<Rgb> candidates = {current, codeOfLab({sum[0] / w, sum[1] / w, sum[2] / w}),
                                       nearestCode(linear, labFromLinear(linear[0], linear[1], linear[2])),
                                       codeOfLab({median[1] / median[0], median[2] / median[0], median[3] / median[0]})};
        // the commonest members too: a sum of distances is often least on a colour that many pixels have
        std::vector<std::uint32_t> heaviest(first, last);
        const std::size_t top = std::min<std::size_t>(heaviest.size(), commonest);
        std::partial_sort(heaviest.begin(), heaviest.begin() + long(top), heaviest.end(), [&](std::uint32_t x, std::uint32_t y) {
            return weight[x] != weight[y] ? weight[x] > weight[y] : x < y;
        });
        for (std::size_t n = 0; n < top; ++n) candidates.push_back(codes[heaviest[n]]);
        const auto cost = [&](const Rgb& code) {
            const Lab at = labOf(code);
            double total = 0;
            for (const std::uint32_t* m = first; m != last; ++m) total += weight[*m] * ciede2000(lab[*m], at);
            return total;
        };
        Rgb best = current;
        double least = std::numeric_limits<double>::infinity();
        for (std::size_t n = 0; n < candidates.size(); ++n) {
            if (std::find(candidates.begin(), candidates.begin() + long(n), candidates[n]) != candidates.begin() + long(n)) continue;
            if (const double c = cost(candidates[n]); c < least) least = c, best = candidates[n];
        }
        return best;
    }

    // members of an entry tried as its colour, and moves of an entry tried, at most
    static constexpr std::size_t commonest = 3;
    static constexpr int relocations = 100;
    // distinct colours above which the first stages work on colours merged in cells
    static constexpr std::size_t mergeAbove = 32768;
    // passes of nudge(), the entries (itself among them) whose colours a nudged entry may take, and the codes
    // around it measured exactly per step
    static constexpr int nudgePasses = 3, nudgeNeighbours = 9;
    static constexpr std::size_t nudgeTried = 3, nudgeWork = 2000000;
    // entries whose steps are worked out together
    static constexpr std::size_t nudgeAhead = 4;
    std::vector<unsigned> owner;  // each colour's nearest centre in the space, kept from round to round
    unsigned count;
    const std::array<std::uint8_t, 768>& base;
    const std::vector<unsigned>& freeIndices;
    std::vector<Rgb> codes, fixedCodes;
    std::vector<Lab> lab;
    std::vector<Point> points;
    std::vector<Tangent> tangents;
    std::vector<double> weight;
    Colours exact;  // every colour as it is, while the first stages work on merged ones
};

}  // namespace

PaletteFit::PaletteFit(const std::vector<ColourCount>& histogram, unsigned entries, const std::vector<KeptEntry>& kept) {
    if (entries < 1 || entries > 256) throw std::invalid_argument("the number of entries to fit is not 1 to 256");
    std::vector<bool> taken(256, false);
    for (const KeptEntry& entry : kept) {
        if (entry.index > 255 || taken[entry.index]) throw std::invalid_argument("a kept entry's index is above 255 or given twice");
        taken[entry.index] = true;
        palette[3 * entry.index] = entry.r, palette[3 * entry.index + 1] = entry.g, palette[3 * entry.index + 2] = entry.b;
    }
    std::vector<unsigned> freeIndices;
    for (unsigned n = 0; n < 256; ++n)
        if (!taken[n]) freeIndices.push_back(n);
    if (entries > freeIndices.size()) throw std::invalid_argument("more entries to fit than free indices");

    // the palette with these fitted entries, darkest first in the free indices, and its mean error
    const auto finish = [&](std::vector<Rgb> fitted) {
        std::sort(fitted.begin(), fitted.end(), [](const Rgb& x, const Rgb& y) {
            const double lx = labOf(x).L, ly = labOf(y).L;
            return lx != ly ? lx < ly : x < y;
        });
        std::array<std::uint8_t, 768> made = palette;
        for (std::size_t k = 0; k < fitted.size(); ++k) std::copy(fitted[k].begin(), fitted[k].end(), made.begin() + 3 * freeIndices[k]);
        const PerceptualSearch search(made.data());
        std::vector<double> differences(histogram.size());
        inParallel(histogram.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) {
                const std::uint32_t rgb = histogram[i].rgb;
                const Lab lab = labFromSrgb(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb));
                differences[i] = ciede2000(lab, search.entry(search.nearest(lab)));
            }
        });
        double sum = 0, pixels = 0;
        for (std::size_t i = 0; i < histogram.size(); ++i) sum += double(histogram[i].count) * differences[i], pixels += double(histogram[i].count);
        return std::pair{made, pixels > 0 ? sum / pixels : 0.0};
    };
    std::vector<Rgb> fitted = Fitter(histogram, entries, palette, freeIndices).fit();
    auto [made, least] = finish(fitted);
    // Kept entries steer the fit into other local optima, now and then worse than fitting as if they were not
    // there; that fit, with the kept entries then put back, is tried too, so that keeping never costs more.
    if (!kept.empty() && fitted.size() == entries && least > 0) {
        const std::array<std::uint8_t, 768> black{};
        if (auto [other, otherError] = finish(Fitter(histogram, entries, black, freeIndices).fit()); otherError < least) made = other, least = otherError;
    }
    palette = made;
    error = least;
}
