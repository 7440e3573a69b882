#include "png2mat/AlphaSources.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "fs/Error.h"
#include "iff/FormatError.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// An alpha plane as stored (255 minus opacity, bottom row first) from samples of `channels`, opacity last,
// or from the palette entries of an image's indices.
Bytes alphaPlane(const PngImage& image, unsigned channels) {
    const std::uint32_t width = image.width(), height = image.height();
    Bytes plane(std::size_t{width} * height);
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint8_t* in = image.samples() + (std::size_t{height - 1 - row} * width) * channels + channels - 1;
        std::uint8_t* out = plane.data() + std::size_t{row} * width;
        for (std::uint32_t x = 0; x < width; ++x, in += channels)
            out[x] = static_cast<std::uint8_t>(255 - (image.indexed() ? image.opacity(*in) : *in));
    }
    return plane;
}

// The alpha image, or nothing when there is none; a reason about it names it.
std::unique_ptr<PngImage> readMask(const std::string& maskname) {
    struct stat st;
    if (::lstat(maskname.c_str(), &st) != 0) return nullptr;
    try {
        return std::make_unique<PngImage>(maskname, 1);
    } catch (const Error& error) {
        std::rethrow_exception(error.withPrefix(maskname + ": "));
    }
}

}  // namespace

std::optional<Bytes> chooseAlpha(const PngImage& image, const Chunk* storedAlpha, bool sameSize,
                                 const std::string& imagename, const std::string& maskname) {
    const std::size_t count = std::size_t{image.width()} * image.height();
    std::optional<Bytes> stored;
    if (storedAlpha && sameSize) stored.emplace(storedAlpha->getData(), storedAlpha->getData() + storedAlpha->getLength());
    std::optional<Bytes> fromColour, fromMask;
    if (image.hasAlpha()) fromColour = alphaPlane(image, image.indexed() ? 1 : 4);
    if (const std::unique_ptr<PngImage> mask = readMask(maskname)) {
        if (mask->width() != image.width() || mask->height() != image.height())
            throw FormatError(maskname + " is " + std::to_string(mask->width()) + " x " + std::to_string(mask->height()) + ", but " +
                              imagename + " is " + std::to_string(image.width()) + " x " + std::to_string(image.height()));
        fromMask = alphaPlane(*mask, 1);
    }
    std::optional<Bytes> chosen;
    if (fromColour && fromMask && *fromColour != *fromMask) {
        // the one still equal to the stored plane is the one left unedited
        if (*fromColour == stored) chosen = std::move(fromMask);
        else if (*fromMask == stored) chosen = std::move(fromColour);
        else throw FormatError("the alpha sources disagree: the alpha channel of " + imagename + " differs from " + maskname +
                               (stored ? ", and both differ from the stored plane" : ""));
    } else if (fromColour || fromMask) {
        chosen = fromColour ? std::move(fromColour) : std::move(fromMask);
    } else if (stored) {
        // an editor that saved RGB must not erase the transparency
        return stored;
    } else if (storedAlpha) {
        return Bytes(count, 0);
    } else {
        return {};
    }
    // a fully opaque channel adds no plane to a file that has none
    if (!storedAlpha && std::all_of(chosen->begin(), chosen->end(), [](std::uint8_t a) { return a == 0; })) return {};
    return chosen;
}
