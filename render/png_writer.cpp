#include "render/png_writer.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/file.h"
#include "platform/log.h"

namespace orvl {

namespace {

// Encodes with libpng's simplified API into memory, then writes the file atomically.
bool encode_and_write(png_image& image, const std::string& path, const void* pixels, png_int_32 stride,
                      std::string* error) {
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels, stride, nullptr)) {
    if (error) *error = image.message[0] ? image.message : "cannot be encoded";
    png_image_free(&image);
    return false;
  }
  std::vector<uint8_t> bytes(size);
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels, stride, nullptr)) {
    if (error) *error = image.message[0] ? image.message : "cannot be encoded";
    png_image_free(&image);
    return false;
  }
  return write_whole_file(path, bytes.data(), size, error);
}

}  // namespace

bool png_write_rgba(const std::string& path, const uint8_t* rgba, int width, int height,
                    size_t stride, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!rgba || width <= 0 || height <= 0 || width > kMaxPngSide || height > kMaxPngSide)
    return fail("bad picture size");
  if (stride < size_t(width) * 4) return fail("row stride shorter than a row");
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGBA;
  return encode_and_write(image, path, rgba, png_int_32(stride), error);
}

bool png_write_frame(const std::string& path, const uint8_t* rgba, int width, int height, size_t stride,
                     std::string* error) {
  if (!rgba || width <= 0 || height <= 0 || width > kMaxPngSide || height > kMaxPngSide ||
      stride < size_t(width) * 4) {
    if (error) *error = "bad picture size";
    return false;
  }
  // The framebuffer's alpha is whatever blending left there; a picture of the screen is opaque.
  std::vector<uint8_t> rgb(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = rgba + size_t(y) * stride;
    uint8_t* dst = &rgb[size_t(y) * width * 3];
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    }
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGB;
  return encode_and_write(image, path, rgb.data(), png_int_32(width * 3), error);
}

bool png_read_rgba(const std::string& path, std::vector<uint8_t>& rgba, int& width, int& height,
                   std::string* error) {
  width = height = 0;
  rgba.clear();
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  auto fail = [&](const char* fallback) {
    if (error) *error = image.message[0] ? image.message : fallback;
    png_image_free(&image);
    return false;
  };
  if (!png_image_begin_read_from_file(&image, path.c_str())) return fail("not a PNG file");
  if (image.width == 0 || image.height == 0 || image.width > kMaxPngSide ||
      image.height > kMaxPngSide)
    return fail("bad picture size");
  image.format = PNG_FORMAT_RGBA;
  rgba.resize(size_t(image.width) * image.height * 4);
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
    rgba.clear();
    return fail("PNG data damaged");
  }
  width = int(image.width);
  height = int(image.height);
  return true;
}

FrameSink png_frame_sink(const std::string& directory, const std::string& prefix) {
  auto logged = std::make_shared<bool>(false);
  return [directory, prefix, logged](const DisplayFrame& f) {
    char name[32];
    std::snprintf(name, sizeof name, "%06u.png", unsigned(f.index));
    std::string path = path_join(directory, prefix + name);
    std::string why;
    if (!png_write_frame(path, f.rgba, f.width, f.height, size_t(f.width) * 4, &why) && !*logged) {
      *logged = true;
      log_format("Frame file %s not written: %s", path.c_str(), why.c_str());
    }
  };
}

}  // namespace orvl
