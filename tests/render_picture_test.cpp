// Pictures drawn on headless Mesa (llvmpipe), checked pixel by pixel with a tolerance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "object/surface_image.h"
#include "render/texture_upload.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/mesh_draw.h"
#include "render/png_writer.h"
#include "support/image_support.h"
#include "support/object_fixtures.h"
#include "tools/demo_show.h"
#include "tools/lws_writer.h"

using namespace orvl;
using namespace orvl::testing;

namespace {

constexpr int kW = 160, kH = 120;

struct PictureFixture : ::testing::Test {
  TempDir dir{"render_picture"};
  LwsScene lws;
  Scene scene;
  std::vector<uint8_t> rgba;
  bool open = false;

  void SetUp() override {
    log_set_echo(false);
    clock_set_virtual(2000);
    lws.backdrop_color = {0, 0, 96};
  }
  void TearDown() override {
    if (open) {
      delete_textures();
      (void)display_close();
    }
    scene_destroy(scene);
    clock_use_real();
    log_set_echo(true);
  }

  void add_object(const std::string& file, LwobWriter& w) {
    ASSERT_TRUE(w.write(dir.path(file)));
    LwsObject o;
    o.load_path = kPrefix + file;
    lws.objects.push_back(o);
  }

  // Loads the scene into a fresh headless display and draws one frame.
  void draw(bool depth = true) {
    ASSERT_TRUE(write_lws_file(dir.path("s.lws"), lws));
    display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
    display_reset();
    if (display_open(depth ? DisplayOptions::DEPTH_BUFFER : 0, kW, kH, 32, 0, 0, 0, "t") != DisplayResult::ok)
      GTEST_SKIP() << "no headless GL: " << display_error();
    open = true;
    texture_counter = 0;
    scene_construct(scene);
    (void)scene_configure(scene, depth ? SceneFlags::DEPTH_BUFFER : 0, kW, kH, 1024, 1);
    scene_set_lightwave_root(scene, dir.root.string() + "/");
    ASSERT_EQ(scene_load(scene, dir.path("s.lws")), SceneStatus::ok) << scene.error_path;
    upload_textures(scene);
    scene_reset_motions(scene);
    scene_render_frame(scene, 192);
    int w = 0, h = 0;
    ASSERT_TRUE(display_read_frame(rgba, w, h));
    ASSERT_EQ(w, kW);
    ASSERT_EQ(h, kH);
    if (const char* keep = std::getenv("ORVL_KEEP_PICTURES"))
      png_write_rgba(std::string(keep) + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                         ".png",
                     rgba.data(), w, h, size_t(w) * 4);
  }
  const uint8_t* px(int x, int y) const { return &rgba[(size_t(y) * kW + x) * 4]; }
  int brightness(int x, int y) const { return px(x, y)[0] + px(x, y)[1] + px(x, y)[2]; }
};

void expect_rgb(const uint8_t* p, int r, int g, int b, int tolerance = 1) {
  EXPECT_NEAR(p[0], r, tolerance);
  EXPECT_NEAR(p[1], g, tolerance);
  EXPECT_NEAR(p[2], b, tolerance);
}

// A w x h grid of quads in the plane z, facing the camera, on one surface.
void grid(LwobWriter& w, float x0, float x1, float y0, float y1, float z, int n) {
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) w.add_point(x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * j / n, z);
  auto at = [n](int i, int j) { return uint16_t(j * (n + 1) + i); };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) w.add_polygon({at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j)}, 1);
}

}  // namespace

TEST_F(PictureFixture, BackdropFillsTheCornersAroundGeometry) {
  LwobWriter w;
  grid(w, -1, 1, -1, 1, 6, 1);
  w.add_surface("Green").colr(0, 200, 0);
  add_object("quad.lwo", w);
  draw();
  expect_rgb(px(0, 0), 0, 0, 96);
  expect_rgb(px(kW - 1, kH - 1), 0, 0, 96);
  expect_rgb(px(kW / 2, kH / 2), 0, 200, 0);
}

// A dome bulging toward the camera, smooth lit, with one point light level with the camera
// at `light_x`. (Faces square to the view get no diffuse light on Mesa: the frustum sits on
// the model-view matrix and Mesa's normal matrix drops its z row, so the dome's slopes carry
// the light.)
void lit_dome(PictureFixture& f, float light_x) {
  LwobWriter w;
  const int n = 16;
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) {
      const float x = -4 + 8.f * i / n, y = -3 + 6.f * j / n;
      w.add_point(x, y, 11 - std::sqrt(std::max(0.f, 30 - x * x - y * y)));
    }
  auto at = [n](int i, int j) { return uint16_t(j * (n + 1) + i); };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) w.add_polygon({at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j)}, 1);
  w.add_surface("Lit").colr(220, 220, 220).flag(0x4);
  f.add_object("dome.lwo", w);
  LwsLight light;
  light.type = 1;
  light.motion[0].value = {light_x, 0, 0, 0, 0, 0, 1, 1, 1};
  f.lws.lights.push_back(light);
}

TEST_F(PictureFixture, ALitFaceIsBrighterTowardALightOnTheRight) {
  lit_dome(*this, 10);
  draw();
  const int right = brightness(kW * 3 / 4, kH / 2), left = brightness(kW / 4, kH / 2);
  EXPECT_GT(right, left + 100) << "right " << right << " left " << left;
  EXPECT_NEAR(left, 3 * 44, 3);  // the far side keeps only OpenGL's default ambient (0.2 x 220)
}

TEST_F(PictureFixture, ALitFaceIsBrighterTowardALightOnTheLeft) {
  lit_dome(*this, -10);
  draw();
  const int right = brightness(kW * 3 / 4, kH / 2), left = brightness(kW / 4, kH / 2);
  EXPECT_GT(left, right + 100) << "right " << right << " left " << left;
}

// Translucent triangles blend with (source alpha, one minus destination alpha): over an
// opaque picture (alpha 1) only the faded source remains.
TEST_F(PictureFixture, TranslucentObjectsFadeByTheirDissolve) {
  LwobWriter back;
  grid(back, -3, 3, -3, 3, 10, 1);
  back.add_surface("Red").colr(255, 0, 0);
  add_object("back.lwo", back);
  LwobWriter front;
  grid(front, -1, 1, -1, 1, 5, 1);
  front.add_surface("White").colr(255, 255, 255);
  add_object("front.lwo", front);
  LwsEnvelope half;
  half.keys.push_back({0.5f, 0});
  lws.objects[1].dissolve = half;
  draw();
  expect_rgb(px(kW / 2, kH / 2), 127, 127, 127, 2);  // white at alpha 127
  expect_rgb(px(kW / 2, 28), 255, 0, 0);              // the back alone above the front
}

TEST_F(PictureFixture, StaticImageSitsBehindEverythingUnlessDepthHidesIt) {
  // A 4 x 2 picture, blue on the left half and yellow on the right.
  test::Picture pic;
  pic.width = 4;
  pic.height = 2;
  pic.pixels = {0x0000FFu, 0x0000FFu, 0xFFFF00u, 0xFFFF00u, 0x0000FFu, 0x0000FFu, 0xFFFF00u, 0xFFFF00u};
  const std::vector<uint8_t> tga = test::make_tga10_24(pic);
  dir.touch("bg.tga", std::string(tga.begin(), tga.end()));
  LwobWriter img;
  img.add_point(0, 0, 0);
  img.add_point(0, 1, 0);
  img.add_point(1, 1, 0);
  img.add_point(1, 0, 0);
  img.add_polygon({0, 1, 2}, 1);
  img.add_polygon({0, 2, 3}, 1);
  img.add_surface("bg__STATIC_IMAGE__").timg(kPrefix + "bg.tga");
  add_object("bg.lwo", img);
  LwobWriter tri;
  tri.add_point(-0.5f, -0.5f, 4);
  tri.add_point(0, 0.5f, 4);
  tri.add_point(0.5f, -0.5f, 4);
  tri.add_polygon({0, 1, 2}, 1);
  tri.add_surface("Grey").colr(128, 128, 128);
  add_object("tri.lwo", tri);

  draw(false);
  expect_rgb(px(8, kH / 2), 0, 0, 255, 2);          // image, left half
  expect_rgb(px(kW - 8, kH / 2), 255, 255, 0, 2);   // image, right half
  expect_rgb(px(kW / 2, kH / 2 + 4), 128, 128, 128);  // the triangle painted over it
}

TEST_F(PictureFixture, StaticImageHidesFartherGeometryWithTheDepthBuffer) {
  test::Picture pic;
  pic.width = 2;
  pic.height = 2;
  pic.pixels = {0x00FF00u, 0x00FF00u, 0x00FF00u, 0x00FF00u};
  const std::vector<uint8_t> tga = test::make_tga10_24(pic);
  dir.touch("bg.tga", std::string(tga.begin(), tga.end()));
  LwobWriter img;
  for (int i = 0; i < 4; ++i) img.add_point(float(i & 1), float(i >> 1), 0);
  img.add_polygon({0, 1, 2}, 1);
  img.add_polygon({1, 3, 2}, 1);
  img.add_surface("bg__STATIC_IMAGE__").timg(kPrefix + "bg.tga");
  add_object("bg.lwo", img);
  LwobWriter tri;
  tri.add_point(-0.5f, -0.5f, 4);
  tri.add_point(0, 0.5f, 4);
  tri.add_point(0.5f, -0.5f, 4);
  tri.add_polygon({0, 1, 2}, 1);
  tri.add_surface("Grey").colr(128, 128, 128);
  add_object("tri.lwo", tri);
  draw(true);
  expect_rgb(px(kW / 2, kH / 2 + 4), 0, 255, 0, 2);
}


// Grouping triangles by state must not change the demo show's pictures: every scene, at
// several moments, drawn grouped and in exact depth order, compared byte for byte. The only
// pixels allowed to differ are exact depth ties (where two surfaces cross, both can land on
// the same depth value and the later one wins); each is shown to be one by drawing the exact
// order a third time with ties going to the earlier triangle instead (GL_LESS), which must
// change that pixel too.
TEST(DemoPictures, GroupedDrawingMatchesTheExactOrder) {
  log_set_echo(false);
  TempDir dir("grouped_pictures");
  DemoOptions demo;
  demo.music_seconds = 0;
  DemoSummary summary;
  std::string error;
  ASSERT_TRUE(make_demo_show(dir.root.string(), demo, summary, error)) << error;
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  display_reset();
  if (display_open(DisplayOptions::DEPTH_BUFFER, 640, 480, 32, 0, 0, 0, "t") != DisplayResult::ok)
    GTEST_SKIP() << "no headless GL: " << display_error();
  constexpr int kMoments = 6;
  for (int k = 0; k < kDemoSceneCount; ++k) {
    const DemoSlot& slot = kDemoSlots[k];
    // Some scenes carry state from frame to frame, so each way gets a freshly loaded scene
    // that steps through the same moments.
    std::vector<uint8_t> pictures[3];
    for (int exact = 0; exact < 3; ++exact) {
      RenderSettings settings;
      settings.exact_order = exact >= 1;
      gl().DepthFunc(exact == 2 ? GL_LESS : GL_LEQUAL);
      Scene scene;
      scene_construct(scene);
      (void)scene_configure(scene, SceneFlags::MIPMAP | SceneFlags::BILINEAR | SceneFlags::DEPTH_BUFFER, 640, 480,
                            1024, 1);
      {
        ScopedCwd cwd(dir.root);
        ASSERT_EQ(scene_load(scene, slot.file), SceneStatus::ok) << slot.file;
      }
      if (slot.scaled) scene_scale(scene, 50.f);
      upload_textures(scene);
      clock_set_virtual(1000);
      scene_reset_motions(scene);
      for (int m = 0; m < kMoments; ++m) {
        clock_set_virtual(1000 + uint32_t(1000.0 * (slot.end_seconds - slot.start_seconds) * (m + 0.5) / kMoments));
        scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, settings);
        std::vector<uint8_t> rgba;
        int w = 0, h = 0;
        ASSERT_TRUE(display_read_frame(rgba, w, h));
        pictures[exact].insert(pictures[exact].end(), rgba.begin(), rgba.end());
      }
      delete_textures();
      scene_destroy(scene);
    }
    gl().DepthFunc(GL_LEQUAL);
    ASSERT_EQ(pictures[0].size(), pictures[1].size());
    ASSERT_EQ(pictures[0].size(), pictures[2].size());
    int ties = 0, unexplained = 0;
    for (size_t i = 0; i < pictures[0].size(); i += 4) {
      if (std::memcmp(&pictures[0][i], &pictures[1][i], 4) == 0) continue;
      if (std::memcmp(&pictures[1][i], &pictures[2][i], 4) != 0)
        ++ties;
      else
        ++unexplained;
    }
    EXPECT_EQ(unexplained, 0) << slot.file;
    EXPECT_LE(ties, 16) << slot.file;  // a few pixels on crossing lines, never whole surfaces
  }
  (void)display_close();
  clock_use_real();
  log_set_echo(true);
}
