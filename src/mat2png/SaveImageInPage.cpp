#include "mat2png/SaveImage.h"

#include <unistd.h>

#include <cerrno>

#include "fs/TempFile.h"
#include "fs/WriteError.h"
#include "image/PngEncoder.h"

void saveEncoded(const std::string& name, const std::vector<std::uint8_t>& bytes, const timespec& modified, const char* program) {
    TempFile file(name, "png", program);
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            file.fail(n < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    file.commit(&modified);
}

void saveSamples(const std::string& name, std::int32_t width, std::int32_t height, const std::uint8_t* indices,
                 const std::uint8_t* palette, const timespec& modified, const char* program, bool negative) {
    if (width <= 0 || height <= 0)
        throw WriteError("cannot write an image of " + std::to_string(width) + " x " + std::to_string(height));
    PngEncoder::Options options;
    options.bottomUp = true;
    options.negative = negative;
    options.paeth = filterRows(width, height, indices);
    const PngEncoder png(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 1, indices, palette, options);
    saveEncoded(name, png.bytes(), modified, program);
}
