#pragma once

#include <cstdint>
#include <memory>
#include <string>

// One chunk's content in memory with a read cursor. The size includes the pad
// byte of an odd-sized chunk; the field reads stop at the declared length, so
// the pad byte is never taken as data.
class Chunk {
public:
    Chunk(std::unique_ptr<std::uint8_t[]> payload, std::int32_t size, std::int32_t length,
          const std::string& id);
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;

    std::int32_t readInt();
    std::string readString();
    void skip4();
    bool hasMore() const { return cursor < declared; }
    const std::uint8_t* data() const { return payload.get(); }
    // The declared length rounded up to even.
    std::int32_t paddedSize() const { return padded; }
    // Declared content length, without the pad byte.
    std::int32_t length() const { return declared; }
    std::string id() const { return name; }

private:
    void need4() const;

    std::unique_ptr<std::uint8_t[]> payload;
    std::int32_t padded;
    std::int32_t declared;
    std::int32_t cursor = 0;
    char name[5] = {};
};
