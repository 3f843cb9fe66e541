#include "render/png_writer.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/png_encode.h"
#include "platform/atomic_file.h"
#include "platform/file.h"
#include "platform/log.h"

namespace orvl {

bool png_write_rgba(const std::string& path, const uint8_t* rgba, int width, int height,
                    size_t stride, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!png_encode_rgba(rgba, width, height, stride, bytes, error)) return false;
  return write_whole_file(path, bytes.data(), bytes.size(), error);
}

namespace {

void append_to_vector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flush_nothing(png_structp) {}

// Encodes the RGB part of RGBA rows into `out`. False with `error` set on failure.
bool encode_rgb_png(const uint8_t* rgba, int width, int height, size_t stride, std::vector<uint8_t>& out,
                    std::string& error) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    error = "out of memory";
    return false;
  }
  std::vector<png_const_bytep> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) rows[size_t(y)] = rgba + size_t(y) * stride;
  // libpng reports errors by longjmp; nothing with a destructor is made after this point.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    error = "PNG encoding failed";
    return false;
  }
  png_set_write_fn(png, &out, append_to_vector, flush_nothing);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Frames are written as fast as they are drawn, so speed counts more than size. On
  // rendered frames (640 x 480, the demo's textured landscape) the default (level 6,
  // every filter tried on every row) took 55 ms a frame for 128 KB; run-length deflate
  // over the "sub" filter takes 8.4 ms for 152 KB, and beat level 1 with any filter on
  // both time and size.
  png_set_compression_level(png, 1);
  png_set_compression_strategy(png, Z_RLE);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  // The rows are RGBA; the fourth byte of every pixel is dropped on the way out.
  png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_rows(png, const_cast<png_bytepp>(rows.data()), png_uint_32(height));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool png_write_frame(const std::string& path, const uint8_t* rgba, int width, int height, size_t stride,
                     std::string* error) {
  if (!rgba || width <= 0 || height <= 0 || width > kMaxPngSide || height > kMaxPngSide ||
      stride < size_t(width) * 4) {
    if (error) *error = "bad picture size";
    return false;
  }
  // The framebuffer's alpha is whatever blending left there; a picture of the screen is opaque.
  std::vector<uint8_t> encoded;
  std::string why;
  if (!encode_rgb_png(rgba, width, height, stride, encoded, why)) {
    if (error) *error = why;
    return false;
  }
  // Through the atomic writer: a full disk never leaves half a picture under the real name.
  if (!write_file_atomic(path, encoded.data(), encoded.size(), &why)) {
    if (error) *error = why;
    return false;
  }
  return true;
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
