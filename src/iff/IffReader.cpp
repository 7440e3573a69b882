#include "iff/IffReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "fs/InputFile.h"
#include "fs/TerminalText.h"
#include "iff/FormatError.h"

namespace {

std::uint32_t bigEndian(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

IffReader::IffReader(const std::string& path) : input(path), file(input.stream()), filesize(input.size()) {
    readHeader();
}

IffReader::~IffReader() = default;

void IffReader::readHeader() {
    unsigned char header[8];
    // the size taken at the open tells the end of the file without one more read
    if (position + sizeof header > filesize) {
        atend = true;
        return;
    }
    const std::size_t got = std::fread(header, 1, sizeof header, file);
    position += got;
    if (got < sizeof header) {
        atend = true;
        return;
    }
    std::memcpy(id, header, 4);
    declared = bigEndian(header + 4);
    length = declared;
    badsize = declared > 0x7FFFFFFFu;
    if (isForm()) {
        const std::size_t typegot = std::fread(formtype, 1, 4, file);
        position += typegot;
        if (typegot < 4) {
            atend = true;
            return;
        }
        badsize = badsize || declared < 4;
        length -= 4;
    }
}

bool IffReader::isForm() const { return std::strcmp(id, "FORM") == 0; }

std::string IffReader::describe() const {
    if (atend) return "the end of the file";
    // an id may hold a zero byte, so all four bytes are shown
    if (isForm()) return "FORM " + quotedText(std::string(formtype, 4));
    return "chunk " + quotedText(std::string(id, 4));
}

void IffReader::expectForm(const char* type, const char* what) const {
    if (!atForm(type)) throw FormatError(std::string("expected ") + (what ? what : "FORM " + quotedText(type)) + ", found " + describe());
}

void IffReader::expectChunk(const char* id, const char* what) const {
    if (!atChunk(id)) throw FormatError(std::string("expected ") + (what ? what : "chunk " + quotedText(id)) + ", found " + describe());
}

void IffReader::requireHeader() const {
    if (atend) throw FormatError("unexpected end of the file");
    if (badsize) {
        const std::string what = isForm() ? "FORM " + quotedText(std::string(formtype, 4)) : "chunk " + quotedText(std::string(id, 4));
        const char* limit = declared > 0x7FFFFFFFu ? " (2^31 or more)" : " (less than its 4-byte form type)";
        throw FormatError(what + " declares a size of " + std::to_string(declared) + limit + ", with " +
                          std::to_string(remaining()) + " bytes left in the file");
    }
}

void IffReader::requireChunk(bool form) const {
    requireHeader();
    // the callers check what the file holds first: the wrong kind here is a fault of this program
    if (isForm() != form) throw std::logic_error(std::string("a ") + (form ? "chunk" : "FORM") + " read as a " + (form ? "FORM" : "chunk"));
}

std::string IffReader::chunkName() const {
    requireChunk(false);
    return id;
}

std::string IffReader::formType() const {
    requireChunk(true);
    return formtype;
}

std::int32_t IffReader::chunkIdAsInt() const {
    requireChunk(false);
    std::int32_t value;
    std::memcpy(&value, id, 4);
    return value;
}

void IffReader::enterForm() {
    requireChunk(true);
    readHeader();
}

std::uint64_t IffReader::checkedLength() const {
    const std::uint64_t content = static_cast<std::uint64_t>(length);
    if (content > remaining())
        throw FormatError(describe() + " declares " + std::to_string(content) + " bytes but only " +
                          std::to_string(remaining()) + " are left in the file");
    return content;
}

void IffReader::skip() {
    requireHeader();
    const std::uint64_t content = checkedLength();
    // the pad byte after the file's last chunk may be missing
    const std::uint64_t step = std::min(content + (content & 1), remaining());
    // a short step is read through the buffer: a seek would cost a system call and the buffer's refill
    if (step <= 16384) {
        char discard[16384];
        if (std::fread(discard, 1, step, file) < step)
            throw FormatError("reading " + describe() + ": " + (std::ferror(file) ? std::strerror(errno) : "the file got shorter"));
    } else if (std::fseek(file, static_cast<long>(step), SEEK_CUR) != 0) {
        throw FormatError("cannot skip " + describe() + ": " + std::strerror(errno));
    }
    position += step;
    readHeader();
}

std::unique_ptr<Chunk> IffReader::readChunk() {
    requireChunk(false);
    // the bytes the file still holds bound the allocation
    const std::uint64_t content = checkedLength();
    const std::uint64_t padded = content + (content & 1);
    if (padded > 0x7FFFFFFFu) throw FormatError(describe() + " is too large to read: " + std::to_string(content) + " bytes");
    // new[] without (): the bytes are read before they are used, as make_unique_for_overwrite would leave them
    std::unique_ptr<std::uint8_t[]> payload(new std::uint8_t[padded ? padded : 1]);
    const std::size_t got = std::fread(payload.get(), 1, padded, file);
    position += got;
    if (got < content)
        throw FormatError("reading " + describe() + ": " + (std::ferror(file) ? std::strerror(errno) : "the file got shorter"));
    if (got < padded) payload[content] = 0;
    const std::string chunkid = id;
    readHeader();
    return std::make_unique<Chunk>(std::move(payload), static_cast<std::int32_t>(padded),
                                   static_cast<std::int32_t>(content), chunkid);
}
