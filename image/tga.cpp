// Targa: true-colour types 2 (raw) and 10 (run-length), 16, 24 or 32 bits per pixel.
#include <algorithm>
#include <cstring>

#include "image/image.h"
#include "image/image_local.h"
#include "platform/file.h"

namespace orvl {

using namespace img_detail;

namespace {

constexpr size_t kHeaderSize = 18;

// One pixel of B bytes to 0x00RRGGBB. 16-bit pixels are x1r5g5b5; each five-bit channel
// lands in the top of its byte with the low three bits clear. 32-bit alpha is dropped.
template <int B>
inline uint32_t to_pixel(const uint8_t* p) {
  if constexpr (B == 2) {
    const uint32_t v = le16(p);
    return ((v >> 10) & 31) << 19 | ((v >> 5) & 31) << 11 | (v & 31) << 3;
  } else {
    return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
  }
}

template <int B>
void convert_rows(const uint8_t* src, Img& img, bool top_down) {
  const uint32_t w = img.width, h = img.height;
  for (uint32_t r = 0; r < h; ++r) {
    uint32_t* dst = img.pixels.data() + static_cast<size_t>(top_down ? r : h - 1 - r) * w;
    for (uint32_t x = 0; x < w; ++x, src += B) dst[x] = to_pixel<B>(src);
  }
}

// Decodes packets into the pixels in file order until they are full. A run or raw packet
// that would pass the last pixel is cut there. Returns false when the data ends first.
template <int B>
bool unpack_rle(const uint8_t* src, const uint8_t* end, Img& img) {
  uint32_t* out = img.pixels.data();
  uint32_t* const out_end = out + img.pixels.size();
  while (out < out_end) {
    if (src >= end) return false;
    const uint8_t h = *src++;
    if (h > 127) {
      if (end - src < B) return false;
      const uint32_t v = to_pixel<B>(src);
      src += B;
      const size_t n = std::min<size_t>(h - 127u, static_cast<size_t>(out_end - out));
      std::fill(out, out + n, v);
      out += n;
    } else {
      size_t n = h + 1u;
      if (static_cast<size_t>(end - src) / B < n) return false;
      n = std::min<size_t>(n, static_cast<size_t>(out_end - out));
      for (size_t i = 0; i < n; ++i, src += B) *out++ = to_pixel<B>(src);
      // The rest of a cut raw packet is never read.
    }
  }
  return true;
}

void flip_rows_in_place(Img& img) {
  const uint32_t w = img.width;
  for (uint32_t a = 0, b = img.height - 1; a < b; ++a, --b)
    std::swap_ranges(img.pixels.begin() + static_cast<ptrdiff_t>(a) * w,
                     img.pixels.begin() + static_cast<ptrdiff_t>(a + 1) * w,
                     img.pixels.begin() + static_cast<ptrdiff_t>(b) * w);
}

}  // namespace

ImgError TgaCodec::bind(Img* img) {
  if (!img) return ImgError::no_buffer;
  img_ = img;
  return ImgError::ok;
}

ImgError TgaCodec::read() {
  if (!img_) return ImgError::no_instance;
  Img& img = *img_;
  const uint8_t* d = img.file_data.data();
  const size_t size = img.file_data.size();
  if (size < 20) return fail(img, ImgError::bad_format);

  const uint32_t id_length = d[0];
  const uint32_t cmap_type = d[1];
  const uint32_t image_type = d[2];
  const uint32_t cmap_length = le16(d + 5);
  const uint32_t cmap_entry_bits = d[7];
  const uint32_t w = le16(d + 12), h = le16(d + 14);
  const uint32_t depth = d[16];
  const uint32_t descriptor = d[17];

  if (depth < 16) return fail(img, ImgError::unsupported_bpp);
  if (image_type != 2 && image_type != 10) return fail(img, ImgError::unknown_variant);
  // Other depths of 16 or more have no defined conversion: refuse them rather than hand
  // back a blank picture as a success.
  if (depth != 16 && depth != 24 && depth != 32) return fail(img, ImgError::unknown_variant);
  if (!dimensions_ok(w, h)) return fail(img, ImgError::bad_format);
  if (!within_budget(w, h)) return fail(img, ImgError::too_large);

  // A colour map may precede true-colour data too; it is skipped.
  uint64_t offset = kHeaderSize + id_length;
  if (cmap_type == 1) offset += static_cast<uint64_t>(cmap_length) * ((cmap_entry_bits + 7) / 8);
  if (offset > size) return fail(img, ImgError::bad_format);
  const uint8_t* src = d + offset;
  const size_t avail = size - static_cast<size_t>(offset);
  const int bpp = static_cast<int>(depth / 8);
  const uint64_t count = static_cast<uint64_t>(w) * h;

  if (image_type == 2) {
    if (avail / bpp < count) return fail(img, ImgError::bad_format);  // truncated body
    if (ImgError e = start_pixels(img, w, h); e != ImgError::ok) return e;
    // Bit 0x20 of the descriptor: rows stored top row first.
    const bool top_down = descriptor & 0x20;
    switch (bpp) {
      case 2: convert_rows<2>(src, img, top_down); break;
      case 3: convert_rows<3>(src, img, top_down); break;
      default: convert_rows<4>(src, img, top_down); break;
    }
    return ImgError::ok;
  }

  // Run-length body: one header byte plus one pixel makes at most 128 pixels, so a body
  // that could not possibly fill the picture is refused before allocating it.
  const uint64_t max_pixels = (avail + bpp) / (1 + bpp) * 128;
  if (count > max_pixels) return fail(img, ImgError::bad_format);
  if (ImgError e = start_pixels(img, w, h); e != ImgError::ok) return e;
  bool complete;
  switch (bpp) {
    case 2: complete = unpack_rle<2>(src, src + avail, img); break;
    case 3: complete = unpack_rle<3>(src, src + avail, img); break;
    default: complete = unpack_rle<4>(src, src + avail, img); break;
  }
  if (!complete) return fail(img, ImgError::bad_format);
  if (!(descriptor & 0x20)) flip_rows_in_place(img);  // stored bottom row first
  return ImgError::ok;
}

ImgError TgaCodec::encode(std::vector<uint8_t>& out) const {
  out.clear();
  if (!img_) return ImgError::no_instance;
  const Img& img = *img_;
  if ((img.format.id & 0xFF) != kPixelFormat32) return ImgError::unsupported_bpp;
  if (img.pixels.empty()) return ImgError::no_buffer;
  if (!img.layout_ok() || img.width > 0xFFFF || img.height > 0xFFFF) return ImgError::out_of_range;

  const uint32_t w = img.width, h = img.height;
  try {
    out.resize(kHeaderSize + static_cast<size_t>(w) * h * 4);
  } catch (const std::bad_alloc&) {
    return ImgError::no_buffer;
  }
  uint8_t* p = out.data();
  std::memset(p, 0, kHeaderSize);
  p[2] = 2;  // uncompressed true colour
  p[12] = static_cast<uint8_t>(w);
  p[13] = static_cast<uint8_t>(w >> 8);
  p[14] = static_cast<uint8_t>(h);
  p[15] = static_cast<uint8_t>(h >> 8);
  p[16] = img.format.bits_per_pixel;  // 32
  p[17] = 0;                          // bottom row first, no alpha bits
  p += kHeaderSize;
  // Rows are taken pitch apart and written packed, bottom row first.
  for (uint32_t r = h; r-- > 0;) {
    const uint32_t* row = img.pixels.data() + static_cast<size_t>(r) * img.pitch;
    for (uint32_t x = 0; x < w; ++x, p += 4) {
      const uint32_t v = row[x];
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
      p[3] = 0;
    }
  }
  return ImgError::ok;
}

ImgError TgaCodec::write(const std::string& file_name, std::string* error) const {
  std::vector<uint8_t> bytes;
  if (ImgError e = encode(bytes); e != ImgError::ok) return e;
  if (!write_whole_file(file_name, bytes.data(), bytes.size(), error)) return ImgError::undefined;
  return ImgError::ok;
}

}  // namespace orvl
