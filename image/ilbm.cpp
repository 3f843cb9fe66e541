// IFF ILBM: 24 bitplanes (8 red, 8 green, 8 blue), uncompressed or ByteRun1.
//
// Chunks are walked with the same bounds-checked walker as LightWave objects.
#include <algorithm>
#include <cstring>

#include "image/iff.h"
#include "image/image.h"
#include "image/image_local.h"

namespace orvl {

using namespace img_detail;

namespace {

constexpr uint32_t kPlanes = 24;

struct Header {
  bool seen = false;
  uint32_t width = 0, height = 0;
  uint32_t planes = 0;
  uint32_t masking = 0;      // 1: an extra mask plane follows the colour planes of each row
  uint32_t compression = 0;  // 0 none, anything else ByteRun1
};

// ByteRun1 into [out, out + n). Control byte c: 0..127 copies the next c + 1 bytes,
// 129..255 repeats the next byte 257 - c times, 128 is a no-op. A run that passes the end
// of the row is cut there. Returns false when the input ends before the row is full.
bool unpack_byterun1(const uint8_t*& src, const uint8_t* end, uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (src >= end) return false;
    const uint8_t c = *src++;
    if (c < 128) {
      const size_t len = c + 1u;
      if (static_cast<size_t>(end - src) < len) return false;
      const size_t take = std::min(len, n - done);
      std::memcpy(out + done, src, take);
      src += len;
      done += take;
    } else if (c > 128) {
      if (src >= end) return false;
      const size_t take = std::min<size_t>(257u - c, n - done);
      std::memset(out + done, *src++, take);
      done += take;
    }
  }
  return true;
}

// Decodes a BODY into img.pixels, one picture row at a time: all plane rows of the row,
// then planar to chunky. Plane p contributes bit p of the 24-bit value; planes 0..7
// (red) end up in byte 2, planes 16..23 (blue) in byte 0.
ImgError decode_body(const uint8_t* body, size_t body_size, const Header& hd, Img& img) {
  const uint32_t w = hd.width, h = hd.height;
  const size_t row_bytes = ((w + 15) / 16) * 2;  // plane rows are padded to 16 bits
  const uint32_t stored_planes = kPlanes + (hd.masking == 1 ? 1 : 0);
  const uint64_t unpacked = static_cast<uint64_t>(row_bytes) * stored_planes * h;
  // A ByteRun1 pair of bytes makes at most 128; no body can hold more than that.
  const uint64_t possible = hd.compression == 0 ? body_size : static_cast<uint64_t>(body_size) * 64 + 128;
  if (unpacked > possible) return ImgError::bad_format;

  std::vector<uint8_t> planes;
  try {
    planes.resize(row_bytes * stored_planes);
  } catch (const std::bad_alloc&) {
    return ImgError::no_buffer;
  }
  if (ImgError e = start_pixels(img, w, h); e != ImgError::ok) return e;

  const uint8_t* src = body;
  const uint8_t* const end = body + body_size;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t p = 0; p < stored_planes; ++p) {
      uint8_t* plane_row = planes.data() + p * row_bytes;
      if (hd.compression == 0) {
        if (static_cast<size_t>(end - src) < row_bytes) return ImgError::bad_format;
        std::memcpy(plane_row, src, row_bytes);
        src += row_bytes;
      } else if (!unpack_byterun1(src, end, plane_row, row_bytes)) {
        return ImgError::bad_format;  // the BODY is shorter than the header's size
      }
    }
    uint32_t* dst = img.pixels.data() + static_cast<size_t>(y) * w;
    for (uint32_t p = 0; p < kPlanes; ++p) {
      // Plane p is bit p of the planar value; the red/blue exchange is folded in here.
      const uint32_t shift = p < 8 ? p + 16 : p < 16 ? p : p - 16;
      const uint8_t* plane_row = planes.data() + p * row_bytes;
      const uint32_t whole = w / 8;
      for (uint32_t b = 0; b < whole; ++b) {
        const uint32_t v = plane_row[b];
        uint32_t* d8 = dst + b * 8;
        for (uint32_t k = 0; k < 8; ++k) d8[k] |= ((v >> (7 - k)) & 1u) << shift;
      }
      for (uint32_t x = whole * 8; x < w; ++x) dst[x] |= ((plane_row[x >> 3] >> (7 - (x & 7))) & 1u) << shift;
    }
  }
  return ImgError::ok;
}

}  // namespace

ImgError IffReader::bind(Img* img) {
  if (!img) return ImgError::no_buffer;
  img_ = img;
  return ImgError::ok;
}

ImgError IffReader::read() {
  if (!img_) return ImgError::no_instance;
  Img& img = *img_;
  const uint8_t* d = img.file_data.data();
  const size_t size = img.file_data.size();
  if (size < 4 || std::memcmp(d, "FORM", 4) != 0) return fail(img, ImgError::bad_format);
  // The form type is looked for rather than read at byte 8, as files with a damaged
  // FORM size still carry it.
  size_t pos = 4;
  while (pos + 4 <= size && std::memcmp(d + pos, "ILBM", 4) != 0) ++pos;
  if (pos + 4 > size) return fail(img, ImgError::bad_format);
  pos += 4;

  Header hd;
  bool have_body = false;
  // Chunks are padded to an even size; a missing pad byte at the very end is fine.
  ChunkWalker walker(d, size, pos, ChunkSize::u32, true);
  IffChunk chunk;
  while (walker.next(chunk)) {
    const uint8_t* cd = chunk.data;
    const uint32_t chunk_size = chunk.size;
    if (chunk.is("BMHD")) {
      if (chunk_size < 11) return fail(img, ImgError::bad_format);
      hd.seen = true;
      hd.width = be16(cd);
      hd.height = be16(cd + 2);
      hd.planes = cd[8];
      hd.masking = cd[9];
      hd.compression = cd[10];
      if (hd.planes < 16) return fail(img, ImgError::unsupported_bpp);
    } else if (chunk.is("BODY")) {
      if (!hd.seen) return fail(img, ImgError::bad_format);
      // 16 or more planes other than 24 (deep 32-plane RGBA, say) have no conversion
      // here: refuse rather than hand back a blank picture.
      if (hd.planes != kPlanes) return fail(img, ImgError::unknown_variant);
      if (!dimensions_ok(hd.width, hd.height)) return fail(img, ImgError::bad_format);
      if (!within_budget(hd.width, hd.height)) return fail(img, ImgError::too_large);
      if (ImgError e = decode_body(cd, chunk_size, hd, img); e != ImgError::ok) return fail(img, e);
      have_body = true;
    }
  }
  if (walker.truncated()) return fail(img, ImgError::bad_format);  // a chunk runs past the end
  if (!have_body) return fail(img, ImgError::bad_format);  // no picture in the file
  return ImgError::ok;
}

}  // namespace orvl
