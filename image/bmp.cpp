// BMP: 24 bits per pixel only, rows stored bottom-up, each padded to four bytes.
#include "image/image.h"
#include "image/image_local.h"

namespace orvl {

using namespace img_detail;

ImgError BmpReader::bind(Img* img) {
  if (!img) return ImgError::no_buffer;
  img_ = img;
  return ImgError::ok;
}

ImgError BmpReader::read() {
  if (!img_) return ImgError::no_instance;
  Img& img = *img_;
  const uint8_t* d = img.file_data.data();
  const size_t size = img.file_data.size();
  // The header size field itself ends at byte 18, so a file of 16 or 17 bytes is as
  // short as one of 15.
  if (size < 18 || d[0] != 'B' || d[1] != 'M') return fail(img, ImgError::bad_format);

  const uint32_t data_offset = le32(d + 10);
  const uint32_t header_size = le32(d + 14);
  uint32_t w, h, bpp;
  if (header_size == 12) {  // OS/2 core header: 16-bit fields
    if (size < 26) return fail(img, ImgError::bad_format);
    w = le16(d + 18);
    h = le16(d + 20);
    bpp = le16(d + 24);
  } else {
    // The 40-byte header and its later extensions (V4, V5) share this layout. Only the
    // low 16 bits of width and height are taken, so a top-down file (negative height)
    // shows up as a huge height and is refused below.
    if (size < 30) return fail(img, ImgError::bad_format);
    w = le16(d + 18);
    h = le16(d + 22);
    bpp = le16(d + 28);
  }
  if (bpp != 24) return fail(img, ImgError::unknown_variant);
  if (!dimensions_ok(w, h)) return fail(img, ImgError::bad_format);
  if (!within_budget(w, h)) return fail(img, ImgError::too_large);

  // Row bytes are 3w rounded up to four, i.e. 3w plus (w mod 4) bytes of padding.
  const size_t row_bytes = static_cast<size_t>(w) * 3 + (w % 4);
  // Rows promised by the header must all be there; the last row's padding may be
  // missing (some writers stop at the last pixel).
  const uint64_t needed = static_cast<uint64_t>(row_bytes) * (h - 1) + static_cast<uint64_t>(w) * 3;
  if (data_offset > size || size - data_offset < needed) return fail(img, ImgError::bad_format);
  if (ImgError e = start_pixels(img, w, h); e != ImgError::ok) return e;

  const uint8_t* src = d + data_offset;
  for (uint32_t r = 0; r < h; ++r, src += row_bytes) {
    uint32_t* dst = img.pixels.data() + static_cast<size_t>(h - 1 - r) * w;
    const uint8_t* p = src;
    for (uint32_t x = 0; x < w; ++x, p += 3)
      dst[x] = p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
  }
  return ImgError::ok;
}

}  // namespace orvl
