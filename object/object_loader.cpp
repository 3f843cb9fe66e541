#include "object/object_loader.h"

#include <climits>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <new>

#include "image/iff.h"
#include "object/lwo2.h"
#include "object/surface_image.h"
#include "platform/file.h"
#include "platform/log.h"

namespace orvl {
namespace {

constexpr size_t kMaxSurfacesPerObject = 65535;

bool contains(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

// Keyword tests that ignore case: bytes 0x61..0x7F are lowered by 0x20, so letters compare
// in capitals (and the few signs above 'z' move with them, which no keyword uses).
std::string upper_name(const std::string& name) {
  std::string u = name;
  for (char& c : u) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x61 && b <= 0x7F) c = static_cast<char>(b - 0x20);
  }
  return u;
}

bool is_texture_header(const IffChunk& c) {
  return c.is("BTEX") || c.is("CTEX") || c.is("DTEX") || c.is("RTEX") || c.is("STEX") ||
         c.is("TTEX");
}

// Where the chunks the loader uses sit in the file.
struct ChunkMap {
  IffChunk pnts, srfs, pols;
  bool has_pnts = false, has_srfs = false, has_pols = false;
  std::vector<IffChunk> surf;
};

// One polygon of "POLS": corner count, where its point numbers start, surface number.
struct PolygonRecord {
  uint16_t n = 0;
  size_t points = 0;  // offset of the first point number within the chunk
  uint16_t surface = 0;
};

enum class PolygonStep { polygon, end, cut_off };

PolygonStep next_polygon(ByteReader& r, PolygonRecord& p) {
  if (r.at_end()) return PolygonStep::end;
  if (!r.u16be(p.n)) return PolygonStep::cut_off;
  p.points = r.pos();
  if (!r.skip(size_t(p.n) * 2) || !r.u16be(p.surface)) return PolygonStep::cut_off;
  // A negative surface number marks a polygon with detail polygons: the detail count
  // follows, then the detail polygons as complete polygons of their own.
  if (p.surface & 0x8000) {
    uint16_t details;
    if (!r.u16be(details)) return PolygonStep::cut_off;
  }
  return PolygonStep::polygon;
}

enum class PolygonCheck { ok, bad_point, bad_surface };

// Polygons the object cannot draw are skipped in both walks alike: one that names a point
// that does not exist, and one whose surface number names no surface (0, negative, or
// above the count). Skipping keeps the rest of a damaged object visible.
PolygonCheck check_polygon(const IffChunk& pols, const PolygonRecord& p, int vertex_count,
                           int surface_count) {
  if (p.surface == 0 || (p.surface & 0x8000) || p.surface > surface_count)
    return PolygonCheck::bad_surface;
  const uint8_t* q = pols.data + p.points;
  for (uint16_t i = 0; i < p.n; ++i, q += 2)
    if (((q[0] << 8) | q[1]) >= vertex_count) return PolygonCheck::bad_point;
  return PolygonCheck::ok;
}

class Loader {
 public:
  Loader(ObjectTable& table, ObjectLoadContext& context, const ObjectLoadOptions& options)
      : table_(table),
        context_(context),
        options_(options),
        obj_(table.objects[size_t(table.object_count)]) {}

  LoadStatus run();
  void release_arrays();

 private:
  LoadStatus map_chunks(ChunkMap& map);
  LoadStatus count(const ChunkMap& map);
  LoadStatus read_names(const IffChunk& srfs);
  void read_points(const IffChunk& pnts);
  void read_polygons(const IffChunk& pols);
  LoadStatus read_surface(const IffChunk& surf);
  LoadStatus load_image(Surface& surface, const std::string& file_path, int slot,
                        bool* attached = nullptr);
  void finish_surfaces();
  void compute_normals();
  void set_up_static_image();
  void finish_lightwave_surfaces();
  void compute_corner_normals();

  ObjectTable& table_;
  ObjectLoadContext& context_;
  const ObjectLoadOptions& options_;
  SceneObject& obj_;
  // Per triangle the polygon it came from, and per polygon its normal (for the corner
  // normals, which smooth polygons, not triangles).
  std::vector<uint32_t> triangle_polygon_;
  std::vector<float> polygon_normals_;
};

LoadStatus Loader::map_chunks(ChunkMap& map) {
  const std::vector<uint8_t>& data = table_.object_data;
  ChunkWalker walker(data.data(), data.size(), 12, ChunkSize::u32, true);
  IffChunk c;
  while (walker.next(c)) {
    // LightWave writes one each of these; a second one is ignored rather than letting it
    // overrun arrays sized by the first.
    if (c.is("PNTS") && !map.has_pnts) {
      map.pnts = c;
      map.has_pnts = true;
    } else if (c.is("SRFS") && !map.has_srfs) {
      map.srfs = c;
      map.has_srfs = true;
    } else if (c.is("POLS") && !map.has_pols) {
      map.pols = c;
      map.has_pols = true;
    } else if (c.is("SURF")) {
      map.surf.push_back(c);
    }
  }
  if (walker.truncated()) {
    log_format("Object chunk %s at byte %zu runs past the end of the file", c.id,
               c.offset - 8);
    return LoadStatus::bad_format;
  }
  return LoadStatus::ok;
}

LoadStatus Loader::count(const ChunkMap& map) {
  if (map.has_srfs) {
    ByteReader r = map.srfs.reader();
    std::string name;
    size_t names = 0;
    while (!r.at_end()) {
      r.cstring(name, true, 0);
      ++names;
    }
    if (names > kMaxSurfacesPerObject) {
      log_format("Too many surfaces: an object holds at most %zu", kMaxSurfacesPerObject);
      return LoadStatus::out_of_memory;
    }
    obj_.surface_count = int(names);
  }
  if (map.has_pnts) obj_.vertex_count = int(map.pnts.size / 12);
  if (map.has_pols) {
    ByteReader r = map.pols.reader();
    PolygonRecord p;
    int64_t triangles = 0;
    int bad_points = 0, bad_surfaces = 0;
    PolygonStep step;
    while ((step = next_polygon(r, p)) == PolygonStep::polygon) {
      if (p.n < 3) continue;
      switch (check_polygon(map.pols, p, obj_.vertex_count, obj_.surface_count)) {
        case PolygonCheck::ok: triangles += p.n - 2; break;
        case PolygonCheck::bad_point: ++bad_points; break;
        case PolygonCheck::bad_surface: ++bad_surfaces; break;
      }
    }
    if (step == PolygonStep::cut_off) {
      log_line("Object polygon list ends inside a polygon");
      return LoadStatus::bad_format;
    }
    if (bad_points)
      log_format("Skipped %d polygons naming points beyond the %d points", bad_points,
                 obj_.vertex_count);
    if (bad_surfaces)
      log_format("Skipped %d polygons with surface numbers outside 1..%d", bad_surfaces,
                 obj_.surface_count);
    if (triangles + table_.polygon_total > INT_MAX) {
      log_line("Too many triangles for one scene");
      return LoadStatus::out_of_memory;
    }
    obj_.polygon_count = int(triangles);
  }
  table_.polygon_total += obj_.polygon_count;
  return LoadStatus::ok;
}

LoadStatus Loader::read_names(const IffChunk& srfs) {
  ByteReader r = srfs.reader();
  for (Surface& s : obj_.surfaces) {
    size_t length = r.cstring(s.name, true);
    // Checked where the name is stored: a surface name holds 127 characters.
    if (length > kMaxSurfaceNameLength) {
      log_format("Surface name longer than %zu characters: %.40s...", kMaxSurfaceNameLength,
                 s.name.c_str());
      return LoadStatus::out_of_memory;
    }
    size_t w = s.name.find("__WIREFRAME");
    // The width is the character after the keyword; at the end of the name there is none.
    if (w != std::string::npos && w + 11 < s.name.size())
      s.line_width = static_cast<unsigned char>(s.name[w + 11]) - 48;
    if (contains(s.name, "__DEFORM1__")) obj_.deform = 1;
    if (contains(s.name, "__METAFORM__")) obj_.metaform = 1;
    if (contains(s.name, "__STATIC_IMAGE__")) obj_.static_image = 1;
  }
  return LoadStatus::ok;
}

void Loader::read_points(const IffChunk& pnts) {
  ByteReader r = pnts.reader();
  for (Vertex& v : obj_.vertices) {
    // The point count was taken from this chunk's size, so these reads all fit.
    (void)(r.f32be(v.x) && r.f32be(v.y) && r.f32be(v.z));
  }
}

void Loader::read_polygons(const IffChunk& pols) {
  ByteReader r = pols.reader();
  PolygonRecord p;
  size_t t = 0;
  while (next_polygon(r, p) == PolygonStep::polygon) {
    if (p.n < 3) continue;
    if (check_polygon(pols, p, obj_.vertex_count, obj_.surface_count) != PolygonCheck::ok)
      continue;
    Surface* surface = &obj_.surfaces[size_t(p.surface) - 1];
    const uint8_t* q = pols.data + p.points;
    auto point = [q](int i) { return int32_t((q[2 * i] << 8) | q[2 * i + 1]); };
    const int32_t p0 = point(0);
    // Newell's normal of the whole polygon, oriented as the triangles' face normals.
    double n[3] = {0, 0, 0};
    for (int i = 0; i < p.n; ++i) {
      const Vertex& a = obj_.vertices[size_t(point(i))];
      const Vertex& b = obj_.vertices[size_t(point((i + 1) % p.n))];
      n[0] += (double(a.y) - b.y) * (double(a.z) + b.z);
      n[1] += (double(a.z) - b.z) * (double(a.x) + b.x);
      n[2] += (double(a.x) - b.x) * (double(a.y) + b.y);
    }
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const auto polygon = uint32_t(polygon_normals_.size() / 3);
    for (double k : n) polygon_normals_.push_back(len > 0 && std::isfinite(len) ? float(k / len) : 0.0f);
    for (int i = 1; i + 1 < p.n; ++i) {
      triangle_polygon_.push_back(polygon);
      Triangle& tri = obj_.polygons[t++];
      tri.corners[0] = p0;
      tri.corners[1] = point(i);
      tri.corners[2] = point(i + 1);
      tri.surface = surface;
      tri.dissolve_ref = nullptr;
    }
  }
}

LoadStatus Loader::load_image(Surface& surface, const std::string& file_path, int slot,
                              bool* attached) {
  // The scene keeps the path as written for every image it loads.
  if (table_.image_count >= kMaxImageNames) {
    log_format("Too many images: a scene holds at most %d image names", kMaxImageNames);
    return LoadStatus::out_of_memory;
  }
  if (file_path.size() > kMaxPathLength) {
    log_format("Image path longer than %zu characters: %.40s...", kMaxPathLength,
               file_path.c_str());
    return LoadStatus::out_of_memory;
  }
  if (table_.image_names.size() <= size_t(table_.image_count))
    table_.image_names.resize(size_t(table_.image_count) + 1);
  table_.image_names[size_t(table_.image_count)] = file_path;

  std::string path = file_path;
  const int loaded_before = table_.loaded;
  switch (load_surface_image(table_, context_, surface, path, slot)) {
    case SurfaceImageStatus::ok: break;
    case SurfaceImageStatus::over_capacity: return LoadStatus::out_of_memory;
    case SurfaceImageStatus::missing:
      if (options_.images_required) return LoadStatus::not_found;
      if (options_.missing_images) options_.missing_images->push_back(path);
      table_.loaded = loaded_before;
      return LoadStatus::ok;
  }
  if (attached) *attached = true;
  if (slot == 0 && contains(surface.name, "__PARTICLES_") && surface.texture != -1)
    surface.texture = static_cast<int16_t>(surface.texture - (kParticleTints - 1));
  if (obj_.static_image != 0) obj_.static_image = surface.texture;
  return LoadStatus::ok;
}

LoadStatus Loader::read_surface(const IffChunk& surf) {
  ByteReader r = surf.reader();
  std::string name;
  r.cstring(name, true);
  Surface* surface = nullptr;
  for (Surface& s : obj_.surfaces) {
    if (s.name == name) {
      surface = &s;
      break;
    }
  }
  if (!surface) {
    // Nothing to attach the attributes to; the rest of the object is still usable.
    log_line("Surface chunk " + name + " matches no surface name; skipped");
    return LoadStatus::ok;
  }
  surface->scroll_flags = 0;
  surface->scroll_u = surface->scroll_v = 0;
  surface->texture = surface->reflection_texture = -1;

  // The LightWave record reads the whole chunk; the engine's pass below stops early (see
  // the reflection block) and keeps its own fields.
  const size_t body = r.pos();
  surface->lw = LwSurfaceParams();
  std::vector<size_t> timg_offsets;
  (void)lw_read_lwob_surface(surf.data + body, surf.size - body, surface->lw, &timg_offsets);
  size_t colour_timg = SIZE_MAX, reflection_timg = SIZE_MAX;
  auto attach_layer_images = [&] {
    for (size_t i = 0; i < surface->lw.layers.size(); ++i) {
      LwTextureLayer& l = surface->lw.layers[i];
      const size_t at = timg_offsets[i] == SIZE_MAX ? SIZE_MAX : body + timg_offsets[i];
      if (at == SIZE_MAX || (at != colour_timg && at != reflection_timg)) continue;
      const bool colour = at == colour_timg;
      const int16_t number = colour ? surface->texture : surface->reflection_texture;
      if (number == -1) continue;
      const LwDecodedImage& d = surface->lw.decoded[colour ? 0 : 1];
      l.image = number;
      l.image_width = d.width;
      l.image_height = d.height;
      l.texture_side = d.side;
      l.coverage[0] = d.coverage[0];
      l.coverage[1] = d.coverage[1];
    }
  };

  ChunkWalker walker(surf.data, surf.size, r.pos(), ChunkSize::u16, false);
  IffChunk c;
  bool reflection_block = false;
  while (walker.next(c)) {
    ByteReader d = c.reader();
    if (reflection_block) {
      // The block runs to the next texture header, which ends the whole surface chunk.
      if (is_texture_header(c)) {
        attach_layer_images();
        return LoadStatus::ok;
      }
      if (!c.is("TIMG")) continue;
      std::string path;
      d.cstring(path, false);
      if (contains(surface->name, "__2DEFFECT_PLASMA__")) {
        // A plasma surface names its source picture here; the effect loads it itself.
        if (path.size() > kMaxImagePathLength) {
          log_format("Image path longer than %zu characters: %.40s...", kMaxImagePathLength,
                     path.c_str());
          return LoadStatus::out_of_memory;
        }
        surface->reflection_path = path;
        continue;
      }
      bool attached = false;
      LoadStatus st = load_image(*surface, path, 1, &attached);
      if (st != LoadStatus::ok) return st;
      if (attached) reflection_timg = c.offset;
      continue;
    }
    uint8_t b0, b1, b2;
    uint16_t word;
    if (c.is("COLR")) {
      if (d.u8(b0) && d.u8(b1) && d.u8(b2)) {
        surface->color[0] = b0;
        surface->color[1] = b1;
        surface->color[2] = b2;
      }
    } else if (c.is("FLAG")) {
      if (d.u16be(word)) surface->lw_flags = word;
    } else if (c.is("TFLG")) {
      if (d.u16be(word)) surface->axis = (word & 0x1) ? 0 : (word & 0x2) ? 1 : 2;
    } else if (c.is("TIMG")) {
      std::string path;
      d.cstring(path, false);
      bool attached = false;
      LoadStatus st = load_image(*surface, path, 0, &attached);
      if (st != LoadStatus::ok) return st;
      if (attached) colour_timg = c.offset;
    } else if (c.is("RTEX")) {
      reflection_block = true;
    }
  }
  if (walker.truncated()) {
    log_format("Surface %s: sub-chunk %s runs past the end of its chunk", name.c_str(), c.id);
    return LoadStatus::bad_format;
  }
  attach_layer_images();
  return LoadStatus::ok;
}

void Loader::finish_surfaces() {
  using namespace TriangleFlags;
  const size_t count = obj_.surfaces.size();
  std::vector<uint32_t> flags(count, 0);
  for (size_t i = 0; i < count; ++i) {
    const Surface& s = obj_.surfaces[i];
    const std::string upper = upper_name(s.name);
    if (contains(upper, "__ZYNAPS__")) obj_.no_dissolve = 1;
    if (contains(upper, "_PLOTS_")) obj_.plots = 1;
    // The emitter record that goes with this flag is set up by the particle system.
    if (contains(upper, "__PARTICLES_")) obj_.particles = 1;
    flags[i] = surface_triangle_flags(s);
    if (options_.light_unlit_surfaces && !(flags[i] & (FLAT_LIT | SMOOTH_LIT | TEXTURED | EFFECT_TEXTURE)) &&
        !(s.lw_flags & 0x1))
      flags[i] |= FLAT_LIT;
    if (flags[i] & (FLAT_LIT | SMOOTH_LIT | REFLECTION)) obj_.needs_normals = 1;
  }
  const Surface* first = obj_.surfaces.data();
  for (Triangle& t : obj_.polygons) {
    const Surface& s = *t.surface;
    t.color[0] = s.color[0];
    t.color[1] = s.color[1];
    t.color[2] = s.color[2];
    t.flags = flags[size_t(t.surface - first)];
    t.texture = s.texture == -1 ? int16_t(-1) : int16_t(table_.texture_base + s.texture - 1);
    t.reflection_texture = s.reflection_texture == -1
                               ? int16_t(-1)
                               : int16_t(table_.texture_base + s.reflection_texture - 1);
  }
  for (Surface& s : obj_.surfaces)
    if (s.texture != -1) map_surface_texture(obj_, s);
}

void Loader::compute_normals() {
  std::vector<NormalAccumulator>& acc = table_.normal_work;
  for (Vertex& v : obj_.vertices) v.nx = v.ny = v.nz = 0;
  for (Triangle& t : obj_.polygons) {
    double n[3];
    // A triangle of zero area adds nothing to its corners' sums.
    face_normal(obj_.vertices[size_t(t.corners[0])], obj_.vertices[size_t(t.corners[1])],
                obj_.vertices[size_t(t.corners[2])], n);
    for (int k = 0; k < 3; ++k) t.normal[k] = float(n[k]);
    for (int corner = 0; corner < 3; ++corner) {
      NormalAccumulator& s = acc[size_t(t.corners[corner])];
      for (int k = 0; k < 3; ++k) s.sum[k] += t.normal[k];
      ++s.count;
    }
  }
  for (size_t i = 0; i < obj_.vertices.size(); ++i) {
    const NormalAccumulator& s = acc[i];
    double v[3] = {s.sum[0], s.sum[1], s.sum[2]};
    if (s.count != 0)
      for (double& x : v) x /= s.count;
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    // A point no triangle uses (or whose normals cancel) keeps a zero normal.
    Vertex& out = obj_.vertices[i];
    if (len > 0 && std::isfinite(len)) {
      out.nx = float(v[0] / len);
      out.ny = float(v[1] / len);
      out.nz = float(v[2] / len);
    }
  }
}

void Loader::set_up_static_image() {
  const float w = float(table_.width), h = float(table_.height);
  Vertex* v = obj_.vertices.data();
  float sx = 0.5f, sy = 0.5f;
  if (w > h)
    sx = 0.5f * (w / h);
  else if (w > 0)
    sy = 0.5f * (h / w);
  const float corners[4][2] = {{-sx, sy}, {-sx, -sy}, {sx, -sy}, {sx, sy}};
  for (int i = 0; i < 4; ++i) {
    v[i].x = corners[i][0];
    v[i].y = corners[i][1];
    v[i].z = -1.0f;
  }
  // The quad shows exactly the unpadded picture. A surface without a texture size (no
  // picture) spans the whole texture instead of dividing by zero.
  auto fraction = [](int32_t part, int32_t whole) {
    return whole > 0 ? float(part) / float(whole) : 1.0f;
  };
  Triangle* t = obj_.polygons.data();
  const int order[2][3] = {{0, 1, 2}, {0, 3, 2}};
  for (int k = 0; k < 2; ++k) {
    const Surface* s = t[k].surface;
    const float tw = fraction(s->image_width, s->texture_width);
    const float th = fraction(s->image_height, s->texture_height);
    for (int c = 0; c < 3; ++c) t[k].corners[c] = order[k][c];
    const float uv0[6] = {0, 0, 0, th, tw, th};
    const float uv1[6] = {0, 0, tw, 0, tw, th};
    std::memcpy(t[k].uv, k == 0 ? uv0 : uv1, sizeof uv0);
  }
}

void Loader::finish_lightwave_surfaces() {
  unsigned clamped = 0;
  for (Surface& s : obj_.surfaces) clamped |= lw_sanitize_surface(s.lw);
  if (clamped)
    log_line("Object " + (options_.object_path.empty() ? std::string("(in memory)") : options_.object_path) +
             ": surface values clamped to their ranges: " + lw_clamped_text(clamped));
}

void Loader::compute_corner_normals() {
  const size_t count = obj_.polygons.size();
  if (obj_.static_image) {
    // The picture quad replaced the file's geometry: each triangle is its own polygon.
    triangle_polygon_.resize(count);
    polygon_normals_.assign(count * 3, 0.0f);
    for (size_t t = 0; t < count; ++t) {
      const Triangle& tri = obj_.polygons[t];
      double n[3];
      face_normal(obj_.vertices[size_t(tri.corners[0])], obj_.vertices[size_t(tri.corners[1])],
                  obj_.vertices[size_t(tri.corners[2])], n);
      triangle_polygon_[t] = uint32_t(t);
      for (int k = 0; k < 3; ++k) polygon_normals_[3 * t + size_t(k)] = float(n[k]);
    }
  }
  std::vector<int32_t> corners(count * 3);
  std::vector<uint32_t> surface(count);
  const Surface* first = obj_.surfaces.data();
  for (size_t t = 0; t < count; ++t) {
    for (int c = 0; c < 3; ++c) corners[3 * t + size_t(c)] = obj_.polygons[t].corners[c];
    surface[t] = uint32_t(obj_.polygons[t].surface - first);
  }
  std::vector<float> cosines(obj_.surfaces.size());
  for (size_t i = 0; i < cosines.size(); ++i)
    cosines[i] = lw_smoothing_cosine(obj_.surfaces[i].lw.smoothing_angle);
  lw_corner_normals(corners.data(), count, obj_.vertices.size(), triangle_polygon_.data(),
                    polygon_normals_.data(), surface.data(), cosines.data(), obj_.corner_normals);
}

void Loader::release_arrays() {
  obj_.polygons = {};
  obj_.surfaces = {};
  obj_.vertices = {};
  obj_.transformed = {};
  obj_.transformed_parent = {};
  obj_.corner_normals = {};
  table_.normal_work = {};
}

LoadStatus Loader::run() {
  ByteReader header(table_.object_data.data(), table_.object_data.size());
  uint32_t form, form_size;
  if (!header.u32be(form) || !header.u32be(form_size) || !header.id_is("LWOB"))
    return LoadStatus::bad_format;

  obj_.polygon_count = obj_.vertex_count = obj_.surface_count = 0;
  obj_.no_dissolve = obj_.particles = obj_.plots = obj_.needs_normals = 0;

  ChunkMap map;
  LoadStatus st = map_chunks(map);
  if (st == LoadStatus::ok) st = count(map);
  if (st != LoadStatus::ok) return st;

  obj_.polygons.assign(size_t(obj_.polygon_count), Triangle{});
  triangle_polygon_.clear();
  triangle_polygon_.reserve(size_t(obj_.polygon_count));
  polygon_normals_.clear();
  obj_.surfaces.assign(size_t(obj_.surface_count), Surface{});
  obj_.vertices.assign(size_t(obj_.vertex_count), Vertex{});
  table_.normal_work.assign(size_t(obj_.vertex_count), NormalAccumulator{});
  obj_.transformed.assign(size_t(obj_.vertex_count), Vertex{});
  obj_.transformed_parent.assign(size_t(obj_.vertex_count), Vertex{});

  obj_.deform = obj_.metaform = obj_.static_image = 0;
  // Surface{} already holds the defaults: no images, colour 200, 200, 200, line width 0.

  if (map.has_srfs && (st = read_names(map.srfs)) != LoadStatus::ok) return st;
  if (map.has_pnts) read_points(map.pnts);
  if (map.has_pols) read_polygons(map.pols);
  // The picture quad rewrites points 0..3 and triangles 0 and 1; without them there is
  // nothing to draw the picture on.
  if (obj_.static_image && (obj_.vertex_count < 4 || obj_.polygon_count < 2)) {
    log_format("Static image object needs 4 points and 2 triangles, has %d and %d",
               obj_.vertex_count, obj_.polygon_count);
    return LoadStatus::bad_format;
  }
  for (const IffChunk& surf : map.surf)
    if ((st = read_surface(surf)) != LoadStatus::ok) return st;

  finish_surfaces();
  if (obj_.needs_normals) compute_normals();
  if (obj_.static_image) set_up_static_image();
  finish_lightwave_surfaces();
  compute_corner_normals();
  // A particle object's emitter record is set up by the particle system from `polygons`;
  // until then `particles` marks the object and `emitter` stays empty.
  if (obj_.plots) obj_.plots_buffer.assign(size_t(obj_.vertex_count) * kPlotsBytesPerVertex, 0);
  ++table_.object_count;
  return LoadStatus::ok;
}

}  // namespace

void face_normal(const Vertex& a, const Vertex& b, const Vertex& c, double n[3]) {
  const double e1[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
  const double e2[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
  n[0] = e1[1] * e2[2] - e1[2] * e2[1];
  n[1] = e1[2] * e2[0] - e1[0] * e2[2];
  n[2] = e1[0] * e2[1] - e1[1] * e2[0];
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (int k = 0; k < 3; ++k) n[k] = len > 0 && std::isfinite(len) ? n[k] / len : 0.0;
}

uint32_t surface_triangle_flags(const Surface& s) {
  using namespace TriangleFlags;
  const std::string upper = upper_name(s.name);
  uint32_t f = 0;
  if (s.texture != -1 || s.reflection_texture != -1) f |= TEXTURED;
  if (s.reflection_texture != -1) f |= REFLECTION;
  if ((s.lw_flags & 0x80) && !(s.lw_flags & 0x4)) f |= FLAT_LIT;
  if (s.lw_flags & 0x4) f |= SMOOTH_LIT;
  if (s.lw_flags & 0x200) f |= ADDITIVE;
  if (s.lw_flags & 0x100) f |= DOUBLE_SIDED;
  if (contains(upper, "__ZYNAPS__")) f |= INVERT;
  if (s.line_width != 0) f |= WIREFRAME;
  if (contains(upper, "__2DEFFECT_")) f |= EFFECT_TEXTURE;
  return f;
}

const char* load_status_text(LoadStatus s) {
  switch (s) {
    case LoadStatus::ok: return "loaded";
    case LoadStatus::not_found: return "file not found";
    case LoadStatus::out_of_memory: return "out of memory";
    case LoadStatus::bad_format: return "not a LightWave object";
  }
  return "unknown";
}

LoadStatus load_object_data(ObjectTable& table, ObjectLoadContext& context,
                            std::vector<uint8_t> data, const ObjectLoadOptions& options) {
  if (is_lwo2(data.data(), data.size())) return load_lwo2_object_data(table, context, data, options);
  // The object table is made full size on first use; its capacity is checked here, where
  // objects are added.
  if (table.objects.size() < size_t(kMaxObjects)) table.objects.resize(size_t(kMaxObjects));
  if (table.object_count < 0 || table.object_count >= kMaxObjects) {
    log_format("Too many objects: a table holds at most %d", kMaxObjects);
    return LoadStatus::out_of_memory;
  }
  table.object_data = std::move(data);
  table.object_data_pos = 0;
  Loader loader(table, context, options);
  LoadStatus st;
  try {
    st = loader.run();
  } catch (const std::bad_alloc&) {
    loader.release_arrays();
    st = LoadStatus::out_of_memory;
  }
  // The file and the normal sums are only needed while the object loads.
  table.object_data = {};
  table.normal_work = {};
  return st;
}

LoadStatus load_object(ObjectTable& table, ObjectLoadContext& context, std::string& name,
                       bool retry, const ObjectLoadOptions& options) {
  if (!retry) drop_path_prefix(name);
  std::vector<uint8_t> data;
  switch (read_whole_file(name, data)) {
    case FileStatus::ok: break;
    case FileStatus::not_found:
    case FileStatus::not_regular:
    case FileStatus::no_access: table.loaded = 0; return LoadStatus::not_found;
    case FileStatus::read_error:
    case FileStatus::too_large:
      table.loaded = 0;
      log_line("Object " + name + " could not be read");
      return LoadStatus::out_of_memory;
  }
  if (!options.object_path.empty()) return load_object_data(table, context, std::move(data), options);
  ObjectLoadOptions with_path = options;
  with_path.object_path = name;
  return load_object_data(table, context, std::move(data), with_path);
}

}  // namespace orvl
