// Writes the picture sets of the palette benchmark (bench/palette.sh): make_sets DIR writes DIR/SET/NAME.png,
// four pictures of 320 x 320 per set but rich. Procedural and deterministic, the same bytes on every machine.
//   photo   photographs with film grain: a landscape, a face, a street at dusk, a forest floor;
//   painted flat cel-shaded shapes with antialiased edges and outlines, no grain;
//   onehue  colours crowding in the oranges and browns: wood, sand, rust, a tan face;
//   details dark scenes with small bright coloured lights, sparks, stars and signs;
//   rich    33 surfaces that tile, 40 x 80 to 156 x 156, in rows of one height 360 wide; about half their
//           pixels have a colour of their own, as scanned and painted texture art does.

#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Procedural.h"

namespace fs = std::filesystem;

namespace {

using namespace procedural;
constexpr int side = 320;

// a colour from hue (degrees), saturation and value, 0 to 1
Rgb hsv(double hue, double s, double v) {
    const double h = std::fmod(hue + 360, 360) / 60, c = v * s, x = c * (1 - std::abs(std::fmod(h, 2) - 1)), m = v - c;
    const Rgb r = h < 1 ? Rgb{c, x, 0} : h < 2 ? Rgb{x, c, 0} : h < 3 ? Rgb{0, c, x} : h < 4 ? Rgb{0, x, c} : h < 5 ? Rgb{x, 0, c} : Rgb{c, 0, x};
    return {r[0] + m, r[1] + m, r[2] + m};
}

struct Image {
    int width = side, height = side;
    std::vector<Rgb> pixels = std::vector<Rgb>(std::size_t(width) * height);
    Rgb& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    void each(const std::function<Rgb(double, double)>& f) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) at(x, y) = f(x + 0.5, y + 0.5);
    }
    // blends `colour` where a shape covers a pixel, coverage from a signed distance (negative inside)
    void paint(double cx, double cy, double r, const std::function<double(double, double)>& distance, const Rgb& colour) {
        for (int y = std::max(0, int(cy - r)); y < std::min(height, int(cy + r) + 1); ++y)
            for (int x = std::max(0, int(cx - r)); x < std::min(width, int(cx + r) + 1); ++x) {
                const double cover = std::clamp(0.5 - distance(x + 0.5, y + 0.5), 0.0, 1.0);
                if (cover > 0) at(x, y) = mix(at(x, y), colour, cover);
            }
    }
    // a soft glow of `colour` added in light around a point
    void glow(double cx, double cy, double r, const Rgb& colour) {
        for (int y = std::max(0, int(cy - 4 * r)); y < std::min(height, int(cy + 4 * r) + 1); ++y)
            for (int x = std::max(0, int(cx - 4 * r)); x < std::min(width, int(cx + 4 * r) + 1); ++x) {
                const double g = std::exp(-std::hypot(x + 0.5 - cx, y + 0.5 - cy) / r);
                for (int c = 0; c < 3; ++c) at(x, y)[c] += colour[c] * g;
            }
    }
};

// 8-bit sRGB with film grain of about `grain` levels
struct Picture {
    int width, height;
    std::vector<std::uint8_t> rgb;
};

Picture quantise(const Image& image, double grain, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(image.pixels.size() * 3);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const double g = grain * (unit(std::int64_t(i), 1, seed) + unit(std::int64_t(i), 2, seed) - 1);
        for (int c = 0; c < 3; ++c)
            bytes[3 * i + c] = std::uint8_t(std::clamp(std::lround(image.pixels[i][c] * 255 + g + grain * 0.6 * (unit(std::int64_t(i), 3 + c, seed) - 0.5)), 0L, 255L));
    }
    return {image.width, image.height, bytes};
}

void write(const fs::path& path, const Picture& picture) {
    fs::create_directories(path.parent_path());
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(picture.width);
    png.height = png_uint_32(picture.height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path.c_str(), 0, picture.rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "make_sets: %s: %s\n", path.c_str(), png.message);
        std::exit(1);
    }
}

// ---- photographs ----

Image landscape() {
    Image image;
    image.each([](double u, double v) {
        const double ridge = 120 - 50 * fbm(u / 70, 0.5, 6, 141), shore = 200 + 4 * fbm(u / 12, 7.5, 3, 143);
        if (v < ridge) {
            const Rgb c = mix(Rgb{0.20, 0.40, 0.72}, Rgb{0.95, 0.75, 0.55}, std::pow(v / ridge, 2));
            return mix(c, scale(Rgb{0.98, 0.95, 0.93}, 0.7 + 0.3 * fbm(u / 8, v / 8, 3, 145)), smooth(0.5, 0.75, fbm(u / 60, v / 20, 7, 144)));
        }
        if (v < shore) {
            const double tree = fbm(u / 1.5, v / 3, 4, 147);
            return scale(mix(Rgb{0.06, 0.16, 0.07}, Rgb{0.30, 0.40, 0.12}, tree), 0.6 + 0.7 * fbm(u / 14, v / 14, 3, 148));
        }
        const double glint = smooth(0.6, 0.75, fbm(u / 5, v * 2, 3, 153));
        return mix(mix(Rgb{0.30, 0.32, 0.40}, Rgb{0.10, 0.22, 0.30}, (v - shore) / 120), Rgb{0.95, 0.85, 0.7}, 0.6 * glint);
    });
    return image;
}

Image face() {
    Image image;
    image.each([](double x, double y) {
        // out-of-focus background, a lit face as an ellipse, dark hair above it
        const Rgb back = mix(Rgb{0.25, 0.35, 0.30}, Rgb{0.65, 0.55, 0.40}, fbm(x / 60, y / 60, 3, 201));
        const double fx = (x - 160) / 95, fy = (y - 175) / 125, r = std::hypot(fx, fy);
        const double light = std::clamp(0.55 + 0.5 * (-fx * 0.6 - fy * 0.4) + 0.1 * fbm(x / 10, y / 10, 3, 202), 0.15, 1.1);
        Rgb skin = scale(mix(Rgb{0.92, 0.70, 0.58}, Rgb{0.78, 0.45, 0.38}, fbm(x / 30, y / 30, 4, 203)), light);
        const double eye = std::min(std::hypot((x - 125) / 14, (y - 160) / 7), std::hypot((x - 195) / 14, (y - 160) / 7));
        if (eye < 1) skin = eye < 0.45 ? Rgb{0.12, 0.18, 0.28} : Rgb{0.9, 0.9, 0.88};
        if (std::hypot((x - 160) / 30, (y - 235) / 9) < 1) skin = mix(skin, Rgb{0.70, 0.25, 0.28}, 0.8);
        const double hair = smooth(0.05, -0.05, fy + 0.55 - 0.1 * std::sin(x / 9) - 0.3 * fx * fx);
        Rgb c = mix(back, skin, smooth(1.02, 0.98, r));
        return mix(c, scale(Rgb{0.25, 0.15, 0.08}, 0.5 + 0.8 * fbm(x / 2, y / 12, 3, 204)), hair * smooth(1.25, 1.0, r));
    });
    return image;
}

Image street() {
    Image image;
    image.each([](double x, double y) {
        const Rgb sky = mix(Rgb{0.15, 0.18, 0.40}, Rgb{0.85, 0.45, 0.30}, std::pow(y / 200, 2));
        const int house = int(x / 52);
        const double roof = 90 + 70 * unit(house, 0, 211);
        if (y < roof) return sky;
        Rgb wall = scale(hsv(20 + 200 * unit(house, 1, 211), 0.35, 0.55), 0.6 + 0.4 * fbm(x / 20, y / 20, 3, 212));
        const double wx = std::fmod(x, 52), wy = std::fmod(y - roof, 34);
        if (wx > 12 && wx < 36 && wy > 8 && wy < 26 && y < 270) wall = unit(house, int((y - roof) / 34), 213) < 0.5 ? Rgb{1.0, 0.82, 0.45} : Rgb{0.10, 0.12, 0.18};
        if (y > 270) wall = scale(Rgb{0.35, 0.33, 0.32}, 0.6 + 0.4 * fbm(x / 4, y / 4, 3, 214));
        return wall;
    });
    return image;
}

Image forestFloor() {
    Image image;
    image.each([](double x, double y) {
        Rgb c = mix(Rgb{0.30, 0.20, 0.10}, Rgb{0.55, 0.42, 0.22}, fbm(x / 25, y / 25, 5, 221));
        const double moss = smooth(0.55, 0.7, fbm(x / 40, y / 40, 4, 222));
        c = mix(c, scale(Rgb{0.25, 0.45, 0.10}, 0.7 + 0.5 * fbm(x / 3, y / 3, 2, 223)), moss);
        return scale(c, 0.5 + 0.7 * fbm(x / 80, y / 80, 2, 224));
    });
    for (int i = 0; i < 60; ++i) {
        const double cx = side * unit(i, 0, 225), cy = side * unit(i, 1, 225), r = 6 + 10 * unit(i, 2, 225);
        const Rgb leaf = hsv(10 + 40 * unit(i, 3, 225), 0.8, 0.5 + 0.4 * unit(i, 4, 225));
        image.paint(cx, cy, r + 2, [&](double x, double y) { return std::hypot((x - cx), (y - cy) * 1.8) - r; }, leaf);
    }
    return image;
}

// ---- painted ----

// Overlapping shapes of a few flat colours, each with a lit and a shaded tone and a dark outline.
Image painted(std::uint32_t seed) {
    Image image;
    const Rgb sky = hsv(190 + 40 * unit(0, 0, seed), 0.45, 0.9);
    image.each([&](double, double y) { return y < 200 ? sky : hsv(90 + 40 * unit(0, 1, seed), 0.6, 0.55); });
    for (int i = 0; i < 40; ++i) {
        const double cx = side * unit(i, 0, seed), cy = side * unit(i, 1, seed), r = 10 + 35 * unit(i, 2, seed);
        const Rgb base = hsv(360 * unit(i, 3, seed), 0.4 + 0.5 * unit(i, 4, seed), 0.45 + 0.5 * unit(i, 5, seed));
        const bool box = unit(i, 6, seed) < 0.4;
        const auto shape = [=](double x, double y) {
            return box ? std::max(std::abs(x - cx), std::abs(y - cy) * 1.4) - r : std::hypot(x - cx, y - cy) - r;
        };
        image.paint(cx, cy, r * 1.5 + 4, [&](double x, double y) { return shape(x, y) - 2; }, Rgb{0.08, 0.06, 0.1});
        image.paint(cx, cy, r * 1.5 + 4, shape, scale(base, 0.6));
        // the lit side, a smaller copy offset to the top left
        image.paint(cx, cy, r * 1.5 + 4, [&](double x, double y) { return std::max(shape(x, y), shape(x + r * 0.3, y + r * 0.3)); }, base);
        image.paint(cx, cy, r * 1.5 + 4, [&](double x, double y) { return std::hypot(x - cx + r * 0.4, y - cy + r * 0.4) - r * 0.15; },
                    mix(base, Rgb{1, 1, 1}, 0.7));
    }
    return image;
}

// ---- one hue ----

Image wood() {
    Image image;
    image.each([](double x, double y) {
        const int plank = int(x / 64);
        const double px = std::fmod(x, 64) - 32 + 90 * unit(plank, 0, 21), py = y + 400 * unit(plank, 1, 21);
        const double r = std::hypot(px, (py - 300) * 0.12) + 6 * fbm(px / 50, py / 120, 3, 22 + plank);
        const double ring = std::pow(0.5 + 0.5 * std::sin(r * 0.9), 3), streak = fbm(x / 2, y / 40, 3, 23);
        Rgb c = mix(Rgb{0.80, 0.58, 0.36}, Rgb{0.45, 0.26, 0.12}, 0.65 * ring + 0.35 * streak);
        if (std::fmod(x, 64) < 1) c = scale(c, 0.45);
        return scale(c, 0.85 + 0.2 * unit(plank, 2, 21));
    });
    return image;
}

Image dunes() {
    Image image;
    image.each([](double x, double y) {
        const double h = fbm(x / 90, y / 50, 5, 231), ripple = 0.92 + 0.08 * std::sin(y / 2.5 + 6 * fbm(x / 30, y / 30, 2, 232));
        const double shade = std::clamp(0.5 + 3 * (fbm((x + 2) / 90, y / 50, 5, 231) - h), 0.2, 1.2);
        return scale(mix(Rgb{0.90, 0.70, 0.45}, Rgb{0.75, 0.50, 0.28}, h), shade * ripple);
    });
    return image;
}

Image rust() {
    Image image;
    image.each([](double x, double y) {
        const double amount = smooth(0.35, 0.6, fbm(x / 45, y / 45, 5, 42)), pit = fbm(x / 4, y / 4, 3, 43);
        const Rgb paint = scale(Rgb{0.85, 0.55, 0.20}, 0.85 + 0.15 * fbm(x / 60, y / 0.8, 2, 41));
        Rgb c = mix(paint, mix(Rgb{0.58, 0.28, 0.10}, Rgb{0.28, 0.13, 0.06}, pit), amount);
        if (std::fmod(x, 128) < 2 || std::fmod(y, 128) < 2) c = scale(c, 0.4);
        return c;
    });
    return image;
}

Image tanFace() {
    Image image;
    image.each([](double x, double y) {
        const Rgb back = mix(Rgb{0.45, 0.30, 0.18}, Rgb{0.70, 0.52, 0.34}, fbm(x / 70, y / 70, 3, 241));
        const double fx = (x - 150) / 100, fy = (y - 170) / 130, r = std::hypot(fx, fy);
        const double light = std::clamp(0.6 + 0.5 * (fx * 0.5 - fy * 0.5), 0.2, 1.15);
        const Rgb skin = scale(mix(Rgb{0.80, 0.55, 0.38}, Rgb{0.62, 0.38, 0.24}, fbm(x / 25, y / 25, 4, 242)), light);
        return mix(back, skin, smooth(1.02, 0.98, r));
    });
    return image;
}

// ---- small bright details ----

Image nightCity() {
    Image image;
    image.each([](double x, double y) {
        const int tower = int(x / 24);
        const double top = 60 + 180 * unit(tower, 0, 251);
        if (y < top) return mix(Rgb{0.02, 0.02, 0.06}, Rgb{0.10, 0.06, 0.14}, y / 320);
        return scale(Rgb{0.08, 0.08, 0.10}, 0.6 + 0.4 * fbm(x / 8, y / 8, 2, 252));
    });
    for (int i = 0; i < 260; ++i) {
        const double x = side * unit(i, 0, 253), y = 80 + 240 * unit(i, 1, 253);
        image.paint(x, y, 3, [&](double px, double py) { return std::max(std::abs(px - x) - 1.2, std::abs(py - y) - 1.6); },
                    hsv(30 + 30 * unit(i, 2, 253), 0.6, 1));
    }
    const Rgb neon[] = {{1.0, 0.1, 0.6}, {0.1, 0.9, 1.0}, {0.3, 1.0, 0.2}, {1.0, 0.9, 0.1}};
    for (int i = 0; i < 12; ++i) {
        const double x = 20 + 280 * unit(i, 0, 254), y = 100 + 200 * unit(i, 1, 254);
        image.paint(x + 15, y, 18, [&](double px, double py) { return std::abs(std::hypot(px - x - 15, (py - y) * 2) - 12) - 1.2; }, neon[i % 4]);
    }
    return image;
}

Image starfield() {
    Image image;
    image.each([](double x, double y) {
        const double nebula = smooth(0.5, 0.8, fbm(x / 80, y / 80, 6, 261));
        return mix(Rgb{0.01, 0.01, 0.03}, Rgb{0.20, 0.05, 0.25}, nebula * 0.6);
    });
    for (int i = 0; i < 400; ++i) {
        const double x = side * unit(i, 0, 262), y = side * unit(i, 1, 262), r = 0.3 + 0.8 * unit(i, 3, 262);
        image.glow(x, y, r, scale(hsv(200 + 60 * unit(i, 2, 262) - (i % 5 == 0 ? 180 : 0), 0.5, 1), 1.2));
    }
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            for (double& c : image.at(x, y)) c = std::min(c, 1.0);
    return image;
}

Image forge() {
    Image image;
    image.each([](double x, double y) { return scale(Rgb{0.18, 0.16, 0.15}, 0.35 + 0.5 * fbm(x / 12, y / 12, 4, 271)); });
    for (int i = 0; i < 150; ++i) {
        const double x = 100 + 120 * unit(i, 0, 272) + 60 * (unit(i, 4, 272) - 0.5), y = 60 + 200 * unit(i, 1, 272);
        const double dx = 4 * (unit(i, 2, 272) - 0.5), dy = -5 - 4 * unit(i, 3, 272);
        image.paint(x, y, 10, [&](double px, double py) {
            const double t = std::clamp(((px - x) * dx + (py - y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
            return std::hypot(px - x - t * dx, py - y - t * dy) - 0.7;
        }, mix(Rgb{1.0, 0.35, 0.05}, Rgb{1.0, 0.95, 0.5}, unit(i, 5, 272)));
    }
    return image;
}

Image dashboard() {
    Image image;
    image.each([](double x, double y) { return scale(Rgb{0.12, 0.13, 0.15}, 0.8 + 0.2 * fbm(x / 40, y / 40, 2, 281)); });
    const Rgb leds[] = {{1, 0.1, 0.1}, {0.1, 1, 0.2}, {0.2, 0.4, 1}, {1, 0.7, 0}, {0.8, 0.2, 1}};
    for (int i = 0; i < 90; ++i) {
        const double x = 16 + 32 * (i % 10), y = 16 + 34 * (i / 10);
        image.paint(x, y, 5, [&](double px, double py) { return std::hypot(px - x, py - y) - 2.5; }, leds[hash(i, 0, 282) % 5]);
        // a label of thin light strokes beside each light
        image.paint(x + 9, y, 8, [&](double px, double py) { return std::max(std::abs(px - x - 9) - 6, std::abs(py - y) - 0.6); },
                    Rgb{0.85, 0.85, 0.8});
    }
    return image;
}

// ---- rich: surfaces that tile, about half their pixels of a colour of their own ----

// One tiling surface of `kind` (stone, moss, bark, marble, rust, plaster) with hues of its own from `seed`:
// two tones mixed by a large-scale pattern, shaded by finer octaves, all periodic across the picture.
Image surface(int width, int height, int kind, std::uint32_t seed) {
    Image image{width, height, std::vector<Rgb>(std::size_t(width) * height)};
    const double hue = 360 * unit(kind, 0, seed), turn = 40 + 80 * unit(kind, 1, seed);
    const Rgb tones[][2] = {
        {hsv(hue * 0.1 + 20, 0.15, 0.55), hsv(hue * 0.1 + 30, 0.25, 0.30)},   // stone
        {hsv(80 + hue * 0.1, 0.65, 0.45), hsv(50 + hue * 0.1, 0.55, 0.25)},   // moss
        {hsv(20 + hue * 0.05, 0.55, 0.40), hsv(30, 0.35, 0.15)},              // bark
        {hsv(hue, 0.08, 0.88), hsv(hue + turn, 0.45, 0.40)},                  // marble
        {hsv(15 + hue * 0.05, 0.75, 0.50), hsv(hue, 0.35, 0.55)},             // rust over paint
        {hsv(hue, 0.45, 0.75), hsv(hue + turn, 0.55, 0.45)},                  // painted plaster
    };
    const Rgb a = tones[kind][0], b = tones[kind][1];
    image.each([&](double x, double y) {
        const double u = x / width * 4, v = y / height * 4;  // 4 lattice cells a tile
        const double big = tiledFbm(u, v, 4, 5, seed), fine = tiledFbm(u * 4, v * 4, 16, 4, seed + 1);
        double t = big;
        if (kind == 2) t = 0.5 + 0.5 * std::sin(2 * 3.141592653589793 * (x / width * 3) + 8 * big);  // bark: streaks across
        if (kind == 3) t = std::pow(std::abs(std::sin(2 * 3.141592653589793 * (2 * x / width + y / height) + 10 * big)), 0.3);  // marble: veins
        if (kind == 4) t = smooth(0.4, 0.6, big);  // rust patches
        return scale(mix(a, b, t), 0.65 + 0.7 * fine);
    });
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sets DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    const struct {
        const char* set;
        const char* name;
        std::function<Image()> make;
        double grain;
    } pictures[] = {
        {"photo", "landscape", landscape, 4}, {"photo", "face", face, 3}, {"photo", "street", street, 4}, {"photo", "forest", forestFloor, 4},
        {"painted", "shapes1", [] { return painted(301); }, 0}, {"painted", "shapes2", [] { return painted(302); }, 0},
        {"painted", "shapes3", [] { return painted(303); }, 0}, {"painted", "shapes4", [] { return painted(304); }, 0},
        {"onehue", "wood", wood, 2}, {"onehue", "dunes", dunes, 3}, {"onehue", "rust", rust, 2}, {"onehue", "tanface", tanFace, 3},
        {"details", "city", nightCity, 2}, {"details", "stars", starfield, 1}, {"details", "forge", forge, 2}, {"details", "dashboard", dashboard, 1},
    };
    std::uint32_t seed = 1;
    for (const auto& p : pictures) write(dir / p.set / (std::string(p.name) + ".png"), quantise(p.make(), p.grain, seed++));
    // rich: rows of one height, each row 360 wide, so that the pictures lie side by side in one sheet with no gap
    const int rows[][9] = {{156, 156, 120, 84},          {128, 128, 104, 64, 64},         {104, 104, 88, 64, 56, 48},
                           {88, 88, 72, 56, 48, 48, 48}, {84, 40, 48, 56, 40, 48, 40, 48, 40}, {80, 40, 48, 56, 64, 48, 56, 48}};
    int n = 0;
    for (int r = 0; r < 6; ++r)
        for (int c = 1; c < 9 && rows[r][c]; ++c, ++n) {
            const int kind = n % 6;
            char name[32];
            std::snprintf(name, sizeof name, "r%dc%d.png", r + 1, c);
            write(dir / "rich" / name, quantise(surface(rows[r][c], rows[r][0], kind, 500 + n), 10, 600 + n));
        }
    return 0;
}
