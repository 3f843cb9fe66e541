#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "image/iff.h"
#include "object/object_loader.h"
#include "platform/log.h"
#include "support/object_fixtures.h"
#include "support/shared_data.h"

using namespace orvl;
using namespace orvl::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class ObjectLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    texture_counter = 0;
    log_set_echo(false);
    log_clear();
    prepare_object_scene(scene);
  }
  const SceneObject& obj(int i = 0) const { return scene.objects[size_t(i)]; }
  std::vector<int> corners(int t) const {
    const Triangle& tri = obj().polygons[size_t(t)];
    return {tri.corners[0], tri.corners[1], tri.corners[2]};
  }
  bool logged(const std::string& part) const {
    for (const auto& l : log_lines())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  Scene scene;
  ObjectLoadContext context;
};

TEST(IffReader, ReadsBigEndianAndRefusesReadsPastTheEnd) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x3F, 0x80, 0x00, 0x00, 0xAB};
  ByteReader r(bytes, sizeof bytes);
  uint32_t v32;
  float f;
  uint16_t v16;
  ASSERT_TRUE(r.u32be(v32));
  EXPECT_EQ(v32, 0x12345678u);
  ASSERT_TRUE(r.f32be(f));
  EXPECT_EQ(f, 1.0f);
  EXPECT_FALSE(r.u16be(v16));  // one byte left
  EXPECT_EQ(r.pos(), 8u);
  EXPECT_FALSE(r.ok());
  ByteReader le(bytes, 4);
  ASSERT_TRUE(le.u16le(v16));
  EXPECT_EQ(v16, 0x3412);
}

TEST(IffReader, WalksChunksWithPadBytesAndStopsAtTruncation) {
  std::vector<uint8_t> data;
  lw_put_chunk(data, LwChunk{"ODD1", {1, 2, 3}}, false);
  lw_put_chunk(data, LwChunk{"EVEN", {4, 5}}, false);
  lw_put_chunk(data, LwChunk{"LONG", {6}, 100}, false);
  ChunkWalker w(data.data(), data.size(), 0, ChunkSize::u32, true);
  IffChunk c;
  ASSERT_TRUE(w.next(c));
  EXPECT_STREQ(c.id, "ODD1");
  EXPECT_EQ(c.size, 3u);
  ASSERT_TRUE(w.next(c));
  EXPECT_STREQ(c.id, "EVEN");
  EXPECT_EQ(c.data[1], 5);
  EXPECT_FALSE(w.next(c));
  EXPECT_TRUE(w.truncated());
  EXPECT_STREQ(c.id, "LONG");
}

TEST_F(ObjectLoader, PolygonsBecomeFansAndShortPolygonsAreDropped) {
  LwobWriter w;
  for (int i = 0; i < 5; ++i) w.add_point(float(i), float(i * i), 0);
  w.add_surface("A");
  w.add_surface("B");
  w.add_polygon({0, 1, 2, 3}, 1);
  w.add_polygon({4}, 2);
  w.add_polygon({3, 4}, 2);
  w.add_polygon({0, 1, 2, 3, 4}, 2);
  scene.polygon_total = 10;
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  EXPECT_EQ(scene.object_count, 1);
  EXPECT_EQ(obj().polygon_count, 5);
  EXPECT_EQ(scene.polygon_total, 15);
  EXPECT_EQ(obj().vertex_count, 5);
  EXPECT_EQ(obj().surface_count, 2);
  EXPECT_THAT(corners(0), ElementsAre(0, 1, 2));
  EXPECT_THAT(corners(1), ElementsAre(0, 2, 3));
  EXPECT_THAT(corners(2), ElementsAre(0, 1, 2));
  EXPECT_THAT(corners(3), ElementsAre(0, 2, 3));
  EXPECT_THAT(corners(4), ElementsAre(0, 3, 4));
  EXPECT_EQ(obj().polygons[1].surface, &obj().surfaces[0]);
  EXPECT_EQ(obj().polygons[4].surface, &obj().surfaces[1]);
  EXPECT_EQ(obj().polygons[4].dissolve_ref, nullptr);
  EXPECT_EQ(obj().vertices[4].y, 16.0f);
  EXPECT_EQ(obj().transformed.size(), 5u);
  EXPECT_EQ(obj().transformed_parent.size(), 5u);
  EXPECT_TRUE(scene.object_data.empty());
  EXPECT_TRUE(scene.normal_work.empty());
}

TEST_F(ObjectLoader, SurfaceAttributesGiveColoursAxesAndFlags) {
  LwobWriter w;
  for (int i = 0; i < 3; ++i) w.add_point(float(i), float(i % 2), 0);
  w.add_surface("Plain");
  w.add_surface("Red").colr(255, 0, 10).flag(0x4 | 0x80).tflg(0x1 | 0x2);
  w.add_surface("Sharp").flag(0x80).tflg(0x2);
  w.add_surface("Glow").flag(0x200 | 0x100).tflg(0x4);
  w.add_surface("Lines__WIREFRAME2");
  w.add_surface("Hidden__WIREFRAME0");
  for (uint16_t s = 1; s <= 6; ++s) w.add_polygon({0, 1, 2}, s);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  using namespace TriangleFlags;
  const auto& s = obj().surfaces;
  const auto& t = obj().polygons;
  EXPECT_THAT(t[0].color, ElementsAre(200, 200, 200));
  EXPECT_EQ(t[0].flags, 0u);
  EXPECT_THAT(t[1].color, ElementsAre(255, 0, 10));
  EXPECT_EQ(s[1].lw_flags, 0x84u);
  EXPECT_EQ(s[1].axis, 0);
  EXPECT_EQ(t[1].flags, SMOOTH_LIT);
  EXPECT_EQ(s[2].axis, 1);
  EXPECT_EQ(t[2].flags, FLAT_LIT);
  EXPECT_EQ(s[3].axis, 2);
  EXPECT_EQ(t[3].flags, ADDITIVE | DOUBLE_SIDED);
  EXPECT_EQ(s[4].line_width, 2);
  EXPECT_EQ(t[4].flags, WIREFRAME);
  EXPECT_EQ(s[5].line_width, 0);
  EXPECT_EQ(t[5].flags, 0u);
  EXPECT_EQ(t[0].texture, -1);
  EXPECT_EQ(t[0].reflection_texture, -1);
  EXPECT_EQ(obj().needs_normals, 1);
}

TEST_F(ObjectLoader, KeywordTestsAreExactOrCaseBlindAsNamed) {
  LwobWriter w;
  for (int i = 0; i < 4; ++i) w.add_point(float(i & 1), float(i >> 1), 0);
  w.add_surface("ship__zynaps__");
  w.add_surface("dots_plots_");
  w.add_surface("emit__PARTICLES_1");
  w.add_surface("bg__2deffect_STARS");
  w.add_surface("x__static_image__");
  w.add_surface("__DEFORM1____METAFORM__");
  for (uint16_t s = 1; s <= 6; ++s) w.add_polygon({0, 1, 2}, s);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  using namespace TriangleFlags;
  EXPECT_EQ(obj().polygons[0].flags, INVERT);
  EXPECT_EQ(obj().no_dissolve, 1);
  EXPECT_EQ(obj().plots, 1);
  EXPECT_EQ(obj().plots_buffer.size(), 4u * kPlotsBytesPerVertex);
  EXPECT_EQ(obj().particles, 1);
  EXPECT_EQ(obj().emitter, nullptr);  // set up by the particle system
  EXPECT_EQ(obj().polygons[3].flags, EFFECT_TEXTURE);
  EXPECT_EQ(obj().static_image, 0);  // exact test: small letters do not count
  EXPECT_EQ(obj().deform, 1);
  EXPECT_EQ(obj().metaform, 1);
  EXPECT_EQ(obj().needs_normals, 0);
  for (const Vertex& v : obj().vertices) EXPECT_EQ(v.nz, 0.0f);
}

TEST_F(ObjectLoader, NormalsAreUnitFaceNormalsAndPlainVertexAverages) {
  LwobWriter w;
  // Two triangles meeting at a right angle along the edge from point 0 to point 1.
  w.add_point(0, 0, 0);
  w.add_point(1, 0, 0);
  w.add_point(0, 2, 0);
  w.add_point(0, 0, -3);
  w.add_point(5, 5, 5);  // used by no triangle
  w.add_surface("Lit").flag(0x4);
  w.add_polygon({0, 1, 2}, 1);
  w.add_polygon({0, 1, 3}, 1);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  const auto& t = obj().polygons;
  EXPECT_THAT(t[0].normal, ElementsAre(0.0f, 0.0f, 1.0f));
  EXPECT_THAT(t[1].normal, ElementsAre(0.0f, 1.0f, 0.0f));
  const float h = float(1 / std::sqrt(2.0));
  const Vertex& v0 = obj().vertices[0];
  EXPECT_NEAR(v0.nx, 0, 1e-6);
  EXPECT_NEAR(v0.ny, h, 1e-6);
  EXPECT_NEAR(v0.nz, h, 1e-6);
  EXPECT_NEAR(obj().vertices[2].nz, 1, 1e-6);
  EXPECT_EQ(obj().vertices[4].nx, 0.0f);
  EXPECT_EQ(obj().vertices[4].ny, 0.0f);
  EXPECT_EQ(obj().vertices[4].nz, 0.0f);
}

TEST_F(ObjectLoader, DegenerateTriangleGetsZeroNormalWithoutNaN) {
  LwobWriter w;
  w.add_point(0, 0, 0);
  w.add_point(1, 1, 1);
  w.add_point(2, 2, 2);
  w.add_surface("Lit").flag(0x80);
  w.add_polygon({0, 1, 2}, 1);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  for (float n : obj().polygons[0].normal) EXPECT_EQ(n, 0.0f);
  for (const Vertex& v : obj().vertices) EXPECT_FALSE(std::isnan(v.nx) || std::isnan(v.ny));
}

TEST_F(ObjectLoader, ChunkOrderAndUnknownChunksDoNotMatter) {
  LwobWriter a;
  quad_object(a).colr(1, 2, 3);
  LwobWriter b = a;
  b.order = {"PNTS", "SRFS", "POLS", "SURF"};
  b.add_chunk("CRVS", {0, 4, 0, 1, 0, 2, 0, 3, 0, 1}, 2);
  b.add_chunk("XTRA", {9}, 1);  // odd size: padded
  ASSERT_EQ(load_written(scene, a), LoadStatus::ok);
  ASSERT_EQ(load_written(scene, b), LoadStatus::ok);
  ASSERT_EQ(scene.object_count, 2);
  for (int t = 0; t < 2; ++t) {
    const Triangle& x = obj(0).polygons[size_t(t)];
    const Triangle& y = obj(1).polygons[size_t(t)];
    EXPECT_THAT(x.corners, ElementsAre(y.corners[0], y.corners[1], y.corners[2]));
    EXPECT_THAT(y.color, ElementsAre(1, 2, 3));
  }
  EXPECT_EQ(obj(1).vertices[2].x, 1.0f);
}

TEST_F(ObjectLoader, OtherFormTypesAreRefused) {
  LwobWriter w;
  quad_object(w);
  w.form_type = "LWO2";
  EXPECT_EQ(load_written(scene, w), LoadStatus::bad_format);
  EXPECT_EQ(scene.object_count, 0);
  EXPECT_EQ(load_object_data(scene, context, {'F', 'O', 'R', 'M'}), LoadStatus::bad_format);
  EXPECT_EQ(load_object_data(scene, context, {}), LoadStatus::bad_format);
}

TEST_F(ObjectLoader, NameIsShortenedInPlaceOnTheFirstAttemptOnly) {
  TempDir dir("loader_name");
  LwobWriter w;
  quad_object(w);
  const std::string file = dir.path("ship.lwo");
  ASSERT_TRUE(w.write(file));

  std::string missing = kPrefix + dir.path("absent.lwo");
  EXPECT_EQ(load_object(scene, context, missing, false), LoadStatus::not_found);
  EXPECT_EQ(missing, dir.path("absent.lwo"));
  EXPECT_EQ(scene.loaded, 0);

  scene.loaded = 1;
  std::string name = kPrefix + file;
  ASSERT_EQ(load_object(scene, context, name, false), LoadStatus::ok);
  EXPECT_EQ(name, file);
  std::string again = file;
  ASSERT_EQ(load_object(scene, context, again, true), LoadStatus::ok);
  EXPECT_EQ(again, file);
  EXPECT_EQ(scene.object_count, 2);

  std::string shorter = "short.lwo";
  EXPECT_EQ(load_object(scene, context, shorter, false), LoadStatus::not_found);
  EXPECT_EQ(shorter, "");
}

TEST_F(ObjectLoader, TexturedSurfacesGetSceneWideNumbersAndPlanarCoordinates) {
  TempDir dir("loader_tex");
  const std::string a = dir.touch("a.tga"), b = dir.touch("b.tga");
  scene.texture_base = 40;
  LwobWriter w;
  w.add_point(0, 0, 0);
  w.add_point(2, 0, 0);
  w.add_point(2, 1, 0);
  w.add_surface("Col").ctex().timg(kPrefix + a).sub("TWRP", {0, 1, 0, 1});
  w.add_surface("Refl").rtex().timg(kPrefix + b).colr(9, 9, 9);
  w.add_surface("Only first").rtex().timg(kPrefix + a).texture_header("TTEX").timg(kPrefix + b);
  w.add_surface("__2DEFFECT_PLASMA__").rtex().timg("plasma/source.tga");
  for (uint16_t s = 1; s <= 4; ++s) w.add_polygon({0, 1, 2}, s);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  const auto& s = obj().surfaces;
  const auto& t = obj().polygons;
  using namespace TriangleFlags;
  EXPECT_EQ(s[0].texture, 1);
  EXPECT_EQ(t[0].texture, 40);
  EXPECT_EQ(t[0].flags, TEXTURED);
  EXPECT_THAT(t[0].uv, ElementsAre(0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f));
  EXPECT_THAT(s[0].extent, ElementsAre(2.0f, 1.0f, 0.0f));
  EXPECT_EQ(s[1].texture, -1);
  EXPECT_EQ(s[1].reflection_texture, 2);
  EXPECT_EQ(t[1].reflection_texture, 41);
  EXPECT_EQ(t[1].flags, TEXTURED | REFLECTION);
  EXPECT_THAT(s[1].color, ElementsAre(200, 200, 200));  // COLR inside the block is skipped
  EXPECT_EQ(s[2].reflection_texture, 3);
  EXPECT_EQ(s[2].image_path, "");
  EXPECT_EQ(s[3].reflection_path, "plasma/source.tga");
  EXPECT_EQ(s[3].reflection_texture, -1);
  EXPECT_EQ(scene.image_count, 3);
  EXPECT_EQ(texture_counter, 3);
  EXPECT_EQ(obj().needs_normals, 1);  // reflections are lit
  ASSERT_GE(scene.image_names.size(), 3u);
  EXPECT_EQ(scene.image_names[0], kPrefix + a);
}

TEST_F(ObjectLoader, MissingImageFailsTheObjectUnlessInspecting) {
  LwobWriter w;
  quad_object(w).timg(kPrefix + "images/nowhere.tga");
  EXPECT_EQ(load_written(scene, w, {}, &context), LoadStatus::not_found);
  EXPECT_TRUE(context.image_missing);
  EXPECT_EQ(context.error_path, "images/nowhere.tga");
  EXPECT_EQ(scene.loaded, 0);
  EXPECT_EQ(scene.object_count, 0);

  Scene inspect;
  prepare_object_scene(inspect);
  std::vector<std::string> missing;
  ObjectLoadOptions opt;
  opt.images_required = false;
  opt.missing_images = &missing;
  ASSERT_EQ(load_written(inspect, w, opt), LoadStatus::ok);
  EXPECT_THAT(missing, ElementsAre("images/nowhere.tga"));
  EXPECT_EQ(inspect.loaded, 1);
  EXPECT_EQ(inspect.objects[0].surfaces[0].texture, -1);
  EXPECT_EQ(inspect.objects[0].surfaces[0].image_path, "images/nowhere.tga");
}

TEST_F(ObjectLoader, ParticleSurfaceTextureIsTheFirstOfTwelve) {
  TempDir dir("loader_particles");
  const std::string img = dir.touch("spark.tga");
  scene.texture_base = 1;
  LwobWriter w;
  quad_object(w, "spark__PARTICLES_4").timg(kPrefix + img);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  EXPECT_EQ(obj().surfaces[0].texture, 1);
  EXPECT_EQ(scene.image_count, 12);
  EXPECT_EQ(texture_counter, 12);
  EXPECT_EQ(obj().polygons[0].texture, 1);
}

TEST_F(ObjectLoader, StaticImageQuadFillsTheOutputAspect) {
  TempDir dir("loader_static");
  const std::string img = dir.touch("title.tga");
  LwobWriter w;
  quad_object(w, "title__STATIC_IMAGE__").timg(kPrefix + img);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  EXPECT_EQ(obj().static_image, 1);
  const auto& v = obj().vertices;
  const float a = 0.5f * 640.0f / 480.0f;
  EXPECT_FLOAT_EQ(v[0].x, -a);
  EXPECT_FLOAT_EQ(v[0].y, 0.5f);
  EXPECT_FLOAT_EQ(v[2].x, a);
  EXPECT_FLOAT_EQ(v[2].y, -0.5f);
  EXPECT_EQ(v[3].z, -1.0f);
  EXPECT_THAT(corners(0), ElementsAre(0, 1, 2));
  EXPECT_THAT(corners(1), ElementsAre(0, 3, 2));
  // No picture size yet, so the quad spans the whole texture.
  EXPECT_THAT(obj().polygons[1].uv, ElementsAre(0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f));

  Scene tall;
  prepare_object_scene(tall, 480, 640);
  ASSERT_EQ(load_written(tall, w), LoadStatus::ok);
  EXPECT_FLOAT_EQ(tall.objects[0].vertices[0].y, 0.5f * 640.0f / 480.0f);
  EXPECT_FLOAT_EQ(tall.objects[0].vertices[0].x, -0.5f);
}

// Damaged files: each case either skips the item or refuses the file, and never reads or
// writes outside the buffers (the sanitizer build checks the latter).
TEST_F(ObjectLoader, ChunksRunningPastTheFileAreRefused) {
  LwobWriter w;
  quad_object(w);
  w.set_declared_size("POLS", 4000);
  EXPECT_EQ(load_written(scene, w), LoadStatus::bad_format);
  EXPECT_TRUE(logged("runs past the end of the file"));

  LwobWriter cut;
  quad_object(cut);
  cut.add_polygon({0, 1, 2}, 1);
  cut.set_declared_size("POLS", 14);  // ends inside the second polygon
  EXPECT_EQ(load_written(scene, cut), LoadStatus::bad_format);

  LwobWriter sub;
  quad_object(sub).colr(1, 2, 3).sub("TIMG", {'a', 0}, 900);
  EXPECT_EQ(load_written(scene, sub), LoadStatus::bad_format);
  EXPECT_EQ(scene.object_count, 0);
}

TEST_F(ObjectLoader, PolygonsNamingMissingPointsOrSurfacesAreSkipped) {
  LwobWriter w;
  for (int i = 0; i < 4; ++i) w.add_point(float(i), float(i & 1), 0);
  w.add_surface("One");
  w.add_surface("Two");
  w.add_polygon({0, 1, 2}, 1);
  w.add_polygon({0, 1, 4}, 1);          // point 4 does not exist
  w.add_polygon({0, 1, 2}, 0);          // surface 0
  w.add_polygon({0, 1, 2}, 3);          // above the surface count
  w.add_polygon({0, 2, 3}, 0x8001, {1});  // negative: one detail polygon follows
  w.add_polygon({1, 2, 3}, 2);          // the detail polygon, read as an ordinary one
  scene.polygon_total = 100;
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  EXPECT_EQ(obj().polygon_count, 2);
  EXPECT_EQ(scene.polygon_total, 102);
  EXPECT_THAT(corners(0), ElementsAre(0, 1, 2));
  EXPECT_THAT(corners(1), ElementsAre(1, 2, 3));
  EXPECT_EQ(obj().polygons[1].surface, &obj().surfaces[1]);
  EXPECT_TRUE(logged("Skipped 1 polygons naming points"));
  EXPECT_TRUE(logged("Skipped 3 polygons with surface numbers"));
}

TEST_F(ObjectLoader, UnmatchedSurfaceChunkAndRepeatedChunksAreIgnored) {
  LwobWriter w;
  quad_object(w).colr(5, 6, 7);
  w.surfaces()[0].surf_name_override = "Nobody";
  w.add_surface("Second").colr(1, 1, 1);
  // A second, larger point chunk must not write past the points counted from the first.
  std::vector<uint8_t> pts;
  for (int i = 0; i < 30; ++i) lw_put_f32(pts, 9.0f);
  w.add_chunk("PNTS", pts);
  ASSERT_EQ(load_written(scene, w), LoadStatus::ok);
  EXPECT_THAT(obj().surfaces[0].color, ElementsAre(200, 200, 200));
  EXPECT_THAT(obj().surfaces[1].color, ElementsAre(1, 1, 1));
  EXPECT_EQ(obj().vertex_count, 4);
  EXPECT_EQ(obj().vertices[3].y, 1.0f);
  EXPECT_TRUE(logged("Nobody matches no surface name"));
}

TEST_F(ObjectLoader, StaticImageWithoutAQuadIsRefused) {
  LwobWriter w;
  w.add_point(0, 0, 0);
  w.add_point(1, 0, 0);
  w.add_point(1, 1, 0);
  w.add_surface("__STATIC_IMAGE__");
  w.add_polygon({0, 1, 2}, 1);
  EXPECT_EQ(load_written(scene, w), LoadStatus::bad_format);
  EXPECT_EQ(scene.object_count, 0);
}

TEST_F(ObjectLoader, CapacitiesFailWithALogLineNamingTheLimit) {
  LwobWriter w;
  quad_object(w);
  scene.object_count = kMaxObjects;
  EXPECT_EQ(load_written(scene, w), LoadStatus::out_of_memory);
  EXPECT_TRUE(logged("at most 50"));

  scene.object_count = 0;
  LwobWriter long_name;
  quad_object(long_name, std::string(128, 'n'));
  EXPECT_EQ(load_written(scene, long_name), LoadStatus::out_of_memory);
  EXPECT_TRUE(logged("longer than 127"));
  LwobWriter fits;
  quad_object(fits, std::string(127, 'n'));
  EXPECT_EQ(load_written(scene, fits), LoadStatus::ok);

  LwobWriter image;
  quad_object(image).timg(kPrefix + "x.tga");
  scene.image_count = kMaxImageNames;
  EXPECT_EQ(load_written(scene, image), LoadStatus::out_of_memory);
  EXPECT_TRUE(logged("at most 256 image names"));
  EXPECT_LE(scene.image_names.size(), size_t(kMaxImageNames));
}

// Real objects made by LightWave and other tools. The images they name are not here, so a
// scene-style load (images required) fails with status 1 for those that name any.
struct RealObject {
  const char* file;
  int vertices, triangles, surfaces;
  LoadStatus strict;
};

TEST_F(ObjectLoader, EveryRealTestObjectLoads) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const RealObject objects[] = {
      {"ConcavePolygon.lwo", 64, 64, 1, LoadStatus::ok},
      {"QuickDraw--Laserbeam.lwo", 2424, 4844, 1, LoadStatus::ok},
      {"alien.lwo", 676, 1308, 5, LoadStatus::not_found},
      {"bluewithcylindrictexz.lwo", 8, 12, 1, LoadStatus::not_found},
      {"box0.5.lwo", 8, 12, 1, LoadStatus::ok},
      {"box1.5.lwo", 8, 12, 6, LoadStatus::ok},
      {"box3-uv-layers.lwo", 798, 1584, 1, LoadStatus::ok},
      {"bridget.lwo", 7511, 15949, 21, LoadStatus::not_found},
      {"demon.lwo", 4863, 10916, 31, LoadStatus::ok},
      {"gidget.lwo", 7269, 16926, 23, LoadStatus::ok},
      {"head.lwo", 513, 930, 3, LoadStatus::ok},
      {"maggie.lwo", 5018, 16249, 16, LoadStatus::ok},
      {"monica.lwo", 4987, 19591, 14, LoadStatus::ok},
      {"noma.lwo", 11418, 19219, 12, LoadStatus::ok},
      {"penguin.lwo", 296, 616, 4, LoadStatus::ok},
      {"sphere_with_mat_gloss_10pc.lwo", 266, 528, 1, LoadStatus::ok},
      {"sphere_with_mat_gloss_50pc.lwo", 266, 528, 1, LoadStatus::ok},
      {"formatDetection", 24, 22, 1, LoadStatus::ok},
      {"ballcone/greenball.lwo", 266, 528, 1, LoadStatus::ok},
      {"ballcone/redcone.lwo", 26, 48, 1, LoadStatus::ok},
  };
  for (const RealObject& r : objects) {
    SCOPED_TRACE(r.file);
    std::string path = orvl::test::shared_testdata(std::string("lightwave/") + r.file);
    Scene strict;
    prepare_object_scene(strict);
    std::string name = path;
    EXPECT_EQ(load_object(strict, context, name, true), r.strict);
    Scene loose;
    prepare_object_scene(loose);
    ObjectLoadOptions opt;
    opt.images_required = false;
    name = path;
    ASSERT_EQ(load_object(loose, context, name, true, opt), LoadStatus::ok);
    const SceneObject& o = loose.objects[0];
    EXPECT_EQ(o.vertex_count, r.vertices);
    EXPECT_EQ(o.polygon_count, r.triangles);
    EXPECT_EQ(o.surface_count, r.surfaces);
    for (const Triangle& t : o.polygons)
      for (int c : t.corners) ASSERT_LT(c, o.vertex_count);
  }
}

TEST(DumpObjectCommand, PrintsTheObjectAndReportsMissingImages) {
  TempDir dir("dump_object");
  LwobWriter w;
  quad_object(w, "Skin").colr(10, 20, 30).flag(0x4).timg(kPrefix + "maps/skin.tga");
  const std::string file = dir.path("thing.lwo");
  ASSERT_TRUE(w.write(file));
  const std::string out = dir.path("out.json");
  const std::string cmd = std::string(ORVL_BINARY) + " dump-object " + file + " --json > " +
                          out + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(out);
  std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_THAT(json, HasSubstr("\"polygon_count\": 2"));
  EXPECT_THAT(json, HasSubstr("\"missing_images\": [\n  \"maps/skin.tga\""));
  EXPECT_THAT(json, HasSubstr("\"image_path\": \"maps/skin.tga\""));

  const std::string strict = std::string(ORVL_BINARY) + " dump-object " + file +
                             " --strict > /dev/null 2> " + out;
  EXPECT_NE(std::system(strict.c_str()), 0);
  std::ifstream err(out);
  std::string line;
  std::getline(err, line);
  EXPECT_THAT(line, HasSubstr("thing.lwo: status 1 (image not found: maps/skin.tga)"));

  // With the image beside the object the strict load works: images are looked up
  // relative to the object's folder by the path as written.
  dir.touch("maps/skin.tga");
  LwobWriter beside;
  quad_object(beside, "Skin").timg("maps/skin.tga");
  ASSERT_TRUE(beside.write(file));
  EXPECT_EQ(std::system((std::string(ORVL_BINARY) + " dump-object " + file +
                         " --strict > /dev/null 2>&1").c_str()),
            0);
  EXPECT_NE(std::system((std::string(ORVL_BINARY) + " dump-object " + dir.path("none.lwo") +
                         " > /dev/null 2>&1").c_str()),
            0);
}

}  // namespace
