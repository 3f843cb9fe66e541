// glTF 2.0 writer. Sources: the Khronos glTF 2.0 specification and the extension texts of
// KHR_lights_punctual, KHR_materials_emissive_strength, KHR_materials_unlit,
// KHR_texture_transform and KHR_animation_pointer; the LWO2 format document (texture
// projections) and the LightWave 5 surface manual for what the surface values mean.
#include "export/gltf_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "export/json_text.h"
#include "image/png_encode.h"
#include "object/surface_image.h"
#include "platform/atomic_file.h"
#include "platform/log.h"
#include "scene/lw_scene.h"

namespace orvl {

const char* gltf_status_text(GltfStatus s) {
  switch (s) {
    case GltfStatus::ok: return "written";
    case GltfStatus::write_failed: return "cannot be written";
    case GltfStatus::too_large: return "over a glTF limit";
    case GltfStatus::bad_input: return "nothing to export";
  }
  return "unknown";
}

namespace {

using json = nlohmann::json;
constexpr double kPi = 3.14159265358979323846;
constexpr uint64_t kMaxCount = 0xffffffffull;
// Samples of one animation: about 9 hours at 30 per second.
constexpr size_t kMaxSamples = size_t(1) << 20;
constexpr int kFloat = 5126, kUint = 5125;

struct Quat {
  double x = 0, y = 0, z = 0, w = 1;
};

// Rotation matrix (columns of a 3 x 3 held in a row-major 4 x 4) to a unit quaternion.
Quat quat_from(const double r[3][3]) {
  Quat q;
  const double tr = r[0][0] + r[1][1] + r[2][2];
  if (tr > 0) {
    const double s = std::sqrt(tr + 1.0) * 2;
    q.w = 0.25 * s;
    q.x = (r[2][1] - r[1][2]) / s;
    q.y = (r[0][2] - r[2][0]) / s;
    q.z = (r[1][0] - r[0][1]) / s;
  } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
    const double s = std::sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]) * 2;
    q.w = (r[2][1] - r[1][2]) / s;
    q.x = 0.25 * s;
    q.y = (r[0][1] + r[1][0]) / s;
    q.z = (r[0][2] + r[2][0]) / s;
  } else if (r[1][1] > r[2][2]) {
    const double s = std::sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]) * 2;
    q.w = (r[0][2] - r[2][0]) / s;
    q.x = (r[0][1] + r[1][0]) / s;
    q.y = 0.25 * s;
    q.z = (r[1][2] + r[2][1]) / s;
  } else {
    const double s = std::sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]) * 2;
    q.w = (r[1][0] - r[0][1]) / s;
    q.x = (r[0][2] + r[2][0]) / s;
    q.y = (r[1][2] + r[2][1]) / s;
    q.z = 0.25 * s;
  }
  const double n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (!(n > 0) || !std::isfinite(n)) return Quat();
  q.x /= n, q.y /= n, q.z /= n, q.w /= n;
  return q;
}

struct Trs {
  double t[3] = {0, 0, 0};
  Quat r;
  double s[3] = {1, 1, 1};
};

// Mirrors a LightWave matrix into glTF's frame and splits it into translation, rotation and
// scale. A mirrored (negative determinant) matrix keeps its mirror in scale X.
Trs decompose_mirrored(const LwMatrix& lw) {
  double m[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m[i][j] = lw.m[4 * i + j] * ((i == 2) != (j == 2) ? -1.0 : 1.0);
  Trs out;
  for (int i = 0; i < 3; ++i) out.t[i] = m[i][3];
  double r[3][3];
  for (int j = 0; j < 3; ++j) {
    const double len = std::sqrt(m[0][j] * m[0][j] + m[1][j] * m[1][j] + m[2][j] * m[2][j]);
    out.s[j] = len;
    for (int i = 0; i < 3; ++i) r[i][j] = len > 0 ? m[i][j] / len : (i == j ? 1.0 : 0.0);
  }
  const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                     r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                     r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
  if (det < 0) {
    out.s[0] = -out.s[0];
    for (int i = 0; i < 3; ++i) r[i][0] = -r[i][0];
  }
  out.r = quat_from(r);
  return out;
}

LwMatrix translation(const double p[3]) {
  LwMatrix m;
  m.m[3] = p[0], m.m[7] = p[1], m.m[11] = p[2];
  return m;
}

// Everything the build accumulates, with the replacement count of values that were not
// finite (one log line per document).
class Builder {
 public:
  Builder(const Scene& scene, const GltfOptions& options, GltfDocument& doc)
      : scene_(scene), options_(options), doc_(doc), j_(doc.json) {}
  GltfStatus run(std::string* error);

 private:
  // --- buffer and accessors ---
  size_t view(const void* data, size_t bytes, int target) {
    while (doc_.bin.size() % 4) doc_.bin.push_back(0);
    const size_t offset = doc_.bin.size();
    const auto* p = static_cast<const uint8_t*>(data);
    doc_.bin.insert(doc_.bin.end(), p, p + bytes);
    json v = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}};
    if (target) v["target"] = target;
    j_["bufferViews"].push_back(v);
    return j_["bufferViews"].size() - 1;
  }
  size_t floats(const std::vector<float>& v, int components, const char* type, bool minmax, int target = 0) {
    const size_t count = v.size() / size_t(components);
    if (count > kMaxCount) too_large_ = true;
    json a = {{"bufferView", view(v.data(), v.size() * 4, target)},
              {"componentType", kFloat},
              {"count", count},
              {"type", type}};
    if (minmax) {
      std::vector<float> lo(size_t(components), 0), hi(size_t(components), 0);
      for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < components; ++c) {
          const float x = v[i * size_t(components) + size_t(c)];
          if (i == 0 || x < lo[size_t(c)]) lo[size_t(c)] = x;
          if (i == 0 || x > hi[size_t(c)]) hi[size_t(c)] = x;
        }
      a["min"] = lo;
      a["max"] = hi;
    }
    j_["accessors"].push_back(a);
    return j_["accessors"].size() - 1;
  }
  size_t indices(const std::vector<uint32_t>& v) {
    if (v.size() > kMaxCount) too_large_ = true;
    json a = {{"bufferView", view(v.data(), v.size() * 4, 34963)},
              {"componentType", kUint},
              {"count", v.size()},
              {"type", "SCALAR"}};
    j_["accessors"].push_back(a);
    return j_["accessors"].size() - 1;
  }
  float finite(double v, double rest) {
    if (std::isfinite(v) && std::fabs(v) < 3.0e38) return float(v);
    ++replaced_;
    return float(rest);
  }

  void build_images();
  void build_materials(int object, std::vector<int>& material_of_surface);
  int build_mesh(int object, const std::vector<int>& material_of_surface);
  bool sample_pose(std::string* error);
  double near_plane() const;
  void build_nodes();
  void build_animation();
  void add_extension(const char* name) {
    for (const auto& e : j_["extensionsUsed"])
      if (e == name) return;
    j_["extensionsUsed"].push_back(name);
  }
  void pointer_channel(const std::string& pointer, const std::vector<float>& values, const char* type);
  void node_channel(size_t node, const char* path, const std::vector<float>& values, const char* type);

  const Scene& scene_;
  const GltfOptions& options_;
  GltfDocument& doc_;
  json& j_;
  bool too_large_ = false;
  size_t replaced_ = 0;

  int objects_ = 0;
  std::vector<int> image_of_texture_;      // scene image number -> glTF texture, -1 none
  std::vector<std::vector<int>> materials_;  // per object, per surface
  std::vector<int> meshes_;                // per object, -1 none
  std::vector<bool> dissolving_;           // per object: its dissolve moves (own materials animated)
  std::vector<size_t> object_node_, object_inner_, light_node_;
  size_t camera_node_ = 0;
  bool has_camera_ = false;
  // Samples: per sample, the pose.
  std::vector<double> times_;
  std::vector<LwPose> poses_;
  size_t input_accessor_ = 0;
};

// LWOB layers name their projection only through the texture's centre, size and axis; the
// coordinates follow the LWO2 document's placement rules (the LWO2 loader computes its own
// and leaves them in the triangles).
void project_layer(const LwTextureLayer& layer, const Vertex& v, float& u, float& w) {
  const double p[3] = {v.x, v.y, v.z};
  lw_project_point(layer.projection, layer.axis, layer.center, layer.size, layer.wrap_width, layer.wrap_height, p, u, w);
}

int wrap_mode(LwWrap w) {
  switch (w) {
    case LwWrap::repeat: return 10497;
    case LwWrap::mirror: return 33648;
    default: return 33071;
  }
}

void Builder::build_images() {
  image_of_texture_.assign(size_t(std::max(scene_.image_count, 0)) + 1, -1);
  for (int o = 0; o < objects_; ++o)
    for (const Surface& s : scene_.objects[size_t(o)].surfaces) {
      if (s.texture <= 0 || size_t(s.texture) >= image_of_texture_.size() || image_of_texture_[size_t(s.texture)] != -1)
        continue;
      const int side_w = s.texture_width, side_h = s.texture_height;
      if (side_w <= 0 || side_h <= 0 || s.image_pixels.size() < size_t(side_w) * size_t(side_h)) continue;
      std::vector<uint8_t> png;
      std::string why;
      if (!png_encode_rgba(reinterpret_cast<const uint8_t*>(s.image_pixels.data()), side_w, side_h,
                           size_t(side_w) * 4, png, &why, true)) {
        log_format("glTF export: picture of surface %s not embedded: %s", s.name.c_str(), why.c_str());
        continue;
      }
      doc_.images.push_back(std::move(png));
      const LwTextureLayer* layer = s.lw.color_layer();
      json sampler = {{"magFilter", 9729}, {"minFilter", 9987},
                      {"wrapS", wrap_mode(layer ? layer->wrap_u : LwWrap::repeat)},
                      {"wrapT", wrap_mode(layer ? layer->wrap_v : LwWrap::repeat)}};
      j_["samplers"].push_back(sampler);
      json image = {{"name", s.image_path}};
      j_["images"].push_back(image);
      j_["textures"].push_back({{"sampler", j_["samplers"].size() - 1}, {"source", j_["images"].size() - 1}});
      image_of_texture_[size_t(s.texture)] = int(j_["textures"].size() - 1);
    }
}

bool scrolls(const Surface& s) { return (s.scroll_flags & 0xf) != 0; }

void Builder::build_materials(int object, std::vector<int>& material_of_surface) {
  const SceneObject& o = scene_.objects[size_t(object)];
  material_of_surface.assign(o.surfaces.size(), -1);
  for (size_t i = 0; i < o.surfaces.size(); ++i) {
    const Surface& s = o.surfaces[i];
    const LwSurfaceParams& p = s.lw;
    json m;
    m["name"] = s.name;
    const float alpha = std::clamp(1.0f - p.transparency, 0.0f, 1.0f);
    double dissolve = 0;
    if (!poses_.empty() && size_t(object) < poses_[0].dissolve.size()) dissolve = poses_[0].dissolve[size_t(object)];
    const bool blend = alpha < 1.0f || dissolving_[size_t(object)] || dissolve > 0;
    const float shown = float(alpha * (1.0 - std::clamp(dissolve, 0.0, 1.0)));
    json pbr;
    pbr["baseColorFactor"] = {std::clamp(p.color[0] * p.diffuse, 0.0f, 1.0f), std::clamp(p.color[1] * p.diffuse, 0.0f, 1.0f),
                              std::clamp(p.color[2] * p.diffuse, 0.0f, 1.0f), shown};
    const double n = std::max(0.0, double(p.gloss_exponent));
    const double r0 = std::pow(2.0 / (n + 2.0), 0.25);
    const double specular = std::clamp(double(p.specular), 0.0, 1.0);
    pbr["metallicFactor"] = 0.0;
    pbr["roughnessFactor"] = std::clamp(1.0 - specular * (1.0 - r0), 0.0, 1.0);
    const int texture = (s.texture > 0 && size_t(s.texture) < image_of_texture_.size()) ? image_of_texture_[size_t(s.texture)] : -1;
    if (texture >= 0) {
      json info = {{"index", texture}};
      if (scrolls(s) && options_.pointer && options_.animate) {
        info["extensions"]["KHR_texture_transform"] = {{"offset", {0.0, 0.0}}};
        add_extension("KHR_texture_transform");
      }
      pbr["baseColorTexture"] = info;
    }
    m["pbrMetallicRoughness"] = pbr;
    if (p.luminosity > 0) {
      m["emissiveFactor"] = {std::clamp(p.color[0], 0.0f, 1.0f), std::clamp(p.color[1], 0.0f, 1.0f),
                             std::clamp(p.color[2], 0.0f, 1.0f)};
      if (p.luminosity != 1.0f) {
        m["extensions"]["KHR_materials_emissive_strength"] = {{"emissiveStrength", std::max(0.0f, p.luminosity)}};
        add_extension("KHR_materials_emissive_strength");
      }
    }
    if (p.luminosity >= 1.0f && p.diffuse <= 0.0f) {
      m["extensions"]["KHR_materials_unlit"] = json::object();
      add_extension("KHR_materials_unlit");
    }
    if (blend) m["alphaMode"] = "BLEND";
    if (p.double_sided) m["doubleSided"] = true;
    m["extras"] = {{"lightwave",
                    {{"diffuse", p.diffuse}, {"specular", p.specular}, {"glossiness", p.glossiness},
                     {"luminosity", p.luminosity}, {"transparency", p.transparency}, {"reflection", p.reflection},
                     {"refraction_index", p.refraction_index}, {"translucency", p.translucency},
                     {"color_highlights", p.color_highlights}, {"color_filter", p.color_filter},
                     {"smoothing_angle", p.smoothing_angle}, {"additive", p.additive},
                     {"reflection_image", p.reflection_image}}}};
    j_["materials"].push_back(m);
    material_of_surface[i] = int(j_["materials"].size() - 1);
  }
}

// A glTF vertex: the object's point with the normal and texture coordinates of one corner.
struct CornerKey {
  uint32_t bits[5];
  bool operator==(const CornerKey& o) const { return std::memcmp(bits, o.bits, sizeof bits) == 0; }
};

// The glTF vertices of one primitive, found by their object point: a chain per point of the
// vertices made from it (a handful at most: one per normal and seam), so a million corners
// take no hashing and no allocation per vertex. Only the points touched are reset.
class CornerTable {
 public:
  explicit CornerTable(size_t points) : head_(points, kNone) {}
  void clear() {
    for (uint32_t p : touched_) head_[p] = kNone;
    touched_.clear(), next_.clear(), keys_.clear();
  }
  // The vertex of `key` at `point`; `made` says whether it is new.
  uint32_t find(uint32_t point, const CornerKey& key, bool& made) {
    for (uint32_t u = head_[point]; u != kNone; u = next_[u])
      if (keys_[u] == key) return made = false, u;
    const uint32_t u = uint32_t(keys_.size());
    keys_.push_back(key);
    next_.push_back(head_[point]);
    if (head_[point] == kNone) touched_.push_back(point);
    head_[point] = u;
    made = true;
    return u;
  }

 private:
  static constexpr uint32_t kNone = 0xffffffffu;
  std::vector<uint32_t> head_, next_, touched_;
  std::vector<CornerKey> keys_;
};

uint32_t float_bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

int Builder::build_mesh(int object, const std::vector<int>& material_of_surface) {
  const SceneObject& o = scene_.objects[size_t(object)];
  const size_t nv = o.vertices.size();
  if (o.polygons.empty() || nv == 0 || o.is_morph_target) return -1;
  const SceneObject* target = nullptr;
  if (o.morph_target >= 0 && o.morph_target < objects_ && o.morph_target != object) {
    target = &scene_.objects[size_t(o.morph_target)];
    if (target->vertices.size() != nv) {
      log_format("glTF export: object %s morphs into one with %zu points instead of %zu; no morph target",
                 o.file_name.c_str(), target->vertices.size(), nv);
      target = nullptr;
    }
  }
  // Triangles by surface.
  std::vector<std::vector<uint32_t>> by_surface(o.surfaces.size());
  for (size_t t = 0; t < o.polygons.size(); ++t) {
    const Triangle& tri = o.polygons[t];
    if (!tri.surface || o.surfaces.empty()) continue;
    const ptrdiff_t si = tri.surface - o.surfaces.data();
    if (si < 0 || size_t(si) >= o.surfaces.size()) continue;
    bool ok = true;
    for (int c = 0; c < 3; ++c) ok = ok && tri.corners[c] >= 0 && size_t(tri.corners[c]) < nv;
    if (ok) by_surface[size_t(si)].push_back(uint32_t(t));
  }
  const bool has_corner_normals = o.corner_normals.size() >= o.polygons.size() * 9;
  json primitives = json::array();
  std::vector<float> pos, nrm, uv, delta;
  std::vector<uint32_t> idx;
  CornerTable seen(nv);
  for (size_t si = 0; si < o.surfaces.size(); ++si) {
    const std::vector<uint32_t>& tris = by_surface[si];
    if (tris.empty()) continue;
    const Surface& s = o.surfaces[si];
    const bool textured = s.texture > 0 && size_t(s.texture) < image_of_texture_.size() &&
                          image_of_texture_[size_t(s.texture)] >= 0;
    const LwTextureLayer* layer = s.lw.color_layer();
    // LWOB surfaces keep the engine's box-fitted coordinates in their triangles; the
    // projection LightWave defines is computed here instead. LWO2 triangles already hold it.
    const bool lwob_projection = textured && layer && s.lw.lwob_flags != 0 && layer->projection != LwProjection::uv;
    const bool wraps = textured && layer &&
                       (layer->projection == LwProjection::cylindrical || layer->projection == LwProjection::spherical);
    float cover[2] = {1, 1};
    if (layer && layer->coverage[0] > 0 && layer->coverage[1] > 0) cover[0] = layer->coverage[0], cover[1] = layer->coverage[1];
    pos.clear(), nrm.clear(), uv.clear(), delta.clear(), idx.clear();
    seen.clear();
    idx.reserve(tris.size() * 3);
    for (uint32_t t : tris) {
      const Triangle& tri = o.polygons[t];
      float tuv[6];
      for (int c = 0; c < 3; ++c) {
        if (lwob_projection) project_layer(*layer, o.vertices[size_t(tri.corners[c])], tuv[2 * c], tuv[2 * c + 1]);
        else tuv[2 * c] = tri.uv[2 * c], tuv[2 * c + 1] = tri.uv[2 * c + 1];
      }
      if (wraps) {
        // A triangle across the seam has corners on both ends of the wrap: those near 0 move
        // up by one turn, so the triangle spans the seam instead of the whole picture.
        const float turn = lwob_projection ? std::max(layer->wrap_width, 1e-6f) : 1.0f;
        const float lo = std::min({tuv[0], tuv[2], tuv[4]}), hi = std::max({tuv[0], tuv[2], tuv[4]});
        if (hi - lo > 0.5f * turn)
          for (int c = 0; c < 3; ++c)
            if (tuv[2 * c] < lo + 0.5f * turn) tuv[2 * c] += turn;
      }
      // Corner order: LightWave's visible side is the one its corners run clockwise on (in
      // its left-handed axes), as the lightwave look reads it; mirrored into glTF's
      // right-handed axes that is counter-clockwise only with two corners swapped. Taken from
      // the corners alone, as the look does: the engine leaves Triangle::normal unset on the
      // surfaces it does not light.
      static constexpr int order[3] = {0, 2, 1};
      // Where no normal is given, the face's own: e1 x e2 of LightWave's corners points out.
      float face[3] = {0, 0, 0};
      {
        const Vertex& a = o.vertices[size_t(tri.corners[0])];
        const Vertex& b = o.vertices[size_t(tri.corners[1])];
        const Vertex& c = o.vertices[size_t(tri.corners[2])];
        const double e1[3] = {b.x - a.x, b.y - a.y, b.z - a.z}, e2[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
        face[0] = float(e1[1] * e2[2] - e1[2] * e2[1]);
        face[1] = float(e1[2] * e2[0] - e1[0] * e2[2]);
        face[2] = float(e1[0] * e2[1] - e1[1] * e2[0]);
      }
      for (int k = 0; k < 3; ++k) {
        const int c = order[k];
        const int32_t vi = tri.corners[c];
        float n[3];
        const float* src = has_corner_normals ? &o.corner_normals[size_t(t) * 9 + size_t(c) * 3] : tri.normal;
        double len = 0;
        for (const float* from : {src, tri.normal, static_cast<const float*>(face)}) {
          n[0] = from[0], n[1] = from[1], n[2] = -from[2];
          len = std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
          if (len > 1e-12 && std::isfinite(len)) break;
        }
        if (!(len > 1e-12) || !std::isfinite(len)) n[0] = 0, n[1] = 0, n[2] = -1, len = 1;
        for (float& x : n) x = float(x / len);
        const float u = tuv[2 * c] * cover[0], w = tuv[2 * c + 1] * cover[1];
        const CornerKey key{{float_bits(n[0]), float_bits(n[1]), float_bits(n[2]), textured ? float_bits(u) : 0,
                             textured ? float_bits(w) : 0}};
        bool made = false;
        const uint32_t out = seen.find(uint32_t(vi), key, made);
        if (made) {
          const Vertex& v = o.vertices[size_t(vi)];
          pos.push_back(finite(v.x, 0)), pos.push_back(finite(v.y, 0)), pos.push_back(finite(-double(v.z), 0));
          nrm.insert(nrm.end(), n, n + 3);
          if (textured) uv.push_back(finite(u, 0)), uv.push_back(finite(w, 0));
          if (target) {
            const Vertex& tv = target->vertices[size_t(vi)];
            delta.push_back(finite(double(tv.x) - v.x, 0));
            delta.push_back(finite(double(tv.y) - v.y, 0));
            delta.push_back(finite(-(double(tv.z) - v.z), 0));
          }
        }
        idx.push_back(out);
      }
    }
    json prim;
    prim["attributes"]["POSITION"] = floats(pos, 3, "VEC3", true, 34962);
    prim["attributes"]["NORMAL"] = floats(nrm, 3, "VEC3", false, 34962);
    if (textured) prim["attributes"]["TEXCOORD_0"] = floats(uv, 2, "VEC2", false, 34962);
    prim["indices"] = indices(idx);
    if (si < material_of_surface.size() && material_of_surface[si] >= 0) prim["material"] = material_of_surface[si];
    if (target) prim["targets"] = json::array({{{"POSITION", floats(delta, 3, "VEC3", true, 34962)}}});
    primitives.push_back(prim);
  }
  if (primitives.empty()) return -1;
  json mesh = {{"name", o.file_name}, {"primitives", primitives}};
  if (target) mesh["weights"] = {0.0};
  j_["meshes"].push_back(mesh);
  return int(j_["meshes"].size() - 1);
}

bool Builder::sample_pose(std::string* error) {
  times_.clear();
  poses_.clear();
  const LwSceneInfo& info = scene_.lw;
  const bool timed = options_.animate && !scene_.motions.empty();
  const double scene_fps = info.frames_per_second > 0 ? info.frames_per_second : 30;
  const double fps = options_.fps > 0 ? options_.fps : scene_fps;
  const double start = timed ? lw_playback_frame(scene_, info.first_frame) : 0;
  const double end = timed ? lw_playback_frame(scene_, info.last_frame) : 0;
  double span = std::max(0.0, (end - start) / scene_fps);  // seconds
  double from = std::max(0.0, options_.from_ms / 1000.0);
  double to = options_.to_ms >= 0 ? std::min(span, options_.to_ms / 1000.0) : span;
  if (from > to) from = to;
  if (timed) {
    // A scene that claims to last for ever would fill gigabytes with samples of one pose.
    const double count = std::floor(to * fps) - std::floor(from * fps) + 2;
    if (count > double(kMaxSamples)) {
      if (error) {
        char text[200];
        std::snprintf(text, sizeof text, "the animation needs %.0f samples (%.0f s at %g per second), more than %zu; "
                      "narrow it with --to or --fps", count, to - from, fps, kMaxSamples);
        *error = text;
      }
      return false;
    }
    // Whole steps from time 0, inside the window; both ends of the window are samples.
    const double step = 1.0 / fps;
    times_.push_back(from);
    for (double k = std::floor(from * fps) + 1; k / fps < to - 1e-9; k += 1) times_.push_back(k * step);
    if (to - times_.back() > 1e-9) times_.push_back(to);
  } else {
    times_.push_back(0);
  }
  poses_.resize(times_.size());
  doc_.sample_frames.clear();
  for (size_t i = 0; i < times_.size(); ++i) {
    lw_pose_size(scene_, poses_[i]);
    const double frame = start + times_[i] * scene_fps;
    if (timed) (void)lw_pose_at(scene_, frame, poses_[i]);
    doc_.sample_frames.push_back(frame);
  }
  doc_.samples = timed ? int(times_.size()) : 0;
  dissolving_.assign(size_t(objects_), false);
  for (int o = 0; o < objects_; ++o)
    for (size_t i = 1; i < poses_.size(); ++i)
      if (size_t(o) < poses_[i].dissolve.size() && poses_[i].dissolve[size_t(o)] != poses_[0].dissolve[size_t(o)])
        dissolving_[size_t(o)] = true;
  return true;
}

// The camera's near plane: the lightwave look puts it at 1/4096 of the farthest drawn point
// (at least 1e-4) in every frame; the smallest of those over the samples clips nothing the
// look shows, in scenes modelled tiny as in large ones.
double Builder::near_plane() const {
  std::vector<double> radius(size_t(objects_), -1);
  for (int o = 0; o < objects_; ++o) {
    if (meshes_[size_t(o)] < 0) continue;
    double r2 = 0;
    for (const Vertex& v : scene_.objects[size_t(o)].vertices)
      if (std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z))
        r2 = std::max(r2, double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
    radius[size_t(o)] = std::sqrt(r2);
  }
  double nearest = 0;
  for (size_t k = 0; k < poses_.size(); ++k) {
    const LwPose& p = poses_[k];
    double farthest = 0;
    for (int o = 0; o < objects_ && size_t(o) < p.object_world.size(); ++o) {
      if (radius[size_t(o)] < 0) continue;
      const double* m = p.object_world[size_t(o)].m;
      double grow = 0;
      for (int c = 0; c < 3; ++c) grow = std::max(grow, std::sqrt(m[c] * m[c] + m[4 + c] * m[4 + c] + m[8 + c] * m[8 + c]));
      const double* e = p.camera_world.m;
      const double d = std::sqrt((m[3] - e[3]) * (m[3] - e[3]) + (m[7] - e[7]) * (m[7] - e[7]) + (m[11] - e[11]) * (m[11] - e[11]));
      if (std::isfinite(d + grow * radius[size_t(o)])) farthest = std::max(farthest, d + grow * radius[size_t(o)]);
    }
    const double near = std::max(1e-4, std::max(1e-3, farthest * 1.01 + 1e-3) / 4096.0);
    nearest = k == 0 ? near : std::min(nearest, near);
  }
  return poses_.empty() ? 1e-4 : nearest;
}

// The node's TRS at sample `k`: inv(parent's inner world) . world . T(pivot).
Trs item_trs(const LwMatrix& world, const LwMatrix* parent, const double pivot[3]) {
  LwMatrix local = world;
  LwMatrix inv;
  if (parent && lw_invert(*parent, inv)) local = lw_multiply(inv, world);
  return decompose_mirrored(lw_multiply(local, translation(pivot)));
}

void put_trs(json& node, const Trs& trs) {
  if (trs.t[0] != 0 || trs.t[1] != 0 || trs.t[2] != 0) node["translation"] = {trs.t[0], trs.t[1], trs.t[2]};
  if (trs.r.x != 0 || trs.r.y != 0 || trs.r.z != 0 || trs.r.w != 1) node["rotation"] = {trs.r.x, trs.r.y, trs.r.z, trs.r.w};
  if (trs.s[0] != 1 || trs.s[1] != 1 || trs.s[2] != 1) node["scale"] = {trs.s[0], trs.s[1], trs.s[2]};
}

std::string base_name(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  const size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

struct Item {
  int kind;   // 0 object, 1 light, 2 camera
  int index;
  int parent;  // object index, -1 none
  double pivot[3];
};

void Builder::node_channel(size_t node, const char* path, const std::vector<float>& values, const char* type) {
  const size_t out = floats(values, std::strcmp(type, "VEC4") == 0 ? 4 : std::strcmp(type, "VEC3") == 0 ? 3 : 1, type, false);
  json& anim = j_["animations"][0];
  anim["samplers"].push_back({{"input", input_accessor_}, {"output", out}, {"interpolation", "LINEAR"}});
  anim["channels"].push_back({{"sampler", anim["samplers"].size() - 1}, {"target", {{"node", node}, {"path", path}}}});
}

void Builder::pointer_channel(const std::string& pointer, const std::vector<float>& values, const char* type) {
  const int comps = std::strcmp(type, "VEC4") == 0 ? 4 : std::strcmp(type, "VEC2") == 0 ? 2 : 1;
  const size_t out = floats(values, comps, type, false);
  json& anim = j_["animations"][0];
  anim["samplers"].push_back({{"input", input_accessor_}, {"output", out}, {"interpolation", "LINEAR"}});
  anim["channels"].push_back({{"sampler", anim["samplers"].size() - 1},
                              {"target", {{"path", "pointer"}, {"extensions", {{"KHR_animation_pointer", {{"pointer", pointer}}}}}}}});
  add_extension("KHR_animation_pointer");
}

void Builder::build_nodes() {
  const LwSceneInfo& info = scene_.lw;
  const double scale = scene_.scale;
  std::vector<Item> items;
  for (int o = 0; o < objects_; ++o) {
    const SceneObject& so = scene_.objects[size_t(o)];
    items.push_back({0, o, so.parent, {-double(so.pivot[0]), -double(so.pivot[1]), -double(so.pivot[2])}});
  }
  const bool timed = options_.animate && !scene_.motions.empty();
  for (size_t l = 0; timed && l < info.lights.size() && l < poses_[0].light_world.size(); ++l) {
    const LwLight& li = info.lights[l];
    items.push_back({1, int(l), li.parent, {li.pivot[0] * scale, li.pivot[1] * scale, li.pivot[2] * scale}});
  }
  if (timed) {
    const LwCamera& c = info.camera;
    items.push_back({2, 0, c.parent, {c.pivot[0] * scale, c.pivot[1] * scale, c.pivot[2] * scale}});
  }
  object_node_.assign(size_t(objects_), 0);
  object_inner_.assign(size_t(objects_), 0);
  light_node_.assign(info.lights.size(), 0);
  auto world_of = [&](const Item& it, const LwPose& pose) -> const LwMatrix& {
    if (it.kind == 0) return pose.object_world[size_t(it.index)];
    if (it.kind == 1) return pose.light_world[size_t(it.index)];
    return pose.camera_world;
  };
  auto parent_of = [&](const Item& it) { return it.parent >= 0 && it.parent < objects_ && !(it.kind == 0 && it.parent == it.index) ? it.parent : -1; };
  // Nodes first (indices fixed), then children lists.
  std::vector<json> nodes;
  std::vector<size_t> item_node(items.size()), item_inner(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& it = items[i];
    json node;
    if (it.kind == 0) {
      const SceneObject& so = scene_.objects[size_t(it.index)];
      std::string name = base_name(so.file_name);
      if (name.empty()) name = "object " + std::to_string(it.index);
      node["name"] = name;
    } else if (it.kind == 1) {
      node["name"] = "light " + std::to_string(it.index + 1);
    } else {
      node["name"] = "camera";
    }
    item_node[i] = nodes.size();
    nodes.push_back(node);
    const bool pivoted = it.pivot[0] != 0 || it.pivot[1] != 0 || it.pivot[2] != 0;
    item_inner[i] = item_node[i];
    if (pivoted) {
      item_inner[i] = nodes.size();
      nodes.push_back({{"name", node["name"].get<std::string>() + " pivot"},
                       {"translation", {-it.pivot[0], -it.pivot[1], it.pivot[2]}}});
      nodes[item_node[i]]["children"] = {item_inner[i]};
    }
    // Which item the node stands for, on the node whose world is the item's LightWave world.
    nodes[item_inner[i]]["extras"]["lightwave"] = {{"kind", it.kind == 0 ? "object" : it.kind == 1 ? "light" : "camera"},
                                                   {"index", it.index}};
    if (it.kind == 0) {
      object_node_[size_t(it.index)] = item_node[i];
      object_inner_[size_t(it.index)] = item_inner[i];
      if (meshes_[size_t(it.index)] >= 0) nodes[item_inner[i]]["mesh"] = meshes_[size_t(it.index)];
    } else if (it.kind == 1) {
      light_node_[size_t(it.index)] = item_node[i];
      nodes[item_inner[i]]["extensions"]["KHR_lights_punctual"] = {{"light", it.index}};
    } else {
      camera_node_ = item_node[i];
      has_camera_ = true;
      nodes[item_inner[i]]["camera"] = 0;
    }
  }
  // Rest transforms from sample 0, parents, and the scene's roots. A parent chain that loops
  // (damaged files) is cut where it comes back.
  std::vector<int> roots;
  std::vector<int> parent_item(items.size(), -1);
  for (size_t i = 0; i < items.size(); ++i) {
    const int p = parent_of(items[i]);
    if (p >= 0) {
      int hops = 0;
      bool loops = false;
      for (int q = p; q >= 0 && hops <= objects_; q = parent_of(items[size_t(q)]), ++hops)
        if (items[i].kind == 0 && q == items[i].index) loops = true;
      if (!loops && hops <= objects_) parent_item[i] = p;  // object items come first: item p is object p
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    const int p = parent_item[i];
    const LwMatrix* pw = p >= 0 ? &poses_[0].object_world[size_t(p)] : nullptr;
    put_trs(nodes[item_node[i]], item_trs(world_of(items[i], poses_[0]), pw, items[i].pivot));
    if (p >= 0) nodes[item_inner[size_t(p)]]["children"].push_back(item_node[i]);
    else roots.push_back(int(item_node[i]));
  }
  for (json& n : nodes) j_["nodes"].push_back(n);
  j_["scenes"] = {{{"nodes", roots}}};
  if (timed) {
    // glTF has no ambient light and no backdrop; a viewer that wants LightWave's look reads them here.
    const LwBackdrop& b = info.backdrop;
    j_["scenes"][0]["extras"]["lightwave"] = {
        {"ambient_color", {finite(info.ambient_color[0], 1), finite(info.ambient_color[1], 1), finite(info.ambient_color[2], 1)}},
        {"ambient_intensity", finite(info.ambient_intensity, 0.25)},
        {"backdrop_color", {finite(b.color[0], 0), finite(b.color[1], 0), finite(b.color[2], 0)}},
        {"solid_backdrop", b.solid}};
  }
  j_["scene"] = 0;

  if (!timed || times_.size() < 2) return;
  std::vector<float> tv(times_.begin(), times_.end());
  input_accessor_ = floats(tv, 1, "SCALAR", true);
  j_["animations"] = {{{"name", "scene"}, {"samplers", json::array()}, {"channels", json::array()}}};
  std::vector<float> t, r, s;
  for (size_t i = 0; i < items.size(); ++i) {
    t.clear(), r.clear(), s.clear();
    Quat last;
    const int p = parent_item[i];
    for (size_t k = 0; k < poses_.size(); ++k) {
      const LwMatrix* pw = p >= 0 ? &poses_[k].object_world[size_t(p)] : nullptr;
      Trs trs = item_trs(world_of(items[i], poses_[k]), pw, items[i].pivot);
      if (k > 0 && trs.r.x * last.x + trs.r.y * last.y + trs.r.z * last.z + trs.r.w * last.w < 0)
        trs.r.x = -trs.r.x, trs.r.y = -trs.r.y, trs.r.z = -trs.r.z, trs.r.w = -trs.r.w;
      last = trs.r;
      for (int c = 0; c < 3; ++c) t.push_back(finite(trs.t[c], 0)), s.push_back(finite(trs.s[c], 1));
      r.push_back(finite(trs.r.x, 0)), r.push_back(finite(trs.r.y, 0)), r.push_back(finite(trs.r.z, 0)),
          r.push_back(finite(trs.r.w, 1));
    }
    node_channel(item_node[i], "translation", t, "VEC3");
    node_channel(item_node[i], "rotation", r, "VEC4");
    node_channel(item_node[i], "scale", s, "VEC3");
  }
}

void Builder::build_animation() {
  if (!j_.contains("animations")) return;
  const LwSceneInfo& info = scene_.lw;
  std::vector<float> v;
  // Metamorph weights.
  for (int o = 0; o < objects_; ++o) {
    const int mesh = meshes_[size_t(o)];
    if (mesh < 0 || !j_["meshes"][size_t(mesh)].contains("weights")) continue;
    v.clear();
    for (const LwPose& p : poses_) v.push_back(finite(p.morph_amount[size_t(o)], 0));
    node_channel(object_inner_[size_t(o)], "weights", v, "SCALAR");
  }
  if (!options_.pointer) return;
  for (int o = 0; o < objects_; ++o) {
    if (!dissolving_[size_t(o)]) continue;
    for (size_t si = 0; si < materials_[size_t(o)].size(); ++si) {
      const int m = materials_[size_t(o)][si];
      if (m < 0) continue;
      const json& base = j_["materials"][size_t(m)]["pbrMetallicRoughness"]["baseColorFactor"];
      const float alpha = std::clamp(1.0f - scene_.objects[size_t(o)].surfaces[si].lw.transparency, 0.0f, 1.0f);
      v.clear();
      for (const LwPose& p : poses_) {
        for (int c = 0; c < 3; ++c) v.push_back(base[size_t(c)].get<float>());
        v.push_back(finite(alpha * (1.0 - std::clamp(double(p.dissolve[size_t(o)]), 0.0, 1.0)), 1));
      }
      pointer_channel("/materials/" + std::to_string(m) + "/pbrMetallicRoughness/baseColorFactor", v, "VEC4");
    }
  }
  // Texture scrolling: the engine moves the picture one step per drawn frame.
  for (int o = 0; o < objects_; ++o)
    for (size_t si = 0; si < materials_[size_t(o)].size(); ++si) {
      const int m = materials_[size_t(o)][si];
      const Surface& s = scene_.objects[size_t(o)].surfaces[si];
      if (m < 0 || !scrolls(s) || !j_["materials"][size_t(m)]["pbrMetallicRoughness"].contains("baseColorTexture")) continue;
      const double du = ((s.scroll_flags & ScrollFlags::RIGHT) ? 1 : 0) - ((s.scroll_flags & ScrollFlags::LEFT) ? 1 : 0);
      const double dv = ((s.scroll_flags & ScrollFlags::UP) ? 1 : 0) - ((s.scroll_flags & ScrollFlags::DOWN) ? 1 : 0);
      v.clear();
      for (size_t k = 0; k < poses_.size(); ++k) {
        const double steps = (doc_.sample_frames[k] - doc_.sample_frames[0]) * kScrollStep;
        v.push_back(finite(-du * steps, 0)), v.push_back(finite(-dv * steps, 0));
      }
      pointer_channel("/materials/" + std::to_string(m) +
                          "/pbrMetallicRoughness/baseColorTexture/extensions/KHR_texture_transform/offset",
                      v, "VEC2");
    }
  if (has_camera_) {
    v.clear();
    for (const LwPose& p : poses_) v.push_back(float(lw_vertical_fov(p.zoom)));
    pointer_channel("/cameras/0/perspective/yfov", v, "SCALAR");
  }
  for (size_t l = 0; l < info.lights.size() && l < light_node_.size(); ++l) {
    const double range2 = info.lights[l].falloff != LwFalloff::none ? double(info.lights[l].range) * info.lights[l].range : 1.0;
    const double factor = info.lights[l].type == LwLightType::distant ? kPi : kPi * range2;
    v.clear();
    for (const LwPose& p : poses_) v.push_back(finite(std::max(0.0, factor * p.light_intensity[l]), 0));
    pointer_channel("/extensions/KHR_lights_punctual/lights/" + std::to_string(l) + "/intensity", v, "SCALAR");
  }
}

GltfStatus Builder::run(std::string* error) {
  j_ = json::object();
  j_["asset"] = {{"version", "2.0"}, {"generator", "orvl export"}};
  j_["extensionsUsed"] = json::array();
  objects_ = std::max(0, std::min(scene_.object_count, int(scene_.objects.size())));
  if (!sample_pose(error)) return GltfStatus::too_large;
  build_images();
  materials_.assign(size_t(objects_), {});
  meshes_.assign(size_t(objects_), -1);
  for (int o = 0; o < objects_; ++o) {
    if (scene_.objects[size_t(o)].is_morph_target) continue;
    build_materials(o, materials_[size_t(o)]);
    meshes_[size_t(o)] = build_mesh(o, materials_[size_t(o)]);
  }
  const LwSceneInfo& info = scene_.lw;
  const bool timed = options_.animate && !scene_.motions.empty();
  if (timed) {
    const double aspect = double(std::max(1, options_.width)) / std::max(1, options_.height) *
                          (info.camera.pixel_aspect > 0 ? info.camera.pixel_aspect : 1.0);
    j_["cameras"] = {{{"type", "perspective"},
                      {"perspective", {{"yfov", lw_vertical_fov(poses_[0].zoom)}, {"aspectRatio", aspect}, {"znear", near_plane()}}}}};
    json lights = json::array();
    for (size_t l = 0; l < info.lights.size() && l < poses_[0].light_intensity.size(); ++l) {
      const LwLight& li = info.lights[l];
      json light;
      light["color"] = {std::clamp(li.color[0], 0.0f, 1.0f), std::clamp(li.color[1], 0.0f, 1.0f), std::clamp(li.color[2], 0.0f, 1.0f)};
      const double range2 = li.falloff != LwFalloff::none ? double(li.range) * li.range : 1.0;
      const double factor = li.type == LwLightType::distant ? kPi : kPi * range2;
      light["intensity"] = finite(std::max(0.0, factor * poses_[0].light_intensity[l]), 0);
      if (li.type == LwLightType::distant) {
        light["type"] = "directional";
      } else if (li.type == LwLightType::spot) {
        light["type"] = "spot";
        const double outer = std::clamp(double(li.cone_angle), 1e-4, kPi / 2);
        const double inner = std::clamp(double(li.cone_angle - li.edge_angle), 0.0, outer * 0.9999);
        light["spot"] = {{"innerConeAngle", inner}, {"outerConeAngle", outer}};
      } else {
        light["type"] = "point";
      }
      if (li.falloff != LwFalloff::none && li.range > 0) light["extras"]["lightwave_falloff_range"] = li.range;
      if (li.type == LwLightType::linear || li.type == LwLightType::area)
        light["extras"]["lightwave_type"] = li.type == LwLightType::linear ? "linear" : "area";
      light["name"] = "light " + std::to_string(l + 1);
      lights.push_back(light);
    }
    if (!lights.empty()) {
      j_["extensions"]["KHR_lights_punctual"] = {{"lights", lights}};
      add_extension("KHR_lights_punctual");
    }
  }
  build_nodes();
  build_animation();
  if (j_["extensionsUsed"].empty()) j_.erase("extensionsUsed");
  if (replaced_)
    log_format("glTF export: %zu values that were not finite replaced by rest values", replaced_);
  if (too_large_ || doc_.bin.size() > kMaxCount) {
    if (error) *error = "more than 2^32 - 1 elements or bytes in one accessor or buffer";
    return GltfStatus::too_large;
  }
  if (!j_.contains("nodes") || j_["nodes"].empty()) {
    if (error) *error = "the scene holds no objects";
    return GltfStatus::bad_input;
  }
  return GltfStatus::ok;
}

// A file name as a relative URI: everything but unreserved characters percent-encoded.
std::string uri_escape(const std::string& name) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(char(c));
    } else {
      out.push_back('%'), out.push_back(hex[c >> 4]), out.push_back(hex[c & 15]);
    }
  }
  return out;
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Image views (GLB) or image files (glTF), and the one buffer.
void finish_json(GltfDocument& doc, bool binary, const std::string& bin_uri, const std::vector<std::string>& image_uris) {
  json& j = doc.json;
  for (size_t i = 0; j.contains("images") && i < doc.images.size() && i < j["images"].size(); ++i) {
    if (binary) {
      while (doc.bin.size() % 4) doc.bin.push_back(0);
      j["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", doc.bin.size()}, {"byteLength", doc.images[i].size()}});
      doc.bin.insert(doc.bin.end(), doc.images[i].begin(), doc.images[i].end());
      j["images"][i]["bufferView"] = j["bufferViews"].size() - 1;
      j["images"][i]["mimeType"] = "image/png";
    } else {
      j["images"][i]["uri"] = image_uris[i];
    }
  }
  while (doc.bin.size() % 4) doc.bin.push_back(0);
  if (!doc.bin.empty()) {
    json buffer = {{"byteLength", doc.bin.size()}};
    if (!binary) buffer["uri"] = bin_uri;
    j["buffers"] = json::array({buffer});  // {buffer} alone would copy the object under clang
  }
  doc.images.clear();
}

}  // namespace

GltfStatus gltf_build(const Scene& scene, const GltfOptions& options, GltfDocument& out, std::string* error) {
  out = GltfDocument();
  Builder b(scene, options, out);
  return b.run(error);
}

GltfStatus gltf_glb_bytes(GltfDocument& doc, std::vector<uint8_t>& out, std::string* error) {
  finish_json(doc, true, "", {});
  std::string text = json_dump(doc.json, -1);
  while (text.size() % 4) text.push_back(' ');
  const uint64_t total = 12 + 8 + uint64_t(text.size()) + (doc.bin.empty() ? 0 : 8 + uint64_t(doc.bin.size()));
  if (total > 0xffffffffull) {
    if (error) *error = "a .glb holds at most 4 GiB; this scene needs " + std::to_string(total >> 20) + " MiB (write .gltf)";
    return GltfStatus::too_large;
  }
  out.clear();
  out.reserve(size_t(total));
  put_u32(out, 0x46546c67);  // "glTF"
  put_u32(out, 2);
  put_u32(out, uint32_t(total));
  put_u32(out, uint32_t(text.size()));
  put_u32(out, 0x4e4f534a);  // "JSON"
  out.insert(out.end(), text.begin(), text.end());
  if (!doc.bin.empty()) {
    put_u32(out, uint32_t(doc.bin.size()));
    put_u32(out, 0x004e4942);  // "BIN\0"
    out.insert(out.end(), doc.bin.begin(), doc.bin.end());
  }
  return GltfStatus::ok;
}

GltfStatus gltf_write(GltfDocument& doc, const std::string& path, std::string* error) {
  const bool gltf = path.size() >= 5 && (path.compare(path.size() - 5, 5, ".gltf") == 0 || path.compare(path.size() - 5, 5, ".GLTF") == 0);
  if (!gltf) {
    std::vector<uint8_t> bytes;
    const GltfStatus st = gltf_glb_bytes(doc, bytes, error);
    if (st != GltfStatus::ok) return st;
    return write_file_atomic(path, bytes.data(), bytes.size(), error) ? GltfStatus::ok : GltfStatus::write_failed;
  }
  const std::string stem = path.substr(0, path.size() - 5);
  const size_t slash = stem.find_last_of('/');
  const std::string leaf = uri_escape(slash == std::string::npos ? stem : stem.substr(slash + 1));
  // The files beside the .gltf are written first; when a later one fails, the earlier ones
  // go again, so a failed export leaves nothing behind.
  std::vector<std::string> written;
  auto give_up = [&](GltfStatus st) {
    for (const std::string& f : written) std::remove(f.c_str());
    return st;
  };
  std::vector<std::string> uris;
  for (size_t i = 0; i < doc.images.size(); ++i) {
    uris.push_back(leaf + "_img" + std::to_string(i) + ".png");
    const std::string file = stem + "_img" + std::to_string(i) + ".png";
    if (!write_file_atomic(file, doc.images[i].data(), doc.images[i].size(), error)) return give_up(GltfStatus::write_failed);
    written.push_back(file);
  }
  finish_json(doc, false, leaf + ".bin", uris);
  if (doc.bin.size() > 0xffffffffull) {
    if (error) *error = "the binary buffer is over 4 GiB";
    return give_up(GltfStatus::too_large);
  }
  if (!doc.bin.empty()) {
    if (!write_file_atomic(stem + ".bin", doc.bin.data(), doc.bin.size(), error)) return give_up(GltfStatus::write_failed);
    written.push_back(stem + ".bin");
  }
  const std::string text = json_dump(doc.json, 1);
  return write_file_atomic(path, text.data(), text.size(), error) ? GltfStatus::ok : give_up(GltfStatus::write_failed);
}

}  // namespace orvl
