#include "support/image_support.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace orvl::test {

bool read_ppm(const std::string& path, Picture& out) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  unsigned w = 0, h = 0, maxval = 0;
  if (!(in >> magic >> w >> h >> maxval) || magic != "P6" || maxval != 255) return false;
  in.get();  // the single whitespace after maxval
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  if (!in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size())))
    return false;
  out.width = w;
  out.height = h;
  out.pixels.resize(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < out.pixels.size(); ++i)
    out.pixels[i] = uint32_t(rgb[i * 3]) << 16 | uint32_t(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2];
  return true;
}

Picture make_picture(uint32_t width, uint32_t height, uint32_t seed) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.resize(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t hsh = (x * 73856093u) ^ (y * 19349663u) ^ (seed * 83492791u);
      hsh ^= hsh >> 13;
      const uint32_t r = (x * 255 / (width > 1 ? width - 1 : 1)) & 0xFF;
      const uint32_t g = (y * 255 / (height > 1 ? height - 1 : 1)) & 0xFF;
      const uint32_t b = (hsh >> 5) & 0xFF;
      p.pixels[static_cast<size_t>(y) * width + x] = r << 16 | g << 8 | b;
    }
  return p;
}

std::vector<uint8_t> make_bmp24(const Picture& pic) { return bmp24_bytes(pic); }

std::vector<uint8_t> pack_byterun1(const uint8_t* data, size_t n) { return byterun1_pack(data, n); }

std::vector<uint8_t> make_ilbm24(const Picture& pic, bool byterun1) {
  return ilbm24_bytes(pic, byterun1);
}

std::vector<uint8_t> make_tga10_24(const Picture& pic) {
  std::vector<uint8_t> v(18, 0);
  v[2] = 10;
  v[12] = static_cast<uint8_t>(pic.width);
  v[13] = static_cast<uint8_t>(pic.width >> 8);
  v[14] = static_cast<uint8_t>(pic.height);
  v[15] = static_cast<uint8_t>(pic.height >> 8);
  v[16] = 24;
  v[17] = 0x20;
  const auto& px = pic.pixels;
  size_t i = 0;
  auto put_px = [&](uint32_t p) {
    v.push_back(static_cast<uint8_t>(p));
    v.push_back(static_cast<uint8_t>(p >> 8));
    v.push_back(static_cast<uint8_t>(p >> 16));
  };
  while (i < px.size()) {
    size_t run = 1;
    while (i + run < px.size() && run < 128 && px[i + run] == px[i]) ++run;
    if (run >= 2) {
      v.push_back(static_cast<uint8_t>(127 + run));
      put_px(px[i]);
      i += run;
      continue;
    }
    size_t lit = 1;
    while (i + lit < px.size() && lit < 128 && !(i + lit + 1 < px.size() && px[i + lit] == px[i + lit + 1])) ++lit;
    v.push_back(static_cast<uint8_t>(lit - 1));
    for (size_t k = 0; k < lit; ++k) put_px(px[i + k]);
    i += lit;
  }
  return v;
}

}  // namespace orvl::test
