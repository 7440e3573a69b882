#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A PNG file decoded in its constructor by libpng's simplified API into 8-bit
// samples of `format` (PNG_FORMAT_RGBA or PNG_FORMAT_GRAY), top row first.
// A damaged file raises FormatError with the path and libpng's message.
class PngImage {
public:
    PngImage(const std::string& path, std::uint32_t format);
    virtual ~PngImage();
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;

    std::uint32_t width() const { return w; }
    std::uint32_t height() const { return h; }
    // True when the file carries alpha: an alpha channel or a tRNS chunk.
    bool hasAlpha() const { return alpha; }
    const std::uint8_t* samples() const { return data.get(); }

private:
    std::uint32_t w = 0, h = 0;
    bool alpha = false;
    std::unique_ptr<std::uint8_t[]> data;
};
