#include "mat2png/SaveImage.h"

#include "fs/TempFile.h"
#include "fs/WriteAll.h"
#include "fs/WriteError.h"
#include "image/PngEncoder.h"

void saveEncoded(const std::string& name, const std::vector<std::uint8_t>& bytes, const timespec& modified, const char* program) {
    TempFile file(name, "png", program);
    if (const int error = writeAll(file.fd(), bytes.data(), bytes.size())) file.fail(error);
    file.commit(&modified);
}

void saveSamples(const std::string& name, std::int32_t width, std::int32_t height, const std::uint8_t* indices,
                 const std::uint8_t* palette, const timespec& modified, const char* program, Levels levels) {
    if (width <= 0 || height <= 0)
        throw WriteError("cannot write an image of " + std::to_string(width) + " x " + std::to_string(height));
    PngEncoder::Options options;
    options.bottomUp = true;
    options.negative = levels == Levels::inverted;
    options.paeth = filterRows(width, height, indices);
    const PngEncoder png(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 1, indices, palette, options);
    saveEncoded(name, png.bytes(), modified, program);
}
