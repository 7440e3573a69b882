#pragma once

#include <string>

// The compiler that made the programs where they carry their own PNG code (the page, Windows), as a line of
// --version; BuiltByInPage.cpp in the page, BuiltBy.cpp elsewhere.
std::string builtBy();
