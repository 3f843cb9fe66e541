// The surface record both loaders fill (object/lw_surface.h) and the corner normals: units
// and flags of hand-built LWOB and LWO2 surfaces, absurd values clamped once, LightWave's
// smoothing rule, and the files LightWave and other tools saved.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include <nlohmann/json.hpp>

#include "object/lw_surface.h"
#include "object/object_loader.h"
#include "platform/log.h"
#include "scene/scene.h"
#include "support/image_support.h"
#include "support/object_fixtures.h"
#include "support/shared_data.h"
#include "tools/lwo2_writer.h"

namespace orvl {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kPi = 3.14159265358979f;

std::vector<uint8_t> u16s(std::initializer_list<uint16_t> v) {
  std::vector<uint8_t> out;
  for (uint16_t x : v) lw_put_u16(out, x);
  return out;
}
std::vector<uint8_t> f32s(std::initializer_list<float> v) {
  std::vector<uint8_t> out;
  for (float x : v) lw_put_f32(out, x);
  return out;
}

struct Loaded {
  Scene scene;
  LoadStatus status = LoadStatus::bad_format;
  const SceneObject& object() const { return scene.objects[0]; }
  const LwSurfaceParams& lw(size_t i = 0) const { return object().surfaces.at(i).lw; }
};

void load_bytes(Loaded& out, std::vector<uint8_t> bytes, const std::string& path = {}) {
  testing::prepare_object_scene(out.scene);
  ObjectLoadContext context;
  ObjectLoadOptions options;
  options.images_required = false;
  std::vector<std::string> missing;
  options.missing_images = &missing;
  options.object_path = path;
  out.status = load_object_data(out.scene, context, std::move(bytes), options);
}

void load_file(Loaded& out, const std::string& relative) {
  const std::string path = test::shared_testdata(relative);
  std::ifstream in(path, std::ios::binary);
  load_bytes(out, {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, path);
}

void expect_unit_and_finite(const std::vector<float>& n) {
  for (size_t i = 0; i + 2 < n.size(); i += 3) {
    ASSERT_TRUE(std::isfinite(n[i]) && std::isfinite(n[i + 1]) && std::isfinite(n[i + 2])) << i;
    ASSERT_NEAR(n[i] * n[i] + n[i + 1] * n[i + 1] + n[i + 2] * n[i + 2], 1.0f, 1e-4f) << i;
  }
}

TEST(LwSurface, LwobUnitsFlagsAndTextureBlocks) {
  LwobWriter w;
  LwobSurface& s = testing::quad_object(w, "Paint");
  // The float levels win even when they come before the u16 ones.
  s.colr(255, 128, 0)
      .flag(0x4 | 0x8 | 0x10 | 0x100 | 0x200)
      .sub("VSPC", f32s({0.3f}))
      .sub("SPEC", u16s({256}))
      .sub("DIFF", u16s({128}))
      .sub("LUMI", u16s({64}))
      .sub("TRAN", u16s({32}))
      .sub("VTRN", f32s({0.75f}))
      .sub("GLOS", u16s({256}))
      .sub("RFLT", u16s({2}))
      .sub("RIND", f32s({1.5f}));
  s.texture_header("CTEX", "Cylindrical Image Map")
      .tflg(0x2 | 0x8 | 0x20)
      .sub("TSIZ", f32s({2, 3, 4}))
      .sub("TCTR", f32s({0.5f, 0, -1}))
      .sub("TWRP", u16s({0, 1}))
      .sub("TFP0", f32s({3}))
      .sub("TOPC", f32s({0.5f}))
      .timg("(none)");
  s.texture_header("BTEX", "Fractal Bumps").tflg(0x4).sub("TFP0", f32s({7}));
  // Smoothing switched off: SMAN alone does not smooth.
  w.add_surface("Flat").flag(0).sub("SMAN", f32s({1.0f}));
  w.add_polygon({0, 2, 3}, 2);

  Loaded l;
  load_bytes(l, w.bytes());
  ASSERT_EQ(l.status, LoadStatus::ok);
  const LwSurfaceParams& p = l.lw(0);
  EXPECT_FLOAT_EQ(p.color[0], 1.0f);
  EXPECT_FLOAT_EQ(p.color[1], 128 / 255.0f);
  EXPECT_FLOAT_EQ(p.diffuse, 0.5f);
  EXPECT_FLOAT_EQ(p.specular, 0.3f);
  EXPECT_FLOAT_EQ(p.luminosity, 0.25f);
  EXPECT_FLOAT_EQ(p.transparency, 0.75f);
  EXPECT_FLOAT_EQ(p.gloss_exponent, 256.0f);
  EXPECT_NEAR(p.glossiness, 0.6f, 1e-6f);
  EXPECT_NEAR(p.smoothing_angle, 89.5f * kPi / 180, 1e-6f);
  EXPECT_EQ(p.color_highlights, 1.0f);
  EXPECT_EQ(p.color_filter, 1.0f);
  EXPECT_TRUE(p.double_sided);
  EXPECT_TRUE(p.additive);
  EXPECT_EQ(p.reflection_mode, 2);
  EXPECT_FLOAT_EQ(p.refraction_index, 1.5f);
  ASSERT_EQ(p.layers.size(), 2u);
  const LwTextureLayer& c = p.layers[0];
  EXPECT_EQ(c.channel, LwChannel::color);
  EXPECT_TRUE(c.image_map);
  EXPECT_EQ(c.projection, LwProjection::cylindrical);
  EXPECT_EQ(c.axis, 1);
  EXPECT_TRUE(c.world_coordinates);
  EXPECT_TRUE(c.pixel_blending);
  EXPECT_FALSE(c.antialiasing);
  EXPECT_EQ(c.size[2], 4.0f);
  EXPECT_EQ(c.center[2], -1.0f);
  EXPECT_EQ(c.wrap_u, LwWrap::reset);  // LWOB "black"
  EXPECT_EQ(c.wrap_v, LwWrap::edge);   // LWOB "clamp"
  EXPECT_EQ(c.wrap_width, 3.0f);
  EXPECT_EQ(c.opacity, 0.5f);
  EXPECT_EQ(c.image_path, "");
  EXPECT_EQ(c.image, -1);
  const LwTextureLayer& b = p.layers[1];
  EXPECT_EQ(b.channel, LwChannel::bump);
  EXPECT_FALSE(b.image_map);
  EXPECT_EQ(b.procedural, "Fractal Bumps");
  EXPECT_EQ(b.wrap_width, 1.0f);  // a procedural's TFP0 is its own parameter
  EXPECT_EQ(b.axis, 2);
  EXPECT_EQ(l.lw(1).smoothing_angle, 0.0f);
  // The engine's own fields are what they always were.
  EXPECT_EQ(l.object().surfaces[0].color[1], 128);
  EXPECT_EQ(l.object().surfaces[0].lw_flags, 0x31Cu);
}

TEST(LwSurface, AbsurdValuesAreClampedOnceWithOneLogLine) {
  LwobWriter w;
  LwobSurface& s = testing::quad_object(w, "Bad");
  s.flag(0x4).sub("SMAN", f32s({kNaN})).sub("GLOS", u16s({0})).sub("VDIF", f32s({kNaN}));
  s.texture_header("CTEX", "Spherical Image Map")
      .sub("TSIZ", f32s({0, kNaN, 1}))
      .sub("TFP0", f32s({1e9f}))
      .sub("TFP1", f32s({0}));
  log_clear();
  Loaded l;
  load_bytes(l, w.bytes(), "bad.lwo");
  ASSERT_EQ(l.status, LoadStatus::ok);
  const LwSurfaceParams& p = l.lw();
  EXPECT_EQ(p.smoothing_angle, 0.0f);
  EXPECT_EQ(p.gloss_exponent, 4.0f);
  EXPECT_EQ(p.glossiness, 0.0f);
  EXPECT_EQ(p.diffuse, 1.0f);
  const LwTextureLayer& t = p.layers.at(0);
  EXPECT_EQ(t.size[0], 1.0f);
  EXPECT_EQ(t.size[1], 1.0f);
  EXPECT_EQ(t.wrap_width, 1024.0f);
  EXPECT_EQ(t.wrap_height, 1.0f);
  int lines = 0;
  for (const std::string& line : log_lines())
    if (line.find("clamped") != std::string::npos) {
      ++lines;
      EXPECT_NE(line.find("bad.lwo"), std::string::npos) << line;
      EXPECT_NE(line.find("wrap counts"), std::string::npos) << line;
      EXPECT_NE(line.find("texture size 0"), std::string::npos) << line;
      EXPECT_NE(line.find("glossiness"), std::string::npos) << line;
    }
  EXPECT_EQ(lines, 1);
  expect_unit_and_finite(l.object().corner_normals);
}

// An image-map BLOK with the given ordinal, channel and wrap amounts.
LwChunk imap_block(const std::string& ordinal, const char* channel, float wrap_w, float wrap_h,
                   float size0) {
  std::vector<uint8_t> head, tmap, blok;
  lw_put_string(head, ordinal);
  lwo2_put_sub(head, "CHAN", {uint8_t(channel[0]), uint8_t(channel[1]), uint8_t(channel[2]), uint8_t(channel[3])});
  std::vector<uint8_t> opac = u16s({3});
  lw_put_f32(opac, 0.5f);
  lw_put_u16(opac, 0);
  lwo2_put_sub(head, "OPAC", opac);
  std::vector<uint8_t> size = f32s({size0, 2, 3});
  lw_put_u16(size, 0);
  lwo2_put_sub(tmap, "SIZE", size);
  std::vector<uint8_t> rota = f32s({0.5f, 0, 0});
  lw_put_u16(rota, 0);
  lwo2_put_sub(tmap, "ROTA", rota);
  lwo2_put_sub(tmap, "CSYS", u16s({1}));
  lwo2_put_sub(blok, "IMAP", head);
  lwo2_put_sub(blok, "TMAP", tmap);
  lwo2_put_sub(blok, "PROJ", u16s({2}));
  lwo2_put_sub(blok, "WRAP", u16s({2, 3}));
  std::vector<uint8_t> w = f32s({wrap_w});
  lw_put_u16(w, 0);
  lwo2_put_sub(blok, "WRPW", w);
  std::vector<uint8_t> h = f32s({wrap_h});
  lw_put_u16(h, 0);
  lwo2_put_sub(blok, "WRPH", h);
  return {"BLOK", blok};
}

TEST(LwSurface, Lwo2ValuesLayersInOrdinalOrderAndClamping) {
  Lwo2Model m;
  Lwo2WriterSurface s;
  s.name = "Skin";
  s.color[0] = 0.25f;
  s.sidedness = 3;
  s.smoothing_angle = kNaN;
  s.subchunks.push_back({"SPEC", f32s({0.5f, 0})});
  s.subchunks.push_back({"GLOS", f32s({0.2f, 0})});
  s.subchunks.push_back({"CLRH", f32s({0.25f, 0})});
  s.subchunks.push_back({"ADTR", f32s({0.5f, 0})});
  // Written out of order: the layer with the lower ordinal is evaluated first.
  s.subchunks.push_back(imap_block("\x90", "DIFF", 0, 1e9f, 0));
  s.subchunks.push_back(imap_block("\x80", "COLR", 2, 1, 1));
  std::vector<uint8_t> proc_head, blok;
  lw_put_string(proc_head, "\xA0");
  lwo2_put_sub(proc_head, "CHAN", {'B', 'U', 'M', 'P'});
  lwo2_put_sub(blok, "PROC", proc_head);
  std::vector<uint8_t> func;
  lw_put_string(func, "Turbulence");
  lwo2_put_sub(blok, "FUNC", func);
  s.subchunks.push_back({"BLOK", blok});
  Lwo2WriterSurface gloss = s;
  gloss.name = "Hot";
  gloss.smoothing_angle = 1.0f;
  gloss.subchunks = {{"GLOS", f32s({5.0f, 0})}};
  m.surfaces = {s, gloss};
  Lwo2WriterLayer layer;
  layer.points = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
  layer.polygons = {{0, 1, 2}, {0, 2, 3}};
  layer.surfaces = {0, 1};
  m.layers = {layer};

  log_clear();
  Loaded l;
  load_bytes(l, lwo2_bytes(m));
  ASSERT_EQ(l.status, LoadStatus::ok);
  const LwSurfaceParams& p = l.lw(0);
  EXPECT_FLOAT_EQ(p.color[0], 0.25f);
  EXPECT_FLOAT_EQ(p.specular, 0.5f);
  EXPECT_FLOAT_EQ(p.gloss_exponent, 16.0f);  // 2^(10 * 0.2 + 2)
  EXPECT_FLOAT_EQ(p.color_highlights, 0.25f);
  EXPECT_TRUE(p.double_sided);
  EXPECT_TRUE(p.additive);
  EXPECT_EQ(p.smoothing_angle, 0.0f);  // NaN
  ASSERT_EQ(p.layers.size(), 3u);
  EXPECT_EQ(p.layers[0].channel, LwChannel::color);
  EXPECT_EQ(p.layers[0].wrap_width, 2.0f);
  EXPECT_EQ(p.layers[0].projection, LwProjection::spherical);
  EXPECT_EQ(p.layers[0].wrap_u, LwWrap::mirror);
  EXPECT_EQ(p.layers[0].wrap_v, LwWrap::edge);
  EXPECT_EQ(p.layers[0].blend, LwBlend::multiply);
  EXPECT_EQ(p.layers[0].opacity, 0.5f);
  EXPECT_EQ(p.layers[0].rotation[0], 0.5f);
  EXPECT_TRUE(p.layers[0].world_coordinates);
  EXPECT_EQ(p.layers[1].channel, LwChannel::diffuse);
  EXPECT_EQ(p.layers[1].wrap_width, 1.0f);     // 0
  EXPECT_EQ(p.layers[1].wrap_height, 1024.0f);  // 1e9
  EXPECT_EQ(p.layers[1].size[0], 1.0f);         // 0
  EXPECT_FALSE(p.layers[2].image_map);
  EXPECT_EQ(p.layers[2].procedural, "Turbulence");
  EXPECT_EQ(p.layers[2].blend, LwBlend::additive);  // no OPAC
  EXPECT_EQ(l.lw(1).gloss_exponent, 4096.0f);
  EXPECT_EQ(l.lw(1).glossiness, 1.0f);
  int lines = 0;
  for (const std::string& line : log_lines()) lines += line.find("clamped") != std::string::npos;
  EXPECT_EQ(lines, 1);
  // The engine still smooths by its own reading of SMAN.
  EXPECT_EQ(l.object().surfaces[0].lw_flags & 0x4u, 0u);
}

// A UV sphere of `rings` x `segments` quads (triangles at the poles) on one surface.
void sphere(LwobWriter& w, int rings, int segments) {
  w.add_point(0, 1, 0);
  for (int r = 1; r < rings; ++r)
    for (int s = 0; s < segments; ++s) {
      const float th = kPi * float(r) / float(rings), ph = 2 * kPi * float(s) / float(segments);
      w.add_point(std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph));
    }
  const auto bottom = uint16_t(w.add_point(0, -1, 0));
  auto at = [&](int r, int s) { return uint16_t(1 + (r - 1) * segments + (s % segments)); };
  for (int s = 0; s < segments; ++s) {
    w.add_polygon({0, at(1, s + 1), at(1, s)});
    w.add_polygon({bottom, at(rings - 1, s), at(rings - 1, s + 1)});
    for (int r = 1; r + 1 < rings; ++r) w.add_polygon({at(r, s), at(r, s + 1), at(r + 1, s + 1), at(r + 1, s)});
  }
}

TEST(LwSurface, CornerNormalsFollowTheSmoothingAngle) {
  // A cube smoothed at 89.5 degrees keeps every corner on its face normal.
  {
    LwobWriter w;
    const float v[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    for (const auto& p : v) w.add_point(p[0], p[1], p[2]);
    for (const auto& f : std::vector<std::vector<uint16_t>>{
             {0, 1, 2, 3}, {5, 4, 7, 6}, {4, 0, 3, 7}, {1, 5, 6, 2}, {3, 2, 6, 7}, {4, 5, 1, 0}})
      w.add_polygon(f);
    w.add_surface("Box").flag(0x4);
    Loaded l;
    load_bytes(l, w.bytes());
    ASSERT_EQ(l.status, LoadStatus::ok);
    const SceneObject& o = l.object();
    ASSERT_EQ(o.corner_normals.size(), o.polygons.size() * 9);
    for (size_t t = 0; t < o.polygons.size(); ++t)
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
          EXPECT_NEAR(o.corner_normals[9 * t + 3 * size_t(c) + size_t(k)], o.polygons[t].normal[k], 1e-6f);
  }
  // A smoothed sphere's corners point away from its centre; a faceted one's do not.
  for (bool smooth : {true, false}) {
    LwobWriter w;
    sphere(w, 6, 80);  // 80 polygons meet at each pole: the many-neighbour path
    w.add_surface("Ball").flag(smooth ? 0x4 : 0x0);
    Loaded l;
    load_bytes(l, w.bytes());
    ASSERT_EQ(l.status, LoadStatus::ok);
    const SceneObject& o = l.object();
    expect_unit_and_finite(o.corner_normals);
    float worst = 1;
    for (size_t t = 0; t < o.polygons.size(); ++t)
      for (int c = 0; c < 3; ++c) {
        const Vertex& p = o.vertices[size_t(o.polygons[t].corners[c])];
        const float* n = &o.corner_normals[9 * t + 3 * size_t(c)];
        worst = std::min(worst, n[0] * p.x + n[1] * p.y + n[2] * p.z);
      }
    if (smooth)
      EXPECT_GT(worst, 0.999f);
    else
      EXPECT_LT(worst, 0.99f);
  }
}

TEST(LwSurface, DegeneratePolygonsGiveUnitNormals) {
  LwobWriter w;
  w.add_point(0, 0, 0);
  w.add_point(1, 0, 0);
  w.add_point(0, 1, 0);
  w.add_point(2, 0, 0);
  w.add_polygon({0, 1, 2});
  w.add_polygon({0, 1, 3});  // all on one line: no area
  w.add_polygon({3, 3, 3});  // one point three times
  w.add_surface("S").flag(0x4);
  Loaded l;
  load_bytes(l, w.bytes());
  ASSERT_EQ(l.status, LoadStatus::ok);
  ASSERT_EQ(l.object().corner_normals.size(), 27u);
  expect_unit_and_finite(l.object().corner_normals);
  // The flat one's corners at points 0 and 1 borrow the good triangle's normal.
  EXPECT_NEAR(std::fabs(l.object().corner_normals[9 + 2]), 1.0f, 1e-6f);
}

void write_bmp(const std::string& path, uint32_t width, uint32_t height) {
  const std::vector<uint8_t> b = test::make_bmp24(test::make_picture(width, height));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

TEST(LwSurface, LayersNameThePicturesTheEngineLoaded) {
  testing::TempDir dir("lw_layer_images");
  const std::string wall = dir.path("wall.bmp"), dirt = dir.path("dirt.bmp"), sky = dir.path("sky.bmp");
  write_bmp(wall, 24, 10);
  write_bmp(dirt, 40, 20);
  write_bmp(sky, 8, 8);
  const std::string& pre = testing::kPrefix;
  LwobWriter w;
  LwobSurface& s = testing::quad_object(w, "Wall");
  // The engine keeps the last picture outside the reflection block as its colour image.
  s.texture_header("CTEX", "Planar Image Map").timg(pre + wall);
  s.texture_header("DTEX", "Planar Image Map").timg(pre + dirt);
  s.texture_header("RTEX", "Spherical Image Map").timg(pre + sky);
  w.add_surface("title__STATIC_IMAGE__").texture_header("CTEX", "Planar Image Map").timg(pre + wall);
  w.add_polygon({0, 2, 3}, 2);
  Loaded l;
  load_bytes(l, w.bytes());
  ASSERT_EQ(l.status, LoadStatus::ok);
  const Surface& engine = l.object().surfaces[0];
  const LwSurfaceParams& p = l.lw(0);
  ASSERT_EQ(p.layers.size(), 3u);
  EXPECT_EQ(p.layers[0].image, -1);
  EXPECT_EQ(p.layers[0].image_path, pre + wall);
  EXPECT_EQ(p.layers[1].image, engine.texture);
  EXPECT_EQ(p.layers[1].image_width, 40);
  EXPECT_EQ(p.layers[1].image_height, 20);
  EXPECT_EQ(p.layers[1].texture_side, 64);
  EXPECT_EQ(p.layers[1].coverage[1], 1.0f);  // scaled to fill the square
  EXPECT_EQ(p.layers[2].image, engine.reflection_texture);
  EXPECT_EQ(p.layers[2].texture_side, 8);
  // A static image sits unscaled in the top-left corner of its texture.
  const LwTextureLayer& title = l.lw(1).layers.at(0);
  EXPECT_GT(title.image, 0);
  EXPECT_EQ(title.texture_side, 32);
  EXPECT_FLOAT_EQ(title.coverage[0], 24 / 32.0f);
  EXPECT_FLOAT_EQ(title.coverage[1], 10 / 32.0f);

  // A later object naming the same picture shares it, sizes included.
  LwobWriter second;
  testing::quad_object(second, "Again").texture_header("CTEX", "Planar Image Map").timg(pre + dirt);
  ObjectLoadContext context;
  ASSERT_EQ(load_object_data(l.scene, context, second.bytes()), LoadStatus::ok);
  const LwTextureLayer& again = l.scene.objects[1].surfaces[0].lw.layers.at(0);
  EXPECT_EQ(again.image, engine.texture);
  EXPECT_EQ(again.image_width, 40);
  EXPECT_EQ(again.texture_side, 64);
}

TEST(LwSurface, DumpObjectPrintsTheRecordWithEnumsByName) {
  testing::TempDir dir("lw_dump");
  LwobWriter w;
  testing::quad_object(w, "Tin")
      .colr(255, 0, 0)
      .flag(0x4)
      .texture_header("CTEX", "Cylindrical Image Map")
      .tflg(0x2)
      .sub("TWRP", u16s({0, 3}));
  const std::string file = dir.path("tin.lwo"), out = dir.path("out.json");
  ASSERT_TRUE(w.write(file));
  ASSERT_EQ(std::system((std::string(ORVL_BINARY) + " dump-object " + file + " --json > " + out + " 2>/dev/null").c_str()), 0);
  std::ifstream in(out);
  const nlohmann::json j = nlohmann::json::parse(in);
  const nlohmann::json& lw = j["surfaces"][0]["lightwave"];
  EXPECT_EQ(lw["color"][0], 1.0);
  EXPECT_EQ(lw["smoothing_angle"].get<float>(), 89.5f * kPi / 180);
  const nlohmann::json& layer = lw["layers"][0];
  EXPECT_EQ(layer["channel"], "color");
  EXPECT_EQ(layer["projection"], "cylindrical");
  EXPECT_EQ(layer["axis"], 1);
  EXPECT_EQ(layer["wrap_u"], "reset");
  EXPECT_EQ(layer["wrap_v"], "mirror");
  EXPECT_EQ(layer["blend"], "normal");
  EXPECT_EQ(layer["image"], -1);
  // The keys that were there stay, and the corner normals are not printed.
  EXPECT_EQ(j["surfaces"][0]["lw_flags"], 4);
  EXPECT_FALSE(j.contains("corner_normals"));
}

TEST(LwSurface, FilesSavedByLightWaveAndOtherTools) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  {
    Loaded low, high;
    load_file(low, "lightwave/sphere_with_mat_gloss_10pc.lwo");
    load_file(high, "lightwave/sphere_with_mat_gloss_50pc.lwo");
    ASSERT_EQ(low.status, LoadStatus::ok);
    ASSERT_EQ(high.status, LoadStatus::ok);
    EXPECT_EQ(low.lw().gloss_exponent, 16.0f);
    EXPECT_EQ(high.lw().gloss_exponent, 256.0f);
    EXPECT_FLOAT_EQ(high.lw().specular, 1.0f);
    EXPECT_NEAR(high.lw().smoothing_angle, 1.5626f, 1e-4f);
  }
  {
    Loaded l;
    load_file(l, "lightwave/bluewithcylindrictexz.lwo");
    ASSERT_EQ(l.status, LoadStatus::ok);
    const LwTextureLayer& t = l.lw().layers.at(0);
    EXPECT_EQ(t.projection, LwProjection::cylindrical);
    EXPECT_EQ(t.axis, 2);
    EXPECT_TRUE(t.antialiasing);
    EXPECT_TRUE(t.pixel_blending);
    EXPECT_FLOAT_EQ(l.lw().specular, 0.3f);
  }
  {
    Loaded l;
    load_file(l, "lightwave/penguin.lwo");
    ASSERT_EQ(l.status, LoadStatus::ok);
    // SMAN without the smoothing switch: LightWave draws these faceted.
    for (const Surface& s : l.object().surfaces) EXPECT_EQ(s.lw.smoothing_angle, 0.0f) << s.name;
    expect_unit_and_finite(l.object().corner_normals);
  }
  const struct {
    const char* file;
    LwProjection projection;
    int axis;
  } kEarths[] = {{"lightwave6/earth_planar_x.lwo", LwProjection::planar, 0},
                 {"lightwave6/earth_planar_y.lwo", LwProjection::planar, 1},
                 {"lightwave6/earth_planar_z.lwo", LwProjection::planar, 2},
                 {"lightwave6/earth_spherical_y.lwo", LwProjection::spherical, 1},
                 {"lightwave6/earth_uv_cylindrical_y.lwo", LwProjection::uv, -1}};
  for (const auto& e : kEarths) {
    Loaded l;
    load_file(l, e.file);
    ASSERT_EQ(l.status, LoadStatus::ok) << e.file;
    const SceneObject& o = l.object();
    const LwTextureLayer* c = l.lw().color_layer();
    ASSERT_NE(c, nullptr) << e.file;
    EXPECT_EQ(c->projection, e.projection) << e.file;
    if (e.axis >= 0) {
      EXPECT_EQ(c->axis, e.axis) << e.file;
    }
    // The engine loaded this layer's picture: the record names the same image.
    EXPECT_EQ(c->image, o.surfaces[0].texture) << e.file;
    if (c->image_path.find("earthSpherical") != std::string::npos) {  // the one picture shipped
      EXPECT_GT(c->image, 0) << e.file;
      EXPECT_EQ(c->image_width, 2048) << e.file;
      EXPECT_EQ(c->image_height, 1024) << e.file;
      EXPECT_EQ(c->texture_side, o.surfaces[0].texture_width) << e.file;
      EXPECT_EQ(c->coverage[0], 1.0f) << e.file;
    } else {
      EXPECT_EQ(c->image, -1) << e.file;
      EXPECT_EQ(c->coverage[0], 0.0f) << e.file;
    }
    EXPECT_EQ(o.corner_normals.size(), o.polygons.size() * 9) << e.file;
  }
  {
    Loaded flat, smooth;
    load_file(flat, "lightwave6/hierarchy.lwo");
    load_file(smooth, "lightwave6/hierarchy_smoothed.lwo");
    ASSERT_EQ(flat.status, LoadStatus::ok);
    ASSERT_EQ(smooth.status, LoadStatus::ok);
    EXPECT_NEAR(flat.lw().smoothing_angle, 89.5f * kPi / 180, 1e-5f);
    EXPECT_NEAR(smooth.lw().smoothing_angle, 120.0f * kPi / 180, 1e-5f);
  }
  {
    Loaded l;
    load_file(l, "lightwave6/transparency.lwo");
    ASSERT_EQ(l.status, LoadStatus::ok);
    bool any = false;
    for (const Surface& s : l.object().surfaces) any |= s.lw.transparency > 0;
    EXPECT_TRUE(any);
  }
  {
    Loaded l;
    load_file(l, "lightwave/box3-uv-layers.lwo");
    ASSERT_EQ(l.status, LoadStatus::ok);
    EXPECT_EQ(l.lw().color[0], 1.0f);
    EXPECT_EQ(l.lw().diffuse, 1.0f);
  }
}

}  // namespace
}  // namespace orvl
