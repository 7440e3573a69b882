#include "image/BuiltBy.h"

std::string builtBy() {
    return "WebAssembly built by Emscripten " + std::to_string(__EMSCRIPTEN_major__) + "." + std::to_string(__EMSCRIPTEN_minor__) +
           "." + std::to_string(__EMSCRIPTEN_tiny__) + "\n";
}
