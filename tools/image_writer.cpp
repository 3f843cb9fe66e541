#include "tools/image_writer.h"

#include <algorithm>
#include <fstream>

#include "image/image.h"
#include "platform/file.h"

namespace orvl {

namespace {

void put_le16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void put_le32(std::vector<uint8_t>& v, uint32_t x) {
  put_le16(v, x & 0xFFFF);
  put_le16(v, x >> 16);
}
void put_be16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x >> 8));
  v.push_back(static_cast<uint8_t>(x));
}
void put_be32(std::vector<uint8_t>& v, uint32_t x) {
  put_be16(v, x >> 16);
  put_be16(v, x & 0xFFFF);
}
void put_id(std::vector<uint8_t>& v, const char* id) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(id[i]));
}

bool usable(const RgbPicture& pic) {
  return pic.width > 0 && pic.height > 0 && pic.width <= 0xFFFF && pic.height <= 0xFFFF &&
         pic.pixels.size() == static_cast<size_t>(pic.width) * pic.height;
}

// The library's writers take blue, green, red words; our pictures hold red in the top byte
// of three, which is the same 0x00RRGGBB layout the readers produce.
bool to_img(const RgbPicture& pic, Img& img) {
  if (!usable(pic)) return false;
  img.init();
  img.width = pic.width;
  img.height = pic.height;
  img.pitch = pic.width;
  img.format = kFormat32;
  img.pixels = pic.pixels;
  return true;
}

}  // namespace

std::vector<uint8_t> bmp24_bytes(const RgbPicture& pic) {
  if (!usable(pic)) return {};
  const uint32_t pad = pic.width % 4;  // 3 x width + pad is a multiple of four
  const uint32_t row = pic.width * 3 + pad;
  std::vector<uint8_t> v;
  v.push_back('B');
  v.push_back('M');
  put_le32(v, 54 + row * pic.height);
  put_le32(v, 0);
  put_le32(v, 54);
  put_le32(v, 40);
  put_le32(v, pic.width);
  put_le32(v, pic.height);
  put_le16(v, 1);
  put_le16(v, 24);
  for (int i = 0; i < 6; ++i) put_le32(v, 0);
  for (uint32_t r = pic.height; r-- > 0;) {
    for (uint32_t x = 0; x < pic.width; ++x) {
      const uint32_t px = pic.pixels[static_cast<size_t>(r) * pic.width + x];
      v.push_back(static_cast<uint8_t>(px));
      v.push_back(static_cast<uint8_t>(px >> 8));
      v.push_back(static_cast<uint8_t>(px >> 16));
    }
    v.insert(v.end(), pad, 0);
  }
  return v;
}

std::vector<uint8_t> byterun1_pack(const uint8_t* data, size_t n) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    size_t lit = 0;
    while (i + lit < n && lit < 128) {
      if (i + lit + 2 < n && data[i + lit] == data[i + lit + 1] && data[i + lit] == data[i + lit + 2])
        break;
      ++lit;
    }
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), data + i, data + i + lit);
    i += lit;
  }
  return out;
}

std::vector<uint8_t> ilbm24_bytes(const RgbPicture& pic, bool byterun1) {
  if (!usable(pic)) return {};
  const uint32_t row_bytes = ((pic.width + 15) / 16) * 2;
  std::vector<uint8_t> body;
  std::vector<uint8_t> plane(row_bytes);
  for (uint32_t y = 0; y < pic.height; ++y)
    for (uint32_t p = 0; p < 24; ++p) {
      std::fill(plane.begin(), plane.end(), 0);
      const uint32_t shift = p < 8 ? p + 16 : p < 16 ? p : p - 16;
      for (uint32_t x = 0; x < pic.width; ++x)
        if (pic.pixels[static_cast<size_t>(y) * pic.width + x] >> shift & 1)
          plane[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      if (byterun1) {
        auto packed = byterun1_pack(plane.data(), plane.size());
        body.insert(body.end(), packed.begin(), packed.end());
      } else {
        body.insert(body.end(), plane.begin(), plane.end());
      }
    }
  std::vector<uint8_t> v;
  put_id(v, "FORM");
  put_be32(v, 0);  // patched below
  put_id(v, "ILBM");
  put_id(v, "BMHD");
  put_be32(v, 20);
  put_be16(v, pic.width);
  put_be16(v, pic.height);
  put_be32(v, 0);   // x, y
  v.push_back(24);  // planes
  v.push_back(0);   // masking
  v.push_back(byterun1 ? 1 : 0);
  v.push_back(0);  // pad
  put_be16(v, 0);  // transparent colour
  v.push_back(1);  // aspect
  v.push_back(1);
  put_be16(v, pic.width);
  put_be16(v, pic.height);
  put_id(v, "BODY");
  put_be32(v, static_cast<uint32_t>(body.size()));
  v.insert(v.end(), body.begin(), body.end());
  if (body.size() & 1) v.push_back(0);
  const uint32_t form = static_cast<uint32_t>(v.size() - 8);
  v[4] = static_cast<uint8_t>(form >> 24);
  v[5] = static_cast<uint8_t>(form >> 16);
  v[6] = static_cast<uint8_t>(form >> 8);
  v[7] = static_cast<uint8_t>(form);
  return v;
}

bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return false;
  return write_whole_file(path, bytes.data(), bytes.size());
}

bool write_tga_picture(const RgbPicture& pic, const std::string& path) {
  Img img;
  if (!to_img(pic, img)) return false;
  TgaCodec codec;
  if (codec.bind(&img) != ImgError::ok) return false;
  return codec.write(path) == ImgError::ok;
}

bool write_jpeg_picture(const RgbPicture& pic, const std::string& path, int quality) {
  Img img;
  if (!to_img(pic, img)) return false;
  JpegCodec codec;
  if (codec.bind(&img) != ImgError::ok) return false;
  const int8_t q = static_cast<int8_t>(std::clamp(quality, 1, 100));
  return codec.write(path, static_cast<int>(JpegDct::slow_integer), q, false) == ImgError::ok;
}

}  // namespace orvl
