#include "mat2png/WriterImage.h"

#include <cstring>

#include "fs/WriteError.h"
#include "image/BuiltBy.h"
#include "image/PngEncoder.h"
#include "mat2png/SaveImage.h"

WriterImage::WriterImage(std::int32_t width, std::int32_t height, unsigned channels, const std::uint8_t* data)
    : width(width), height(height), channels(channels) {
    if (width <= 0 || height <= 0)
        throw WriteError("cannot write an image of " + std::to_string(width) + " x " + std::to_string(height));
    const std::size_t size = std::size_t(width) * std::size_t(height) * channels;
    samples.reset(new std::uint8_t[size]);
    if (data) std::memcpy(samples.get(), data, size);
}

WriterImage::~WriterImage() = default;

std::uint8_t* WriterImage::data() { return samples.get(); }

void WriterImage::save(const std::string& name, const timespec& modified, const char* program, Levels levels) {
    PngEncoder::Options options;
    options.bottomUp = true;
    options.negative = levels == Levels::inverted;
    const PngEncoder png(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), channels, samples.get(),
                         nullptr, options);
    samples.reset();
    saveEncoded(name, png.bytes(), modified, program);
}

std::string WriterImage::library() { return "PNG writing: this project's PngEncoder and Deflate\n" + builtBy(); }
