// The LWO2 reader on objects from our writer, on objects LightWave saved, and on damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "object/lwo2.h"
#include "object/object_loader.h"
#include "object/surface_image.h"
#include "platform/log.h"
#include "support/image_support.h"
#include "support/object_fixtures.h"
#include "support/shared_data.h"
#include "tools/lwo2_writer.h"

namespace orvl {
namespace {

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Lwo2Status read(const std::vector<uint8_t>& b, Lwo2Object& o, const Lwo2Limits& lim = Lwo2Limits()) {
  return lwo2_read(b.data(), b.size(), o, lim);
}

// A textured quad on layer 1 and a patch cage on layer 2 (child of 1, with a pivot).
Lwo2Model two_layer_model() {
  Lwo2Model m;
  Lwo2WriterSurface plain;
  plain.name = "Plain";
  plain.color[0] = 1.0f;
  plain.sidedness = 3;
  plain.smoothing_angle = 1.5f;
  plain.transparency = 0.25f;
  Lwo2WriterSurface tex;
  tex.name = "Tex";
  tex.image = "C:/Art/Images/wall.png";
  tex.projection = 5;
  tex.uv_map = "UV";
  m.surfaces = {plain, tex};
  Lwo2WriterLayer a;
  a.number = 1;
  a.name = "base";
  a.points = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
  a.polygons = {{0, 1, 2, 3}};
  a.surfaces = {1};
  a.uvs = {0, 0, 1, 0, 1, 1, 0, 1};
  Lwo2WriterLayer b;
  b.number = 2;
  b.parent = 1;
  b.pivot[0] = 2.5f;
  b.points = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  b.polygons = {{0, 1, 2}};
  b.surfaces = {0};
  b.patches = true;
  m.layers = {a, b};
  return m;
}

TEST(Lwo2, WrittenObjectReadsBack) {
  Lwo2Object o;
  ASSERT_EQ(read(lwo2_bytes(two_layer_model()), o), Lwo2Status::ok);
  ASSERT_EQ(o.layers.size(), 2u);
  EXPECT_EQ(o.layers[0].number, 1);
  EXPECT_EQ(o.layers[0].parent, -1);
  EXPECT_EQ(o.layers[1].parent, 1);
  EXPECT_FLOAT_EQ(o.layers[1].pivot[0], 2.5f);
  EXPECT_EQ(o.point_count(), 7u);
  EXPECT_EQ(o.layers[1].first_point, 4u);
  ASSERT_EQ(o.polygons.size(), 2u);
  EXPECT_EQ(o.polygons[0].corner_count, 4);
  EXPECT_FALSE(o.polygons[0].patch);
  EXPECT_EQ(o.polygons[0].tag, 1);
  // The second layer's corners are numbered in the whole point table.
  EXPECT_TRUE(o.polygons[1].patch);
  EXPECT_EQ(o.polygons[1].layer, 1);
  EXPECT_EQ(o.corners[o.polygons[1].first_corner + 2], 6u);
  EXPECT_EQ(o.tags[o.polygons[1].tag], "Plain");

  const Lwo2Surface* plain = o.surface_named("Plain");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->sidedness, 3);
  EXPECT_FLOAT_EQ(plain->smoothing_angle, 1.5f);
  EXPECT_FLOAT_EQ(plain->transparency, 0.25f);
  EXPECT_FALSE(plain->image.present);
  const Lwo2Surface* tex = o.surface_named("Tex");
  ASSERT_NE(tex, nullptr);
  ASSERT_TRUE(tex->image.present);
  EXPECT_EQ(tex->image.projection, Lwo2Projection::uv);
  EXPECT_EQ(tex->image.uv_map, "UV");
  const Lwo2Clip* clip = o.clip_with_index(tex->image.clip);
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->still, "C:/Art/Images/wall.png");
  const Lwo2UvMap* uv = o.uv_map_named("UV");
  ASSERT_NE(uv, nullptr);
  ASSERT_EQ(uv->points.size(), 4u);
  EXPECT_FLOAT_EQ(uv->uvs[5], 1.0f);  // point 2's v
}

TEST(Lwo2, FilesSavedByLightWave) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  Lwo2Object o;
  ASSERT_EQ(read(file_bytes(test::shared_testdata("lightwave6/" + std::string("simple_cube.lwo"))), o), Lwo2Status::ok);
  EXPECT_EQ(o.point_count(), 8u);
  EXPECT_EQ(o.polygons.size(), 6u);
  for (const auto& p : o.polygons) EXPECT_EQ(o.tags[p.tag], "Default");

  ASSERT_EQ(read(file_bytes(test::shared_testdata("lightwave6/" + std::string("hierarchy.lwo"))), o), Lwo2Status::ok);
  ASSERT_EQ(o.layers.size(), 4u);
  EXPECT_EQ(o.layers[2].number, 2);
  EXPECT_EQ(o.layers[2].parent, 3);
  EXPECT_FLOAT_EQ(o.layers[2].pivot[2], 1.35f);
  EXPECT_GT(o.surface_named("RedBox")->smoothing_angle, 0.0f);

  ASSERT_EQ(read(file_bytes(test::shared_testdata("lightwave6/" + std::string("boxuv.lwo"))), o), Lwo2Status::ok);
  const Lwo2Surface* s = o.surface_named("boxSurface");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->image.projection, Lwo2Projection::uv);
  EXPECT_EQ(o.clip_with_index(s->image.clip)->still, "boxuv.png");
  EXPECT_NE(o.uv_map_named(s->image.uv_map), nullptr);

  ASSERT_EQ(read(file_bytes(test::shared_testdata("lightwave6/" + std::string("earth_planar_x.lwo"))), o), Lwo2Status::ok);
  s = o.surface_named("Default");
  EXPECT_EQ(s->image.projection, Lwo2Projection::planar);
  EXPECT_EQ(s->image.axis, 0);
  const std::string still = o.clip_with_index(s->image.clip)->still;
  // An absolute path on the author's disk (the byte before it is the sub-chunk size).
  EXPECT_EQ(still.substr(0, 9), "Q:ASSIMP/");
  EXPECT_EQ(still.substr(still.size() - 19), "/earthSpherical.jpg");

  ASSERT_EQ(read(file_bytes(test::shared_testdata("lightwave6/" + std::string("Subdivision.lwo"))), o), Lwo2Status::ok);
  ASSERT_FALSE(o.polygons.empty());
  EXPECT_TRUE(o.polygons[0].patch);
}

TEST(Lwo2, DamagedFilesFailWithAStatusAndLeaveNothing) {
  const auto good = lwo2_bytes(two_layer_model());
  Lwo2Object o;
  // Every prefix of the file: a status, never a read past the cut (the sanitizer build
  // watches), and no partial object.
  for (size_t n = 0; n < good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    if (n >= 8) {  // keep the FORM size honest so the cut lands inside a chunk
      const uint32_t form = static_cast<uint32_t>(n - 8);
      for (int i = 0; i < 4; ++i) cut[4 + i] = static_cast<uint8_t>(form >> (24 - 8 * i));
    }
    const Lwo2Status s = read(cut, o);
    if (s != Lwo2Status::ok) {
      EXPECT_TRUE(o.polygons.empty() && o.points.empty()) << n;
    }
  }
  // A FORM size past the end of the file.
  auto big = good;
  big[4] = 0x7F;
  EXPECT_EQ(read(big, o), Lwo2Status::truncated);
  // Not LWO2.
  auto lwob = good;
  std::memcpy(lwob.data() + 8, "LWOB", 4);
  EXPECT_EQ(read(lwob, o), Lwo2Status::not_lwo2);

  // A polygon corner naming a point the layer does not have, and a tag past TAGS.
  Lwo2Model m = two_layer_model();
  m.layers[1].polygons[0][2] = 3;  // layer 2 has points 0..2 only
  EXPECT_EQ(read(lwo2_bytes(m), o), Lwo2Status::bad_index);
  m = two_layer_model();
  m.layers[0].surfaces[0] = 7;
  EXPECT_EQ(read(lwo2_bytes(m), o), Lwo2Status::bad_index);
  // A surface sub-chunk whose size runs past its chunk.
  m = two_layer_model();
  LwChunk surf{"SURF", {}};
  lw_put_string(surf.data, "Broken");
  lw_put_string(surf.data, "");
  surf.data.insert(surf.data.end(), {'C', 'O', 'L', 'R', 0x40, 0x00, 0, 0});
  m.extra.push_back(surf);
  EXPECT_EQ(read(lwo2_bytes(m), o), Lwo2Status::truncated);
  // Limits hold before the tables grow.
  Lwo2Limits tight;
  tight.max_points = 5;
  EXPECT_EQ(read(good, o, tight), Lwo2Status::too_large);
  EXPECT_TRUE(o.points.empty());
}

}  // namespace
}  // namespace orvl

// ---- into the scene's object table -------------------------------------------------------

namespace orvl {
namespace {

class Lwo2Load : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_texture_counter();
    log_set_echo(false);
    log_clear();
    testing::prepare_object_scene(scene);
  }
  void TearDown() override { log_set_echo(true); }
  const SceneObject& obj(int i = 0) const { return scene.objects[size_t(i)]; }
  LoadStatus load(Scene& s, const std::vector<uint8_t>& bytes, const ObjectLoadOptions& opt) {
    context = ObjectLoadContext();
    return load_object_data(s, context, bytes, opt);
  }
  Scene scene;
  ObjectLoadContext context;
};

// An L of six corners (concave at corner 3) on surface 0, a textured quad on surface 1.
Lwo2Model l_and_quad(const std::string& image) {
  Lwo2Model m;
  Lwo2WriterSurface l;
  l.name = "L";
  l.color[0] = 1.0f;
  l.color[1] = 0.5f;
  l.color[2] = 0.0f;
  l.sidedness = 3;
  l.transparency = 0.5f;
  Lwo2WriterSurface q;
  q.name = "Q";
  q.smoothing_angle = 1.0f;
  q.image = image;
  q.projection = 5;
  q.uv_map = "UV";
  m.surfaces = {l, q};
  Lwo2WriterLayer a;
  a.number = 0;
  a.points = {0, 0, 0, 2, 0, 0, 2, 1, 0, 1, 1, 0, 1, 2, 0, 0, 2, 0,  // the L
              5, 0, 0, 6, 0, 0, 6, 1, 0, 5, 1, 0};                  // the quad
  a.polygons = {{0, 1, 2, 3, 4, 5}, {6, 7, 8, 9}};
  a.surfaces = {0, 1};
  a.uvs = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1};
  Lwo2WriterLayer b;
  b.number = 1;
  b.points = {0, 0, 9, 1, 0, 9, 0, 1, 9};
  b.polygons = {{0, 1, 2}};
  m.layers = {a, b};
  return m;
}

TEST_F(Lwo2Load, PolygonsSurfacesAndImagesBecomeTheSceneRecords) {
  testing::TempDir dir("lwo2load");
  std::filesystem::create_directories(dir.path("obj"));
  // The clip names a path on the author's disk; only the file name is beside the object.
  const std::vector<uint8_t> bmp = test::make_bmp24(test::make_picture(4, 4));
  std::ofstream(dir.path("obj/tex.bmp"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
  const auto bytes = lwo2_bytes(l_and_quad("HQ:Art/Images/tex.bmp"));
  ObjectLoadOptions opt;
  opt.object_path = dir.path("obj/thing.lwo");
  opt.layer = 1;  // LAYR 0
  ASSERT_EQ(load(scene, bytes, opt), LoadStatus::ok);
  const SceneObject& o = obj();
  EXPECT_EQ(scene.object_count, 1);
  EXPECT_EQ(o.vertex_count, 10);  // the other layer's points stay out
  ASSERT_EQ(o.polygon_count, 6);  // 4 from the L, 2 from the quad
  EXPECT_EQ(o.needs_normals, 1);

  // The L is clipped into ears: every triangle's centre lies inside the L.
  for (int t = 0; t < 4; ++t) {
    double cx = 0, cy = 0;
    for (int c = 0; c < 3; ++c) {
      cx += o.vertices[size_t(o.polygons[size_t(t)].corners[c])].x / 3.0;
      cy += o.vertices[size_t(o.polygons[size_t(t)].corners[c])].y / 3.0;
    }
    EXPECT_FALSE(cx > 1 && cy > 1) << "triangle " << t << " covers the notch";
  }
  const Triangle& l = o.polygons[0];
  EXPECT_EQ(l.surface->name, "L");
  EXPECT_EQ(l.color[0], 255);
  EXPECT_EQ(l.color[1], 128);
  EXPECT_TRUE(l.flags & TriangleFlags::DOUBLE_SIDED);
  EXPECT_TRUE(l.flags & TriangleFlags::FLAT_LIT);
  // Half transparent: the triangle reads its alpha from the surface.
  ASSERT_NE(l.dissolve_ref, nullptr);
  EXPECT_EQ(*l.dissolve_ref, 128);

  const Triangle& q = o.polygons[4];
  EXPECT_EQ(q.surface->name, "Q");
  EXPECT_TRUE(q.flags & TriangleFlags::SMOOTH_LIT);
  EXPECT_TRUE(q.flags & TriangleFlags::TEXTURED);
  EXPECT_EQ(q.dissolve_ref, nullptr);
  EXPECT_EQ(scene.image_count, 1);
  // UVs come from the map, v turned to run down the picture: point 8 (u 1, v 1) is (1, 0).
  bool seen = false;
  for (int t = 4; t < 6; ++t)
    for (int c = 0; c < 3; ++c)
      if (o.polygons[size_t(t)].corners[c] == 8) {
        EXPECT_FLOAT_EQ(o.polygons[size_t(t)].uv[2 * c], 1.0f);
        EXPECT_FLOAT_EQ(o.polygons[size_t(t)].uv[2 * c + 1], 0.0f);
        seen = true;
      }
  EXPECT_TRUE(seen);

  // All layers: the second layer's triangle too.
  Scene all;
  testing::prepare_object_scene(all);
  ObjectLoadOptions every = opt;
  every.layer = 0;
  ASSERT_EQ(load(all, bytes, every), LoadStatus::ok);
  EXPECT_EQ(all.objects[0].polygon_count, 7);
}

TEST_F(Lwo2Load, MissingImagesAndDamagedObjectsFail) {
  const auto bytes = lwo2_bytes(l_and_quad("HQ:Nowhere/none.png"));
  ASSERT_EQ(load(scene, bytes, {}), LoadStatus::not_found);
  EXPECT_TRUE(context.image_missing);
  EXPECT_EQ(context.error_path, "HQ:Nowhere/none.png");
  EXPECT_EQ(scene.object_count, 0);
  // With images optional the object loads and names what was missing.
  std::vector<std::string> missing;
  ObjectLoadOptions lenient;
  lenient.images_required = false;
  lenient.missing_images = &missing;
  ASSERT_EQ(load(scene, bytes, lenient), LoadStatus::ok);
  EXPECT_EQ(missing, std::vector<std::string>{"HQ:Nowhere/none.png"});
  // A chunk that runs past the end, and a layer the object does not have.
  auto cut = bytes;
  cut.resize(cut.size() - 9);
  EXPECT_EQ(load(scene, cut, lenient), LoadStatus::bad_format);
  ObjectLoadOptions layer7 = lenient;
  layer7.layer = 7;
  EXPECT_EQ(load(scene, bytes, layer7), LoadStatus::bad_format);
  EXPECT_EQ(scene.object_count, 1);
}

}  // namespace
}  // namespace orvl
