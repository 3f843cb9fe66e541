#include "object/surface_image.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "image/image.h"
#include "platform/file.h"
#include "platform/log.h"

namespace orvl {
namespace {

constexpr int kMaxTextureNumber = std::numeric_limits<int16_t>::max();

bool contains(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

// One pass of an image: decode it, clamp it to the display's largest texture, turn it into
// red-first bytes (tinted for a particle copy), square it to a power of two and hand the
// buffer to the surface. A file that does not decode (damaged, or of a kind no reader
// handles) leaves the slot without pixels: its texture stays blank and the show goes on.
void decode_surface_pixels(const ObjectTable& table, Surface& surface, const std::string& file, int slot,
                           int tint) {
  Img img;
  ImgDecoder decoder;
  decoder.bind(&img);
  PixelBuffer& target = tint >= 0 ? surface.particle_pixels[size_t(tint)]
                                  : (slot == 0 ? surface.image_pixels : surface.reflection_pixels);
  LwDecodedImage& decoded = surface.lw.decoded[slot == 0 ? 0 : 1];
  decoded = LwDecodedImage();
  if (img.load(file) != ImgError::ok || decoder.decode() != ImgError::ok || img.pixels.empty()) {
    log_line("Image " + file + " could not be decoded; its texture stays blank.");
    PixelBuffer().swap(target);
    img.release();
    return;
  }

  decoded.width = int32_t(img.width);
  decoded.height = int32_t(img.height);
  const uint32_t limit = table.max_texture_size > 0 ? uint32_t(table.max_texture_size) : kMaxImageDimension;
  if (img.width > limit) (void)img.resize(limit, img.height, limit);
  if (img.height > limit) (void)img.resize(img.width, limit, img.width);
  const uint32_t w = img.width, h = img.height;

  // 0x00RRGGBB words (blue first in memory) become red-first bytes.
  if (tint >= 0) {
    const float* t = &kTintTable[size_t(tint) * 3];
    for (uint32_t& p : img.pixels) {
      const uint32_t r = static_cast<uint32_t>(((p >> 16) & 0xFF) * t[0]);
      const uint32_t g = static_cast<uint32_t>(((p >> 8) & 0xFF) * t[1]);
      const uint32_t b = static_cast<uint32_t>((p & 0xFF) * t[2]);
      p = (p & 0xFF000000u) | (b << 16) | (g << 8) | r;
    }
  } else {
    for (uint32_t& p : img.pixels) p = (p & 0xFF00FF00u) | ((p >> 16) & 0xFF) | ((p & 0xFF) << 16);
  }

  const uint32_t side = std::max(round_up_pow2(w), round_up_pow2(h));
  if (contains(surface.name, "__STATIC_IMAGE__")) {
    // A static image keeps its size: the unscaled rows sit in the top-left corner of the
    // square and the quad shows exactly that part.
    surface.image_width = int32_t(w);
    surface.image_height = int32_t(h);
    const std::vector<uint32_t> rows = img.pixels;
    const uint32_t pitch = img.pitch;
    (void)img.resize(side, side, side);
    for (uint32_t r = 0; r < h && r < side; ++r)
      std::copy_n(rows.begin() + std::ptrdiff_t(size_t(r) * pitch), std::min(w, side),
                  img.pixels.begin() + std::ptrdiff_t(size_t(r) * side));
  } else {
    (void)img.resize(side, side, side);
  }
  surface.texture_width = surface.texture_height = int32_t(side);
  decoded.side = int32_t(side);
  const bool unscaled = contains(surface.name, "__STATIC_IMAGE__");
  decoded.coverage[0] = unscaled ? float(std::min(w, side)) / float(side) : 1.0f;
  decoded.coverage[1] = unscaled ? float(std::min(h, side)) / float(side) : 1.0f;
  (void)img.keep_pixels(1);
  target = std::move(img.pixels);
  if (tint < 0) PixelBuffer().swap(surface.particle_pixels[0]);
  if (contains(surface.name, "__2DEFFECT_")) surface.effect_pixels.assign(size_t(side) * side, 0u);
  img.release();
}

}  // namespace

const float kTintTable[kParticleTints * 3] = {
    1.0f, 0.5f,  0.5f,  1.0f,  0.75f, 0.5f, 1.0f, 1.0f, 0.5f, 0.75f, 1.0f, 0.5f,
    0.5f, 1.0f,  0.5f,  0.5f,  1.0f,  0.75f, 0.5f, 1.0f, 1.0f, 0.5f,  0.75f, 1.0f,
    0.5f, 0.5f,  1.0f,  0.75f, 0.5f,  1.0f, 1.0f, 0.5f, 1.0f, 1.0f,  0.5f,  0.75f,
};

int texture_counter = 0;

void reset_texture_counter() { texture_counter = 0; }

uint32_t round_up_pow2(uint32_t n) {
  if (n == 0 || (n & (n - 1)) == 0) return n;
  uint32_t high = 1;
  while (n >>= 1) high <<= 1;
  return high << 1;  // wraps to 0 above 2^31, where no texture size lives
}

const char* surface_image_status_text(SurfaceImageStatus s) {
  switch (s) {
    case SurfaceImageStatus::ok: return "loaded";
    case SurfaceImageStatus::missing: return "image file not found";
    case SurfaceImageStatus::over_capacity: return "too many images or path too long";
  }
  return "unknown";
}

void drop_path_prefix(std::string& path) {
  path = path.size() > kDroppedPrefixLength ? path.substr(kDroppedPrefixLength) : std::string();
}

std::string find_surface_image(const ObjectTable& table, const std::string& shortened,
                               const std::string& as_written) {
  // An empty shortened path would resolve to the working directory or the root itself.
  if (!shortened.empty()) {
    if (data_file_exists(shortened)) return shortened;
    std::string below_root = path_join(table.lightwave_root, shortened);
    if (data_file_exists(below_root)) return below_root;
  }
  if (as_written.empty()) return std::string();
  const std::string candidates[] = {
      as_written,
      path_join(table.lightwave_root, as_written),
      path_join(path_directory(table.path), as_written),
  };
  for (const auto& c : candidates) {
    if (data_file_exists(c)) {
      log_line("Image " + as_written + " found as " + c);
      return c;
    }
  }
  return std::string();
}

SurfaceImageStatus load_surface_image(ObjectTable& table, ObjectLoadContext& context,
                                      Surface& surface, std::string& path, int slot) {
  auto set_none = [&] {
    if (slot == 0)
      surface.texture = -1;
    else
      surface.reflection_texture = -1;
    return SurfaceImageStatus::ok;
  };
  if (path == "(none)") return set_none();
  const std::string as_written = path;
  drop_path_prefix(path);
  if (path == "(none)") return set_none();

  // Checked where the path is stored: a surface's path fields hold 127 characters.
  if (path.size() > kMaxImagePathLength) {
    log_format("Image path longer than %zu characters: %s", kMaxImagePathLength, path.c_str());
    return SurfaceImageStatus::over_capacity;
  }
  if (slot == 0) {
    surface.image_path = path;
    surface.scroll_flags = 0;
  } else {
    surface.reflection_path = path;
  }
  if (contains(path, "SCUP")) surface.scroll_flags |= ScrollFlags::UP;
  if (contains(path, "SCDN")) surface.scroll_flags |= ScrollFlags::DOWN;
  if (contains(path, "SCLT")) surface.scroll_flags |= ScrollFlags::LEFT;
  if (contains(path, "SCRT")) surface.scroll_flags |= ScrollFlags::RIGHT;

  const bool particle = contains(surface.name, "__PARTICLES_");
  const bool effect = contains(surface.name, "__2DEFFECT_");
  int16_t& number = slot == 0 ? surface.texture : surface.reflection_texture;

  // Sharing: an image an earlier object of this scene loaded by the same path is reused.
  // Particle and effect surfaces always get their own copies (they are tinted or drawn
  // into). An empty path names no file, so it never matches surfaces without images.
  if (!particle && !effect && !path.empty()) {
    const int loaded_objects = std::min<int>(table.object_count, int(table.objects.size()));
    for (int o = 0; o < loaded_objects; ++o) {
      for (const Surface& other : table.objects[size_t(o)].surfaces) {
        if (other.image_path == path) {
          number = other.texture;
          surface.lw.decoded[slot == 0 ? 0 : 1] = other.lw.decoded[0];
          return SurfaceImageStatus::ok;
        }
        if (other.reflection_path == path) {
          number = other.reflection_texture;
          surface.lw.decoded[slot == 0 ? 0 : 1] = other.lw.decoded[1];
          return SurfaceImageStatus::ok;
        }
      }
    }
  }

  const int passes = particle ? kParticleTints : 1;
  // Texture numbers are 16-bit and a scene numbers at most as many images as it has names.
  if (table.image_count + passes > kMaxImageNames) {
    log_format("Too many images: a scene holds at most %d", kMaxImageNames);
    return SurfaceImageStatus::over_capacity;
  }
  if (texture_counter + passes > kMaxTextureNumber) {
    log_format("Too many images: a show holds at most %d", kMaxTextureNumber);
    return SurfaceImageStatus::over_capacity;
  }

  // Every pass would open the same file, so it is looked up once.
  const std::string file = find_surface_image(table, path, as_written);
  if (file.empty()) {
    context.image_missing = true;
    context.error_path = path;
    table.loaded = 0;
    return SurfaceImageStatus::missing;
  }
  for (int m = passes - 1; m >= 0; --m) {
    decode_surface_pixels(table, surface, file, slot, particle ? m : -1);
    number = static_cast<int16_t>(table.image_count + 1);
    ++table.image_count;
    ++texture_counter;
  }
  return SurfaceImageStatus::ok;
}

SurfaceImageStatus attach_surface_image(ObjectTable& table, Surface& surface, const std::string& key,
                                        const std::string& file, int slot) {
  if (key.size() > kMaxImagePathLength) {
    log_format("Image path longer than %zu characters: %s", kMaxImagePathLength, key.c_str());
    return SurfaceImageStatus::over_capacity;
  }
  int16_t& number = slot == 0 ? surface.texture : surface.reflection_texture;
  (slot == 0 ? surface.image_path : surface.reflection_path) = key;
  const int loaded_objects = std::min<int>(table.object_count, int(table.objects.size()));
  for (int o = 0; o <= loaded_objects && o < int(table.objects.size()); ++o) {
    for (const Surface& other : table.objects[size_t(o)].surfaces) {
      if (&other == &surface) continue;
      if (other.image_path == key && other.texture != -1) {
        number = other.texture;
        surface.lw.decoded[slot == 0 ? 0 : 1] = other.lw.decoded[0];
        return SurfaceImageStatus::ok;
      }
    }
  }
  if (table.image_count + 1 > kMaxImageNames) {
    log_format("Too many images: a scene holds at most %d", kMaxImageNames);
    return SurfaceImageStatus::over_capacity;
  }
  if (texture_counter + 1 > kMaxTextureNumber) {
    log_format("Too many images: a show holds at most %d", kMaxTextureNumber);
    return SurfaceImageStatus::over_capacity;
  }
  decode_surface_pixels(table, surface, file, slot, -1);
  number = static_cast<int16_t>(table.image_count + 1);
  ++table.image_count;
  ++texture_counter;
  return SurfaceImageStatus::ok;
}

void map_surface_texture(SceneObject& object, Surface& surface) {
  const size_t vertex_count = object.vertices.size();
  bool any = false;
  float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  for (const Triangle& t : object.polygons) {
    if (t.surface != &surface) continue;
    for (int c = 0; c < 3; ++c) {
      if (size_t(t.corners[c]) >= vertex_count) continue;
      const Vertex& v = object.vertices[size_t(t.corners[c])];
      const float p[3] = {v.x, v.y, v.z};
      for (int k = 0; k < 3; ++k) {
        if (!any || p[k] < lo[k]) lo[k] = p[k];
        if (!any || p[k] > hi[k]) hi[k] = p[k];
      }
      any = true;
    }
  }
  if (!any) return;
  for (int k = 0; k < 3; ++k) {
    surface.box[2 * k] = lo[k];
    surface.box[2 * k + 1] = hi[k];
    surface.extent[k] = hi[k] - lo[k];
  }
  // A surface seen edge-on has no extent along a projected axis; that coordinate is 0
  // across it instead of a division by zero.
  auto ratio = [&](float value, int k) {
    return surface.extent[k] != 0.0f ? (value - lo[k]) / surface.extent[k] : 0.0f;
  };
  for (Triangle& t : object.polygons) {
    if (t.surface != &surface) continue;
    for (int c = 0; c < 3; ++c) {
      if (size_t(t.corners[c]) >= vertex_count) continue;
      const Vertex& v = object.vertices[size_t(t.corners[c])];
      float u, w;
      switch (surface.axis) {
        case 0: u = ratio(v.z, 2); w = 1.0f - ratio(v.y, 1); break;
        case 1: u = ratio(v.x, 0); w = 1.0f - ratio(v.z, 2); break;
        default: u = ratio(v.x, 0); w = 1.0f - ratio(v.y, 1); break;
      }
      t.uv[2 * c] = u;
      t.uv[2 * c + 1] = w;
    }
  }
}

void map_surface_texture(ObjectTable& table, Surface& surface) {
  if (table.object_count < 0 || size_t(table.object_count) >= table.objects.size()) return;
  map_surface_texture(table.objects[size_t(table.object_count)], surface);
}

void scroll_textures(ObjectTable& table) {
  const int count = std::min<int>(table.object_count, int(table.objects.size()));
  for (int o = 0; o < count; ++o) {
    for (Surface& s : table.objects[size_t(o)].surfaces) {
      if (s.scroll_flags & ScrollFlags::UP) s.scroll_v += kScrollStep;
      if (s.scroll_flags & ScrollFlags::DOWN) s.scroll_v -= kScrollStep;
      if (s.scroll_flags & ScrollFlags::RIGHT) s.scroll_u += kScrollStep;
      if (s.scroll_flags & ScrollFlags::LEFT) s.scroll_u -= kScrollStep;
    }
  }
}

}  // namespace orvl
