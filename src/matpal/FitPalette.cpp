#include "matpal/FitPalette.h"

#include <algorithm>
#include <tuple>

// TEMPORARY: a plain median cut in RGB, so that `matpal make` works end to end until the
// perceptual fit of src/colour/PaletteFit takes its place behind the same function.

namespace {

using Bin = Histogram::Bin;

int channel(std::uint32_t rgb, int c) { return static_cast<int>(rgb >> (16 - 8 * c) & 0xFF); }

struct Box {
    std::size_t begin, end;  // bins of the box in the working list
    int widest = 0, extent = 0;  // the channel of the largest range, and that range
};

void measure(const std::vector<Bin>& bins, Box& box) {
    box.extent = -1;
    for (int c = 0; c < 3; ++c) {
        int low = 255, high = 0;
        for (std::size_t n = box.begin; n < box.end; ++n) {
            low = std::min(low, channel(bins[n].rgb, c));
            high = std::max(high, channel(bins[n].rgb, c));
        }
        if (high - low > box.extent) box.extent = high - low, box.widest = c;
    }
}

std::uint32_t meanColour(const std::vector<Bin>& bins, const Box& box) {
    std::uint64_t sum[3] = {}, weight = 0;
    for (std::size_t n = box.begin; n < box.end; ++n) {
        for (int c = 0; c < 3; ++c) sum[c] += bins[n].count * static_cast<std::uint64_t>(channel(bins[n].rgb, c));
        weight += bins[n].count;
    }
    std::uint32_t rgb = 0;
    for (int c = 0; c < 3; ++c) rgb = rgb << 8 | static_cast<std::uint32_t>((sum[c] + weight / 2) / weight);
    return rgb;
}

}  // namespace

int KeptEntries::count() const { return static_cast<int>(std::count(kept.begin(), kept.end(), true)); }

palette::Entries fitPalette(const Histogram& histogram, int colours, const KeptEntries& keep) {
    // a colour a kept entry already shows needs no entry of its own
    std::vector<std::uint32_t> shown;
    for (int n = 0; n < 256; ++n)
        if (keep.kept[n]) shown.push_back(std::uint32_t{keep.colours[3 * n]} << 16 | keep.colours[3 * n + 1] << 8 | keep.colours[3 * n + 2]);
    std::sort(shown.begin(), shown.end());
    std::vector<Bin> bins;
    for (const Bin& bin : histogram.bins())
        if (!std::binary_search(shown.begin(), shown.end(), bin.rgb)) bins.push_back(bin);

    std::vector<Box> boxes;
    if (!bins.empty() && colours > 0) {
        boxes.push_back({0, bins.size()});
        measure(bins, boxes.back());
    }
    while (static_cast<int>(boxes.size()) < colours) {
        // the box of the widest range is cut; the first of equal ones, so that the result is reproducible
        Box* widest = nullptr;
        for (Box& box : boxes)
            if (box.end - box.begin > 1 && (!widest || box.extent > widest->extent)) widest = &box;
        if (!widest) break;
        const int c = widest->widest;
        std::sort(bins.begin() + static_cast<std::ptrdiff_t>(widest->begin), bins.begin() + static_cast<std::ptrdiff_t>(widest->end),
                  [c](const Bin& a, const Bin& b) { return std::make_tuple(channel(a.rgb, c), a.rgb) < std::make_tuple(channel(b.rgb, c), b.rgb); });
        std::uint64_t total = 0, below = 0;
        for (std::size_t n = widest->begin; n < widest->end; ++n) total += bins[n].count;
        // the weighted median, leaving at least one bin on each side
        std::size_t cut = widest->begin + 1;
        for (std::size_t n = widest->begin; n + 1 < widest->end; ++n) {
            below += bins[n].count;
            cut = n + 1;
            if (2 * below >= total) break;
        }
        Box upper{cut, widest->end};
        widest->end = cut;
        measure(bins, *widest);
        measure(bins, upper);
        boxes.push_back(upper);
    }

    std::vector<std::uint32_t> fitted;
    for (const Box& box : boxes) fitted.push_back(meanColour(bins, box));
    // dark to light, which is how palette editors show a ramp
    std::sort(fitted.begin(), fitted.end(), [](std::uint32_t a, std::uint32_t b) {
        const auto light = [](std::uint32_t rgb) { return 299 * channel(rgb, 0) + 587 * channel(rgb, 1) + 114 * channel(rgb, 2); };
        return std::make_tuple(light(a), a) < std::make_tuple(light(b), b);
    });

    palette::Entries entries{};
    std::size_t next = 0;
    for (int n = 0; n < 256; ++n) {
        if (keep.kept[n]) {
            std::copy_n(&keep.colours[3 * n], 3, &entries[3 * n]);
        } else if (next < fitted.size()) {
            for (int c = 0; c < 3; ++c) entries[3 * n + c] = static_cast<std::uint8_t>(channel(fitted[next], c));
            ++next;
        }
    }
    return entries;
}
