#pragma once

#include <png.h>

// libpng's error message, kept for the exception its caller throws after libpng's jump, in a buffer of ours
// since nothing may throw on the way back through libpng; its warnings are dropped, as they would go to
// standard error. Handed to libpng as error pointer with keep and drop as its error and warning functions.
struct PngMessage {
    char text[200] = "out of memory";

    [[noreturn]] static void PNGCBAPI keep(png_structp png, png_const_charp message);
    static void PNGCBAPI drop(png_structp, png_const_charp) {}
};
