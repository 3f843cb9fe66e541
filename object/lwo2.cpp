#include "object/lwo2.h"

#include <cstring>

#include "image/iff.h"

namespace orvl {

namespace {

constexpr size_t kMaxNameKeep = 1024;

// A variable-length index: two bytes below 0xFF00, otherwise four with the top byte 0xFF.
bool read_vx(ByteReader& r, uint32_t& v) {
  if (r.remaining() < 2) return r.skip(r.remaining() + 1);  // fails and marks the reader
  if (r.data()[r.pos()] != 0xFF) {
    uint16_t s = 0;
    r.u16be(s);
    v = s;
    return true;
  }
  uint32_t w = 0;
  if (!r.u32be(w)) return false;
  v = w & 0x00FFFFFFu;
  return true;
}

bool read_vec(ByteReader& r, float v[3]) { return r.f32be(v[0]) && r.f32be(v[1]) && r.f32be(v[2]); }

bool id_equals(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

class Reader {
 public:
  Reader(Lwo2Object& out, const Lwo2Limits& limits) : out_(out), limits_(limits) {}

  Lwo2Status run(const uint8_t* data, size_t size) {
    uint32_t form_size = (uint32_t(data[4]) << 24) | (uint32_t(data[5]) << 16) |
                         (uint32_t(data[6]) << 8) | data[7];
    if (form_size < 4 || form_size > size - 8) return Lwo2Status::truncated;
    ChunkWalker walk(data, 8 + size_t(form_size), 12, ChunkSize::u32, true);
    IffChunk c;
    while (walk.next(c)) {
      Lwo2Status s = Lwo2Status::ok;
      if (c.is("TAGS")) s = tags(c);
      else if (c.is("LAYR")) s = layer(c);
      else if (c.is("PNTS")) s = points(c);
      else if (c.is("VMAP")) s = vmap(c, false);
      else if (c.is("VMAD")) s = vmap(c, true);
      else if (c.is("POLS")) s = polygons(c);
      else if (c.is("PTAG")) s = ptag(c);
      else if (c.is("CLIP")) s = clip(c);
      else if (c.is("SURF")) s = surface(c);
      if (s != Lwo2Status::ok) return s;
    }
    if (walk.truncated()) return Lwo2Status::truncated;
    return Lwo2Status::ok;
  }

 private:
  Lwo2Layer& current_layer() {
    if (out_.layers.empty()) out_.layers.emplace_back();  // points before any LAYR
    return out_.layers.back();
  }

  Lwo2Status tags(const IffChunk& c) {
    ByteReader r = c.reader();
    while (!r.at_end()) {
      std::string s;
      r.cstring(s, true, kMaxNameKeep);
      out_.tags.push_back(std::move(s));
    }
    return Lwo2Status::ok;
  }

  Lwo2Status layer(const IffChunk& c) {
    ByteReader r = c.reader();
    Lwo2Layer l;
    uint16_t flags = 0;
    if (!r.u16be(l.number) || !r.u16be(flags) || !read_vec(r, l.pivot)) return Lwo2Status::truncated;
    r.cstring(l.name, true, kMaxNameKeep);
    uint16_t parent = 0;
    if (r.remaining() >= 2 && r.u16be(parent)) l.parent = parent;
    l.first_point = out_.point_count();
    l.first_polygon = static_cast<uint32_t>(out_.polygons.size());
    out_.layers.push_back(std::move(l));
    pols_first_ = pols_count_ = 0;
    pols_kept_ = false;
    return Lwo2Status::ok;
  }

  Lwo2Status points(const IffChunk& c) {
    Lwo2Layer& l = current_layer();
    const uint32_t n = c.size / 12;
    if (uint64_t(out_.point_count()) + n > limits_.max_points) return Lwo2Status::too_large;
    // A layer's points are one run; a second PNTS in the layer continues it.
    if (l.point_count == 0) l.first_point = out_.point_count();
    else if (l.first_point + l.point_count != out_.point_count()) return Lwo2Status::bad_index;
    ByteReader r = c.reader();
    out_.points.reserve(out_.points.size() + size_t(n) * 3);
    for (uint32_t i = 0; i < n; ++i) {
      float v[3];
      if (!read_vec(r, v)) return Lwo2Status::truncated;
      out_.points.insert(out_.points.end(), v, v + 3);
    }
    l.point_count += n;
    return Lwo2Status::ok;
  }

  // A layer-relative point number as an index into the whole point table.
  bool layer_point(uint32_t vx, uint32_t& index) {
    const Lwo2Layer& l = current_layer();
    if (vx >= l.point_count) return false;
    index = l.first_point + vx;
    return true;
  }

  Lwo2Status vmap(const IffChunk& c, bool per_polygon) {
    ByteReader r = c.reader();
    uint16_t dim = 0;
    if (r.remaining() < 6) return Lwo2Status::truncated;
    const bool txuv = r.id_is("TXUV");
    r.skip(4);
    r.u16be(dim);
    std::string name;
    r.cstring(name, true, kMaxNameKeep);
    if (!txuv || dim != 2) return Lwo2Status::ok;  // weights, morphs, colours: not drawn
    Lwo2UvMap* map = nullptr;
    for (auto& m : out_.uv_maps)
      if (m.name == name) map = &m;
    if (!map) {
      out_.uv_maps.emplace_back();
      map = &out_.uv_maps.back();
      map->name = name;
    }
    while (!r.at_end()) {
      uint32_t vx = 0, poly = 0, point = 0;
      float u = 0, v = 0;
      if (!read_vx(r, vx)) return Lwo2Status::truncated;
      if (per_polygon && !read_vx(r, poly)) return Lwo2Status::truncated;
      if (!r.f32be(u) || !r.f32be(v)) return Lwo2Status::truncated;
      if (!layer_point(vx, point)) return Lwo2Status::bad_index;
      if (per_polygon) {
        if (poly >= pols_count_) return Lwo2Status::bad_index;
        if (!pols_kept_) continue;
        map->corner_points.push_back(point);
        map->corner_polygons.push_back(pols_first_ + poly);
        map->corner_uvs.push_back(u);
        map->corner_uvs.push_back(v);
      } else {
        map->points.push_back(point);
        map->uvs.push_back(u);
        map->uvs.push_back(v);
      }
    }
    return Lwo2Status::ok;
  }

  Lwo2Status polygons(const IffChunk& c) {
    ByteReader r = c.reader();
    if (r.remaining() < 4) return Lwo2Status::truncated;
    const bool face = r.id_is("FACE"), patch = r.id_is("PTCH");
    r.skip(4);
    Lwo2Layer& l = current_layer();
    const auto layer_index = static_cast<uint16_t>(out_.layers.size() - 1);
    pols_first_ = static_cast<uint32_t>(out_.polygons.size());
    pols_count_ = 0;
    pols_kept_ = face || patch;
    while (!r.at_end()) {
      uint16_t head = 0;
      if (!r.u16be(head)) return Lwo2Status::truncated;
      const uint16_t n = head & 0x03FF;  // the top six bits are flags
      Lwo2Polygon p;
      p.first_corner = static_cast<uint32_t>(out_.corners.size());
      p.corner_count = n;
      p.patch = patch;
      p.layer = layer_index;
      if (pols_kept_ && (out_.polygons.size() >= limits_.max_polygons ||
                         out_.corners.size() + n > limits_.max_corners))
        return Lwo2Status::too_large;
      for (uint16_t i = 0; i < n; ++i) {
        uint32_t vx = 0, point = 0;
        if (!read_vx(r, vx)) return Lwo2Status::truncated;
        if (!pols_kept_) continue;
        if (!layer_point(vx, point)) return Lwo2Status::bad_index;
        out_.corners.push_back(point);
      }
      ++pols_count_;
      if (pols_kept_) out_.polygons.push_back(p);
    }
    if (pols_kept_) {
      if (l.polygon_count == 0) l.first_polygon = pols_first_;
      l.polygon_count = static_cast<uint32_t>(out_.polygons.size()) - l.first_polygon;
    }
    return Lwo2Status::ok;
  }

  Lwo2Status ptag(const IffChunk& c) {
    ByteReader r = c.reader();
    if (r.remaining() < 4) return Lwo2Status::truncated;
    const bool surf = r.id_is("SURF");
    r.skip(4);
    if (!surf) return Lwo2Status::ok;
    while (!r.at_end()) {
      uint32_t poly = 0;
      uint16_t tag = 0;
      if (!read_vx(r, poly) || !r.u16be(tag)) return Lwo2Status::truncated;
      if (poly >= pols_count_ || tag >= out_.tags.size()) return Lwo2Status::bad_index;
      if (pols_kept_) out_.polygons[pols_first_ + poly].tag = tag;
    }
    return Lwo2Status::ok;
  }

  Lwo2Status clip(const IffChunk& c) {
    ByteReader r = c.reader();
    Lwo2Clip clip;
    if (!r.u32be(clip.index)) return Lwo2Status::truncated;
    ChunkWalker walk(c.data, c.size, r.pos(), ChunkSize::u16, true);
    IffChunk s;
    while (walk.next(s)) {
      if (s.is("STIL")) {
        ByteReader sr = s.reader();
        sr.cstring(clip.still, false, kMaxNameKeep);
      }
    }
    if (walk.truncated()) return Lwo2Status::truncated;
    out_.clips.push_back(std::move(clip));
    return Lwo2Status::ok;
  }

  // An image-map block: kept when it is the surface's first enabled colour image.
  Lwo2Status block(const IffChunk& b, Lwo2Surface& surf) {
    ChunkWalker walk(b.data, b.size, 0, ChunkSize::u16, true);
    IffChunk s;
    if (!walk.next(s)) return walk.truncated() ? Lwo2Status::truncated : Lwo2Status::ok;
    if (!s.is("IMAP")) return Lwo2Status::ok;  // procedurals, gradients, shaders
    // The header: an ordinal string, then its own sub-chunks.
    bool colour = false, enabled = true;
    {
      ByteReader hr = s.reader();
      std::string ordinal;
      hr.cstring(ordinal, true, kMaxNameKeep);
      ChunkWalker hw(s.data, s.size, hr.pos(), ChunkSize::u16, true);
      IffChunk h;
      while (hw.next(h)) {
        ByteReader v = h.reader();
        if (h.is("CHAN")) colour = v.id_is("COLR");
        else if (h.is("ENAB")) {
          uint16_t e = 1;
          if (v.u16be(e)) enabled = e != 0;
        }
      }
      if (hw.truncated()) return Lwo2Status::truncated;
    }
    Lwo2ImageMap map;
    map.present = true;
    while (walk.next(s)) {
      ByteReader v = s.reader();
      uint16_t u = 0;
      if (s.is("PROJ") && v.u16be(u)) {
        map.projection = u <= 5 ? static_cast<Lwo2Projection>(u) : Lwo2Projection::planar;
      } else if (s.is("AXIS") && v.u16be(u)) {
        map.axis = static_cast<uint8_t>(u <= 2 ? u : 0);
      } else if (s.is("IMAG")) {
        uint32_t vx = 0;
        if (read_vx(v, vx)) map.clip = vx;
      } else if (s.is("VMAP")) {
        v.cstring(map.uv_map, true, kMaxNameKeep);
      } else if (s.is("TMAP")) {
        ChunkWalker tw(s.data, s.size, 0, ChunkSize::u16, true);
        IffChunk t;
        while (tw.next(t)) {
          ByteReader tv = t.reader();
          float vec[3];
          if (t.is("CNTR") && read_vec(tv, vec)) std::memcpy(map.center, vec, sizeof vec);
          else if (t.is("SIZE") && read_vec(tv, vec)) std::memcpy(map.size, vec, sizeof vec);
        }
        if (tw.truncated()) return Lwo2Status::truncated;
      }
    }
    if (walk.truncated()) return Lwo2Status::truncated;
    if (colour && enabled && !surf.image.present) surf.image = std::move(map);
    return Lwo2Status::ok;
  }

  Lwo2Status surface(const IffChunk& c) {
    ByteReader r = c.reader();
    Lwo2Surface surf;
    std::string source;
    r.cstring(surf.name, true, kMaxNameKeep);
    r.cstring(source, true, kMaxNameKeep);
    ChunkWalker walk(c.data, c.size, r.pos(), ChunkSize::u16, true);
    IffChunk s;
    while (walk.next(s)) {
      ByteReader v = s.reader();
      if (s.is("COLR")) {
        float col[3];
        if (read_vec(v, col)) std::memcpy(surf.color, col, sizeof col);
      } else if (s.is("DIFF")) {
        (void)v.f32be(surf.diffuse);
      } else if (s.is("LUMI")) {
        (void)v.f32be(surf.luminosity);
      } else if (s.is("TRAN")) {
        (void)v.f32be(surf.transparency);
      } else if (s.is("SIDE")) {
        (void)v.u16be(surf.sidedness);
      } else if (s.is("SMAN")) {
        (void)v.f32be(surf.smoothing_angle);
      } else if (s.is("BLOK")) {
        if (Lwo2Status st = block(s, surf); st != Lwo2Status::ok) return st;
      }
    }
    if (walk.truncated()) return Lwo2Status::truncated;
    out_.surfaces.push_back(std::move(surf));
    return Lwo2Status::ok;
  }

  Lwo2Object& out_;
  const Lwo2Limits& limits_;
  // The POLS chunk that PTAG and VMAD polygon numbers refer to.
  uint32_t pols_first_ = 0, pols_count_ = 0;
  bool pols_kept_ = false;
};

}  // namespace

const char* lwo2_status_text(Lwo2Status s) {
  switch (s) {
    case Lwo2Status::ok: return "ok";
    case Lwo2Status::not_lwo2: return "not an LWO2 object";
    case Lwo2Status::truncated: return "LWO2 chunk runs past the end of the file";
    case Lwo2Status::bad_index: return "LWO2 index names nothing";
    case Lwo2Status::too_large: return "LWO2 object too large";
  }
  return "unknown";
}

const Lwo2Surface* Lwo2Object::surface_named(const std::string& name) const {
  for (const auto& s : surfaces)
    if (s.name == name) return &s;
  return nullptr;
}

const Lwo2Clip* Lwo2Object::clip_with_index(uint32_t index) const {
  for (const auto& c : clips)
    if (c.index == index) return &c;
  return nullptr;
}

const Lwo2UvMap* Lwo2Object::uv_map_named(const std::string& name) const {
  for (const auto& m : uv_maps)
    if (m.name == name) return &m;
  return nullptr;
}

bool is_lwo2(const uint8_t* data, size_t size) {
  return data && size >= 12 && id_equals(data, "FORM") && id_equals(data + 8, "LWO2");
}

Lwo2Status lwo2_read(const uint8_t* data, size_t size, Lwo2Object& out, const Lwo2Limits& limits) {
  out = Lwo2Object();
  if (!is_lwo2(data, size)) return Lwo2Status::not_lwo2;
  Reader reader(out, limits);
  const Lwo2Status s = reader.run(data, size);
  if (s != Lwo2Status::ok) out = Lwo2Object();
  return s;
}

}  // namespace orvl
