#include "image/png_encode.h"

#include <png.h>

#include <cstring>

namespace orvl {

bool png_encode_rgba(const uint8_t* rgba, int width, int height, size_t stride, std::vector<uint8_t>& out,
                     std::string* error, bool fast) {
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
  if (fast) image.flags |= PNG_IMAGE_FLAG_FAST;
  // One pass into a buffer of the largest size the picture can take (asking for the size
  // first would deflate everything twice), then cut to what was written.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  out.resize(size);
  bool ok = png_image_write_to_memory(&image, out.data(), &size, 0, rgba, png_int_32(stride), nullptr) != 0;
  if (!ok && size > out.size()) {  // the bound was too small after all: ask, then write
    out.resize(size);
    ok = png_image_write_to_memory(&image, out.data(), &size, 0, rgba, png_int_32(stride), nullptr) != 0;
  }
  out.resize(ok ? size : 0);
  out.shrink_to_fit();
  if (!ok && error) *error = image.message[0] ? image.message : "cannot be encoded";
  png_image_free(&image);
  return ok;
}

}  // namespace orvl
