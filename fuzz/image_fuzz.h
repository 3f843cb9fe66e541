// Shared body of the image reader fuzz targets: raw bytes decoded as one file type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image.h"
#include "platform/log.h"

inline int fuzz_decode_as(orvl::ImgFileType type, const uint8_t* data, size_t size) {
  static const bool quiet = (orvl::log_set_echo(false), true);
  (void)quiet;
  orvl::log_clear();
  orvl::Img img;
  img.type = type;
  (void)img.set_file_data(std::vector<uint8_t>(data, data + size));
  orvl::ImgDecoder dec;
  if (dec.bind(&img).decode() == orvl::ImgError::ok) {
    // A successful decode must describe its buffer exactly.
    if (img.pixels.size() != static_cast<size_t>(img.width) * img.height || img.pitch != img.width)
      __builtin_trap();
  } else if (!img.pixels.empty()) {
    __builtin_trap();  // a failed decode must leave nothing to read
  }
  img.release();
  return 0;
}
