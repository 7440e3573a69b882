#pragma once

#include <string>

// What the page's core is built with, for --version in the page: the compiler that made its WebAssembly.
inline std::string pageBuild() {
    return "WebAssembly built by Emscripten " + std::to_string(__EMSCRIPTEN_major__) + "." + std::to_string(__EMSCRIPTEN_minor__) +
           "." + std::to_string(__EMSCRIPTEN_tiny__) + "\n";
}
