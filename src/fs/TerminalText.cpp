#include "fs/TerminalText.h"

namespace {

std::string escaped(std::string_view text, bool backslash) {
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && !(backslash && c == '\\')) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 15];
        }
    }
    return shown;
}

}  // namespace

std::string terminalText(std::string_view text) { return escaped(text, false); }

std::string quotedText(std::string_view text) { return "'" + escaped(text, true) + "'"; }
