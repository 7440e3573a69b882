#include "mat/MatWriter.h"

#include "iff/IffWriter.h"

MatWriter::MatWriter(const Bytes& info, const std::optional<Bytes>& hots, const char* paletteId, const Bytes& palette,
                     const Bytes& pixels, const std::optional<Bytes>& alpha) {
    IffWriter out;
    out.beginForm("BITM");
    out.beginForm("FRAM");
    out.chunk("INFO", info.data(), info.size());
    if (hots) out.chunk("HOTS", hots->data(), hots->size());
    out.beginForm("PAL ");
    out.chunk(paletteId, palette.data(), palette.size());
    out.endForm();
    out.chunk("PXLS", pixels.data(), pixels.size());
    if (alpha) out.chunk("ALPH", alpha->data(), alpha->size());
    out.endForm();
    out.endForm();
    data = out.bytes();
}

MatWriter::Bytes MatWriter::sizedInfo(Bytes info, std::uint32_t width, std::uint32_t height) {
    // the numbers inside INFO are little-endian
    for (int i = 0; i < 4; ++i) {
        info[i] = static_cast<std::uint8_t>(width >> 8 * i);
        info[4 + i] = static_cast<std::uint8_t>(height >> 8 * i);
    }
    return info;
}

MatWriter::Bytes MatWriter::newInfo(std::uint32_t width, std::uint32_t height, std::int32_t type) {
    Bytes info = sizedInfo(Bytes(12), width, height);
    for (int i = 0; i < 4; ++i) info[8 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(type) >> 8 * i);
    return info;
}
