#include "driver/Platform.h"

void prepareProcess(int, char**) {}

std::string consoleText(std::string line) { return line; }
