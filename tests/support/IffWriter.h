#pragma once

// Test-side writer for IFF, MAT and palette files.

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace iff {

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes be32(std::uint32_t v) { return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)}; }
inline Bytes le32(std::int32_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}; }

// A plain chunk with its pad byte; `declared` overrides the size field.
inline Bytes chunk(const std::string& id, const Bytes& content, std::int64_t declared = -1) {
    return text(id) + be32(std::uint32_t(declared < 0 ? content.size() : declared)) + content +
           Bytes(content.size() % 2, 0);
}

inline Bytes form(const std::string& type, const Bytes& children) {
    return text("FORM") + be32(std::uint32_t(children.size() + 4)) + text(type) + children;
}

// A colour table whose entry n is (n, 255 - n, n * 7 mod 256).
inline Bytes colours() {
    Bytes table;
    for (int n = 0; n < 256; ++n) table = table + Bytes{std::uint8_t(n), std::uint8_t(255 - n), std::uint8_t(n * 7)};
    return table;
}

inline Bytes cmap(const Bytes& table = colours()) { return chunk("CMAP", table); }
inline Bytes name(const std::string& n) { return chunk("NAME", text(n) + Bytes{0}); }
inline Bytes paletteFile(const Bytes& table = colours()) { return form("PAL ", cmap(table)); }

struct Mat {
    std::int32_t width = 2, height = 2, type = 1;
    Bytes palette = cmap();  // a CMAP or NAME chunk
    Bytes pixels = {0, 1, 254, 255};
    std::optional<Bytes> alpha;  // ALPH content
    Bytes hots;  // a whole HOTS chunk, or nothing
    Bytes extra = {};  // INFO bytes after the first twelve

    Bytes bytes() const {
        return form("BITM", form("FRAM", chunk("INFO", le32(width) + le32(height) + le32(type) + extra) + hots +
                                             form("PAL ", palette) + chunk("PXLS", pixels) +
                                             (alpha ? chunk("ALPH", *alpha) : Bytes{})));
    }
};

// Bytes that deflate cannot shrink, so that an image's size is known in advance.
inline Bytes noise(std::size_t count, std::uint32_t seed) {
    Bytes b(count);
    for (std::uint8_t& v : b) v = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    return b;
}

inline void save(const std::string& path, const Bytes& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

}  // namespace iff
