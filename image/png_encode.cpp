#include "image/png_encode.h"

#include <png.h>

#include <cstring>

namespace orvl {

bool png_encode_rgba(const uint8_t* rgba, int width, int height, size_t stride, std::vector<uint8_t>& out,
                     std::string* error) {
  out.clear();
  if (!rgba || width <= 0 || height <= 0 || width > kMaxPngSide || height > kMaxPngSide) {
    if (error) *error = "bad picture size";
    return false;
  }
  if (stride < size_t(width) * 4) {
    if (error) *error = "row stride shorter than a row";
    return false;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGBA;
  // Asked twice: once for the size, once to fill the buffer.
  png_alloc_size_t size = 0;
  bool ok = png_image_write_to_memory(&image, nullptr, &size, 0, rgba, png_int_32(stride), nullptr) != 0;
  if (ok) {
    out.resize(size);
    ok = png_image_write_to_memory(&image, out.data(), &size, 0, rgba, png_int_32(stride), nullptr) != 0;
    out.resize(ok ? size : 0);
  }
  if (!ok && error) *error = image.message[0] ? image.message : "cannot be encoded";
  png_image_free(&image);
  return ok;
}

}  // namespace orvl
