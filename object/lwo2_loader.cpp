// LWO2 objects into the scene's object table: the tables of object/lwo2.h become the same
// vertices, triangles and surfaces an LWOB object has.
#include <array>
#include <climits>
#include <cmath>
#include <new>
#include <unordered_map>

#include "object/lwo2.h"
#include "object/object_loader.h"
#include "object/surface_image.h"
#include "platform/file.h"
#include "platform/log.h"

namespace orvl {
namespace {

constexpr size_t kMaxSurfacesPerObject = 65535;
// Polygons with more corners than this are fanned: clipping ears is quadratic per ear.
constexpr size_t kMaxClippedCorners = 256;

using Point2 = std::array<double, 2>;

double cross(const Point2& a, const Point2& b, const Point2& c) {
  return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

// Triangles of a simple polygon given in order, as index triples into `p`, keeping the
// polygon's winding. Ears are clipped when the polygon is not convex; a polygon with no
// ear to find (self-intersecting, or folded flat) has its remainder fanned. Always n - 2
// triangles.
void triangulate(const std::vector<Point2>& p, std::vector<int>& ring,
                 std::vector<std::array<int, 3>>& out) {
  out.clear();
  const int n = static_cast<int>(p.size());
  if (n < 3) return;
  ring.resize(size_t(n));
  for (int i = 0; i < n; ++i) ring[size_t(i)] = i;
  double area = 0;
  for (int i = 0; i < n; ++i) {
    const Point2& a = p[size_t(i)];
    const Point2& b = p[size_t((i + 1) % n)];
    area += a[0] * b[1] - b[0] * a[1];
  }
  const double orient = area >= 0 ? 1.0 : -1.0;
  if (size_t(n) <= kMaxClippedCorners) {
    while (ring.size() > 3) {
      const size_t m = ring.size();
      bool clipped = false;
      for (size_t i = 0; i < m && !clipped; ++i) {
        const int a = ring[(i + m - 1) % m], b = ring[i], c = ring[(i + 1) % m];
        if (cross(p[size_t(a)], p[size_t(b)], p[size_t(c)]) * orient <= 1e-12) continue;
        bool inside = false;
        for (size_t j = 0; j < m && !inside; ++j) {
          const int q = ring[j];
          if (q == a || q == b || q == c) continue;
          const Point2& x = p[size_t(q)];
          inside = cross(p[size_t(a)], p[size_t(b)], x) * orient > 0 &&
                   cross(p[size_t(b)], p[size_t(c)], x) * orient > 0 &&
                   cross(p[size_t(c)], p[size_t(a)], x) * orient > 0;
        }
        if (inside) continue;
        out.push_back({a, b, c});
        ring.erase(ring.begin() + std::ptrdiff_t(i));
        clipped = true;
      }
      if (!clipped) break;
    }
  }
  for (size_t i = 1; i + 1 < ring.size(); ++i) out.push_back({ring[0], ring[i], ring[i + 1]});
}

// The file name of a clip path written on another machine ("HQ:Images/x.png", "C:\x.png").
std::string base_name(const std::string& path) {
  const size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Texture coordinates of object-space point `v` for a projection around the map's centre
// (the loader draws no wrap counts: once around).
void project(const Lwo2ImageMap& map, const float v[3], float& u, float& w) {
  // The offset from the centre is taken in single precision, as these coordinates always were.
  const double p[3] = {v[0] - map.center[0], v[1] - map.center[1], v[2] - map.center[2]};
  const float origin[3] = {0, 0, 0};
  lw_project_point(LwProjection(uint8_t(map.projection)), map.axis, origin, map.size, 1.0, 1.0, p, u, w);
}

class Lwo2Loader {
 public:
  Lwo2Loader(ObjectTable& table, ObjectLoadContext& context, const ObjectLoadOptions& options)
      : scene_(table), context_(context), options_(options), obj_(table.objects[size_t(table.object_count)]) {}

  LoadStatus run(const std::vector<uint8_t>& data);

 private:
  bool layer_selected(uint16_t layer_index) const {
    return options_.layer <= 0 || int(src_.layers[layer_index].number) + 1 == options_.layer;
  }
  LoadStatus make_surfaces();
  LoadStatus load_image(Surface& surface, const Lwo2ImageMap& map);
  void make_triangles();
  void finish();
  void fill_lightwave_record(Surface& surface, const Lwo2Surface* src);
  void finish_lightwave();

  ObjectTable& scene_;
  ObjectLoadContext& context_;
  const ObjectLoadOptions& options_;
  SceneObject& obj_;
  Lwo2Object src_;
  std::vector<int32_t> remap_;        // source point -> object vertex, -1 when not loaded
  std::vector<int32_t> tag_surface_;  // tag index (+1; 0 untagged) -> object surface
  std::vector<const Lwo2Surface*> surface_src_;  // object surface -> its SURF (or null)
  std::vector<uint32_t> triangle_polygon_;  // per triangle, its polygon among those kept
  std::vector<float> polygon_normals_;      // per kept polygon, its unit (or zero) normal
};

LoadStatus Lwo2Loader::run(const std::vector<uint8_t>& data) {
  const Lwo2Status st = lwo2_read(data.data(), data.size(), src_);
  if (st != Lwo2Status::ok) {
    log_line(std::string("LWO2 object: ") + lwo2_status_text(st));
    return st == Lwo2Status::too_large ? LoadStatus::out_of_memory : LoadStatus::bad_format;
  }

  // Points of the chosen layers, renumbered from 0.
  remap_.assign(src_.point_count(), -1);
  int32_t vertices = 0;
  for (size_t l = 0; l < src_.layers.size(); ++l) {
    if (!layer_selected(uint16_t(l))) continue;
    const Lwo2Layer& layer = src_.layers[l];
    for (uint32_t i = 0; i < layer.point_count; ++i) remap_[layer.first_point + i] = vertices++;
  }
  if (options_.layer > 0 && vertices == 0) {
    log_format("LWO2 object has no layer %d", options_.layer);
    return LoadStatus::bad_format;
  }

  // Triangles: every kept polygon of three or more corners gives n - 2.
  int64_t triangles = 0;
  for (const Lwo2Polygon& p : src_.polygons)
    if (layer_selected(p.layer) && p.corner_count >= 3) triangles += p.corner_count - 2;
  if (triangles + scene_.polygon_total > INT_MAX) {
    log_line("Too many triangles for one scene");
    return LoadStatus::out_of_memory;
  }

  if (LoadStatus s = make_surfaces(); s != LoadStatus::ok) return s;

  obj_.vertex_count = vertices;
  obj_.polygon_count = int(triangles);
  obj_.surface_count = int(obj_.surfaces.size());
  obj_.no_dissolve = obj_.particles = obj_.plots = 0;
  obj_.deform = obj_.metaform = obj_.static_image = 0;
  obj_.needs_normals = 1;  // LightWave 6 surfaces are always lit
  obj_.vertices.assign(size_t(vertices), Vertex{});
  for (size_t i = 0; i < remap_.size(); ++i) {
    if (remap_[i] < 0) continue;
    Vertex& v = obj_.vertices[size_t(remap_[i])];
    v.x = src_.points[3 * i];
    v.y = src_.points[3 * i + 1];
    v.z = src_.points[3 * i + 2];
  }
  obj_.transformed.assign(size_t(vertices), Vertex{});
  obj_.transformed_parent.assign(size_t(vertices), Vertex{});
  obj_.polygons.assign(size_t(triangles), Triangle{});
  make_triangles();
  finish();
  finish_lightwave();
  scene_.polygon_total += obj_.polygon_count;
  ++scene_.object_count;
  return LoadStatus::ok;
}

LoadStatus Lwo2Loader::make_surfaces() {
  tag_surface_.assign(src_.tags.size() + 1, -1);
  std::vector<int> used;
  for (const Lwo2Polygon& p : src_.polygons) {
    if (!layer_selected(p.layer) || p.corner_count < 3) continue;
    int32_t& slot = tag_surface_[size_t(p.tag + 1)];
    if (slot != -1) continue;
    slot = static_cast<int32_t>(used.size());
    used.push_back(p.tag);
  }
  if (used.size() > kMaxSurfacesPerObject) {
    log_format("Too many surfaces: an object holds at most %zu", kMaxSurfacesPerObject);
    return LoadStatus::out_of_memory;
  }
  obj_.surfaces.assign(used.size(), Surface{});
  surface_src_.assign(used.size(), nullptr);
  for (size_t i = 0; i < used.size(); ++i) {
    Surface& s = obj_.surfaces[i];
    const std::string name = used[i] >= 0 ? src_.tags[size_t(used[i])] : std::string("Default");
    if (name.size() > kMaxSurfaceNameLength) {
      log_format("Surface name longer than %zu characters: %.40s...", kMaxSurfaceNameLength, name.c_str());
      return LoadStatus::out_of_memory;
    }
    s.name = name;
    const Lwo2Surface* src = src_.surface_named(name);
    surface_src_[i] = src;
    Lwo2Surface defaults;
    const Lwo2Surface& d = src ? *src : defaults;
    // Diffuse and luminous light together set how bright the base colour shows.
    const float level = std::fmin(1.0f, std::fmax(0.0f, d.diffuse + d.luminosity));
    for (int k = 0; k < 3; ++k) {
      const float c = std::fmin(1.0f, std::fmax(0.0f, d.color[k])) * level;
      s.color[k] = static_cast<uint8_t>(std::lround(c * 255.0f));
    }
    // LightWave 5 flag bits: smoothing 0x4, sharp terminator (flat lighting) 0x80,
    // double-sided 0x100.
    s.lw_flags = (d.smoothing_angle > 0 ? 0x4u : 0x80u) | (d.sidedness == 3 ? 0x100u : 0u);
    s.opacity = std::fmin(1.0f, std::fmax(0.0f, 1.0f - d.transparency));
    s.alpha = static_cast<int>(std::lround(s.opacity * 255.0f));
    s.axis = d.image.axis;
    // Before the image loads: the decode notes its sizes in the record.
    s.lw = src ? src->lw : LwSurfaceParams();
    if (d.image.present)
      if (LoadStatus st = load_image(s, d.image); st != LoadStatus::ok) return st;
    fill_lightwave_record(s, src);
  }
  return LoadStatus::ok;
}

void Lwo2Loader::fill_lightwave_record(Surface& surface, const Lwo2Surface* src) {
  if (!src) return;
  LwSurfaceParams& lw = surface.lw;
  auto still = [&](uint32_t index) {
    const Lwo2Clip* clip = index ? src_.clip_with_index(index) : nullptr;
    return clip ? clip->still : std::string();
  };
  lw.reflection_image = still(src->reflection_clip);
  for (size_t i = 0; i < lw.layers.size() && i < src->layer_clips.size(); ++i)
    lw.layers[i].image_path = still(src->layer_clips[i]);
  if (src->image_layer < 0 || size_t(src->image_layer) >= lw.layers.size() || surface.texture == -1) return;
  LwTextureLayer& l = lw.layers[size_t(src->image_layer)];
  const LwDecodedImage& d = lw.decoded[0];
  l.image = surface.texture;
  l.image_width = d.width;
  l.image_height = d.height;
  l.texture_side = d.side;
  l.coverage[0] = d.coverage[0];
  l.coverage[1] = d.coverage[1];
}

void Lwo2Loader::finish_lightwave() {
  unsigned clamped = 0;
  for (Surface& s : obj_.surfaces) clamped |= lw_sanitize_surface(s.lw);
  if (clamped)
    log_line("Object " + (options_.object_path.empty() ? std::string("(in memory)") : options_.object_path) +
             ": surface values clamped to their ranges: " + lw_clamped_text(clamped));
  const size_t count = obj_.polygons.size();
  std::vector<int32_t> corners(count * 3);
  std::vector<uint32_t> surface(count);
  const Surface* first = obj_.surfaces.data();
  for (size_t t = 0; t < count; ++t) {
    for (int c = 0; c < 3; ++c) corners[3 * t + size_t(c)] = obj_.polygons[t].corners[c];
    surface[t] = obj_.polygons[t].surface ? uint32_t(obj_.polygons[t].surface - first) : 0;
  }
  std::vector<float> cosines(obj_.surfaces.size() + 1, 2.0f);
  for (size_t i = 0; i < obj_.surfaces.size(); ++i)
    cosines[i] = lw_smoothing_cosine(obj_.surfaces[i].lw.smoothing_angle);
  triangle_polygon_.resize(count, 0);  // only short when make_triangles stopped early
  if (polygon_normals_.empty()) polygon_normals_.assign(3, 0.0f);
  lw_corner_normals(corners.data(), count, obj_.vertices.size(), triangle_polygon_.data(),
                    polygon_normals_.data(), surface.data(), cosines.data(), obj_.corner_normals);
}

LoadStatus Lwo2Loader::load_image(Surface& surface, const Lwo2ImageMap& map) {
  const Lwo2Clip* clip = src_.clip_with_index(map.clip);
  if (!clip || clip->still.empty()) return LoadStatus::ok;  // an image sequence or none
  const std::string& written = clip->still;
  const std::string name = base_name(written);
  std::string file;
  const std::string candidates[] = {
      written,
      name.empty() ? std::string() : path_join(path_directory(options_.object_path), name),
      name.empty() ? std::string() : path_join(scene_.lightwave_root, name),
  };
  for (const std::string& c : candidates)
    if (!c.empty() && data_file_exists(c)) {
      file = c;
      break;
    }
  if (file.empty()) {
    if (options_.images_required) {
      context_.image_missing = true;
      context_.error_path = written;
      scene_.loaded = 0;
      return LoadStatus::not_found;
    }
    if (options_.missing_images) options_.missing_images->push_back(written);
    return LoadStatus::ok;
  }
  if (file != written) log_line("Image " + written + " found as " + file);
  if (scene_.image_names.size() <= size_t(scene_.image_count))
    scene_.image_names.resize(size_t(scene_.image_count) + 1);
  scene_.image_names[size_t(scene_.image_count)] = written;
  // Images are shared by the name the object gives them.
  const std::string& key = written.size() <= kMaxImagePathLength ? written : name;
  switch (attach_surface_image(scene_, surface, key, file, 0)) {
    case SurfaceImageStatus::ok: return LoadStatus::ok;
    case SurfaceImageStatus::missing: return LoadStatus::not_found;
    case SurfaceImageStatus::over_capacity: return LoadStatus::out_of_memory;
  }
  return LoadStatus::ok;
}

void Lwo2Loader::make_triangles() {
  // Corner UVs of UV-mapped surfaces: per-polygon (VMAD) entries win over per-point ones.
  struct UvSource {
    std::vector<float> point_uv;  // u, v per source point
    std::vector<uint8_t> has;
    std::unordered_map<uint64_t, std::array<float, 2>> corner;
  };
  std::vector<UvSource> uv_sources(obj_.surfaces.size());
  for (size_t i = 0; i < obj_.surfaces.size(); ++i) {
    const Lwo2Surface* s = surface_src_[i];
    if (!s || !s->image.present || s->image.projection != Lwo2Projection::uv) continue;
    const Lwo2UvMap* m = src_.uv_map_named(s->image.uv_map);
    if (!m && !src_.uv_maps.empty() && s->image.uv_map.empty()) m = &src_.uv_maps.front();
    if (!m) continue;
    UvSource& u = uv_sources[i];
    u.point_uv.assign(size_t(src_.point_count()) * 2, 0.0f);
    u.has.assign(src_.point_count(), 0);
    for (size_t k = 0; k < m->points.size(); ++k) {
      u.point_uv[2 * m->points[k]] = m->uvs[2 * k];
      u.point_uv[2 * m->points[k] + 1] = m->uvs[2 * k + 1];
      u.has[m->points[k]] = 1;
    }
    for (size_t k = 0; k < m->corner_points.size(); ++k)
      u.corner[uint64_t(m->corner_polygons[k]) << 32 | m->corner_points[k]] = {m->corner_uvs[2 * k],
                                                                              m->corner_uvs[2 * k + 1]};
  }

  std::vector<Point2> flat;
  std::vector<int> ring;
  std::vector<std::array<int, 3>> tris;
  size_t t = 0;
  for (size_t pi = 0; pi < src_.polygons.size(); ++pi) {
    const Lwo2Polygon& p = src_.polygons[pi];
    if (!layer_selected(p.layer) || p.corner_count < 3) continue;
    const uint32_t* corners = src_.corners.data() + p.first_corner;
    // Project onto the plane the polygon faces most (Newell's normal).
    double n[3] = {0, 0, 0};
    for (uint16_t i = 0; i < p.corner_count; ++i) {
      const float* a = &src_.points[3 * size_t(corners[i])];
      const float* b = &src_.points[3 * size_t(corners[(i + 1) % p.corner_count])];
      n[0] += (double(a[1]) - b[1]) * (double(a[2]) + b[2]);
      n[1] += (double(a[2]) - b[2]) * (double(a[0]) + b[0]);
      n[2] += (double(a[0]) - b[0]) * (double(a[1]) + b[1]);
    }
    int drop = 2;
    if (std::fabs(n[0]) >= std::fabs(n[1]) && std::fabs(n[0]) >= std::fabs(n[2])) drop = 0;
    else if (std::fabs(n[1]) >= std::fabs(n[2])) drop = 1;
    const int ax = drop == 0 ? 1 : 0, ay = drop == 2 ? 1 : 2;
    flat.resize(p.corner_count);
    for (uint16_t i = 0; i < p.corner_count; ++i) {
      const float* v = &src_.points[3 * size_t(corners[i])];
      flat[i] = {v[ax], v[ay]};
    }
    triangulate(flat, ring, tris);
    const double n_len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const auto polygon = uint32_t(polygon_normals_.size() / 3);
    for (double k : n) polygon_normals_.push_back(n_len > 0 && std::isfinite(n_len) ? float(k / n_len) : 0.0f);

    const int32_t si = tag_surface_[size_t(p.tag + 1)];
    Surface* surface = &obj_.surfaces[size_t(si)];
    const Lwo2Surface* ssrc = surface_src_[size_t(si)];
    const UvSource& uvs = uv_sources[size_t(si)];
    for (const auto& tri : tris) {
      if (t >= obj_.polygons.size()) return;
      Triangle& out = obj_.polygons[t++];
      triangle_polygon_.push_back(polygon);
      out.surface = surface;
      out.dissolve_ref = surface->opacity < 1.0f ? &surface->alpha : nullptr;
      for (int c = 0; c < 3; ++c) {
        const uint32_t src_point = corners[tri[size_t(c)]];
        out.corners[c] = remap_[src_point];
        if (!ssrc || !ssrc->image.present || surface->texture == -1) continue;
        float u = 0, w = 0;
        if (ssrc->image.projection == Lwo2Projection::uv) {
          const auto it = uvs.corner.find(uint64_t(pi) << 32 | src_point);
          if (it != uvs.corner.end()) {
            u = it->second[0];
            w = 1.0f - it->second[1];
          } else if (src_point < uvs.has.size() && uvs.has[src_point]) {
            u = uvs.point_uv[2 * size_t(src_point)];
            w = 1.0f - uvs.point_uv[2 * size_t(src_point) + 1];
          }
        } else {
          project(ssrc->image, &src_.points[3 * size_t(src_point)], u, w);
        }
        out.uv[2 * c] = u;
        out.uv[2 * c + 1] = w;
      }
    }
  }
}

void Lwo2Loader::finish() {
  // Triangle colours, flags and texture names from their surfaces.
  for (Triangle& t : obj_.polygons) {
    if (!t.surface) continue;
    const Surface& s = *t.surface;
    for (int k = 0; k < 3; ++k) t.color[k] = s.color[k];
    t.flags = surface_triangle_flags(s);
    t.texture = s.texture == -1 ? int16_t(-1) : int16_t(scene_.texture_base + s.texture - 1);
    t.reflection_texture = -1;
  }
  // Face normals, and vertex normals as the mean of the faces around each point.
  std::vector<double> sum(obj_.vertices.size() * 3, 0.0);
  for (Triangle& t : obj_.polygons) {
    double n[3];
    face_normal(obj_.vertices[size_t(t.corners[0])], obj_.vertices[size_t(t.corners[1])],
                obj_.vertices[size_t(t.corners[2])], n);
    for (int k = 0; k < 3; ++k) t.normal[k] = float(n[k]);
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k) sum[3 * size_t(t.corners[c]) + k] += n[k];
  }
  for (size_t i = 0; i < obj_.vertices.size(); ++i) {
    const double* v = &sum[3 * i];
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len > 0 && std::isfinite(len)) {
      obj_.vertices[i].nx = float(v[0] / len);
      obj_.vertices[i].ny = float(v[1] / len);
      obj_.vertices[i].nz = float(v[2] / len);
    }
  }
}

}  // namespace

LoadStatus load_lwo2_object_data(ObjectTable& scene, ObjectLoadContext& context,
                                 const std::vector<uint8_t>& data, const ObjectLoadOptions& options) {
  if (scene.objects.size() < size_t(kMaxObjects)) scene.objects.resize(size_t(kMaxObjects));
  if (scene.object_count < 0 || scene.object_count >= kMaxObjects) {
    log_format("Too many objects: a scene holds at most %d", kMaxObjects);
    return LoadStatus::out_of_memory;
  }
  Lwo2Loader loader(scene, context, options);
  try {
    return loader.run(data);
  } catch (const std::bad_alloc&) {
    SceneObject& o = scene.objects[size_t(scene.object_count)];
    o.polygons = {};
    o.surfaces = {};
    o.vertices = {};
    o.transformed = {};
    o.transformed_parent = {};
    o.corner_normals = {};
    return LoadStatus::out_of_memory;
  }
}

}  // namespace orvl
