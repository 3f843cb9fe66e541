#include <gtest/gtest.h>

#include "render/gl_api.h"

using namespace orvl;

namespace {

struct RecorderTest : ::testing::Test {
  GlBackendScope scope{GlBackend::recorder};
  void SetUp() override { gl_recorder().reset(); }
};

}  // namespace

TEST_F(RecorderTest, CallsAreKeptInOrderWithReadableArguments) {
  const GlApi& g = gl();
  g.Enable(GL_DEPTH_TEST);
  g.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  g.Clear(0);
  g.BlendFunc(GL_ONE, GL_ONE);
  g.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_DST_ALPHA);
  g.Begin(GL_TRIANGLES);
  g.Color4ub(10, 20, 30, 255);
  g.TexCoord2f(0.25f, 0.5f);
  g.End();
  g.DepthMask(GL_FALSE);
  g.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
  g.Frustum(-0.5, 0.5, -0.25, 0.25, 1.0, 3000000.0);
  g.Enable(0x7FFF);  // unknown enumerants print as hex

  std::vector<std::string> want = {
      "glEnable(GL_DEPTH_TEST)",
      "glClear(GL_COLOR_BUFFER_BIT|GL_DEPTH_BUFFER_BIT)",
      "glClear(0)",
      "glBlendFunc(GL_ONE, GL_ONE)",
      "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_DST_ALPHA)",
      "glBegin(GL_TRIANGLES)",
      "glColor4ub(10, 20, 30, 255)",
      "glTexCoord2f(0.25, 0.5)",
      "glEnd()",
      "glDepthMask(GL_FALSE)",
      "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST)",
      "glFrustum(-0.5, 0.5, -0.25, 0.25, 1, 3e+06)",
      "glEnable(0x7FFF)",
  };
  EXPECT_EQ(gl_recorder().texts(), want);
  EXPECT_EQ(gl_recorder().count(GlFunc::BlendFunc), 2u);
  EXPECT_EQ(gl_recorder().of(GlFunc::Clear)[0]->arg(0), double(0x4100));
}

TEST_F(RecorderTest, ArraysBehindPointersAreExpandedByTheirParameter) {
  const GlApi& g = gl();
  const float pos[4] = {1, 2, 3, 1};
  const float dir[3] = {0, 0, -1};
  const float shininess = 20;
  g.Lightfv(GL_LIGHT3, GL_POSITION, pos);
  g.Lightfv(GL_LIGHT0, GL_SPOT_DIRECTION, dir);
  g.Materialfv(GL_FRONT, GL_SHININESS, &shininess);
  float m[16];
  for (int i = 0; i < 16; i++) m[i] = float(i);
  g.MultMatrixf(m);
  const GLuint names[3] = {4, 5, 6};
  g.DeleteTextures(3, names);

  const auto& c = gl_recorder().calls;
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[0].text(), "glLightfv(GL_LIGHT3, GL_POSITION, {1, 2, 3, 1})");
  EXPECT_EQ(c[0].argc, 6);
  EXPECT_EQ(c[1].text(), "glLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, {0, 0, -1})");
  EXPECT_EQ(c[2].text(), "glMaterialfv(GL_FRONT, GL_SHININESS, {20})");
  EXPECT_EQ(c[3].argc, 16);
  EXPECT_EQ(c[3].args[15], 15.0);
  EXPECT_EQ(c[4].text(), "glDeleteTextures(3, {4, 5, 6})");
}

TEST_F(RecorderTest, LongNameListsAreCutAtTheRecordCapacity) {
  std::vector<GLuint> names(40);
  for (size_t i = 0; i < names.size(); i++) names[i] = GLuint(i + 1);
  gl().DeleteTextures(GLsizei(names.size()), names.data());
  const GlCall& c = gl_recorder().calls.at(0);
  EXPECT_EQ(c.argc, 16);
  EXPECT_EQ(c.args[0], 40.0);
  EXPECT_EQ(c.args[15], 15.0);
  EXPECT_NE(c.text().find("{1, 2,"), std::string::npos);  // printing stops at what is kept
}

TEST_F(RecorderTest, QueriesAnswerFromTheConfiguration) {
  const GlApi& g = gl();
  GlRecorder& r = gl_recorder();
  r.integers[GL_MAX_TEXTURE_SIZE] = {256};
  r.strings[GL_VENDOR] = "Test vendor";

  GLint v = -1;
  g.GetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
  EXPECT_EQ(v, 256);
  g.GetIntegerv(GL_MAX_LIGHTS, &v);
  EXPECT_EQ(v, 8);
  GLint vp[4] = {-1, -1, -1, -1};
  g.GetIntegerv(GL_VIEWPORT, vp);
  EXPECT_EQ(vp[2], 640);
  EXPECT_EQ(vp[3], 480);
  GLfloat f = 0;
  g.GetFloatv(GL_MAX_LIGHTS, &f);
  EXPECT_EQ(f, 8.0f);

  // An unknown query writes nothing and leaves one error behind.
  v = -7;
  g.GetIntegerv(GL_MAX_VIEWPORT_DIMS, &v);
  EXPECT_EQ(v, -7);
  EXPECT_EQ(g.GetError(), GLenum(GL_INVALID_ENUM));
  EXPECT_EQ(g.GetError(), GLenum(GL_NO_ERROR));

  EXPECT_STREQ(reinterpret_cast<const char*>(g.GetString(GL_VENDOR)), "Test vendor");
  EXPECT_EQ(g.GetString(0x1234), nullptr);

  GLuint names[3] = {0, 0, 0};
  g.GenTextures(2, names);
  g.GenTextures(1, names + 2);
  EXPECT_EQ(names[0], 1u);
  EXPECT_EQ(names[1], 2u);
  EXPECT_EQ(names[2], 3u);

  EXPECT_EQ(g.IsEnabled(GL_DITHER), GL_TRUE);  // on until disabled
  EXPECT_EQ(g.IsEnabled(GL_BLEND), GL_FALSE);
  g.Enable(GL_BLEND);
  EXPECT_EQ(g.IsEnabled(GL_BLEND), GL_TRUE);
  g.Disable(GL_BLEND);
  EXPECT_EQ(g.IsEnabled(GL_BLEND), GL_FALSE);

  r.read_fill = {1, 2, 3, 4};
  uint8_t px[2 * 2 * 4] = {};
  g.ReadPixels(0, 0, 2, 2, GL_RGBA, GL_UNSIGNED_BYTE, px);
  EXPECT_EQ(px[12], 1);
  EXPECT_EQ(px[15], 4);
  uint8_t rgb[3] = {};
  g.ReadPixels(0, 0, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  EXPECT_EQ(rgb[2], 3);
}

TEST_F(RecorderTest, UploadedPixelsAreCopied) {
  const GlApi& g = gl();
  std::vector<uint8_t> px(4 * 2 * 4);
  for (size_t i = 0; i < px.size(); i++) px[i] = uint8_t(i);
  g.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 4, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  g.TexSubImage2D(GL_TEXTURE_2D, 0, 1, 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px.data() + 4);
  gl_recorder().mipmap_result = GLU_INVALID_VALUE;
  EXPECT_EQ(g.Build2DMipmaps(GL_TEXTURE_2D, 4, 4, 2, GL_RGBA, GL_UNSIGNED_BYTE, px.data()),
            GLU_INVALID_VALUE);
  g.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 4, 2, 0, GL_RGBA, GL_FLOAT, px.data());
  g.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 4, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);

  const auto& c = gl_recorder().calls;
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[0].data, px);
  EXPECT_EQ(c[0].text(),
            "glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 4, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels)");
  EXPECT_EQ(c[1].data, std::vector<uint8_t>({4, 5, 6, 7}));
  EXPECT_EQ(c[2].data.size(), px.size());
  EXPECT_TRUE(c[3].data.empty());  // not a byte layout the recorder copies
  EXPECT_TRUE(c[4].data.empty());
}

TEST(GlBackendSwitch, ScopesRestoreAndNoopRecordsNothing) {
  gl_use(GlBackend::real);
  EXPECT_EQ(gl().Clear, &glClear);
  EXPECT_EQ(gl().Build2DMipmaps, &gluBuild2DMipmaps);
  {
    GlBackendScope rec(GlBackend::recorder);
    gl_recorder().reset();
    {
      GlBackendScope noop(GlBackend::noop);
      EXPECT_EQ(gl_backend(), GlBackend::noop);
      gl().Enable(GL_BLEND);
      GLint vp[4] = {1, 2, 3, 4};
      gl().GetIntegerv(GL_VIEWPORT, vp);
      EXPECT_EQ(vp[3], 0);
      GLuint name = 9;
      gl().GenTextures(1, &name);
      EXPECT_EQ(name, 0u);
      EXPECT_STREQ(reinterpret_cast<const char*>(gl().GetString(GL_VERSION)), "");
    }
    EXPECT_EQ(gl_backend(), GlBackend::recorder);
    EXPECT_TRUE(gl_recorder().calls.empty());
    gl().Disable(GL_BLEND);
    EXPECT_EQ(gl_recorder().calls.size(), 1u);
  }
  EXPECT_EQ(gl_backend(), GlBackend::real);
  EXPECT_EQ(std::string(gl_func_name(GlFunc::Build2DMipmaps)), "gluBuild2DMipmaps");
  EXPECT_STREQ(gl_enum_name(GL_LIGHT7), "GL_LIGHT7");
  EXPECT_EQ(gl_enum_name(0x7FFF), nullptr);
}
