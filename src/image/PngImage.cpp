#include "image/PngImage.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "fs/InputFile.h"
#include "fs/Limits.h"
#include "image/PngMessage.h"
#include "image/PngSamples.h"
#include "iff/FormatError.h"

namespace {

// The file and libpng's state, freed on every way out; libpng's errors come back through its jump with their message.
struct Reader {
    InputFile input;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessage message;

    explicit Reader(const std::string& path) : input(path) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, PngMessage::keep, PngMessage::drop);
        if (png) info = png_create_info_struct(png);
    }
    ~Reader() { png_destroy_read_struct(&png, &info, nullptr); }
};

}  // namespace

PngImage::PngImage(const std::string& path, unsigned channels, const std::uint8_t* colours) {
    Reader reader(path);
    if (!reader.info) throw FormatError("out of memory");
    png_structp png = reader.png;
    png_infop info = reader.info;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) throw FormatError(reader.message.text);
    png_init_io(png, reader.input.stream());
    png_read_info(png, info);
    w = png_get_image_width(png, info);
    h = png_get_image_height(png, info);
    // nothing with a destructor may live across libpng's jump
    const auto sizeError = [&](const char* what) { return FormatError("the image size " + std::to_string(w) + " x " + std::to_string(h) + what); };
    if (convertiblePixels(w, h) < 0) throw sizeError(" cannot be converted");
    const int type = png_get_color_type(png, info);
    const unsigned storedBits = png_get_bit_depth(png, info) * png_get_channels(png, info);
    // a forged header must not make us reserve memory that the file's data could never fill
    if (!deflateCanHold(filteredSize(w, h, storedBits, png_get_interlace_type(png, info) != PNG_INTERLACE_NONE), reader.input.size()))
        throw sizeError(" is more than the file holds");
    alpha = (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    const bool mapped = type == PNG_COLOR_TYPE_PALETTE, greyFile = !(type & PNG_COLOR_MASK_COLOR);
    int entryCount = 0;
    // no gamma, background or colour-space transform is set, so samples stay as stored
    png_set_scale_16(png);
    if (mapped) {
        png_set_packing(png);
        for (unsigned n = 0; n < 256; ++n) entries[4 * n + 3] = 255;
        png_colorp palette = nullptr;
        png_get_PLTE(png, info, &palette, &entryCount);
        for (int n = 0; n < entryCount; ++n) std::memcpy(&entries[4 * n], &palette[n], 3);
        png_bytep trans = nullptr;
        int count = 0;
        if (png_get_tRNS(png, info, &trans, &count, nullptr) & PNG_INFO_tRNS)
            for (int n = 0; n < count; ++n) entries[4 * n + 3] = trans[n];
    } else if (channels == 1 && greyFile) {
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_strip_alpha(png);
    } else {
        png_set_expand(png);
        png_set_gray_to_rgb(png);
        png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t stride = png_get_rowbytes(png, info);
    // the rows are sized by the layout asked for, so a transform that did not apply must not overrun them
    if (stride != std::size_t{w} * (mapped || (channels == 1 && greyFile) ? 1 : 4)) throw FormatError("unexpected sample layout");
    data.reset(new std::uint8_t[stride * h]);
    rows.resize(h);
    for (std::uint32_t y = 0; y < h; ++y) rows[y] = data.get() + y * stride;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);

    const std::size_t count = std::size_t{w} * h;
    if (mapped) {
        std::unique_ptr<std::uint8_t[]> expanded = entrySamples(data.get(), count, entries, entryCount, colours, channels);
        indices = !expanded;
        if (expanded) data = std::move(expanded);
    } else if (channels == 1 && !greyFile) {
        for (std::size_t p = 0; p < count; ++p) data[p] = greyOf(&data[4 * p]);
    }
}

PngImage::~PngImage() = default;

std::string PngImage::library() {
    return std::string("libpng ") + PNG_LIBPNG_VER_STRING + " (compiled), " + png_get_libpng_ver(nullptr) + " (loaded)\n";
}
