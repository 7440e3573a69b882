#include "image/PngMessage.h"

#include <cstdio>

void PNGCBAPI PngMessage::keep(png_structp png, png_const_charp message) {
    PngMessage& kept = *static_cast<PngMessage*>(png_get_error_ptr(png));
    std::snprintf(kept.text, sizeof kept.text, "%s", message);
    png_longjmp(png, 1);
}
