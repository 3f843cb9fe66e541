#include "object/lw_surface.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "image/iff.h"

namespace orvl {

const char* lw_projection_name(LwProjection p) {
  switch (p) {
    case LwProjection::planar: return "planar";
    case LwProjection::cylindrical: return "cylindrical";
    case LwProjection::spherical: return "spherical";
    case LwProjection::cubic: return "cubic";
    case LwProjection::front: return "front";
    case LwProjection::uv: return "uv";
  }
  return "unknown";
}

const char* lw_wrap_name(LwWrap w) {
  switch (w) {
    case LwWrap::reset: return "reset";
    case LwWrap::repeat: return "repeat";
    case LwWrap::mirror: return "mirror";
    case LwWrap::edge: return "edge";
  }
  return "unknown";
}

const char* lw_channel_name(LwChannel c) {
  switch (c) {
    case LwChannel::color: return "color";
    case LwChannel::diffuse: return "diffuse";
    case LwChannel::specular: return "specular";
    case LwChannel::luminosity: return "luminosity";
    case LwChannel::reflection: return "reflection";
    case LwChannel::transparency: return "transparency";
    case LwChannel::bump: return "bump";
    case LwChannel::glossiness: return "glossiness";
    case LwChannel::other: return "other";
  }
  return "unknown";
}

const char* lw_blend_name(LwBlend b) {
  switch (b) {
    case LwBlend::normal: return "normal";
    case LwBlend::subtractive: return "subtractive";
    case LwBlend::difference: return "difference";
    case LwBlend::multiply: return "multiply";
    case LwBlend::divide: return "divide";
    case LwBlend::alpha: return "alpha";
    case LwBlend::displacement: return "displacement";
    case LwBlend::additive: return "additive";
  }
  return "unknown";
}

const char* lw_texture_falloff_name(LwTextureFalloff f) {
  switch (f) {
    case LwTextureFalloff::cubic: return "cubic";
    case LwTextureFalloff::spherical: return "spherical";
    case LwTextureFalloff::linear_x: return "linear_x";
    case LwTextureFalloff::linear_y: return "linear_y";
    case LwTextureFalloff::linear_z: return "linear_z";
  }
  return "unknown";
}

namespace {

constexpr float kPi = 3.14159265358979323846f;
// LightWave 5 smooths at 89.5 degrees when the smoothing switch is on and no angle is given.
constexpr float kDefaultSmoothing = 89.5f * kPi / 180.0f;

bool read_vec(ByteReader& r, float v[3]) {
  float t[3];
  if (!(r.f32be(t[0]) && r.f32be(t[1]) && r.f32be(t[2]))) return false;
  std::memcpy(v, t, sizeof t);
  return true;
}

// "(none)" is how LightWave 5 writes an image slot left empty.
std::string image_name(ByteReader& r) {
  std::string s;
  r.cstring(s, false);
  return s == "(none)" ? std::string() : s;
}

LwChannel lwob_channel(const IffChunk& c) {
  if (c.is("CTEX")) return LwChannel::color;
  if (c.is("DTEX")) return LwChannel::diffuse;
  if (c.is("STEX")) return LwChannel::specular;
  if (c.is("RTEX")) return LwChannel::reflection;
  if (c.is("TTEX")) return LwChannel::transparency;
  if (c.is("LTEX")) return LwChannel::luminosity;
  return LwChannel::bump;  // BTEX
}

bool is_lwob_texture_header(const IffChunk& c) {
  return c.is("CTEX") || c.is("DTEX") || c.is("STEX") || c.is("RTEX") || c.is("TTEX") ||
         c.is("LTEX") || c.is("BTEX");
}

LwWrap lwob_wrap(uint16_t v) {
  switch (v) {
    case 0: return LwWrap::reset;  // "black"
    case 1: return LwWrap::edge;   // "clamp"
    case 3: return LwWrap::mirror;
    default: return LwWrap::repeat;
  }
}

}  // namespace

void lw_lwob_texture_kind(const std::string& name, LwTextureLayer& layer) {
  static const struct {
    const char* name;
    LwProjection projection;
  } kImageMaps[] = {
      {"Planar Image Map", LwProjection::planar},
      {"Cylindrical Image Map", LwProjection::cylindrical},
      {"Spherical Image Map", LwProjection::spherical},
      {"Cubic Image Map", LwProjection::cubic},
      {"Front Projection Image Map", LwProjection::front},
  };
  for (const auto& m : kImageMaps) {
    if (name == m.name) {
      layer.image_map = true;
      layer.projection = m.projection;
      layer.procedural.clear();
      return;
    }
  }
  layer.image_map = false;
  layer.procedural = name;
}

bool lw_read_lwob_surface(const uint8_t* data, size_t size, LwSurfaceParams& out,
                          std::vector<size_t>* timg_offsets) {
  if (timg_offsets) timg_offsets->clear();
  // The u16 levels (256 = 100%) and LightWave 5's float versions, which win whichever
  // comes first in the chunk.
  enum { kLumi, kDiff, kSpec, kRefl, kTran, kLevels };
  static const char* const kWord[kLevels] = {"LUMI", "DIFF", "SPEC", "REFL", "TRAN"};
  static const char* const kFloat[kLevels] = {"VLUM", "VDIF", "VSPC", "VRFL", "VTRN"};
  float word_level[kLevels] = {0, 1, 0, 0, 0};
  float float_level[kLevels] = {0, 0, 0, 0, 0};
  bool has_float[kLevels] = {false, false, false, false, false};
  bool has_sman = false;
  float sman = 0;

  ChunkWalker walker(data, size, 0, ChunkSize::u16, false);
  IffChunk c;
  LwTextureLayer* layer = nullptr;
  while (walker.next(c)) {
    ByteReader d = c.reader();
    uint8_t b[3];
    uint16_t w = 0, w2 = 0;
    float f = 0;
    bool level = false;
    for (int k = 0; k < kLevels && !level; ++k) {
      if (c.is(kWord[k])) {
        if (d.u16be(w)) word_level[k] = float(w) / 256.0f;
        level = true;
      } else if (c.is(kFloat[k])) {
        if (d.f32be(f)) float_level[k] = f, has_float[k] = true;
        level = true;
      }
    }
    if (level) continue;
    if (c.is("COLR")) {
      if (d.u8(b[0]) && d.u8(b[1]) && d.u8(b[2]))
        for (int k = 0; k < 3; ++k) out.color[k] = float(b[k]) / 255.0f;
    } else if (c.is("FLAG")) {
      if (d.u16be(w)) out.lwob_flags = w;
    } else if (c.is("GLOS")) {
      if (d.u16be(w)) out.gloss_exponent = float(w);
    } else if (c.is("SMAN")) {
      if (d.f32be(f)) sman = f, has_sman = true;
    } else if (c.is("RFLT")) {
      if (d.u16be(w)) out.reflection_mode = w;
    } else if (c.is("RIMG")) {
      out.reflection_image = image_name(d);
    } else if (c.is("RIND")) {
      if (d.f32be(f)) out.refraction_index = f;
    } else if (is_lwob_texture_header(c)) {
      out.layers.emplace_back();
      layer = &out.layers.back();
      if (timg_offsets) timg_offsets->push_back(SIZE_MAX);
      layer->channel = lwob_channel(c);
      std::string type;
      d.cstring(type, false);
      lw_lwob_texture_kind(type, *layer);
    } else if (!layer) {
      continue;  // texture attributes before any texture header belong to nothing
    } else if (c.is("TFLG")) {
      if (d.u16be(w)) {
        layer->lwob_flags = w;
        layer->axis = (w & 0x1) ? 0 : (w & 0x2) ? 1 : 2;
        layer->world_coordinates = (w & 0x8) != 0;
        layer->negative = (w & 0x10) != 0;
        layer->pixel_blending = (w & 0x20) != 0;
        layer->antialiasing = (w & 0x40) != 0;
      }
    } else if (c.is("TSIZ")) {
      read_vec(d, layer->size);
    } else if (c.is("TCTR")) {
      read_vec(d, layer->center);
    } else if (c.is("TFAL")) {
      read_vec(d, layer->falloff);
    } else if (c.is("TVEL")) {
      read_vec(d, layer->velocity);
    } else if (c.is("TIMG")) {
      layer->image_path = image_name(d);
      if (timg_offsets) timg_offsets->back() = c.offset;
    } else if (c.is("TWRP")) {
      if (d.u16be(w) && d.u16be(w2)) layer->wrap_u = lwob_wrap(w), layer->wrap_v = lwob_wrap(w2);
    } else if (c.is("TAAS")) {
      if (d.f32be(f)) layer->antialias_strength = f;
    } else if (c.is("TOPC")) {
      if (d.f32be(f)) layer->opacity = f;
    } else if (c.is("TAMP")) {
      if (d.f32be(f)) layer->amplitude = f;
    } else if (c.is("TFP0") || c.is("TFP1")) {
      // Cylindrical and spherical image maps keep their wrap amounts in the first two
      // procedural parameters; for procedurals these are the algorithm's own values.
      const bool wraps = layer->image_map && (layer->projection == LwProjection::cylindrical ||
                                               layer->projection == LwProjection::spherical);
      if (wraps && d.f32be(f)) (c.is("TFP0") ? layer->wrap_width : layer->wrap_height) = f;
    }
  }

  float* const levels[kLevels] = {&out.luminosity, &out.diffuse, &out.specular, &out.reflection,
                                  &out.transparency};
  for (int k = 0; k < kLevels; ++k) *levels[k] = has_float[k] ? float_level[k] : word_level[k];
  const uint32_t flags = out.lwob_flags;
  out.color_highlights = (flags & 0x8) ? 1.0f : 0.0f;
  out.color_filter = (flags & 0x10) ? 1.0f : 0.0f;
  out.diffuse_sharpness = (flags & 0x80) ? 0.5f : 0.0f;
  out.double_sided = (flags & 0x100) != 0;
  out.additive = (flags & 0x200) != 0;
  // The smoothing switch decides; SMAN only sets how far smoothing reaches.
  out.smoothing_angle = (flags & 0x4) ? (has_sman ? sman : kDefaultSmoothing) : 0.0f;
  out.glossiness = std::log2(std::max(out.gloss_exponent, 1.0f)) / 10.0f - 0.2f;
  return !walker.truncated();
}

namespace {

struct Clamp {
  unsigned flags = 0;
  // Not finite: the default; outside lo..hi: the nearer end, noted under `bit`.
  void fix(float& v, float fallback, float lo, float hi, unsigned bit) {
    if (!std::isfinite(v)) {
      v = fallback;
      flags |= LwClamped::NOT_FINITE;
    } else if (v < lo || v > hi) {
      v = std::min(hi, std::max(lo, v));
      flags |= bit;
    }
  }
  void finite(float* v, int n, float fallback) {
    for (int k = 0; k < n; ++k)
      if (!std::isfinite(v[k])) v[k] = fallback, flags |= LwClamped::NOT_FINITE;
  }
};

}  // namespace

unsigned lw_sanitize_surface(LwSurfaceParams& s) {
  Clamp c;
  for (float& v : s.color) c.fix(v, 200 / 255.0f, 0, 1, LwClamped::FRACTION);
  c.fix(s.diffuse, 1, 0, 100, LwClamped::FRACTION);
  c.fix(s.specular, 0, 0, 100, LwClamped::FRACTION);
  c.fix(s.luminosity, 0, 0, 100, LwClamped::FRACTION);
  c.fix(s.translucency, 0, 0, 100, LwClamped::FRACTION);
  c.fix(s.transparency, 0, 0, 1, LwClamped::FRACTION);
  c.fix(s.reflection, 0, 0, 1, LwClamped::FRACTION);
  c.fix(s.color_highlights, 0, 0, 1, LwClamped::FRACTION);
  c.fix(s.color_filter, 0, 0, 1, LwClamped::FRACTION);
  c.fix(s.diffuse_sharpness, 0, 0, 1, LwClamped::FRACTION);
  c.fix(s.refraction_index, 1, 0.01f, 100, LwClamped::REFRACTION);
  // The exponent is what shading uses; the 0..1 glossiness follows from it.
  if (!std::isfinite(s.gloss_exponent) || !std::isfinite(s.glossiness)) {
    s.gloss_exponent = 64;
    c.flags |= LwClamped::GLOSSINESS;
  } else if (s.gloss_exponent < 4 || s.gloss_exponent > 4096) {
    s.gloss_exponent = std::min(4096.0f, std::max(4.0f, s.gloss_exponent));
    c.flags |= LwClamped::GLOSSINESS;
  }
  s.glossiness = (std::log2(s.gloss_exponent) - 2.0f) / 10.0f;
  if (!std::isfinite(s.smoothing_angle) || s.smoothing_angle < 0) {
    s.smoothing_angle = s.smoothing_angle > 0 ? kPi : 0.0f;  // +inf smooths everything
    c.flags |= LwClamped::SMOOTHING;
  } else if (s.smoothing_angle > kPi) {
    s.smoothing_angle = kPi;  // the same meaning: every neighbour is smoothed with
  }
  if (s.reflection_mode < 0 || s.reflection_mode > 3) s.reflection_mode = 0;
  for (LwTextureLayer& l : s.layers) {
    c.finite(l.center, 3, 0);
    c.finite(l.rotation, 3, 0);
    c.finite(l.falloff, 3, 0);
    c.finite(l.velocity, 3, 0);
    for (float& v : l.size) {
      if (!std::isfinite(v)) {
        v = 1;
        c.flags |= LwClamped::NOT_FINITE;
      } else if (v == 0) {
        v = 1;
        c.flags |= LwClamped::TEXTURE_SIZE;
      } else if (std::fabs(v) < 1e-6f) {
        v = std::copysign(1e-6f, v);  // small enough to mean "tiny", large enough to divide by
        c.flags |= LwClamped::TEXTURE_SIZE;
      }
    }
    for (float* w : {&l.wrap_width, &l.wrap_height}) {
      if (!std::isfinite(*w) || *w <= 0) {
        *w = 1;
        c.flags |= LwClamped::WRAP_COUNT;
      } else if (*w < 0.001f || *w > 1024) {
        *w = std::min(1024.0f, std::max(0.001f, *w));
        c.flags |= LwClamped::WRAP_COUNT;
      }
    }
    c.fix(l.opacity, 1, 0, 1, LwClamped::FRACTION);
    c.fix(l.antialias_strength, 1, 0, 100, LwClamped::FRACTION);
    c.fix(l.amplitude, 1, -100, 100, LwClamped::FRACTION);
    for (float& v : l.coverage) c.fix(v, 0, 0, 1, LwClamped::FRACTION);
  }
  return c.flags;
}

std::string lw_clamped_text(unsigned clamped) {
  static const struct {
    unsigned bit;
    const char* text;
  } kNames[] = {
      {LwClamped::NOT_FINITE, "NaN or infinite values"},
      {LwClamped::GLOSSINESS, "glossiness"},
      {LwClamped::SMOOTHING, "smoothing angle"},
      {LwClamped::FRACTION, "levels out of range"},
      {LwClamped::WRAP_COUNT, "wrap counts"},
      {LwClamped::TEXTURE_SIZE, "texture size 0"},
      {LwClamped::REFRACTION, "refractive index"},
  };
  std::string out;
  for (const auto& n : kNames) {
    if (!(clamped & n.bit)) continue;
    if (!out.empty()) out += ", ";
    out += n.text;
  }
  return out;
}

float lw_smoothing_cosine(float angle) {
  if (!(angle > 0)) return 2.0f;  // faceted (also NaN)
  return std::cos(std::min(angle, kPi));
}

void lw_corner_normals(const int32_t* corners, size_t triangles, size_t point_count,
                       const uint32_t* polygon, const float* polygon_normal,
                       const uint32_t* surface, const float* cos_angle,
                       std::vector<float>& out) {
  out.assign(triangles * 9, 0.0f);
  if (triangles == 0 || point_count == 0) return;
  // The corners at each point, in triangle order (a counting sort), so that the polygons
  // around a point are the runs of one polygon in that list.
  std::vector<uint32_t> start(point_count + 1, 0);
  for (size_t i = 0; i < triangles * 3; ++i) ++start[size_t(corners[i]) + 1];
  for (size_t p = 0; p < point_count; ++p) start[p + 1] += start[p];
  std::vector<uint32_t> at(triangles * 3);
  {
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t i = 0; i < triangles * 3; ++i) at[fill[size_t(corners[i])]++] = uint32_t(i);
  }
  uint32_t surfaces = 0;
  for (size_t t = 0; t < triangles; ++t) surfaces = std::max(surfaces, surface[t] + 1);

  // Above this many polygons at one point the angle test against every neighbour would be
  // quadratic (a fan of a million triangles round one point); there each corner takes the
  // mean of the polygons of its surface within its angle of that mean's direction instead.
  constexpr size_t kDirectLimit = 64;
  std::vector<uint32_t> around;            // one triangle per polygon at the point
  std::vector<double> sums(size_t(surfaces) * 3, 0.0);

  auto normal_of = [&](uint32_t t) { return polygon_normal + 3 * size_t(polygon[t]); };
  auto write = [&](uint32_t corner, double x, double y, double z) {
    const double len = std::sqrt(x * x + y * y + z * z);
    float* o = &out[size_t(corner) * 3];
    if (len > 1e-12 && std::isfinite(len)) {
      o[0] = float(x / len), o[1] = float(y / len), o[2] = float(z / len);
    } else {
      o[0] = 0, o[1] = 0, o[2] = 1;
    }
  };

  for (size_t p = 0; p < point_count; ++p) {
    const uint32_t* first = at.data() + start[p];
    const uint32_t* last = at.data() + start[p + 1];
    if (first == last) continue;
    around.clear();
    for (const uint32_t* c = first; c != last; ++c) {
      const uint32_t t = *c / 3;
      if (around.empty() || polygon[around.back()] != polygon[t]) around.push_back(t);
    }
    const bool direct = around.size() <= kDirectLimit;
    if (!direct) {
      for (uint32_t t : around) {
        const float* n = normal_of(t);
        double* s = &sums[size_t(surface[t]) * 3];
        s[0] += n[0], s[1] += n[1], s[2] += n[2];
      }
    }
    for (const uint32_t* c = first; c != last; ++c) {
      const uint32_t t = *c / 3;
      const float* n = normal_of(t);
      const float limit = cos_angle[surface[t]];
      const bool degenerate = n[0] == 0 && n[1] == 0 && n[2] == 0;
      if (limit > 1.0f && !degenerate) {
        write(*c, n[0], n[1], n[2]);
        continue;
      }
      double x = 0, y = 0, z = 0;
      if (direct) {
        for (uint32_t u : around) {
          if (surface[u] != surface[t]) continue;
          const float* m = normal_of(u);
          // A degenerate polygon has no direction to compare with: it takes all of them.
          if (!degenerate && polygon[u] != polygon[t] &&
              n[0] * m[0] + n[1] * m[1] + n[2] * m[2] < limit)
            continue;
          x += m[0], y += m[1], z += m[2];
        }
      } else {
        const double* s = &sums[size_t(surface[t]) * 3];
        x = s[0], y = s[1], z = s[2];
        const double len = std::sqrt(x * x + y * y + z * z);
        if (!degenerate && len > 0 && (n[0] * x + n[1] * y + n[2] * z) / len < limit)
          x = n[0], y = n[1], z = n[2];
      }
      write(*c, x, y, z);
    }
    if (!direct)
      for (uint32_t t : around) {
        double* s = &sums[size_t(surface[t]) * 3];
        s[0] = s[1] = s[2] = 0;
      }
  }
}

void lw_project_point(LwProjection projection, int axis, const float center[3], const float size[3],
                      double wrap_width, double wrap_height, const double p[3], float& u, float& v) {
  constexpr double kPi = 3.14159265358979323846;
  double q[3];
  for (int k = 0; k < 3; ++k) q[k] = (p[k] - center[k]) / (size[k] != 0.0f ? size[k] : 1.0);
  // The two axes across the projection axis, and the one along it.
  int a = 0, b = 1, along = 2;
  if (axis == 0) a = 2, b = 1, along = 0;
  else if (axis == 1) a = 0, b = 2, along = 1;
  double s = 0, t = 0;
  switch (projection) {
    case LwProjection::cylindrical:
      s = (std::atan2(q[a], axis == 1 ? q[b] : -q[b]) / (2 * kPi) + 0.5) * wrap_width;
      t = q[along] + 0.5;
      break;
    case LwProjection::spherical:
      s = (std::atan2(q[a], axis == 1 ? q[b] : -q[b]) / (2 * kPi) + 0.5) * wrap_width;
      t = (std::atan2(q[along], std::sqrt(q[a] * q[a] + q[b] * q[b])) / kPi + 0.5) * wrap_height;
      break;
    default:
      s = q[a] + 0.5;
      t = (axis == 1 ? -q[b] : q[b]) + 0.5;
      break;
  }
  u = static_cast<float>(s);
  v = static_cast<float>(1.0 - t);
}

}  // namespace orvl
