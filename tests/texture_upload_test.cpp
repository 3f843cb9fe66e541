#include <gtest/gtest.h>

#include "object/surface_image.h"
#include "render/texture_upload.h"
#include "render/gl_api.h"

using namespace orvl;

namespace {

struct UploadFixture : ::testing::Test {
  Scene scene;
  GlBackendScope recorder{GlBackend::recorder};

  void SetUp() override {
    gl_recorder().reset();
    scene.objects.resize(1);
    scene.object_count = 1;
    scene.texture_base = 1;
  }

  Surface& surface(const std::string& name) {
    scene.objects[0].surfaces.emplace_back();
    Surface& s = scene.objects[0].surfaces.back();
    s.name = name;
    return s;
  }

  static PixelBuffer square(int side, uint32_t value = 0x00112233u) {
    return PixelBuffer(size_t(side) * side, value);
  }

  // min and mag filters of the texture parameter calls, in order.
  std::vector<std::pair<GLenum, double>> filters() {
    std::vector<std::pair<GLenum, double>> out;
    for (const GlCall* c : gl_recorder().of(GlFunc::TexParameterf))
      if (GLenum(c->arg(1)) == GL_TEXTURE_MIN_FILTER || GLenum(c->arg(1)) == GL_TEXTURE_MAG_FILTER)
        out.emplace_back(GLenum(c->arg(1)), c->arg(2));
    return out;
  }
};

}  // namespace

TEST_F(UploadFixture, FiltersFollowSceneFlagsAndNameWords) {
  struct Case {
    uint32_t flags;
    std::string name;
    bool mipmaps;
    double min, mag;
  } cases[] = {
      {SceneFlags::BILINEAR | SceneFlags::MIPMAP, "plain", true, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR},
      {SceneFlags::BILINEAR, "plain", false, GL_NEAREST, GL_LINEAR},
      {0, "x__NO_BILINEAR____MIPMAPPING__", true, GL_NEAREST, GL_NEAREST},
      {0, "__NO_BILINEAR____BILINEAR__", false, GL_NEAREST, GL_NEAREST},
      {0, "__BILINEAR__", false, GL_NEAREST, GL_LINEAR},
      {SceneFlags::MIPMAP, "fx__2DEFFECT_PLASMA__", false, GL_NEAREST, GL_NEAREST},
      {SceneFlags::MIPMAP, "fx__2DEFFECT_PLASMA____MIPMAPPING__", true, GL_NEAREST, GL_NEAREST},
      {SceneFlags::MIPMAP, "__NO_MIPMAPPING____MIPMAPPING__", false, GL_NEAREST, GL_NEAREST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " flags " + std::to_string(c.flags));
    gl_recorder().reset();
    scene.objects[0].surfaces.clear();
    scene.flags = c.flags;
    Surface& s = surface(c.name);
    s.texture = 1;
    s.image_pixels = square(4);
    upload_textures(scene);
    EXPECT_EQ(gl_recorder().count(GlFunc::Build2DMipmaps), c.mipmaps ? 1u : 0u);
    EXPECT_EQ(gl_recorder().count(GlFunc::TexImage2D), c.mipmaps ? 0u : 1u);
    auto f = filters();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].second, c.min);
    EXPECT_EQ(f[1].second, c.mag);
  }
}

TEST_F(UploadFixture, UploadsOpaqueRgbaUnderItsNumberAndFreesTheBuffer) {
  scene.texture_base = 5;  // earlier scenes used numbers 1 to 4
  Surface& s = surface("tex");
  s.texture = 2;
  s.image_pixels = square(2, 0x00030201u);
  upload_textures(scene);
  auto binds = gl_recorder().of(GlFunc::BindTexture);
  ASSERT_EQ(binds.size(), 1u);
  EXPECT_EQ(binds[0]->arg(1), 6.0);
  auto images = gl_recorder().of(GlFunc::TexImage2D);
  ASSERT_EQ(images.size(), 1u);
  ASSERT_EQ(images[0]->data.size(), 16u);
  EXPECT_EQ(images[0]->data[0], 1);
  EXPECT_EQ(images[0]->data[2], 3);
  EXPECT_EQ(images[0]->data[3], 255);  // fourth byte forced opaque
  EXPECT_EQ(s.gl_texture, 6u);
  EXPECT_TRUE(s.image_pixels.empty());
  gl_recorder().clear_calls();
  upload_textures(scene);  // nothing left to upload
  EXPECT_TRUE(gl_recorder().calls.empty());
}

TEST_F(UploadFixture, BothImagesAndReflectionOfAnotherSize) {
  Surface& s = surface("both");
  s.texture = 1;
  s.reflection_texture = 2;
  s.image_pixels = square(4);
  s.reflection_pixels = square(8);
  s.texture_width = s.texture_height = 8;  // the size of the image loaded last
  upload_textures(scene);
  auto images = gl_recorder().of(GlFunc::TexImage2D);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0]->arg(3), 4.0);
  EXPECT_EQ(images[1]->arg(3), 8.0);
  auto binds = gl_recorder().of(GlFunc::BindTexture);
  EXPECT_EQ(binds[0]->arg(1), 1.0);
  EXPECT_EQ(binds[1]->arg(1), 2.0);
  EXPECT_EQ(s.gl_texture, 1u);
}

TEST_F(UploadFixture, ParticleCopiesTakeConsecutiveNumbers) {
  Surface& s = surface("spark__PARTICLES_");
  s.texture = 3;  // first of the twelve
  for (auto& p : s.particle_pixels) p = square(2);
  upload_textures(scene);
  auto binds = gl_recorder().of(GlFunc::BindTexture);
  ASSERT_EQ(binds.size(), 12u);
  for (int m = 0; m < 12; ++m) EXPECT_EQ(binds[m]->arg(1), 3.0 + m);
  EXPECT_EQ(s.gl_texture, 3u);
  for (auto& p : s.particle_pixels) EXPECT_TRUE(p.empty());
}

TEST_F(UploadFixture, BrokenBuffersAreDroppedNotUploaded) {
  Surface& s = surface("odd");
  s.texture = 1;
  s.image_pixels = PixelBuffer(12, 0);  // not a square
  upload_textures(scene);
  EXPECT_EQ(gl_recorder().count(GlFunc::TexImage2D), 0u);
  EXPECT_TRUE(s.image_pixels.empty());
}

TEST(DeleteTextures, DeletesEveryNumberUsedInOrder) {
  GlBackendScope recorder{GlBackend::recorder};
  gl_recorder().reset();
  texture_counter = 0;
  delete_textures();
  EXPECT_TRUE(gl_recorder().calls.empty());
  texture_counter = 3;
  delete_textures();
  auto c = gl_recorder().texts();
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], "glDeleteTextures(1, {1})");
  EXPECT_EQ(c[2], "glDeleteTextures(1, {3})");
  texture_counter = 0;
}
