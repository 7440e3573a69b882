#include "colour/Fitter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "colour/EuclideanSearch.h"
#include "colour/Lab.h"
#include "colour/LabToSrgb.h"
#include "colour/Terms.h"

namespace colour {

namespace {

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

}  // namespace

std::vector<Point> Fitter::seeds() const {
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

}  // namespace colour
