#include "iff/IffWriter.h"

#include <cstring>

#include "fs/WriteError.h"

void IffWriter::header(const char* id, std::size_t size) {
    if (size > 0x7FFFFFFFu) throw WriteError(std::string("chunk '") + id + "' is too large for IFF: " + std::to_string(size) + " bytes");
    data.insert(data.end(), id, id + 4);
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<std::uint8_t>(size >> shift));
}

void IffWriter::beginForm(const char* type) {
    header("FORM", 0);
    open.push_back(data.size() - 4);
    data.insert(data.end(), type, type + 4);
}

void IffWriter::endForm() {
    const std::size_t at = open.back();
    open.pop_back();
    const std::size_t size = data.size() - at - 4;
    if (size > 0x7FFFFFFFu) throw WriteError("FORM is too large for IFF: " + std::to_string(size) + " bytes");
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
}

void IffWriter::chunk(const char* id, const std::uint8_t* content, std::size_t length) {
    header(id, length);
    data.insert(data.end(), content, content + length);
    if (length & 1) data.push_back(0);
}
