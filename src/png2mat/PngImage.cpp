#include "png2mat/PngImage.h"

#include <png.h>
#include <sys/stat.h>

#include "iff/FormatError.h"
#include "mat/MatReader.h"

namespace {

// Frees libpng's state on every way out, including an exception between the two reads.
struct Reader {
    png_image image{};
    Reader() { image.version = PNG_IMAGE_VERSION; }
    ~Reader() { png_image_free(&image); }
};

}  // namespace

PngImage::PngImage(const std::string& path, std::uint32_t format) {
    Reader reader;
    png_image& image = reader.image;
    if (!png_image_begin_read_from_file(&image, path.c_str())) throw FormatError(path + ": " + image.message);
    w = image.width;
    h = image.height;
    alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    const std::int64_t pixels = convertiblePixels(w, h);
    if (pixels < 0) throw FormatError(path + ": the image size " + std::to_string(w) + " x " + std::to_string(h) + " cannot be converted");
    // deflate packs at most 1032 bytes into one and a pixel takes at least one bit, so a forged
    // header cannot make us reserve memory that the file's data could never fill
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || pixels / 8 / 1032 > st.st_size)
        throw FormatError(path + ": the image size " + std::to_string(w) + " x " + std::to_string(h) + " is more than the file holds");
    image.format = format;
    data = std::make_unique_for_overwrite<std::uint8_t[]>(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, data.get(), 0, nullptr)) throw FormatError(path + ": " + image.message);
}

PngImage::~PngImage() = default;
