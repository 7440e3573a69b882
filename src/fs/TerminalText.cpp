#include "fs/TerminalText.h"

std::string terminalText(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 15];
        }
    }
    return shown;
}
