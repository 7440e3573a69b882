#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "colour/ColourHistogram.h"
#include "colour/Palette.h"
#include "colour/FitColours.h"
#include "colour/Parallel.h"
#include "colour/PerceptualSearch.h"

// The palette fit's stages, one file each: Fitter.cpp (the colours, and the stages in order), FitSeeds.cpp
// (boxes split to seed the centres), FitRounds.cpp (Lloyd's rounds in the space and by CIEDE2000),
// FitRelocation.cpp (moves of entries that serve little), FitSteps.cpp (steps of codes) and FitPolish.cpp.
namespace colour {

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
    // `parallel`: the threads the stages run in
    Fitter(const std::vector<ColourCount>& histogram, unsigned entries, const Palette& base,
           const std::vector<unsigned>& freeIndices, Parallel& parallel);

    // the fitted entries, in the order of the free indices
    std::vector<Rgb> fit();

private:
    // the colours the stages work on, swapped with `other`
    void take(Colours& other);

    // Each colour's nearest entry in a palette by CIEDE2000 and its difference to it, as last measured.
    struct Assignment {
        Palette palette{};
        bool measured = false;
        std::vector<std::uint8_t> nearest;
        std::vector<double> exact;
    };

    // Each colour's nearest entry in `palette` and its difference to it (also as floats in `distance`), found in
    // threads; returns the differences weighted by the colours' counts, summed. From a palette measured before,
    // only the entries that changed since are searched: a colour whose entry stayed keeps it unless a changed
    // entry is nearer, or as near with a lower index; the others are searched afresh. The result is the same.
    double assign(const Palette& palette, Assignment& found, std::vector<float>& distance) const;

    // Rounding a centre to a code seldom gives the code its colours want most: each entry in turn steps to one
    // of the 26 codes around it while that lowers the exact CIEDE2000 of its colours and of those it could take
    // from the entries near it. Every pass ends with all colours measured afresh, and stays only if the error
    // fell, since a step may take colours of farther entries that went unseen.
    std::vector<Rgb> nudge(std::vector<Rgb> fitted) const;

    // The state a pass of nudge() works on: the fitted entries and the palette, each colour's nearest entry and
    // its difference to it, the colours listed per entry (a colour that changes entry is listed again, and
    // counts only where its entry is), the entries' places in the space, and the entries to try in the next pass.
    struct NudgePass {
        std::vector<Rgb> fitted;
        Palette palette;
        Assignment measured;
        std::vector<std::uint8_t> nearest;
        std::vector<float> distance;
        std::vector<std::vector<std::uint32_t>> listed;
        std::vector<Point> entries;
        std::vector<bool> next;
    };

    void startPass(NudgePass& pass) const;

    // What the steps of the entry in `slot` find from the pass as it is: its neighbours, the colours it may take
    // with each one's difference to its nearest entry but this one and that entry, and the code it steps to.
    Steps stepsOf(unsigned slot, const NudgePass& pass) const;

    // What the steps read is unchanged: the colours of the neighbours, and for the entry's own colours their
    // nearest other entries, which a moved entry may have been or may have come nearer than.
    bool stillHolds(const Steps& step, const std::vector<bool>& changed, const std::vector<std::pair<unsigned, Lab>>& moved) const;

    // Moves the entry to the code its steps found, and its colours and those it takes to their nearest entries.
    void applySteps(const Steps& step, NudgePass& pass, std::vector<bool>& changed, std::vector<std::pair<unsigned, Lab>>& moved) const;

    // The steps of entry e from `at` to one of the 26 codes around it, while they lower the exact CIEDE2000 of
    // the colours it may take (`found`); adds the differences spent to found.spent.
    Rgb steps(Rgb at, unsigned e, Steps& found, const std::vector<std::uint8_t>& nearest) const;

    // Where the histogram is small enough, each entry in turn moves to the colour, among every colour of the
    // histogram and the codes one step from the entry, that lowers the error most, until none does: the
    // palette is then a local optimum that no single move among those improves.
    std::vector<Rgb> polish(std::vector<Rgb> fitted) const;

    // Lloyd's rounds stop in a local optimum that leaves some entries serving little and others too much;
    // the entry whose loss would cost least moves beside the entry of most error, and the move stays if after
    // a few rounds the error is less (Fritzke's LBG-U), in the space with the sum of distances. A move's rounds
    // run on the colours of the entries near both places only, whose error can only fall for the others.
    std::vector<Point> relocate(std::vector<Point> centres);

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
    void survey(Relocation& r);

    // the `n` centres nearest to a place, by index order among equals
    static std::vector<unsigned> nearestCentres(const std::vector<Point>& all, const Point& at, std::size_t n);

    // Moves centre `from` halfway from centre `to` to the member adding most to its error, and lets the centres
    // `near` settle over the colours `local` in a few rounds; keeps it if their summed distance fell, else puts
    // everything back. Returns whether it was kept.
    bool tryMove(Relocation& r, unsigned from, unsigned to, const std::vector<unsigned>& near, const std::vector<std::uint32_t>& local);

    // Four rounds over the colours `local`: each takes its nearest centre, and the fitted centres among `near`
    // move towards their colours' medians (three moves); returns the colours' summed distance in the last.
    double settle(Relocation& r, const std::vector<unsigned>& near, const std::vector<std::uint32_t>& local);

    // Splits the colours into `count` boxes, always the box whose split lowers the weighted squared error in the
    // space most, across the axis and at the place that leave the least error in the two halves; the boxes' means.
    std::vector<Point> seeds() const;

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
    std::vector<Point> euclideanRounds(std::vector<Point> centres, bool median, int rounds);

    Palette paletteOf(const std::vector<Rgb>& fitted) const;

    // Rounds that assign each colour to its nearest entry by CIEDE2000, then move each entry to whichever of
    // its members' means (in CIELAB, in linear light, and one towards their median) and its commonest members
    // lowers their summed CIEDE2000 the most; the best palette of all rounds is kept.
    std::vector<Rgb> perceptualRounds(const std::vector<Point>& centres);

    Rgb bestCentre(const Rgb& current, const std::uint32_t* first, const std::uint32_t* last, const std::vector<float>& distance) const;

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
    Parallel& parallel;
    unsigned count;
    const Palette& base;
    const std::vector<unsigned>& freeIndices;
    std::vector<Rgb> codes, fixedCodes;
    std::vector<Lab> lab;
    std::vector<Point> points;
    std::vector<Tangent> tangents;
    std::vector<double> weight;
    Colours exact;  // every colour as it is, while the first stages work on merged ones
};

}  // namespace colour
