// Writes the quality benchmark's inputs: make_textures DIR creates DIR/set/*.png (procedural texture
// art, photographic and painted, 64 x 64 to 256 x 256), DIR/photo.png (2048 x 2048), and for each of
// the palettes "fitted" (k-means over the set), "general" (a colour cube) and "badfit" (saturated blues
// and greens) DIR/pal/NAME.pal, DIR/NAME.png and DIR/NAME.ppm (16 x 16, one pixel per entry).

#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "colour/Lab.h"
#include "iff/IffWriter.h"

#include "Procedural.h"

namespace fs = std::filesystem;

namespace {

using namespace procedural;

double segmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double vx = bx - ax, vy = by - ay;
    const double t = std::clamp(((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy + 1e-12), 0.0, 1.0);
    return std::hypot(px - ax - t * vx, py - ay - t * vy);
}

struct Image {
    int width, height;
    std::vector<Rgb> pixels;
    Image(int w, int h, const Rgb& fill = {0, 0, 0}) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    Rgb& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    void each(const std::function<Rgb(int, int)>& f) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) at(x, y) = f(x, y);
    }
    // Blends `colour` where a shape covers a pixel: coverage from a signed distance (negative
    // inside), over a one-pixel ramp, as an antialiased rasteriser would.
    void paint(int x0, int y0, int x1, int y1, const std::function<double(double, double)>& distance,
               const std::function<Rgb(double, double)>& colour) {
        for (int y = std::max(0, y0); y < std::min(height, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x1); ++x) {
                const double cover = std::clamp(0.5 - distance(x + 0.5, y + 0.5), 0.0, 1.0);
                if (cover > 0) at(x, y) = mix(at(x, y), colour(x + 0.5, y + 0.5), cover);
            }
    }
};

// 8-bit sRGB, with film-like grain of `grain` levels (0 for painted art).
std::vector<std::uint8_t> quantise(const Image& image, double grain, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(image.pixels.size() * 3);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const double g = grain * (unit(std::int64_t(i), 1, seed) + unit(std::int64_t(i), 2, seed) - 1);
        for (int c = 0; c < 3; ++c)
            bytes[3 * i + c] = std::uint8_t(std::clamp(std::lround(image.pixels[i][c] * 255 + g + grain * 0.8 * (unit(std::int64_t(i), 3 + c, seed) - 0.5)), 0L, 255L));
    }
    return bytes;
}

void writePng(const fs::path& path, int width, int height, const std::vector<std::uint8_t>& rgb) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(width);
    png.height = png_uint_32(height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "make_textures: %s: %s\n", path.c_str(), png.message);
        std::exit(1);
    }
}

// ---- the set ----

Image bricks(int w, int h) {
    Image image(w, h);
    const int bw = 64, bh = 24, mortar = 3;
    image.each([&](int x, int y) {
        const int row = y / bh, shift = row % 2 ? bw / 2 : 0;
        const int col = (x + shift) / bw;
        const int lx = (x + shift) % bw, ly = y % bh;
        const double edge = std::min({lx, bw - 1 - lx, ly, bh - 1 - ly}) - mortar + 0.5;
        const double light = 0.75 + 0.35 * (1 - double(x + y) / (w + h));
        const double dirt = fbm(x / 40.0, y / 40.0, 4, 11);
        if (edge < 0) {
            const double m = 0.55 + 0.25 * fbm(x / 3.0, y / 3.0, 2, 12);
            return scale(Rgb{m, m * 0.96, m * 0.9}, light * (0.8 + 0.2 * dirt));
        }
        const double tone = unit(col, row, 13);
        Rgb base = mix(Rgb{0.62, 0.25, 0.16}, Rgb{0.50, 0.30, 0.22}, tone);
        base = mix(base, Rgb{0.35, 0.22, 0.18}, 0.5 * smooth(0.55, 0.8, dirt));
        const double surface = 0.75 + 0.45 * fbm(x / 6.0, y / 6.0, 3, 14) + 0.1 * (unit(x, y, 15) - 0.5);
        // bevel: lit from the top left
        double bevel = 1;
        if (edge < 2.5) bevel = (ly - mortar < 3 || lx - mortar < 3) ? 1.15 : 0.7;
        return scale(base, light * surface * bevel);
    });
    return image;
}

Image wood(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const int plank = x / 64;
        const double px = x % 64 - 32 + 90 * unit(plank, 0, 21), py = y + 400 * unit(plank, 1, 21);
        const double warp = 6 * fbm(px / 50.0, py / 120.0, 3, 22 + plank);
        const double r = std::hypot(px * 1.0, (py - 300) * 0.12) + warp;
        const double ring = std::pow(0.5 + 0.5 * std::sin(r * 0.9), 3);
        const double streak = fbm(x / 2.0, y / 40.0, 3, 23);
        Rgb c = mix(Rgb{0.78, 0.56, 0.34}, Rgb{0.46, 0.27, 0.13}, 0.65 * ring + 0.35 * streak);
        if (x % 64 == 0 || x % 64 == 63) c = scale(c, 0.45);
        return scale(c, 0.9 + 0.15 * unit(plank, 2, 21));
    });
    return image;
}

// A height field lit by a light from the top left, tinted by `albedo`.
Image terrain(int w, int h, double size, std::uint32_t seed, const std::function<Rgb(int, int, double)>& albedo) {
    Image image(w, h);
    auto height = [&](double x, double y) {
        const double ridge = 1 - std::abs(2 * fbm(x / size, y / size, 6, seed) - 1);
        return 0.6 * ridge + 0.4 * fbm(x / (size / 3), y / (size / 3), 4, seed + 1);
    };
    image.each([&](int x, int y) {
        const double hz = height(x, y);
        const double nx = (height(x - 1, y) - height(x + 1, y)) * 20, ny = (height(x, y - 1) - height(x, y + 1)) * 20;
        const double lambert = std::max(0.0, (nx * -0.5 + ny * -0.6 + 0.62) / std::sqrt(nx * nx + ny * ny + 1));
        return scale(albedo(x, y, hz), 0.25 + 0.95 * lambert);
    });
    return image;
}

Image rock(int w, int h) {
    return terrain(w, h, 90, 31, [](int x, int y, double hz) {
        const double crack = std::abs(noise(x / 30.0, y / 30.0, 33));
        Rgb c = mix(Rgb{0.48, 0.45, 0.42}, Rgb{0.58, 0.50, 0.40}, fbm(x / 25.0, y / 25.0, 3, 32));
        c = mix(c, Rgb{0.35, 0.40, 0.30}, 0.6 * smooth(0.62, 0.75, hz));  // lichen on the tops
        return scale(c, crack < 0.02 ? 0.35 : 1.0);
    });
}

Image rust(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const double brushed = 0.85 + 0.15 * fbm(x / 60.0, y / 0.8, 2, 41);
        Rgb metal = scale(Rgb{0.55, 0.58, 0.62}, brushed * (0.9 + 0.2 * double(y) / h));
        const double amount = smooth(0.45, 0.6, fbm(x / 45.0, y / 45.0, 5, 42));
        const double pit = fbm(x / 4.0, y / 4.0, 3, 43);
        const Rgb rusty = mix(Rgb{0.55, 0.25, 0.08}, Rgb{0.30, 0.13, 0.06}, pit);
        Rgb c = mix(metal, rusty, amount);
        if (x % 128 < 2 || y % 128 < 2) c = scale(c, 0.4);  // panel seams
        return c;
    });
    for (int ry = 16; ry < h; ry += 64)
        for (int rx = 16; rx < w; rx += 64)
            image.paint(rx - 8, ry - 8, rx + 8, ry + 8, [&](double x, double y) { return std::hypot(x - rx, y - ry) - 5; },
                        [&](double x, double y) { return scale(Rgb{0.6, 0.6, 0.62}, 1.1 - 0.12 * (x - rx + y - ry)); });
    return image;
}

// Flat colours, a border, an icon and rows of text-like strokes, all antialiased.
Image sign(int w, int h) {
    Image image(w, h, Rgb{0.08, 0.33, 0.20});
    auto roundedBox = [](double x, double y, double cx, double cy, double hw, double hh, double r) {
        const double qx = std::abs(x - cx) - hw + r, qy = std::abs(y - cy) - hh + r;
        return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - r;
    };
    image.paint(0, 0, w, h, [&](double x, double y) { return std::abs(roundedBox(x, y, w / 2.0, h / 2.0, w / 2.0 - 8, h / 2.0 - 8, 10)) - 2.5; },
                [](double, double) { return Rgb{0.95, 0.95, 0.9}; });
    image.paint(16, 16, 80, 80, [](double x, double y) { return std::hypot(x - 48, y - 48) - 28; }, [](double, double) { return Rgb{0.8, 0.1, 0.1}; });
    image.paint(16, 16, 80, 80, [](double x, double y) { return std::max(std::abs(x - 48) - 18, std::abs(y - 48) - 5); },
                [](double, double) { return Rgb{1, 1, 1}; });
    // glyphs: three to five strokes in a 14 x 20 cell
    std::uint32_t n = 0;
    for (int line = 0; line < 2; ++line)
        for (int g = 0; g < 10; ++g, ++n) {
            const double gx = 92 + g * 15.5, gy = 24 + line * 34;
            const Rgb ink = line == 0 ? Rgb{1, 0.85, 0.1} : Rgb{0.95, 0.95, 0.9};
            const int strokes = 3 + int(hash(n, 0, 51) % 3);
            for (int s = 0; s < strokes; ++s) {
                const double ax = gx + 12 * unit(n, 10 * s, 52), ay = gy + 20 * unit(n, 10 * s + 1, 52);
                const double bx = gx + 12 * unit(n, 10 * s + 2, 52), by = gy + 20 * unit(n, 10 * s + 3, 52);
                image.paint(int(gx) - 3, int(gy) - 3, int(gx) + 16, int(gy) + 24,
                            [&](double x, double y) { return segmentDistance(x, y, ax, ay, bx, by) - 1.4; }, [&](double, double) { return ink; });
            }
        }
    image.paint(24, 96, w - 24, 112, [&](double x, double y) { return roundedBox(x, y, w / 2.0, 104, w / 2.0 - 24, 6, 6); },
                [](double x, double) { return mix(Rgb{0.1, 0.3, 0.8}, Rgb{0.2, 0.7, 0.95}, x / 256); });
    return image;
}

Image foliage(int w, int h, std::uint32_t seed, int leaves) {
    Image image(w, h);
    image.each([&](int x, int y) { return scale(Rgb{0.05, 0.12, 0.04}, 0.6 + 0.8 * fbm(x / 30.0, y / 30.0, 3, seed)); });
    for (int i = 0; i < leaves; ++i) {
        const double cx = w * unit(i, 0, seed), cy = h * unit(i, 1, seed), angle = 6.283 * unit(i, 2, seed);
        const double length = 9 + 12 * unit(i, 3, seed), width = length * (0.3 + 0.15 * unit(i, 4, seed));
        const double depth = double(i) / leaves;  // later leaves are in front, lighter
        const Rgb base = mix(Rgb{0.10, 0.30, 0.06}, Rgb{0.45, 0.62, 0.15}, 0.3 * unit(i, 5, seed) + 0.6 * depth);
        const double ca = std::cos(angle), sa = std::sin(angle);
        const int r = int(length) + 2;
        image.paint(int(cx) - r, int(cy) - r, int(cx) + r, int(cy) + r,
                    [&](double x, double y) {
                        const double u = (x - cx) * ca + (y - cy) * sa, v = -(x - cx) * sa + (y - cy) * ca;
                        return (std::hypot(u / length, v / width) - 1) * width;
                    },
                    [&](double x, double y) {
                        const double u = (x - cx) * ca + (y - cy) * sa, v = -(x - cx) * sa + (y - cy) * ca;
                        const double vein = std::abs(v) < 0.7 ? 1.25 : 1.0;
                        return scale(base, vein * (0.75 + 0.25 * (u / length + 1) / 2 + 0.3 * v / width));
                    });
    }
    return image;
}

Image sky(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const double t = double(y) / h;
        Rgb c = mix(Rgb{0.12, 0.30, 0.65}, Rgb{0.75, 0.85, 0.95}, std::pow(t, 1.5));
        const double sun = std::exp(-std::hypot(x - 0.75 * w, y - 0.8 * h) / 40.0);
        c = mix(c, Rgb{1.0, 0.93, 0.75}, sun);
        const double cloud = smooth(0.5, 0.72, fbm(x / 70.0, y / 35.0, 6, 61));
        const double shade = 0.78 + 0.22 * fbm(x / 20.0 + 3, y / 20.0 - 1, 3, 62);
        return mix(c, scale(Rgb{0.97, 0.97, 0.98}, shade), cloud);
    });
    return image;
}

Image skin(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        Rgb c = mix(Rgb{0.87, 0.67, 0.55}, Rgb{0.82, 0.52, 0.45}, fbm(x / 40.0, y / 40.0, 4, 71));
        const double pore = unit(x / 3, y / 3, 72) < 0.08 && unit(x, y, 73) < 0.5 ? 0.9 : 1.0;
        return scale(c, pore * (0.85 + 0.2 * (1 - std::hypot(x - w * 0.4, y - h * 0.35) / w)));
    });
    return image;
}

Image cloth(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const bool warp = ((x / 4) + (y / 4)) % 2 == 0;
        const double along = warp ? std::sin((y % 4 + 0.5) / 4 * 3.14159) : std::sin((x % 4 + 0.5) / 4 * 3.14159);
        const double across = warp ? std::sin((x % 4 + 0.5) / 4 * 3.14159) : std::sin((y % 4 + 0.5) / 4 * 3.14159);
        const Rgb thread = warp ? Rgb{0.55, 0.08, 0.12} : Rgb{0.42, 0.10, 0.16};
        const double fold = 0.8 + 0.3 * std::sin(x / 23.0 + 2 * fbm(x / 50.0, y / 50.0, 2, 81));
        return scale(thread, fold * (0.55 + 0.35 * across + 0.1 * along + 0.08 * unit(x, y, 82)));
    });
    return image;
}

Image tiles(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const int lx = x % 32, ly = y % 32;
        if (lx < 2 || ly < 2) return Rgb{0.62, 0.6, 0.55};
        const bool blue = (x / 32 + y / 32) % 2;
        const double d = std::hypot(lx - 16.0, ly - 16.0);
        Rgb c = blue ? Rgb{0.12, 0.25, 0.60} : Rgb{0.92, 0.92, 0.88};
        if (d > 9 && d < 11.5) c = blue ? Rgb{0.92, 0.92, 0.88} : Rgb{0.12, 0.25, 0.60};
        const double gloss = std::exp(-std::hypot(lx - 10.0, ly - 9.0) / 5.0);
        return mix(c, Rgb{1, 1, 1}, 0.6 * gloss);
    });
    return image;
}

Image grass(int w, int h) {
    Image image(w, h, Rgb{0.15, 0.22, 0.06});
    for (int i = 0; i < 500; ++i) {
        const double bx = w * unit(i, 0, 91), by = h * (0.2 + 0.9 * unit(i, 1, 91));
        const double tx = bx + 14 * (unit(i, 2, 91) - 0.5), ty = by - 20 - 25 * unit(i, 3, 91);
        const Rgb c = mix(Rgb{0.25, 0.45, 0.08}, Rgb{0.70, 0.72, 0.30}, unit(i, 4, 91));
        image.paint(int(std::min(bx, tx)) - 3, int(ty) - 3, int(std::max(bx, tx)) + 3, int(by) + 3,
                    [&](double x, double y) { return segmentDistance(x, y, bx, by, tx, ty) - 1.2 * (y - ty) / (by - ty); },
                    [&](double, double y) { return scale(c, 0.6 + 0.5 * (by - y) / (by - ty)); });
    }
    return image;
}

Image marble(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const double v = std::abs(std::sin(x / 14.0 + y / 30.0 + 9 * fbm(x / 40.0, y / 40.0, 5, 101)));
        const Rgb c = mix(Rgb{0.35, 0.36, 0.40}, Rgb{0.93, 0.92, 0.90}, std::pow(v, 0.3));
        return mix(c, Rgb{0.85, 0.80, 0.72}, 0.3 * fbm(x / 15.0, y / 15.0, 2, 102));
    });
    return image;
}

Image sand(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const double ripple = 0.9 + 0.1 * std::sin(y / 3.0 + 2 * fbm(x / 20.0, y / 20.0, 2, 111));
        return scale(Rgb{0.85, 0.74, 0.52}, ripple * (0.85 + 0.3 * unit(x, y, 112)));
    });
    return image;
}

Image lava(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const double heat = std::pow(1 - std::abs(2 * fbm(x / 40.0, y / 40.0, 5, 121) - 1), 4);
        if (heat < 0.3) return mix(Rgb{0.08, 0.06, 0.06}, Rgb{0.35, 0.05, 0.02}, heat / 0.3);
        if (heat < 0.7) return mix(Rgb{0.35, 0.05, 0.02}, Rgb{1.0, 0.45, 0.05}, (heat - 0.3) / 0.4);
        return mix(Rgb{1.0, 0.45, 0.05}, Rgb{1.0, 0.95, 0.6}, (heat - 0.7) / 0.3);
    });
    return image;
}

Image water(int w, int h) {
    Image image(w, h);
    image.each([&](int x, int y) {
        const double caustic = std::pow(1 - std::abs(noise(x / 18.0, y / 12.0, 131) + noise(x / 9.0, y / 6.0, 132) * 0.5), 6);
        Rgb c = mix(Rgb{0.05, 0.30, 0.38}, Rgb{0.10, 0.50, 0.55}, double(y) / h);
        return mix(c, Rgb{0.7, 0.95, 0.9}, 0.5 * caustic);
    });
    return image;
}

Image icon(int w, int h) {
    Image image(w, h, Rgb{0.2, 0.2, 0.22});
    image.paint(0, 0, w, h, [](double x, double y) { return std::hypot(x - 32, y - 32) - 26; },
                [](double x, double y) { return mix(Rgb{1.0, 0.8, 0.2}, Rgb{0.85, 0.35, 0.05}, (x + y) / 128); });
    image.paint(0, 0, w, h, [](double x, double y) {
        const double a = std::atan2(y - 32, x - 32), r = std::hypot(x - 32, y - 32);
        const double star = 10 + 7 * std::cos(5 * a);
        return (r - star) * 0.8;
    }, [](double, double) { return Rgb{1, 1, 0.95}; });
    return image;
}

// A landscape photograph: sky with clouds, distant blue mountains, a forest, a lake, a meadow.
Image photo(int side) {
    Image image(side, side);
    const double s = side / 256.0;
    image.each([&](int x, int y) {
        const double u = x / s, v = y / s;  // in 256-pixel units
        const double ridge = 95 - 40 * fbm(u / 60, 0.5, 6, 141);
        const double hills = 130 - 18 * fbm(u / 25, 3.5, 5, 142);
        const double shore = 160 + 3 * fbm(u / 10, 7.5, 3, 143);
        if (v < ridge) {
            Rgb c = mix(Rgb{0.20, 0.40, 0.72}, Rgb{0.80, 0.86, 0.92}, std::pow(v / ridge, 2));
            const double cloud = smooth(0.5, 0.75, fbm(u / 50, v / 18, 7, 144));
            return mix(c, scale(Rgb{0.98, 0.97, 0.96}, 0.75 + 0.25 * fbm(u / 8, v / 8, 3, 145)), cloud);
        }
        if (v < hills) {
            // rock lit from the left, snow on the heights, hazed by distance
            const double slope = fbm(u / 9 + 0.05, v / 9, 6, 146) - fbm(u / 9 - 0.05, v / 9, 6, 146);
            Rgb c = scale(Rgb{0.45, 0.42, 0.40}, std::clamp(0.8 + 6 * slope, 0.3, 1.4));
            c = mix(c, Rgb{0.95, 0.96, 0.98}, smooth(0.2, 0.05, (v - ridge) / (hills - ridge)) * smooth(0.4, 0.6, fbm(u / 4, v / 4, 3, 152)));
            return mix(c, Rgb{0.70, 0.76, 0.85}, 0.3);
        }
        if (v < shore) {
            const double tree = fbm(u / 1.5, v / 3, 4, 147);
            return scale(mix(Rgb{0.06, 0.16, 0.07}, Rgb{0.22, 0.36, 0.12}, tree), 0.7 + 0.6 * fbm(u / 12, v / 12, 3, 148));
        }
        if (v < 205) {
            // the lake mirrors the forest and sky, broken by ripples
            const double ripple = noise(u / 6, v * 1.5, 149) * 4;
            const double mirrored = 2 * shore - v + ripple;
            const Rgb reflection = mirrored < hills ? Rgb{0.55, 0.62, 0.70} : Rgb{0.10, 0.20, 0.12};
            const double glint = smooth(0.6, 0.75, fbm(u / 5, v * 2, 3, 153));
            return mix(mix(scale(reflection, 0.8), Rgb{0.15, 0.30, 0.38}, 0.35 + 0.3 * (v - shore) / 45), Rgb{0.8, 0.85, 0.9}, 0.5 * glint);
        }
        const double blade = fbm(u * 2, v / 2, 4, 150);
        Rgb c = mix(Rgb{0.25, 0.38, 0.10}, Rgb{0.62, 0.62, 0.25}, blade);
        if (fbm(u / 3, v / 3, 3, 151) > 0.68) c = mix(c, Rgb{0.85, 0.75, 0.2}, 0.7);  // flowers
        return scale(c, 0.7 + 0.4 * (v - 205) / 51);
    });
    return image;
}

// ---- the tiling set: surfaces that repeat, every term periodic in the picture's width and height ----

// A tiling picture from f(u, v), u and v from 0 to 1 across one tile; `k` picks one of a kind (a seed).
Image tiling(int w, int h, const std::function<Rgb(double, double)>& f) {
    Image image(w, h);
    image.each([&](int x, int y) { return f((x + 0.5) / w, (y + 0.5) / h); });
    return image;
}

constexpr double turn = 6.283185307179586;

Image stoneTile(int w, int h, std::uint32_t k) {
    auto height = [k](double u, double v) { return 0.6 * (1 - std::abs(2 * tiledFbm(u * 4, v * 4, 4, 6, 201 + k) - 1)) + 0.4 * tiledFbm(u * 12, v * 12, 12, 3, 202 + k); };
    return tiling(w, h, [&](double u, double v) {
        const double e = 1.0 / w, nx = (height(u - e, v) - height(u + e, v)) * 20, ny = (height(u, v - e) - height(u, v + e)) * 20;
        const double lambert = std::max(0.0, (nx * -0.5 + ny * -0.6 + 0.62) / std::sqrt(nx * nx + ny * ny + 1));
        Rgb c = mix(Rgb{0.48, 0.45, 0.42}, Rgb{0.58, 0.50, 0.40}, tiledFbm(u * 6, v * 6, 6, 3, 203 + k));
        c = mix(c, Rgb{0.35, 0.40, 0.30}, 0.6 * smooth(0.62, 0.75, height(u, v)));
        return scale(c, 0.25 + 0.95 * lambert);
    });
}

Image mossTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const double clump = tiledFbm(u * 5, v * 5, 5, 4, 211 + k), fine = tiledFbm(u * 40, v * 40, 40, 2, 212 + k);
        return scale(mix(Rgb{0.10, 0.22, 0.05}, Rgb{0.45, 0.55, 0.15}, clump), 0.6 + 0.7 * fine);
    });
}

Image sandTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const double ripple = 0.9 + 0.1 * std::sin(turn * 12 * v + 3 * tiledFbm(u * 4, v * 4, 4, 2, 221 + k));
        return scale(Rgb{0.85, 0.74, 0.52}, ripple * (0.9 + 0.15 * tiledFbm(u * 30, v * 30, 30, 2, 222 + k)));
    });
}

// painted plaster: broad, soft washes of two colours, no grain
Image plasterTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const double wash = tiledFbm(u * 2, v * 2, 2, 4, 231 + k);
        const Rgb c = mix(Rgb{0.86, 0.74, 0.52}, Rgb{0.70, 0.50, 0.36}, smooth(0.3, 0.7, wash));
        return scale(c, 0.92 + 0.08 * std::cos(turn * (u + v)));
    });
}

Image marbleTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const double vein = std::abs(std::sin(turn * (2 * u + v) + 6 * tiledFbm(u * 3, v * 3, 3, 5, 241 + k)));
        const Rgb c = mix(Rgb{0.35, 0.36, 0.40}, Rgb{0.93, 0.92, 0.90}, std::pow(vein, 0.3));
        return mix(c, Rgb{0.85, 0.80, 0.72}, 0.3 * tiledFbm(u * 8, v * 8, 8, 2, 242 + k));
    });
}

Image rustTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const Rgb metal = scale(Rgb{0.55, 0.58, 0.62}, 0.85 + 0.15 * tiledFbm(u * 4, v * 160, 4, 2, 251 + k));
        const double amount = smooth(0.45, 0.6, tiledFbm(u * 5, v * 5, 5, 5, 252 + k));
        const Rgb rusty = mix(Rgb{0.55, 0.25, 0.08}, Rgb{0.30, 0.13, 0.06}, tiledFbm(u * 48, v * 48, 48, 2, 253 + k));
        return mix(metal, rusty, amount);
    });
}

Image waterTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const double caustic = std::pow(1 - std::abs(noise(u * 12, v * 12, 261 + k, 12) + 0.5 * noise(u * 24, v * 24, 262 + k, 24)), 6);
        const Rgb c = mix(Rgb{0.05, 0.30, 0.38}, Rgb{0.10, 0.50, 0.55}, 0.5 + 0.5 * std::sin(turn * v));
        return mix(c, Rgb{0.7, 0.95, 0.9}, 0.5 * caustic);
    });
}

Image lavaTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const double heat = std::pow(1 - std::abs(2 * tiledFbm(u * 4, v * 4, 4, 5, 271 + k) - 1), 4);
        if (heat < 0.3) return mix(Rgb{0.08, 0.06, 0.06}, Rgb{0.35, 0.05, 0.02}, heat / 0.3);
        if (heat < 0.7) return mix(Rgb{0.35, 0.05, 0.02}, Rgb{1.0, 0.45, 0.05}, (heat - 0.3) / 0.4);
        return mix(Rgb{1.0, 0.45, 0.05}, Rgb{1.0, 0.95, 0.6}, (heat - 0.7) / 0.3);
    });
}

Image barkTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const double furrow = std::pow(0.5 + 0.5 * std::sin(turn * 9 * u + 4 * tiledFbm(u * 2, v * 2, 2, 4, 281 + k)), 2);
        const Rgb c = mix(Rgb{0.42, 0.32, 0.22}, Rgb{0.16, 0.11, 0.08}, furrow);
        return scale(c, 0.8 + 0.4 * tiledFbm(u * 16, v * 8, 8, 3, 282 + k));
    });
}

// a painted sky of soft clouds: the smoothest of the set, where a seam shows first
Image cloudTile(int w, int h, std::uint32_t k) {
    return tiling(w, h, [k](double u, double v) {
        const Rgb blue = mix(Rgb{0.25, 0.45, 0.78}, Rgb{0.55, 0.70, 0.90}, 0.5 + 0.5 * std::cos(turn * v));
        return mix(blue, Rgb{0.96, 0.96, 0.97}, smooth(0.45, 0.75, tiledFbm(u * 3, v * 3, 3, 5, 291 + k)));
    });
}

// ---- palettes ----

using Palette = std::vector<std::array<std::uint8_t, 3>>;

// k-means in CIELAB over every `step`th pixel of the set, started from a median cut; each entry
// becomes the pixel colour of its cluster nearest the cluster's mean, so only forward conversion is needed.
Palette fitted(const std::vector<std::vector<std::uint8_t>>& set) {
    struct Sample { std::array<double, 3> lab; std::array<std::uint8_t, 3> rgb; };
    std::vector<Sample> samples;
    for (const auto& image : set)
        for (std::size_t i = 0; i < image.size(); i += 3 * 3) {
            const colour::Lab lab = colour::labFromSrgb(image[i], image[i + 1], image[i + 2]);
            samples.push_back({{lab.L, lab.a, lab.b}, {image[i], image[i + 1], image[i + 2]}});
        }
    // median cut: split the box with the widest extent (weighted by its count) at its median
    struct Box { std::size_t begin, end; };
    std::vector<Box> boxes{{0, samples.size()}};
    auto extent = [&](const Box& box, int& axis) {
        double best = -1;
        for (int c = 0; c < 3; ++c) {
            double lo = 1e9, hi = -1e9;
            for (std::size_t i = box.begin; i < box.end; ++i) lo = std::min(lo, samples[i].lab[c]), hi = std::max(hi, samples[i].lab[c]);
            if (hi - lo > best) best = hi - lo, axis = c;
        }
        return best * std::sqrt(double(box.end - box.begin));
    };
    while (boxes.size() < 256) {
        std::size_t pick = 0;
        int axis = 0, pickAxis = 0;
        double widest = -1;
        for (std::size_t b = 0; b < boxes.size(); ++b)
            if (boxes[b].end - boxes[b].begin > 1) {
                const double e = extent(boxes[b], axis);
                if (e > widest) widest = e, pick = b, pickAxis = axis;
            }
        const Box box = boxes[pick];
        const std::size_t middle = (box.begin + box.end) / 2;
        std::nth_element(samples.begin() + long(box.begin), samples.begin() + long(middle), samples.begin() + long(box.end),
                         [&](const Sample& a, const Sample& b) { return a.lab[pickAxis] < b.lab[pickAxis]; });
        boxes[pick] = {box.begin, middle};
        boxes.push_back({middle, box.end});
    }
    std::vector<std::array<double, 3>> centres;
    for (const Box& box : boxes) {
        std::array<double, 3> sum{};
        for (std::size_t i = box.begin; i < box.end; ++i)
            for (int c = 0; c < 3; ++c) sum[c] += samples[i].lab[c];
        centres.push_back({sum[0] / double(box.end - box.begin), sum[1] / double(box.end - box.begin), sum[2] / double(box.end - box.begin)});
    }
    std::vector<int> owner(samples.size());
    auto distance = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
    };
    for (int round = 0; round < 12; ++round) {
        std::vector<std::array<double, 4>> sums(256);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            double best = 1e30;
            for (int k = 0; k < 256; ++k)
                if (const double d = distance(samples[i].lab, centres[k]); d < best) best = d, owner[i] = k;
            for (int c = 0; c < 3; ++c) sums[owner[i]][c] += samples[i].lab[c];
            sums[owner[i]][3] += 1;
        }
        for (int k = 0; k < 256; ++k)
            if (sums[k][3] > 0) centres[k] = {sums[k][0] / sums[k][3], sums[k][1] / sums[k][3], sums[k][2] / sums[k][3]};
    }
    Palette palette(256);
    std::vector<double> nearest(256, 1e30);
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (const double d = distance(samples[i].lab, centres[owner[i]]); d < nearest[owner[i]]) nearest[owner[i]] = d, palette[owner[i]] = samples[i].rgb;
    return palette;
}

// 6 x 7 x 6 levels of red, green and blue, and four greys between the cube's.
Palette general() {
    Palette palette;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 7; ++g)
            for (int b = 0; b < 6; ++b) palette.push_back({std::uint8_t(r * 51), std::uint8_t(g * 255 / 6), std::uint8_t(b * 51)});
    for (int grey : {32, 96, 160, 224}) palette.push_back({std::uint8_t(grey), std::uint8_t(grey), std::uint8_t(grey)});
    return palette;
}

// Saturated blues and greens only: 16 hues from 100 to 250 degrees by 16 brightness levels.
Palette badfit() {
    Palette palette;
    for (int hue = 0; hue < 16; ++hue)
        for (int level = 0; level < 16; ++level) {
            const double h = (100 + hue * 10) / 60.0, value = 0.12 + 0.88 * level / 15, saturation = level % 2 ? 1.0 : 0.75;
            const double chroma = value * saturation, x = chroma * (1 - std::abs(std::fmod(h, 2) - 1)), m = value - chroma;
            Rgb c = h < 2 ? Rgb{x, chroma, 0} : h < 3 ? Rgb{0, chroma, x} : h < 4 ? Rgb{0, x, chroma} : Rgb{x, 0, chroma};
            palette.push_back({std::uint8_t(std::lround((c[0] + m) * 255)), std::uint8_t(std::lround((c[1] + m) * 255)),
                               std::uint8_t(std::lround((c[2] + m) * 255))});
        }
    return palette;
}

void writePalette(const fs::path& dir, const std::string& name, const Palette& palette) {
    std::vector<std::uint8_t> table;
    for (const auto& entry : palette) table.insert(table.end(), entry.begin(), entry.end());
    IffWriter writer;
    writer.beginForm("PAL ");
    writer.chunk("CMAP", table.data(), table.size());
    writer.endForm();
    std::ofstream(dir / "pal" / (name + ".pal"), std::ios::binary)
        .write(reinterpret_cast<const char*>(writer.bytes().data()), std::streamsize(writer.bytes().size()));
    writePng(dir / (name + ".png"), 16, 16, table);
    std::ofstream ppm(dir / (name + ".ppm"), std::ios::binary);
    ppm << "P6\n16 16\n255\n";
    ppm.write(reinterpret_cast<const char*>(table.data()), std::streamsize(table.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_textures DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    fs::create_directories(dir / "set");
    fs::create_directories(dir / "pal");
    struct Entry { const char* name; Image image; double grain; };
    const Entry entries[] = {
        {"bricks", bricks(256, 256), 2.5}, {"wood", wood(256, 256), 2},      {"rock", rock(256, 256), 3},
        {"rust", rust(256, 256), 2.5},     {"sign", sign(256, 128), 0},      {"foliage", foliage(256, 256, 151, 900), 2},
        {"sky", sky(256, 256), 1},         {"skin", skin(128, 128), 1.5},    {"cloth", cloth(128, 128), 2},
        {"tiles", tiles(128, 128), 0},     {"grass", grass(128, 128), 1.5},  {"marble", marble(128, 128), 1},
        {"sand", sand(64, 64), 2},         {"lava", lava(128, 128), 1},      {"water", water(256, 128), 1.5},
        {"icon", icon(64, 64), 0},
    };
    std::vector<std::vector<std::uint8_t>> set;
    std::uint32_t seed = 1;
    for (const Entry& e : entries) {
        set.push_back(quantise(e.image, e.grain, seed++));
        writePng(dir / "set" / (std::string(e.name) + ".png"), e.image.width, e.image.height, set.back());
    }
    // the tiling set, with a palette fitted to it; grain is drawn per pixel, so the pictures still tile
    fs::create_directories(dir / "tiling");
    // three of each kind, from seeds of their own, square and not, 64 to 256 pixels a side
    using Tile = Image (*)(int, int, std::uint32_t);
    const struct { const char* name; Tile make; double grain; } kinds[] = {
        {"stone", stoneTile, 3}, {"moss", mossTile, 2},   {"sand", sandTile, 2}, {"plaster", plasterTile, 0}, {"marble", marbleTile, 1},
        {"rust", rustTile, 2.5}, {"water", waterTile, 1.5}, {"lava", lavaTile, 1}, {"bark", barkTile, 2},      {"cloud", cloudTile, 0},
    };
    const int sizes[3][10][2] = {
        {{256, 256}, {128, 128}, {128, 128}, {256, 256}, {128, 128}, {256, 256}, {128, 128}, {128, 128}, {64, 64}, {64, 64}},
        {{128, 128}, {96, 96}, {160, 160}, {128, 128}, {192, 192}, {96, 96}, {128, 128}, {96, 96}, {128, 128}, {160, 160}},
        {{192, 96}, {96, 192}, {128, 64}, {64, 128}, {160, 96}, {96, 160}, {256, 128}, {128, 256}, {96, 64}, {64, 96}},
    };
    std::vector<std::vector<std::uint8_t>> tilingSet;
    for (std::uint32_t k = 0; k < 3; ++k)
        for (int n = 0; n < 10; ++n) {
            const Image image = kinds[n].make(sizes[k][n][0], sizes[k][n][1], 1000 * k);
            tilingSet.push_back(quantise(image, kinds[n].grain, seed++));
            writePng(dir / "tiling" / (std::string(kinds[n].name) + std::to_string(k + 1) + ".png"), image.width, image.height, tilingSet.back());
        }
    const Image big = photo(2048);
    writePng(dir / "photo.png", big.width, big.height, quantise(big, 4, 999));
    writePalette(dir, "fitted", fitted(set));
    writePalette(dir, "general", general());
    writePalette(dir, "badfit", badfit());
    writePalette(dir, "tiling", fitted(tilingSet));
    return 0;
}
