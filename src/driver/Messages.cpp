#include "driver/Messages.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/Progress.h"

std::string frameMessage(char kind, std::string_view text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    std::string message(1, kind);
    message.append(reinterpret_cast<const char*>(&size), sizeof size);
    return message.append(text);
}

bool takeMessage(const std::string& bytes, std::size_t& at, char& kind, std::string_view& text) {
    std::uint32_t size;
    if (bytes.size() - at < 1 + sizeof size) return false;
    std::memcpy(&size, bytes.data() + at + 1, sizeof size);
    if (bytes.size() - at - 1 - sizeof size < size) return false;
    kind = bytes[at];
    text = std::string_view(bytes).substr(at + 1 + sizeof size, size);
    at += 1 + sizeof size + size;
    return true;
}

void printMessages(const std::string& messages) {
    std::FILE* last = nullptr;
    char kind;
    std::string_view text;
    for (std::size_t at = 0; takeMessage(messages, at, kind, text);) {
        std::FILE* stream = kind == 'O' ? stdout : stderr;
        if (last && stream != last) std::fflush(last);
        clearProgress(stream);
        std::fwrite(text.data(), 1, text.size(), stream);
        last = stream;
    }
    if (last) std::fflush(last);
}
