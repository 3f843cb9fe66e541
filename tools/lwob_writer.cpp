#include "tools/lwob_writer.h"

#include <cstring>

#include "platform/file.h"

namespace orvl {

void lw_put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void lw_put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void lw_put_f32(std::vector<uint8_t>& out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  lw_put_u32(out, bits);
}

void lw_put_string(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
  if ((s.size() + 1) & 1) out.push_back(0);
}

void lw_put_chunk(std::vector<uint8_t>& out, const LwChunk& c, bool sub) {
  std::string id = c.id;
  id.resize(4, ' ');
  out.insert(out.end(), id.begin(), id.end());
  int64_t size = c.declared_size == LwChunk::kDataSize ? int64_t(c.data.size()) : c.declared_size;
  if (sub)
    lw_put_u16(out, uint16_t(size));
  else
    lw_put_u32(out, uint32_t(size));
  out.insert(out.end(), c.data.begin(), c.data.end());
  if (!sub && (c.data.size() & 1)) out.push_back(0);
}

std::vector<uint8_t> lw_form(const std::string& type, const std::vector<LwChunk>& chunks) {
  std::vector<uint8_t> body;
  std::string t = type;
  t.resize(4, ' ');
  body.insert(body.end(), t.begin(), t.end());
  for (const auto& c : chunks) lw_put_chunk(body, c, false);
  std::vector<uint8_t> out = {'F', 'O', 'R', 'M'};
  lw_put_u32(out, uint32_t(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

LwobSurface& LwobSurface::colr(uint8_t r, uint8_t g, uint8_t b) {
  return sub("COLR", {r, g, b, 0});
}

LwobSurface& LwobSurface::flag(uint16_t bits) {
  std::vector<uint8_t> d;
  lw_put_u16(d, bits);
  return sub("FLAG", d);
}

LwobSurface& LwobSurface::tflg(uint16_t bits) {
  std::vector<uint8_t> d;
  lw_put_u16(d, bits);
  return sub("TFLG", d);
}

LwobSurface& LwobSurface::timg(const std::string& path) {
  std::vector<uint8_t> d;
  lw_put_string(d, path);
  return sub("TIMG", d);
}

LwobSurface& LwobSurface::ctex(const std::string& type) { return texture_header("CTEX", type); }
LwobSurface& LwobSurface::rtex(const std::string& type) { return texture_header("RTEX", type); }

LwobSurface& LwobSurface::texture_header(const std::string& id, const std::string& type) {
  std::vector<uint8_t> d;
  lw_put_string(d, type);
  return sub(id, d);
}

LwobSurface& LwobSurface::sub(const std::string& id, std::vector<uint8_t> data,
                              int64_t declared_size) {
  subchunks.push_back(LwChunk{id, std::move(data), declared_size});
  return *this;
}

int LwobWriter::add_point(float x, float y, float z) {
  points_.insert(points_.end(), {x, y, z});
  return int(points_.size() / 3 - 1);
}

void LwobWriter::add_polygon(std::vector<uint16_t> points, uint16_t surface,
                             std::vector<uint16_t> trailing) {
  polygons_.push_back(LwobPolygon{std::move(points), surface, std::move(trailing)});
}

LwobSurface& LwobWriter::add_surface(const std::string& name) {
  surfaces_.push_back(LwobSurface{});
  surfaces_.back().name = name;
  return surfaces_.back();
}

void LwobWriter::add_chunk(const std::string& id, std::vector<uint8_t> data, int position,
                           int64_t declared_size) {
  extra_.emplace_back(position, LwChunk{id, std::move(data), declared_size});
}

void LwobWriter::set_declared_size(const std::string& standard_id, int64_t size) {
  declared_.emplace_back(standard_id, size);
}

std::vector<LwChunk> LwobWriter::chunks() const {
  std::vector<LwChunk> out;
  auto declared = [&](const std::string& id) {
    int64_t s = LwChunk::kDataSize;
    for (const auto& d : declared_)
      if (d.first == id) s = d.second;
    return s;
  };
  for (const auto& name : order) {
    if (name == "SRFS") {
      LwChunk c{"SRFS", {}, declared("SRFS")};
      for (const auto& s : surfaces_) lw_put_string(c.data, s.name);
      out.push_back(std::move(c));
    } else if (name == "PNTS") {
      LwChunk c{"PNTS", {}, declared("PNTS")};
      for (float f : points_) lw_put_f32(c.data, f);
      out.push_back(std::move(c));
    } else if (name == "POLS") {
      LwChunk c{"POLS", {}, declared("POLS")};
      for (const auto& p : polygons_) {
        lw_put_u16(c.data, uint16_t(p.points.size()));
        for (uint16_t i : p.points) lw_put_u16(c.data, i);
        lw_put_u16(c.data, p.surface);
        for (uint16_t w : p.trailing) lw_put_u16(c.data, w);
      }
      out.push_back(std::move(c));
    } else if (name == "SURF") {
      for (const auto& s : surfaces_) {
        if (!s.write_surf_chunk) continue;
        LwChunk c{"SURF", {}, declared("SURF")};
        lw_put_string(c.data, s.surf_name_override.empty() ? s.name : s.surf_name_override);
        for (const auto& sc : s.subchunks) lw_put_chunk(c.data, sc, true);
        out.push_back(std::move(c));
      }
    }
  }
  for (const auto& e : extra_) {
    if (e.first < 0 || size_t(e.first) >= out.size())
      out.push_back(e.second);
    else
      out.insert(out.begin() + e.first, e.second);
  }
  return out;
}

std::vector<uint8_t> LwobWriter::bytes() const { return lw_form(form_type, chunks()); }

bool LwobWriter::write(const std::string& path) const {
  std::vector<uint8_t> b = bytes();
  return write_whole_file(path, b.data(), b.size());
}

}  // namespace orvl
