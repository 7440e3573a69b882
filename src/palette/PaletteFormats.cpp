#include "palette/PaletteFormats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fs/TerminalText.h"
#include "iff/FormatError.h"
#include "iff/IffReader.h"
#include "iff/IffWriter.h"
#include "palette/PalettePng.h"

namespace palette {

namespace {

constexpr const char* names[] = {"gpl", "act", "jasc", "riff", "png", "iff"};
constexpr std::size_t tableSize = 768;
constexpr std::size_t maxColours = 256;

std::uint32_t le16(const std::uint8_t* p) { return p[0] | std::uint32_t{p[1]} << 8; }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | le16(p + 2) << 16; }
std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

void putLe16(Bytes& out, std::uint32_t v) { out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
void putLe32(Bytes& out, std::uint32_t v) {
    putLe16(out, v & 0xFFFF);
    putLe16(out, v >> 16);
}

bool startsWith(const std::uint8_t* data, std::size_t size, std::string_view magic) {
    return size >= magic.size() && std::memcmp(data, magic.data(), magic.size()) == 0;
}

std::string countText(std::size_t count) { return std::to_string(count) + (count == 1 ? " colour" : " colours"); }

// The colour count a file declares, refused where no table can hold it.
void checkCount(std::uint32_t count) {
    if (count == 0) throw FormatError("the count 0: no colours");
    if (count > maxColours) throw FormatError("the count " + std::to_string(count) + " is over 256");
}

// ---- text formats

// The file's lines without their ends (\n or \r\n), numbered from 1.
std::vector<std::string_view> splitLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> lines;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = next;
    }
    return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A piece of a line quoted in a message: short, and safe for a terminal.
std::string found(std::string_view text) {
    text = trimmed(text);
    const bool cut = text.size() > 40;
    return "'" + terminalText(text.substr(0, 40)) + (cut ? "...'" : "'");
}

std::string lineText(std::size_t number) { return "line " + std::to_string(number) + ": "; }

// A whole number token of digits alone, or -1; values past 99999 are held there, as only 0 to 255 are wanted.
long number(std::string_view token) {
    if (token.empty()) return -1;
    long value = 0;
    for (const char c : token) {
        if (c < '0' || c > '9') return -1;
        value = std::min(value * 10 + (c - '0'), 99999L);
    }
    return value;
}

// The three numbers that start `line` (an entry), appended to `colours`; returns what follows them.
std::string_view readEntry(std::string_view line, std::size_t lineNumber, std::vector<std::uint8_t>& colours) {
    std::string_view rest = line;
    for (int channel = 0; channel < 3; ++channel) {
        while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
        std::size_t end = 0;
        while (end < rest.size() && !isBlank(rest[end])) ++end;
        const long value = number(rest.substr(0, end));
        if (value < 0) throw FormatError(lineText(lineNumber) + "expected three numbers 0 to 255, found " + found(line));
        if (value > 255) {
            const std::string_view digits = rest.substr(0, end);
            throw FormatError(lineText(lineNumber) + "value " + std::string(digits.substr(0, 12)) + (digits.size() > 12 ? "..." : "") + " over 255");
        }
        colours.push_back(static_cast<std::uint8_t>(value));
        rest.remove_prefix(end);
    }
    return rest;
}

Imported importGpl(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> lines = splitLines(data, size);
    Imported result{Format::gpl, {}};
    std::size_t n = 1;
    // GIMP takes Name: and Columns: only right after the header
    if (n < lines.size() && lines[n].substr(0, 5) == "Name:") ++n;
    if (n < lines.size() && lines[n].substr(0, 8) == "Columns:") ++n;
    for (; n < lines.size(); ++n) {
        const std::string_view line = trimmed(lines[n]);
        if (line.empty() || line.front() == '#') continue;
        if (result.count() == maxColours) throw FormatError(lineText(n + 1) + "a 257th colour, over 256");
        const std::string_view rest = readEntry(line, n + 1, result.colours);
        // the entry's name must stand apart from its numbers
        if (!rest.empty() && !isBlank(rest.front()))
            throw FormatError(lineText(n + 1) + "expected three numbers 0 to 255, found " + found(line));
    }
    if (result.colours.empty()) throw FormatError("no colours");
    return result;
}

Imported importJasc(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> lines = splitLines(data, size);
    if (lines.size() < 2) throw FormatError("cut short: no version line");
    if (trimmed(lines[1]) != "0100") throw FormatError(lineText(2) + "expected the version 0100, found " + found(lines[1]));
    if (lines.size() < 3) throw FormatError("cut short: no colour count");
    const long count = number(trimmed(lines[2]));
    if (count < 0) throw FormatError(lineText(3) + "expected the colour count, found " + found(lines[2]));
    checkCount(static_cast<std::uint32_t>(count));
    Imported result{Format::jasc, {}};
    std::size_t n = 3;
    for (; n < lines.size() && result.count() < static_cast<std::size_t>(count); ++n) {
        if (!trimmed(readEntry(lines[n], n + 1, result.colours)).empty())
            throw FormatError(lineText(n + 1) + "expected three numbers 0 to 255, found " + found(lines[n]));
    }
    if (result.count() < static_cast<std::size_t>(count))
        throw FormatError("cut short: " + std::to_string(result.count()) + " of " + countText(count));
    for (; n < lines.size(); ++n)
        if (!trimmed(lines[n]).empty()) throw FormatError(lineText(n + 1) + "more colours than the count " + std::to_string(count));
    return result;
}

// ---- binary formats

Imported importAct(const std::uint8_t* data, std::size_t size) {
    std::uint32_t count = maxColours;
    // the 772-byte form adds the count and the transparent index, which a palette has no use for
    if (size == tableSize + 4) {
        count = data[tableSize] << 8 | data[tableSize + 1];
        checkCount(count);
    }
    return {Format::act, std::vector<std::uint8_t>(data, data + 3 * count)};
}

Imported importRiff(const std::uint8_t* data, std::size_t size) {
    if (size < 12) throw FormatError("cut short: the RIFF header");
    if (std::memcmp(data + 8, "PAL ", 4) != 0)
        throw FormatError("a RIFF file of type " + quotedText(std::string(reinterpret_cast<const char*>(data + 8), 4)) + ", not 'PAL '");
    const std::uint32_t declared = le32(data + 4);
    if (declared < 4) throw FormatError("the RIFF size " + std::to_string(declared) + " is too small");
    if (declared > size - 8)
        throw FormatError("cut short: the RIFF size says " + std::to_string(declared) + " bytes, " + std::to_string(size - 8) + " follow");
    const std::uint8_t* at = data + 12;
    std::size_t left = declared - 4;
    while (left > 0) {
        if (left < 8) throw FormatError("cut short: a chunk header");
        const std::string id(reinterpret_cast<const char*>(at), 4);
        const std::uint32_t length = le32(at + 4);
        at += 8;
        left -= 8;
        if (length > left)
            throw FormatError("cut short: chunk " + quotedText(id) + " of " + std::to_string(length) + " bytes, " + std::to_string(left) + " left");
        if (id == "data") {
            if (length < 4) throw FormatError("cut short: chunk 'data' of " + std::to_string(length) + " bytes");
            const std::uint32_t version = le16(at), count = le16(at + 2);
            if (version != 0x0300) {
                char text[8];
                std::snprintf(text, sizeof text, "%04X", version);
                throw FormatError(std::string("the version 0x") + text + ", not 0x0300");
            }
            checkCount(count);
            if ((length - 4) / 4 < count)
                throw FormatError("cut short: " + countText(count) + " need " + std::to_string(4 * count) + " bytes, chunk 'data' holds " +
                                  std::to_string(length - 4));
            Imported result{Format::riff, {}};
            for (std::uint32_t n = 0; n < count; ++n) result.colours.insert(result.colours.end(), at + 4 + 4 * n, at + 7 + 4 * n);
            return result;
        }
        // chunks are padded to even length; a missing pad byte at the very end is forgiven
        const std::size_t step = std::min<std::size_t>(left, std::size_t{length} + (length & 1));
        at += step;
        left -= step;
    }
    throw FormatError("no chunk 'data'");
}

Imported importIff(const std::uint8_t* data, std::size_t size) {
    if (size < 12) throw FormatError("cut short: the FORM header");
    const std::string type(reinterpret_cast<const char*>(data + 8), 4);
    if (type != "PAL ") throw FormatError("expected FORM 'PAL ', found FORM " + quotedText(type));
    const std::uint32_t declared = be32(data + 4);
    if (declared < 4) throw FormatError("the FORM size " + std::to_string(declared) + " is too small");
    if (declared > size - 8)
        throw FormatError("cut short: FORM 'PAL ' declares " + std::to_string(declared) + " bytes, " + std::to_string(size - 8) + " follow");
    const std::size_t left = declared - 4;
    if (left < 8) throw FormatError("expected chunk 'CMAP' first in FORM 'PAL ', found the end of the form");
    const std::string id(reinterpret_cast<const char*>(data + 12), 4);
    if (id != "CMAP") throw FormatError("expected chunk 'CMAP' first in FORM 'PAL ', found chunk " + quotedText(id));
    const std::uint32_t length = be32(data + 16);
    if (length > left - 8)
        throw FormatError("cut short: chunk 'CMAP' declares " + std::to_string(length) + " bytes, " + std::to_string(left - 8) + " left");
    if (length < tableSize)
        throw FormatError("the colour table 'CMAP' holds " + std::to_string(length) + " bytes, fewer than 768");
    return {Format::iff, std::vector<std::uint8_t>(data + 20, data + 20 + tableSize)};
}

// The length of the well-formed UTF-8 sequence of a printable character at `at`, or 0.
std::size_t printableSequence(const std::string& text, std::size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead >= 0x20 && lead < 0x7F) return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() - at < length) return 0;
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t n = 1; n < length; ++n) {
        const unsigned char next = static_cast<unsigned char>(text[at + n]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3F);
    }
    // overlong forms, surrogates, code points past Unicode and the C1 controls a terminal would obey
    const bool bad = (length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
                     (code >= 0xD800 && code <= 0xDFFF) || (code >= 0x80 && code <= 0x9F);
    return bad ? 0 : length;
}

// The name as GIMP reads it, UTF-8, and fit for a terminal: anything else becomes a blank.
std::string cleanName(const std::string& name) {
    std::string clean;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = printableSequence(name, at);
        clean += length ? name.substr(at, length) : " ";
        at += length ? length : 1;
    }
    return clean;
}

}  // namespace

const char* formatName(Format format) { return names[static_cast<int>(format)]; }

std::optional<Format> formatNamed(std::string_view name) {
    for (std::size_t n = 0; n < std::size(names); ++n)
        if (name == names[n]) return static_cast<Format>(n);
    return std::nullopt;
}

bool isText(Format format) { return format == Format::gpl || format == Format::jasc; }

Bytes exportPalette(Format format, const colour::Palette& entries, const std::string& name) {
    Bytes out;
    // byte by byte: gcc 12 at -O3 warns falsely about inserting a string's range into an empty vector
    const auto append = [&out](const std::string& text) {
        for (const char c : text) out.push_back(static_cast<std::uint8_t>(c));
    };
    char line[48];
    switch (format) {
    case Format::gpl:
        append("GIMP Palette\nName: " + cleanName(name) + "\nColumns: 16\n#\n");
        for (int n = 0; n < 256; ++n) {
            std::snprintf(line, sizeof line, "%3d %3d %3d\tIndex %d\n", entries[3 * n], entries[3 * n + 1], entries[3 * n + 2], n);
            append(line);
        }
        break;
    case Format::act:
        out.assign(entries.begin(), entries.end());
        // 256 colours, and no transparent index
        out.insert(out.end(), {0x01, 0x00, 0xFF, 0xFF});
        break;
    case Format::jasc:
        append("JASC-PAL\r\n0100\r\n256\r\n");
        for (int n = 0; n < 256; ++n) {
            std::snprintf(line, sizeof line, "%d %d %d\r\n", entries[3 * n], entries[3 * n + 1], entries[3 * n + 2]);
            append(line);
        }
        break;
    case Format::riff:
        append("RIFF");
        putLe32(out, 4 + 8 + 4 + 4 * 256);
        append("PAL data");
        putLe32(out, 4 + 4 * 256);
        putLe16(out, 0x0300);
        putLe16(out, 256);
        for (int n = 0; n < 256; ++n) out.insert(out.end(), {entries[3 * n], entries[3 * n + 1], entries[3 * n + 2], 0});
        break;
    case Format::png:
        out = swatchPng(entries);
        break;
    case Format::iff: {
        IffWriter writer;
        writer.beginForm("PAL ");
        writer.chunk("CMAP", entries.data(), entries.size());
        writer.endForm();
        out = writer.bytes();
        break;
    }
    }
    return out;
}

Imported importPalette(const std::uint8_t* data, std::size_t size) {
    if (size == 0) throw FormatError("an empty file");
    if (startsWith(data, size, "\x89PNG\r\n\x1A\n")) return pngPalette(data, size);
    if (startsWith(data, size, "FORM")) return importIff(data, size);
    if (startsWith(data, size, "RIFF")) return importRiff(data, size);
    if (startsWith(data, size, "GIMP Palette")) return importGpl(data, size);
    if (startsWith(data, size, "JASC-PAL")) return importJasc(data, size);
    // a Photoshop table has no signature, only its size
    if (size == tableSize || size == tableSize + 4) return importAct(data, size);
    throw FormatError("not a palette file this program knows");
}

}  // namespace palette
