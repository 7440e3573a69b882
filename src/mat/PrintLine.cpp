#include "mat/PrintLine.h"

#include <cstdio>

void printLine(const char* text, const std::string& value) {
    std::fputs(text, stdout);
    std::fputs(value.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
