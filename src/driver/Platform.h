#pragma once

#include <string>

// What a program does in its platform's own way beyond its files: POSIX (Platform.cpp, the page too)
// or Windows (PlatformWindows.cpp).

// Called first by every program's main: on Windows, the console in UTF-8 and the arguments'
// backslashes as slashes, the one separator the programs work with.
void prepareProcess(int argc, char** argv);

// A console line as the platform names files: on Windows with backslashes.
std::string consoleText(std::string line);
