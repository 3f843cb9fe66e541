// PNG through libpng's simplified reading interface, from memory.
//
// libpng converts every colour type and depth (palette, grey, 16-bit, with or without
// alpha) to 8-bit blue, green, red, alpha bytes. They are decoded straight into the pixel
// buffer, four bytes per word, and each word is then rebuilt as 0x00RRGGBB from its bytes,
// so the result does not depend on the machine's byte order and no second buffer of the
// picture's size is needed. Alpha is dropped, as the Targa reader drops it. libpng's own
// errors come back as a failed call (its message is logged), never as a jump through here.
#include <png.h>

#include <cstring>

#include "image/image.h"
#include "image/image_local.h"
#include "platform/log.h"

namespace orvl {

using namespace img_detail;

ImgError PngReader::bind(Img* img) {
  if (!img) return ImgError::no_buffer;
  img_ = img;
  return ImgError::ok;
}

ImgError PngReader::read() {
  if (!img_) return ImgError::no_instance;
  Img& img = *img_;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, img.file_data.data(), img.file_data.size())) {
    log_format("PNG reading %s : %s", img.name.empty() ? "image" : img.name.c_str(), image.message);
    return fail(img, ImgError::bad_format);
  }
  if (!dimensions_ok(image.width, image.height)) {
    png_image_free(&image);
    return fail(img, ImgError::bad_format);
  }
  image.format = PNG_FORMAT_BGRA;
  if (ImgError e = start_pixels(img, image.width, image.height); e != ImgError::ok) {
    png_image_free(&image);
    return e;
  }
  const png_int_32 stride = static_cast<png_int_32>(image.width) * 4;
  if (!png_image_finish_read(&image, nullptr, img.pixels.data(), stride, nullptr)) {
    log_format("PNG reading %s : %s", img.name.empty() ? "image" : img.name.c_str(), image.message);
    png_image_free(&image);
    return fail(img, ImgError::bad_format);
  }
  uint8_t* bytes = reinterpret_cast<uint8_t*>(img.pixels.data());
  for (size_t i = 0; i < img.pixels.size(); ++i) {
    const uint8_t* p = bytes + i * 4;
    img.pixels[i] = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
  }
  return ImgError::ok;
}

}  // namespace orvl
