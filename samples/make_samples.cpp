// Writes the sample set: make_samples DIR creates DIR/mat and DIR/pal.

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
    return 0;
}
