#include "mat2png/WriterImage.h"

#include <IL/il.h>
#include <IL/ilu.h>

#include "fs/WriteError.h"
#include "mat2png/SaveImage.h"

WriterImage::WriterImage(std::int32_t width, std::int32_t height, unsigned channels, const std::uint8_t* data)
    : width(width), height(height), channels(channels) {
    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilEnable(IL_FILE_OVERWRITE);
    ilOriginFunc(IL_ORIGIN_LOWER_LEFT);
    // one DevIL image, deleted again once saved so that memory stays flat over a batch
    ilGenImages(1, &handle);
    ilBindImage(handle);
    const ILenum format = channels == 1 ? IL_LUMINANCE : channels == 3 ? IL_RGB : IL_RGBA;
    if (!ilTexImage(static_cast<ILuint>(width), static_cast<ILuint>(height), 1, static_cast<ILubyte>(channels), format,
                    IL_UNSIGNED_BYTE, const_cast<std::uint8_t*>(data))) {
        ilDeleteImages(1, &handle);
        throw WriteError("the image library refused an image of " + std::to_string(width) + " x " + std::to_string(height));
    }
}

WriterImage::~WriterImage() { ilDeleteImages(1, &handle); }

std::uint8_t* WriterImage::data() {
    std::uint8_t* out = ilGetData();
    if (!out) throw WriteError("the image library has no memory for the image");
    return out;
}

void WriterImage::save(const std::string& name, const timespec& modified, const char* program, bool negative) {
    ilBindImage(handle);
    if (negative) iluNegative();
    saveImage(name, modified, program);
}

std::string WriterImage::library() {
    return "DevIL " + std::to_string(IL_VERSION / 100) + "." + std::to_string(IL_VERSION / 10 % 10) + "." +
           std::to_string(IL_VERSION % 10) + " (compiled), " + std::to_string(ilGetInteger(IL_VERSION_NUM)) +
           " (loaded)\n";
}
