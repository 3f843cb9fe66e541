#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "object/surface_image.h"
#include "platform/log.h"
#include "support/image_support.h"
#include "support/object_fixtures.h"

using namespace orvl;
using namespace orvl::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class SurfaceImage : public ::testing::Test {
 protected:
  void SetUp() override {
    texture_counter = 0;
    log_set_echo(false);
    log_clear();
    prepare_object_scene(scene);
  }
  // A surface of the object being loaded, as the loader presents it.
  Surface& current(const std::string& name) {
    SceneObject& o = scene.objects[size_t(scene.object_count)];
    o.surfaces.assign(1, Surface{});
    o.surfaces[0].name = name;
    cursor = &o.surfaces[0];
    return o.surfaces[0];
  }
  SurfaceImageStatus load(const std::string& path, int slot = 0) {
    std::string p = path;
    return load_surface_image(scene, context, *cursor, p, slot);
  }
  Scene scene;
  ObjectLoadContext context;
  Surface* cursor = nullptr;
  TempDir dir{"surface_image"};
};

TEST_F(SurfaceImage, NoneMeansNoImageBeforeOrAfterShortening) {
  Surface& s = current("S");
  s.texture = 5;
  s.reflection_texture = 6;
  EXPECT_EQ(load("(none)"), SurfaceImageStatus::ok);
  EXPECT_EQ(s.texture, -1);
  EXPECT_EQ(load(kPrefix + "(none)", 1), SurfaceImageStatus::ok);
  EXPECT_EQ(s.reflection_texture, -1);
  EXPECT_EQ(scene.image_count, 0);
  EXPECT_EQ(texture_counter, 0);
  EXPECT_EQ(s.image_path, "");
}

TEST_F(SurfaceImage, ShortensThePathAndNumbersTheImage) {
  const std::string file = dir.touch("maps/wood.tga");
  Surface& s = current("S");
  texture_counter = 7;
  scene.image_count = 2;
  std::string p = kPrefix + file;
  ASSERT_EQ(load_surface_image(scene, context, s, p, 0), SurfaceImageStatus::ok);
  EXPECT_EQ(p, file);
  EXPECT_EQ(s.image_path, file);
  EXPECT_EQ(s.texture, 3);
  EXPECT_EQ(scene.image_count, 3);
  EXPECT_EQ(texture_counter, 8);
  // Pixels arrive with the image library; until then the surface holds none.
  EXPECT_TRUE(s.image_pixels.empty());
  EXPECT_EQ(s.texture_width, 0);

  ASSERT_EQ(load(kPrefix + file, 1), SurfaceImageStatus::ok);
  EXPECT_EQ(s.reflection_path, file);
  EXPECT_EQ(s.reflection_texture, 4);
}

TEST_F(SurfaceImage, ScrollCodesAnywhereInThePath) {
  const std::string diag = dir.touch("SCUP_SCRT.tga");
  const std::string still = dir.touch("scroll/SCUPSCDN.tga");
  const std::string left = dir.touch("SCLT.tga");
  SceneObject& o = scene.objects[0];
  o.surfaces.resize(3);
  cursor = &o.surfaces[0];
  ASSERT_EQ(load(kPrefix + diag), SurfaceImageStatus::ok);
  cursor = &o.surfaces[1];
  ASSERT_EQ(load(kPrefix + still), SurfaceImageStatus::ok);
  cursor = &o.surfaces[2];
  ASSERT_EQ(load(kPrefix + left), SurfaceImageStatus::ok);
  // A reflection image adds its codes to those of the colour image.
  ASSERT_EQ(load(kPrefix + diag, 1), SurfaceImageStatus::ok);
  EXPECT_EQ(o.surfaces[0].scroll_flags, ScrollFlags::UP | ScrollFlags::RIGHT);
  EXPECT_EQ(o.surfaces[1].scroll_flags, ScrollFlags::UP | ScrollFlags::DOWN);
  EXPECT_EQ(o.surfaces[2].scroll_flags, ScrollFlags::LEFT | ScrollFlags::UP | ScrollFlags::RIGHT);
  // A colour image sets the bits anew.
  ASSERT_EQ(load(kPrefix + left), SurfaceImageStatus::ok);
  EXPECT_EQ(o.surfaces[2].scroll_flags, ScrollFlags::LEFT);

  scene.object_count = 1;
  scroll_textures(scene);
  scroll_textures(scene);
  EXPECT_FLOAT_EQ(o.surfaces[0].scroll_u, 0.01f);
  EXPECT_FLOAT_EQ(o.surfaces[0].scroll_v, 0.01f);
  EXPECT_EQ(o.surfaces[1].scroll_u, 0.0f);
  EXPECT_EQ(o.surfaces[1].scroll_v, 0.0f);
  EXPECT_FLOAT_EQ(o.surfaces[2].scroll_u, -0.01f);
}

TEST_F(SurfaceImage, MissingImageNamesTheShortenedPath) {
  current("S");
  EXPECT_EQ(load(kPrefix + "images/gone.tga"), SurfaceImageStatus::missing);
  EXPECT_TRUE(context.image_missing);
  EXPECT_EQ(context.error_path, "images/gone.tga");
  EXPECT_EQ(scene.loaded, 0);
  EXPECT_EQ(scene.image_count, 0);
  EXPECT_EQ(texture_counter, 0);
}

TEST_F(SurfaceImage, LooksBelowTheRootThenThePathAsWritten) {
  // Real pictures: each found image is decoded too.
  const std::vector<uint8_t> tga = test::make_tga10_24(test::make_picture(3, 2));
  const std::string picture(tga.begin(), tga.end());
  dir.touch("root/images/below.tga", picture);
  dir.touch("root/content/images/written.tga", picture);
  dir.touch("scenes/images/beside.tga", picture);
  dir.touch("work/images/here.tga", picture);
  scene.lightwave_root = dir.path("root");
  scene.path = dir.path("scenes/show.lws");
  ScopedCwd cwd(dir.path("work"));
  current("S");

  // Shortened path below the root.
  EXPECT_EQ(load("XXXXXXXXXXXXXimages/below.tga"), SurfaceImageStatus::ok);
  EXPECT_TRUE(log_lines().empty());
  // Shortened path relative to the working directory: the first attempt.
  EXPECT_EQ(load("XXXXXXXXXXXXXimages/here.tga"), SurfaceImageStatus::ok);
  // Content written elsewhere names images relative to its own root (13 characters
  // long names would be dropped whole): found as written, and the log says where.
  EXPECT_EQ(load("content\\images\\written.tga"), SurfaceImageStatus::ok);
  EXPECT_THAT(log_lines().back(), HasSubstr(dir.path("root") + "/content"));
  EXPECT_EQ(load("images/beside.tga"), SurfaceImageStatus::ok);
  EXPECT_THAT(log_lines().back(), HasSubstr(dir.path("scenes") + "/images/beside.tga"));
  EXPECT_EQ(scene.image_count, 4);
  // When everything fails, the error names the shortened path as before.
  EXPECT_EQ(load("images/nowhere.tga"), SurfaceImageStatus::missing);
  EXPECT_EQ(context.error_path, "e.tga");
}

TEST_F(SurfaceImage, ImagesAreSharedBetweenObjectsButNotWithinOne) {
  const std::string file = dir.touch("shared.tga");
  // Object 0, already loaded: one surface using the image for reflection, one for colour.
  SceneObject& first = scene.objects[0];
  first.surfaces.resize(2);
  cursor = &first.surfaces[0];
  ASSERT_EQ(load(kPrefix + file, 1), SurfaceImageStatus::ok);
  cursor = &first.surfaces[1];
  ASSERT_EQ(load(kPrefix + file, 0), SurfaceImageStatus::ok);  // same object: loaded again
  EXPECT_EQ(first.surfaces[0].reflection_texture, 1);
  EXPECT_EQ(first.surfaces[1].texture, 2);
  scene.object_count = 1;

  Surface& s = current("Other");
  ASSERT_EQ(load(kPrefix + file, 0), SurfaceImageStatus::ok);
  EXPECT_EQ(s.texture, 1);  // first match in surface order: object 0's reflection image
  EXPECT_EQ(scene.image_count, 2);
  EXPECT_EQ(texture_counter, 2);

  // Effect and particle surfaces always load their own copy.
  Surface& fx = current("sky__2DEFFECT_PLASMA__");
  ASSERT_EQ(load(kPrefix + file, 0), SurfaceImageStatus::ok);
  EXPECT_EQ(fx.texture, 3);
}

TEST_F(SurfaceImage, ParticleSurfacesUseTwelveNumbers) {
  const std::string file = dir.touch("spark.tga");
  Surface& s = current("a__PARTICLES_");
  scene.image_count = 4;
  texture_counter = 10;
  ASSERT_EQ(load(kPrefix + file), SurfaceImageStatus::ok);
  EXPECT_EQ(scene.image_count, 16);
  EXPECT_EQ(texture_counter, 22);
  EXPECT_EQ(s.texture, 16);  // the loader takes 11 off to reach the first of the twelve
}

TEST_F(SurfaceImage, CapacitiesAreCheckedBeforeAnythingIsNumbered) {
  const std::string file = dir.touch("spark.tga");
  current("S");
  EXPECT_EQ(load(kPrefix + std::string(128, 'p')), SurfaceImageStatus::over_capacity);
  EXPECT_THAT(log_lines().back(), HasSubstr("127"));
  Surface& p = current("x__PARTICLES_");
  scene.image_count = kMaxImageNames - 11;
  EXPECT_EQ(load(kPrefix + file), SurfaceImageStatus::over_capacity);
  EXPECT_THAT(log_lines().back(), HasSubstr("256"));
  EXPECT_EQ(p.texture, -1);
  scene.image_count = 0;
  texture_counter = 32767;
  EXPECT_EQ(load(kPrefix + file), SurfaceImageStatus::over_capacity);
  EXPECT_EQ(texture_counter, 32767);
}

TEST_F(SurfaceImage, PlanarMappingAlongEachAxis) {
  SceneObject o;
  o.vertices = {{0, 0, 0}, {2, 0, 4}, {2, 1, 4}, {0, 1, 0}};
  o.surfaces.resize(2);
  Triangle a, b;
  a.surface = b.surface = &o.surfaces[0];
  a.corners[0] = 0, a.corners[1] = 1, a.corners[2] = 2;
  b.corners[0] = 0, b.corners[1] = 2, b.corners[2] = 3;
  Triangle other;
  other.surface = &o.surfaces[1];
  o.polygons = {a, b, other};
  Surface& s = o.surfaces[0];

  s.axis = 2;
  map_surface_texture(o, s);
  EXPECT_THAT(s.box, ElementsAre(0.0f, 2.0f, 0.0f, 1.0f, 0.0f, 4.0f));
  EXPECT_THAT(s.extent, ElementsAre(2.0f, 1.0f, 4.0f));
  EXPECT_THAT(o.polygons[0].uv, ElementsAre(0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f));
  s.axis = 0;
  map_surface_texture(o, s);
  EXPECT_THAT(o.polygons[1].uv, ElementsAre(0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f));
  s.axis = 1;
  map_surface_texture(o, s);
  EXPECT_THAT(o.polygons[0].uv, ElementsAre(0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 0.0f));
  EXPECT_THAT(o.polygons[2].uv, ElementsAre(0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
}

TEST_F(SurfaceImage, EdgeOnSurfaceGetsFiniteCoordinates) {
  SceneObject o;
  o.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 0, 2}};  // in the plane y = 0
  o.surfaces.resize(1);
  Triangle t;
  t.surface = &o.surfaces[0];
  t.corners[0] = 0, t.corners[1] = 1, t.corners[2] = 2;
  o.polygons = {t};
  o.surfaces[0].axis = 2;  // looking along Z sees no height
  map_surface_texture(o, o.surfaces[0]);
  EXPECT_THAT(o.polygons[0].uv, ElementsAre(0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f));
}

}  // namespace

// The pixel half: what the surface holds once an image has decoded.
class SurfacePixels : public SurfaceImage {
 protected:
  void SetUp() override {
    scene_construct(scene);  // also fills the particle tint table
    SurfaceImage::SetUp();
  }
  // A 3 x 2 picture with known colours, written as a Targa file.
  std::string picture_file(const std::string& rel) {
    test::Picture pic;
    pic.width = 3;
    pic.height = 2;
    pic.pixels = {0xC86432u, 0x102030u, 0x405060u, 0x708090u, 0xA0B0C0u, 0xD0E0F0u};
    const std::vector<uint8_t> tga = test::make_tga10_24(pic);
    return dir.touch(rel, std::string(tga.begin(), tga.end()));
  }
  static uint32_t rgba(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }
};

TEST_F(SurfacePixels, ColourImageBecomesASquareRedFirstTexture) {
  const std::string file = picture_file("a.tga");
  Surface& s = current("S");
  ASSERT_EQ(load(kPrefix + file), SurfaceImageStatus::ok);
  EXPECT_EQ(s.texture_width, 4);
  EXPECT_EQ(s.texture_height, 4);
  ASSERT_EQ(s.image_pixels.size(), 16u);
  EXPECT_EQ(s.image_pixels[0], rgba(0xC8, 0x64, 0x32));  // stretched: nearest neighbour
  EXPECT_EQ(s.image_pixels[15], rgba(0xD0, 0xE0, 0xF0));
  EXPECT_TRUE(s.effect_pixels.empty());

  Surface& r = current("R");
  ASSERT_EQ(load(kPrefix + file, 1), SurfaceImageStatus::ok);
  EXPECT_EQ(r.reflection_pixels.size(), 16u);
  EXPECT_TRUE(r.image_pixels.empty());
}

TEST_F(SurfacePixels, ClampsToTheLargestTextureBeforeSquaring) {
  const std::string file = picture_file("a.tga");
  scene.max_texture_size = 2;
  Surface& s = current("S");
  ASSERT_EQ(load(kPrefix + file), SurfaceImageStatus::ok);
  EXPECT_EQ(s.texture_width, 2);
  EXPECT_EQ(s.image_pixels.size(), 4u);
}

TEST_F(SurfacePixels, StaticImagesKeepTheirRowsUnscaledInTheCorner) {
  const std::string file = picture_file("a.tga");
  Surface& s = current("bg__STATIC_IMAGE__");
  ASSERT_EQ(load(kPrefix + file), SurfaceImageStatus::ok);
  EXPECT_EQ(s.image_width, 3);
  EXPECT_EQ(s.image_height, 2);
  ASSERT_EQ(s.image_pixels.size(), 16u);
  EXPECT_EQ(s.image_pixels[1], rgba(0x10, 0x20, 0x30));
  EXPECT_EQ(s.image_pixels[2], rgba(0x40, 0x50, 0x60));
  EXPECT_EQ(s.image_pixels[4 + 2], rgba(0xD0, 0xE0, 0xF0));
}

TEST_F(SurfacePixels, ParticleCopiesAreTintedByTheirEntry) {
  const std::string file = picture_file("a.tga");
  Surface& s = current("spark__PARTICLES_");
  ASSERT_EQ(load(kPrefix + file), SurfaceImageStatus::ok);
  for (int m = 0; m < kParticleTints; ++m) ASSERT_EQ(s.particle_pixels[m].size(), 16u) << m;
  // Entry 0 is (1.0, 0.5, 0.5), entry 6 is (0.5, 1.0, 1.0); products are truncated.
  EXPECT_EQ(s.particle_pixels[0][0], rgba(0xC8, 0x32, 0x19));
  EXPECT_EQ(s.particle_pixels[6][0], rgba(0x64, 0x64, 0x32));
  EXPECT_TRUE(s.image_pixels.empty());
}

TEST_F(SurfacePixels, EffectSurfacesGetAZeroWorkBuffer) {
  const std::string file = picture_file("a.tga");
  Surface& s = current("fx__2DEFFECT_PLASMA__");
  ASSERT_EQ(load(kPrefix + file), SurfaceImageStatus::ok);
  ASSERT_EQ(s.effect_pixels.size(), 16u);
  EXPECT_EQ(s.effect_pixels[5], 0u);
}

TEST_F(SurfacePixels, ADamagedImageLeavesABlankTextureNotAFailure) {
  const std::string file = dir.touch("broken.jpg", "\xFF\xD8\xFF\xE0 not really a jpeg");
  Surface& s = current("S");
  ASSERT_EQ(load(kPrefix + file), SurfaceImageStatus::ok);
  EXPECT_EQ(s.texture, 1);  // the number is still used up
  EXPECT_TRUE(s.image_pixels.empty());
  EXPECT_THAT(log_lines().back(), HasSubstr("could not be decoded"));
}
