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
    virtual ~Chunk();
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;

    std::int32_t readInt();
    std::string readString();
    void skip4();
    bool hasMore() const { return cursor < length; }
    const std::uint8_t* getData() const { return payload.get(); }
    // Padded size: the declared length rounded up to even.
    std::int32_t getSize() const { return size; }
    // Declared content length, without the pad byte.
    std::int32_t getLength() const { return length; }
    std::string getId() const { return id; }

private:
    void need4() const;

    std::unique_ptr<std::uint8_t[]> payload;
    std::int32_t size;
    std::int32_t length;
    std::int32_t cursor = 0;
    char id[5] = {};
};
