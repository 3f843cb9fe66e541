// Writers of small picture files for the demo generator, the tests and the benchmarks.
//
// BMP (24-bit, 40-byte header) and IFF ILBM (24 planes, uncompressed or ByteRun1) are
// built here byte by byte, because the image library only reads them; Targa and JPEG go
// through the library's own writers. Pictures are 0x00RRGGBB words, rows top-down, packed.
//
// Bad input: a picture whose pixel count does not match its size, or a size outside
// 1..65535, gives an empty byte vector (and false from the file writers); a file that cannot
// be written gives false.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

struct RgbPicture {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

// 24-bit BMP with the 40-byte header, rows bottom-up and padded to four bytes.
std::vector<uint8_t> bmp24_bytes(const RgbPicture& pic);

// FORM ILBM with BMHD and a BODY of 24 planes per row (planes 0-7 red, 8-15 green, 16-23
// blue, least significant bit first), uncompressed or ByteRun1.
std::vector<uint8_t> ilbm24_bytes(const RgbPicture& pic, bool byterun1);

// ByteRun1 packing of one row (runs of 3 or more repeated bytes become run packets).
std::vector<uint8_t> byterun1_pack(const uint8_t* data, size_t n);

bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Through the image library: uncompressed 32-bit Targa, baseline JPEG of `quality`.
bool write_tga_picture(const RgbPicture& pic, const std::string& path);
bool write_jpeg_picture(const RgbPicture& pic, const std::string& path, int quality);

}  // namespace orvl
