#include "support/image_support.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace orvl::test {

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

}  // namespace

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

std::vector<uint8_t> make_bmp24(const Picture& pic) {
  const uint32_t row = pic.width * 3 + pic.width % 4;
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
    v.insert(v.end(), pic.width % 4, 0);
  }
  return v;
}

std::vector<uint8_t> pack_byterun1(const uint8_t* data, size_t n) {
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
      if (i + lit + 2 < n && data[i + lit] == data[i + lit + 1] && data[i + lit] == data[i + lit + 2]) break;
      ++lit;
    }
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), data + i, data + i + lit);
    i += lit;
  }
  return out;
}

std::vector<uint8_t> make_ilbm24(const Picture& pic, bool byterun1) {
  const uint32_t row_bytes = ((pic.width + 15) / 16) * 2;
  std::vector<uint8_t> body;
  std::vector<uint8_t> plane(row_bytes);
  for (uint32_t y = 0; y < pic.height; ++y)
    for (uint32_t p = 0; p < 24; ++p) {
      std::fill(plane.begin(), plane.end(), 0);
      // Planes 0-7 carry red, 8-15 green, 16-23 blue.
      const uint32_t shift = p < 8 ? p + 16 : p < 16 ? p : p - 16;
      for (uint32_t x = 0; x < pic.width; ++x)
        if (pic.pixels[static_cast<size_t>(y) * pic.width + x] >> shift & 1)
          plane[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      if (byterun1) {
        auto packed = pack_byterun1(plane.data(), plane.size());
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
  put_be32(v, 0);        // x, y
  v.push_back(24);       // planes
  v.push_back(0);        // masking
  v.push_back(byterun1 ? 1 : 0);
  v.push_back(0);        // pad
  put_be16(v, 0);        // transparent colour
  v.push_back(1);        // aspect
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
