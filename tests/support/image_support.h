// Builders of small image files for tests and benchmarks, and a reader of the binary PPM
// files that hold the expected pixels of the reference images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/image_writer.h"

namespace orvl::test {

// Pixels are 0x00RRGGBB, rows top-down, packed. The BMP and ILBM builders below are the
// tool writers' (tools/image_writer.h), so the demo's files and the fixtures agree.
using Picture = ::orvl::RgbPicture;

// Binary P6, maxval 255. Returns false on anything else.
bool read_ppm(const std::string& path, Picture& out);

// A deterministic test picture: gradients mixed with a hash so neighbours differ.
Picture make_picture(uint32_t width, uint32_t height, uint32_t seed = 1);

// 24-bit BMP with the 40-byte header, rows bottom-up and padded to four bytes.
std::vector<uint8_t> make_bmp24(const Picture& pic);

// FORM ILBM with BMHD and a BODY of 24 planes (plane p = bit p of 0xBBGGRR... i.e. planes
// 0-7 red, 8-15 green, 16-23 blue), uncompressed or ByteRun1.
std::vector<uint8_t> make_ilbm24(const Picture& pic, bool byterun1);

// ByteRun1 packing of one row (runs of 3 or more repeated bytes become run packets).
std::vector<uint8_t> pack_byterun1(const uint8_t* data, size_t n);

// Type 10 (run-length) 24-bit Targa, top-left origin.
std::vector<uint8_t> make_tga10_24(const Picture& pic);

}  // namespace orvl::test
