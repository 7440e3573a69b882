// Writes the sample set: make_samples DIR creates DIR/mat, DIR/pal and DIR/sign.png.

#include <png.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "support/IffWriter.h"

using namespace iff;

namespace {

// A smooth ramp through the palette, like a shaded texture.
Bytes pattern(int width, int height, int seed) {
    Bytes pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(std::uint8_t(128 + 127 * std::sin((x * seed + y * 3) / 9.0) * std::cos(y / 7.0)));
    return pixels;
}

// Opaque in the middle, fading to transparent (255) at the edges.
Bytes vignette(int width, int height) {
    Bytes alpha;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            alpha.push_back(std::uint8_t(std::min(255.0, 400 * std::hypot(x / double(width) - 0.5, y / double(height) - 0.5))));
    return alpha;
}

Bytes ramp(int r, int g, int b) {
    Bytes table;
    for (int n = 0; n < 256; ++n) table = table + Bytes{std::uint8_t(n * r / 255), std::uint8_t(n * g / 255), std::uint8_t(n * b / 255)};
    return table;
}

// A painted wooden sign reading INN, as new art for the set: planks with grain, a frame, nails,
// rounded corners that fade to transparent.
bool writeSign(const std::filesystem::path& path) {
    const char* glyphs[2][7] = {{"11111", "00100", "00100", "00100", "00100", "00100", "11111"},
                                {"10001", "11001", "10101", "10101", "10011", "10001", "10001"}};
    const int size = 64, left = 4, top = 13, right = 59, bottom = 50;
    Bytes rgba;
    std::uint32_t seed = 7;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double grain = std::sin((x + 5 * std::sin(y * 0.6 + x * 0.05)) * 0.45 + (y / 12) * 2.0);
            const double speck = ((seed = seed * 1664525u + 1013904223u) >> 24) / 255.0 - 0.5;
            double r = 140 + 25 * grain + 12 * speck, g = 92 + 18 * grain + 9 * speck, b = 52 + 10 * grain + 6 * speck;
            const bool frame = x < left + 2 || x > right - 2 || y < top + 2 || y > bottom - 2, seam = (y - top) % 12 == 0;
            if (frame || seam) r *= 0.55, g *= 0.5, b *= 0.45;
            const int gx = (x - 15) / 2, gy = (y - 25) / 2, letter = gx / 6, column = gx % 6;
            if (x >= 15 && y >= 25 && gy < 7 && letter < 3 && column < 5 && glyphs[letter == 0 ? 0 : 1][gy][column] == '1')
                r = 232 + 14 * speck, g = 212 + 12 * speck, b = 160 + 10 * speck;
            if (std::hypot(x - left - 3.5, y - top - 3.5) < 1.2 || std::hypot(x - right + 3.5, y - top - 3.5) < 1.2 ||
                std::hypot(x - left - 3.5, y - bottom + 3.5) < 1.2 || std::hypot(x - right + 3.5, y - bottom + 3.5) < 1.2)
                r = g = b = 190;
            // distance outside the board with corners of radius 4, for an edge that fades over one pixel
            const double cx = std::max({left + 4.0 - x, x - right + 4.0, 0.0}), cy = std::max({top + 4.0 - y, y - bottom + 4.0, 0.0});
            const double alpha = std::clamp(4.5 - std::hypot(cx, cy), 0.0, 1.0);
            rgba = rgba + Bytes{std::uint8_t(std::clamp(r, 0.0, 255.0)), std::uint8_t(std::clamp(g, 0.0, 255.0)),
                                std::uint8_t(std::clamp(b, 0.0, 255.0)), std::uint8_t(std::lround(255 * alpha))};
        }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = image.height = size;
    image.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir / "mat");
    std::filesystem::create_directories(dir / "pal");
    // embedded palette with an alpha plane
    save(dir / "mat/hero.mat", Mat{64, 64, 1, cmap(ramp(255, 180, 90)), pattern(64, 64, 1), vignette(64, 64), {}}.bytes());
    // named palette, a HOTS chunk and an odd size
    Mat rock{33, 17, 2, name("rock"), pattern(33, 17, 2), {}, chunk("HOTS", le32(16) + le32(8))};
    save(dir / "mat/rock.mat", rock.bytes());
    save(dir / "pal/rock.pal", paletteFile(ramp(150, 140, 130)));
    // named palette in a subdirectory, written with the original backslash, and an alpha plane
    save(dir / "mat/glass.mat", Mat{40, 24, 3, name("water\\Glass"), pattern(40, 24, 3), vignette(40, 24), {}}.bytes());
    std::filesystem::create_directories(dir / "pal/water");
    save(dir / "pal/water/Glass.pal", paletteFile(ramp(90, 200, 255)));
    // an animation: passed over without output
    save(dir / "mat/walk.mat", form("ANIM", form("FRAM", chunk("INFO", le32(1) + le32(1) + le32(0)))));
    // an image without a MAT file, for png2mat --palette
    return writeSign(dir / "sign.png") ? 0 : 1;
}
