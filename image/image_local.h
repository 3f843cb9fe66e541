// Helpers shared by the readers and writers of the image library (not a public header).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "image/image.h"

namespace orvl::img_detail {

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

inline bool dimensions_ok(uint32_t w, uint32_t h) {
  return w > 0 && h > 0 && w <= kMaxImageDimension && h <= kMaxImageDimension;
}

inline bool within_budget(uint32_t w, uint32_t h) { return uint64_t(w) * h <= img_pixel_budget(); }

// Leaves a decode target in the "nothing decoded" state every failure ends in.
inline ImgError fail(Img& img, ImgError e) {
  std::vector<uint32_t>().swap(img.pixels);
  img.width = img.height = img.pitch = 0;
  return e;
}

// Sets the size and the id-14 format and allocates width x height zeroed words.
// The dimensions must already have passed dimensions_ok (so the product cannot overflow).
inline ImgError start_pixels(Img& img, uint32_t w, uint32_t h) {
  if (!within_budget(w, h)) return fail(img, ImgError::too_large);
  img.width = w;
  img.height = h;
  img.pitch = w;
  img.format = kFormat32;
  try {
    std::vector<uint32_t>(static_cast<size_t>(w) * h).swap(img.pixels);
  } catch (const std::bad_alloc&) {
    return fail(img, ImgError::no_buffer);
  }
  return ImgError::ok;
}

}  // namespace orvl::img_detail
