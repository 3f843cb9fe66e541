#include "object/lwo2.h"

#include <algorithm>
#include <cmath>
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

  // One texture layer of the surface record from a block's sub-chunks after its header.
  // Tolerant: a value cut short is skipped and a damaged sub-chunk ends the block.
  static LwChannel channel_of(ByteReader v) {
    static const struct {
      const char* id;
      LwChannel channel;
    } kChannels[] = {{"COLR", LwChannel::color},        {"DIFF", LwChannel::diffuse},
                     {"SPEC", LwChannel::specular},     {"LUMI", LwChannel::luminosity},
                     {"REFL", LwChannel::reflection},   {"TRAN", LwChannel::transparency},
                     {"BUMP", LwChannel::bump},         {"GLOS", LwChannel::glossiness}};
    for (const auto& k : kChannels)
      if (v.id_is(k.id)) return k.channel;
    return LwChannel::other;
  }

  static void record_header(const IffChunk& s, LwTextureLayer& layer) {
    ByteReader hr = s.reader();
    hr.cstring(layer.ordinal, true, kMaxNameKeep);
    ChunkWalker hw(s.data, s.size, hr.pos(), ChunkSize::u16, true);
    IffChunk h;
    // Without OPAC the LWO2 document has the layer blend additively at 100%.
    layer.blend = LwBlend::additive;
    while (hw.next(h)) {
      ByteReader v = h.reader();
      uint16_t u = 0;
      float f = 0;
      if (h.is("CHAN")) {
        layer.channel = channel_of(v);
      } else if (h.is("ENAB")) {
        if (v.u16be(u)) layer.enabled = u != 0;
      } else if (h.is("OPAC")) {
        if (v.u16be(u) && v.f32be(f)) {
          layer.blend = u <= 7 ? static_cast<LwBlend>(u) : LwBlend::normal;
          layer.opacity = f;
        }
      } else if (h.is("NEGA")) {
        if (v.u16be(u)) layer.negative = u != 0;
      }
    }
  }

  static void record_tmap(const IffChunk& s, LwTextureLayer& layer) {
    ChunkWalker tw(s.data, s.size, 0, ChunkSize::u16, true);
    IffChunk t;
    while (tw.next(t)) {
      ByteReader tv = t.reader();
      float vec[3];
      uint16_t u = 0;
      if (t.is("CNTR") && read_vec(tv, vec)) std::memcpy(layer.center, vec, sizeof vec);
      else if (t.is("SIZE") && read_vec(tv, vec)) std::memcpy(layer.size, vec, sizeof vec);
      else if (t.is("ROTA") && read_vec(tv, vec)) std::memcpy(layer.rotation, vec, sizeof vec);
      else if (t.is("FALL") && tv.u16be(u) && read_vec(tv, vec)) {
        layer.falloff_type = u <= 4 ? static_cast<LwTextureFalloff>(u) : LwTextureFalloff::cubic;
        std::memcpy(layer.falloff, vec, sizeof vec);
      } else if (t.is("CSYS") && tv.u16be(u)) {
        layer.world_coordinates = u == 1;
      }
    }
  }

  static LwWrap wrap_of(uint16_t u) { return u <= 3 ? static_cast<LwWrap>(u) : LwWrap::repeat; }

  // A BLOK as a texture layer of the surface record (shaders are not texture layers).
  static void record_block(const IffChunk& b, Lwo2Surface& surf) {
    ChunkWalker walk(b.data, b.size, 0, ChunkSize::u16, true);
    IffChunk s;
    if (!walk.next(s)) return;
    const bool imap = s.is("IMAP"), proc = s.is("PROC"), grad = s.is("GRAD");
    if (!imap && !proc && !grad) return;
    LwTextureLayer layer;
    layer.image_map = imap;
    layer.axis = 0;
    if (proc) layer.procedural = "Procedural";
    if (grad) layer.procedural = "Gradient";
    record_header(s, layer);
    uint32_t clip = 0;
    while (walk.next(s)) {
      ByteReader v = s.reader();
      uint16_t u = 0, u2 = 0;
      float f = 0;
      if (s.is("TMAP")) {
        record_tmap(s, layer);
      } else if (s.is("PROJ") && imap && v.u16be(u)) {
        layer.projection = u <= 5 ? static_cast<LwProjection>(u) : LwProjection::planar;
      } else if (s.is("AXIS") && v.u16be(u)) {
        layer.axis = static_cast<uint8_t>(u <= 2 ? u : 0);
      } else if (s.is("IMAG") && imap) {
        uint32_t vx = 0;
        if (read_vx(v, vx)) clip = vx;
      } else if (s.is("WRAP") && v.u16be(u) && v.u16be(u2)) {
        layer.wrap_u = wrap_of(u);
        layer.wrap_v = wrap_of(u2);
      } else if (s.is("WRPW") && v.f32be(f)) {
        layer.wrap_width = f;
      } else if (s.is("WRPH") && v.f32be(f)) {
        layer.wrap_height = f;
      } else if (s.is("VMAP")) {
        v.cstring(layer.uv_map, true, kMaxNameKeep);
      } else if (s.is("AAST") && v.u16be(u) && v.f32be(f)) {
        layer.antialiasing = (u & 1) != 0;
        layer.antialias_strength = f;
      } else if (s.is("PIXB") && v.u16be(u)) {
        layer.pixel_blending = (u & 1) != 0;
      } else if (s.is("TAMP") && v.f32be(f)) {
        layer.amplitude = f;
      } else if (s.is("FUNC") && proc) {
        v.cstring(layer.procedural, true, kMaxNameKeep);
      } else if (s.is("PNAM") && grad) {
        std::string parameter;
        v.cstring(parameter, true, kMaxNameKeep);
        if (!parameter.empty()) layer.procedural = "Gradient: " + parameter;
      }
    }
    surf.lw.layers.push_back(std::move(layer));
    surf.layer_clips.push_back(clip);
  }

  // An image-map block: kept when it is the surface's first enabled colour image.
  Lwo2Status block(const IffChunk& b, Lwo2Surface& surf) {
    const size_t layers_before = surf.lw.layers.size();
    record_block(b, surf);
    const bool recorded = surf.lw.layers.size() > layers_before;
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
    if (colour && enabled && !surf.image.present) {
      surf.image = std::move(map);
      if (recorded) surf.image_layer = static_cast<int>(surf.lw.layers.size()) - 1;
    }
    return Lwo2Status::ok;
  }

  // The record's own reading of a surface's base values (the engine's fields stay as the
  // reader kept them before).
  static void record_value(const IffChunk& s, Lwo2Surface& surf) {
    ByteReader v = s.reader();
    LwSurfaceParams& lw = surf.lw;
    float f = 0;
    uint16_t u = 0;
    if (s.is("COLR")) {
      float col[3];
      if (read_vec(v, col)) std::memcpy(lw.color, col, sizeof col);
    } else if (s.is("GLOS")) {
      if (v.f32be(f)) {
        lw.glossiness = f;
        lw.gloss_exponent = std::exp2(10.0f * f + 2.0f);
      }
    } else if (s.is("SIDE")) {
      if (v.u16be(u)) lw.double_sided = u == 3;
    } else if (s.is("ADTR")) {
      if (v.f32be(f)) lw.additive = f > 0;
    } else if (s.is("RFOP")) {
      if (v.u16be(u)) lw.reflection_mode = u;
    } else if (s.is("RIMG")) {
      uint32_t vx = 0;
      if (read_vx(v, vx)) surf.reflection_clip = vx;
    } else {
      static const struct {
        const char* id;
        float LwSurfaceParams::*field;
      } kLevels[] = {{"DIFF", &LwSurfaceParams::diffuse},      {"LUMI", &LwSurfaceParams::luminosity},
                     {"SPEC", &LwSurfaceParams::specular},     {"REFL", &LwSurfaceParams::reflection},
                     {"TRAN", &LwSurfaceParams::transparency}, {"TRNL", &LwSurfaceParams::translucency},
                     {"RIND", &LwSurfaceParams::refraction_index},
                     {"SMAN", &LwSurfaceParams::smoothing_angle},
                     {"CLRH", &LwSurfaceParams::color_highlights},
                     {"CLRF", &LwSurfaceParams::color_filter},
                     {"SHRP", &LwSurfaceParams::diffuse_sharpness}};
      for (const auto& l : kLevels)
        if (s.is(l.id)) {
          if (v.f32be(f)) lw.*l.field = f;
          return;
        }
    }
  }

  // LightWave evaluates layers in ordinal order; `image_layer` follows its layer.
  static void sort_layers(Lwo2Surface& surf) {
    const size_t n = surf.lw.layers.size();
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return surf.lw.layers[a].ordinal < surf.lw.layers[b].ordinal;
    });
    std::vector<LwTextureLayer> layers(n);
    std::vector<uint32_t> clips(n);
    int image_layer = -1;
    for (size_t i = 0; i < n; ++i) {
      layers[i] = std::move(surf.lw.layers[order[i]]);
      clips[i] = surf.layer_clips[order[i]];
      if (int(order[i]) == surf.image_layer) image_layer = int(i);
    }
    surf.lw.layers = std::move(layers);
    surf.layer_clips = std::move(clips);
    surf.image_layer = image_layer;
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
      record_value(s, surf);
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
    sort_layers(surf);
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
