#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A PNG file decoded in its constructor (by libpng; in the page by PngDecoder) into 8-bit samples as they are stored in the
// file, top row first: gAMA, cHRM, sRGB and iCCP are ignored, 16-bit samples are rounded to 8
// bits, grey is expanded and a tRNS chunk becomes alpha. `channels` is 4 for RGBA or 1 for grey
// (RGB weighted by libpng's default coefficients, alpha left out). A colour-mapped file whose
// palette shows `colours` (256 RGB entries) at every index its pixels use keeps those indices
// instead: indexed() is true and samples() holds one index per pixel. A damaged file raises
// FormatError with libpng's message, and anything but a regular file ReadError; the
// caller names the file where the reason is not about the file it reports on.
class PngImage {
public:
    PngImage(const std::string& path, unsigned channels, const std::uint8_t* colours = nullptr);
    virtual ~PngImage();
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;

    std::uint32_t width() const { return w; }
    std::uint32_t height() const { return h; }
    // True when the file carries alpha: an alpha channel or a tRNS chunk.
    bool hasAlpha() const { return alpha; }
    bool indexed() const { return indices; }
    // The opacity of a palette index, from the tRNS chunk (255 past its end).
    std::uint8_t opacity(std::uint8_t index) const { return entries[4 * index + 3]; }
    const std::uint8_t* samples() const { return data.get(); }

    // The decoder's name and version, one line for --version.
    static std::string library();

private:
    std::uint32_t w = 0, h = 0;
    bool alpha = false, indices = false;
    std::uint8_t entries[4 * 256] = {};  // a colour-mapped file's palette as RGBA
    std::unique_ptr<std::uint8_t[]> data;
};
