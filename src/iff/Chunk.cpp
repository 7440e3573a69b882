#include "iff/Chunk.h"

#include <cstring>
#include <stdexcept>

Chunk::Chunk(std::unique_ptr<std::uint8_t[]> payload, std::int32_t size, std::int32_t length,
             const std::string& id)
    : payload(std::move(payload)), size(size), length(length) {
    std::strncpy(this->id, id.c_str(), 4);
}

Chunk::~Chunk() = default;

void Chunk::need4() const {
    // written as a subtraction so that a cursor near the limit cannot overflow
    if (length - cursor < 4) throw std::logic_error("a read of 4 bytes past the end of chunk '" + std::string(id) + "'");
}

std::int32_t Chunk::readInt() {
    need4();
    std::int32_t value;
    std::memcpy(&value, payload.get() + cursor, 4);
    cursor += 4;
    return value;
}

void Chunk::skip4() {
    need4();
    cursor += 4;
}

std::string Chunk::readString() {
    if (cursor >= length) throw std::logic_error("a read of a text past the end of chunk '" + std::string(id) + "'");
    const char* start = reinterpret_cast<const char*>(payload.get()) + cursor;
    const std::size_t available = static_cast<std::size_t>(length - cursor);
    // a text without a terminating zero ends with the declared content
    const void* nul = std::memchr(start, 0, available);
    const std::size_t textlength =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : available;
    cursor += static_cast<std::int32_t>(nul ? textlength + 1 : textlength);
    return std::string(start, textlength);
}
