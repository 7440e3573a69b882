#include "driver/Platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

void prepareProcess(int argc, char** argv) {
    // the programs print their lines as Linux does, "\n" ending each, and names in UTF-8
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
    // the progress line erases itself with the terminal's sequences, which a console knows when asked
    const HANDLE console = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(console, &mode)) ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    // C:\tex\mat\a.mat is C:/tex/mat/a.mat to the programs, and to Windows
    for (int i = 1; i < argc; ++i) std::replace(argv[i], argv[i] + std::char_traits<char>::length(argv[i]), '\\', '/');
}

std::string consoleText(std::string line) {
    std::replace(line.begin(), line.end(), '/', '\\');
    return line;
}
