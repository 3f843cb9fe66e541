#include "tools/demo_lightwave6.h"

#include <png.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/file.h"
#include "tools/demo_show.h"
#include "tools/lwo2_writer.h"
#include "tools/lwsc_writer.h"

namespace orvl {
namespace {

constexpr float kPi = 3.14159265f;

// A latitude-longitude globe of radius r with a UV map running once round it.
Lwo2WriterLayer globe(float r, int rings, int segments) {
  Lwo2WriterLayer l;
  for (int y = 0; y <= rings; ++y)
    for (int x = 0; x <= segments; ++x) {
      const float lat = kPi * (float(y) / rings - 0.5f), lon = 2 * kPi * float(x) / segments;
      l.points.insert(l.points.end(), {r * std::cos(lat) * std::sin(lon), r * std::sin(lat), r * std::cos(lat) * std::cos(lon)});
      l.uvs.insert(l.uvs.end(), {float(x) / segments, float(y) / rings});
    }
  for (int y = 0; y < rings; ++y)
    for (int x = 0; x < segments; ++x) {
      const uint32_t a = uint32_t(y * (segments + 1) + x), b = a + uint32_t(segments + 1);
      l.polygons.push_back({a, a + 1, b + 1, b});  // clockwise seen from outside
      l.surfaces.push_back(0);
    }
  return l;
}

Lwo2WriterLayer cube(float h) {
  Lwo2WriterLayer l;
  for (int i = 0; i < 8; ++i) l.points.insert(l.points.end(), {i & 1 ? h : -h, i & 2 ? h : -h, i & 4 ? h : -h});
  l.polygons = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  l.surfaces = {0, 0, 1, 1, 0, 0};
  return l;
}

// A flat ring of `n` segments: concave as one polygon would be, so it is made of quads.
Lwo2WriterLayer ring(float inner, float outer, int n) {
  Lwo2WriterLayer l;
  for (int i = 0; i < n; ++i) {
    const float a = 2 * kPi * float(i) / n;
    l.points.insert(l.points.end(), {inner * std::cos(a), 0, inner * std::sin(a), outer * std::cos(a), 0, outer * std::sin(a)});
  }
  for (int i = 0; i < n; ++i) {
    const uint32_t a = uint32_t(2 * i), b = uint32_t(2 * ((i + 1) % n));
    l.polygons.push_back({a, b, b + 1, a + 1});
    l.surfaces.push_back(0);
  }
  return l;
}

// A 128 x 64 picture of sea, land bands and a grid, as PNG bytes.
std::vector<uint8_t> globe_picture() {
  const int w = 128, h = 64;
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
      const bool land = std::sin(x * 0.15f) + std::cos(y * 0.21f + x * 0.05f) > 0.6f;
      const bool grid = x % 16 == 0 || y % 16 == 0;
      p[0] = grid ? 240 : land ? 60 : 20;
      p[1] = grid ? 240 : land ? 150 : 60;
      p[2] = grid ? 240 : land ? 50 : 170;
    }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, rgb.data(), 0, nullptr)) return {};
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgb.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

class Envelopes {
 public:
  explicit Envelopes(LwscScene& s) : s_(s) {}
  int32_t add(std::vector<EnvKey> keys, EnvBehavior pre = EnvBehavior::constant,
              EnvBehavior post = EnvBehavior::constant) {
    LwscEnvelope e;
    e.first_key = static_cast<uint32_t>(s_.keys.size());
    e.key_count = static_cast<uint32_t>(keys.size());
    e.pre = pre;
    e.post = post;
    s_.keys.insert(s_.keys.end(), keys.begin(), keys.end());
    s_.envelopes.push_back(e);
    return static_cast<int32_t>(s_.envelopes.size() - 1);
  }
  int32_t constant(float v) { return add({key(0, v)}); }
  static EnvKey key(float t, float v, SpanShape shape = SpanShape::tcb) {
    EnvKey k;
    k.time = t;
    k.value = v;
    k.shape = shape;
    return k;
  }

 private:
  LwscScene& s_;
};

}  // namespace

bool write_lightwave6_demo(const std::string& out_dir, DemoSummary& summary, std::string& error) {
  const std::string objects = out_dir + "/objects/";
  auto fail = [&error](const std::string& file) {
    error = "cannot write " + file;
    return false;
  };

  // Objects.
  Lwo2Model g;
  Lwo2WriterSurface sea;
  sea.name = "Globe";
  sea.smoothing_angle = 1.5f;
  sea.image = "HQ:LightWave/Images/lw6_globe.png";
  sea.projection = 5;
  sea.uv_map = "UV";
  g.surfaces = {sea};
  g.layers = {globe(1.0f, 12, 24)};
  Lwo2Model c;
  Lwo2WriterSurface red, gold;
  red.name = "Red";
  red.color[0] = 0.9f, red.color[1] = 0.15f, red.color[2] = 0.1f;
  gold.name = "Gold";
  gold.color[0] = 0.95f, gold.color[1] = 0.75f, gold.color[2] = 0.2f;
  gold.luminosity = 0.3f;
  c.surfaces = {red, gold};
  c.layers = {cube(0.25f)};
  Lwo2Model rg;
  Lwo2WriterSurface glass;
  glass.name = "Glass";
  glass.color[0] = 0.4f, glass.color[1] = 0.8f, glass.color[2] = 1.0f;
  glass.sidedness = 3;
  glass.transparency = 0.5f;
  rg.surfaces = {glass};
  rg.layers = {ring(1.4f, 1.9f, 32)};
  const std::pair<const char*, const Lwo2Model*> models[] = {
      {"lw6_globe.lwo", &g}, {"lw6_cube.lwo", &c}, {"lw6_ring.lwo", &rg}};
  for (const auto& [name, model] : models) {
    if (!lwo2_write(objects + name, *model)) return fail(objects + name);
    ++summary.objects;
    for (const auto& l : model->layers)
      for (const auto& p : l.polygons) summary.triangles += long(p.size()) - 2;
  }
  const std::vector<uint8_t> png = globe_picture();
  if (png.empty() || !write_whole_file(objects + "lw6_globe.png", png.data(), png.size()))
    return fail(objects + "lw6_globe.png");
  ++summary.images;

  // The scene: ten seconds from frame 1 at 30 frames per second.
  LwscScene s;
  s.version = 3;
  s.first_frame = 1;
  s.last_frame = 300;
  s.frames_per_second = kDemoFramesPerSecond;
  s.backdrop_color[0] = 0.02f, s.backdrop_color[1] = 0.02f, s.backdrop_color[2] = 0.08f;
  Envelopes env(s);
  using K = Envelopes;

  LwscItem pivot;  // a null the globe and the ring hang from, tilted
  pivot.kind = LwscItemKind::null_object;
  pivot.id = 0x10000000;
  pivot.path = "Axis";
  pivot.channel_count = 9;
  pivot.channels[5] = env.constant(0.35f);  // bank

  LwscItem globe_item;
  globe_item.id = 0x10000001;
  globe_item.path = "../objects/lw6_globe.lwo";
  globe_item.has_parent = true;
  globe_item.parent_id = pivot.id;
  globe_item.channel_count = 9;
  // One turn every four seconds, carried on by offset repeat.
  globe_item.channels[3] = env.add({K::key(0, 0, SpanShape::linear), K::key(4, 2 * kPi, SpanShape::linear)},
                                   EnvBehavior::offset_repeat, EnvBehavior::offset_repeat);

  LwscItem ring_item;
  ring_item.id = 0x10000002;
  ring_item.path = "../objects/lw6_ring.lwo";
  ring_item.has_parent = true;
  ring_item.parent_id = pivot.id;
  ring_item.channel_count = 9;
  ring_item.channels[3] = env.add({K::key(0, 0, SpanShape::linear), K::key(10, -2 * kPi, SpanShape::linear)},
                                  EnvBehavior::repeat, EnvBehavior::repeat);
  // The ring breathes: its scale oscillates on Hermite spans.
  EnvKey h0 = K::key(0, 1, SpanShape::hermite), h1 = K::key(1.5f, 1.2f, SpanShape::hermite);
  h0.p[4] = 0.4f;
  h1.p[3] = -0.2f;
  for (int c = 6; c <= 8; c += 2) ring_item.channels[c] = env.add({h0, h1}, EnvBehavior::oscillate, EnvBehavior::oscillate);

  LwscItem cube_item;
  cube_item.id = 0x10000003;
  cube_item.path = "../objects/lw6_cube.lwo";
  cube_item.channel_count = 9;
  // A circle of radius 2.6 on TCB keys, repeated.
  std::vector<EnvKey> xs, zs;
  for (int k = 0; k <= 8; ++k) {
    const float t = k * 0.75f, a = 2 * kPi * k / 8;
    xs.push_back(K::key(t, 2.6f * std::cos(a)));
    zs.push_back(K::key(t, 2.6f * std::sin(a)));
  }
  cube_item.channels[0] = env.add(xs, EnvBehavior::repeat, EnvBehavior::repeat);
  cube_item.channels[2] = env.add(zs, EnvBehavior::repeat, EnvBehavior::repeat);
  // Bobbing on 2D Bezier spans, oscillating.
  EnvKey b0 = K::key(0, -0.4f, SpanShape::bezier2d), b1 = K::key(1.2f, 0.6f, SpanShape::bezier2d);
  b0.p[2] = 0.6f, b0.p[3] = 0;
  b1.p[0] = -0.6f, b1.p[1] = 0;
  cube_item.channels[1] = env.add({b0, b1}, EnvBehavior::oscillate, EnvBehavior::oscillate);
  cube_item.channels[4] = env.add({K::key(0, 0, SpanShape::linear), K::key(1, 3.0f, SpanShape::linear)},
                                  EnvBehavior::linear, EnvBehavior::linear);
  cube_item.dissolve_envelope = env.add({K::key(0, 1), K::key(1.5f, 0)});  // fades in

  LwscItem light;
  light.kind = LwscItemKind::light;
  light.id = 0x20000000;
  light.name = "Sun";
  light.channel_count = 9;
  light.channels[0] = env.constant(-4);
  light.channels[1] = env.constant(3);
  light.channels[2] = env.constant(-5);
  light.light_type = 1;
  light.color[2] = 0.9f;
  light.intensity_envelope = env.add({K::key(0, 0.2f), K::key(3, 1.0f)});

  LwscItem cam;
  cam.kind = LwscItemKind::camera;
  cam.id = 0x30000000;
  cam.name = "Camera";
  cam.channel_count = 6;
  cam.channels[1] = env.constant(1.2f);
  cam.channels[2] = env.constant(-7.5f);
  cam.channels[4] = env.constant(0.12f);  // looking down a little
  cam.zoom_envelope = env.add({K::key(0, 2.4f), K::key(5, 3.6f), K::key(10, 2.4f)});

  s.items = {pivot, globe_item, ring_item, cube_item, light, cam};
  LwscWriteOptions opt;
  opt.item_ids = true;
  const std::string path = out_dir + "/" + kDemoLightWave6Scene;
  if (!write_lwsc_file(path, s, opt)) return fail(path);
  ++summary.scenes;
  return true;
}

}  // namespace orvl
