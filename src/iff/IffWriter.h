#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds an IFF file in memory in the canonical layout: big-endian sizes, every
// chunk padded to even length, each FORM's size counted from its children.
class IffWriter {
public:
    // Opens a FORM of `type`; its size is filled in by endForm().
    void beginForm(const char* type);
    void endForm();
    void chunk(const char* id, const std::uint8_t* content, std::size_t length);
    // The file so far; every form must be ended.
    const std::vector<std::uint8_t>& bytes() const { return data; }

private:
    void header(const char* id, std::size_t size);

    std::vector<std::uint8_t> data;
    // offsets of the size fields of the forms still open
    std::vector<std::size_t> open;
};
