// The lightwave look on headless Mesa: pictures checked against what LightWave's own rules
// predict analytically (Lambert, the zoom's field of view, the spot cone, ambient light,
// faceting, planar and spherical projections), every real test object in both looks, and
// the fall-back when shaders do not build.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "object/surface_image.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/lw_draw.h"
#include "render/png_writer.h"
#include "render/texture_upload.h"
#include "support/object_fixtures.h"
#include "support/shared_data.h"
#include "tools/image_writer.h"
#include "tools/lws_writer.h"

using namespace orvl;
using namespace orvl::testing;
using namespace orvl::test;

namespace {

constexpr double kPi = 3.14159265358979;

std::vector<uint8_t> u16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
std::vector<uint8_t> vec3(float x, float y, float z) {
  std::vector<uint8_t> d;
  lw_put_f32(d, x);
  lw_put_f32(d, y);
  lw_put_f32(d, z);
  return d;
}

// A latitude-longitude sphere of radius r around (cx, cy, cz).
void sphere(LwobWriter& w, float cx, float cy, float cz, float r, int around = 64, int rings = 32) {
  const int base = int(w.point_count());
  for (int j = 0; j <= rings; ++j)
    for (int i = 0; i < around; ++i) {
      const double lat = kPi * j / rings - kPi / 2, lon = 2 * kPi * i / around;
      w.add_point(cx + float(r * std::cos(lat) * std::sin(lon)), cy + float(r * std::sin(lat)),
                  cz + float(r * std::cos(lat) * std::cos(lon)));
    }
  auto at = [&](int i, int j) { return uint16_t(base + j * around + (i % around)); };
  for (int j = 0; j < rings; ++j)
    for (int i = 0; i < around; ++i) w.add_polygon({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)}, 1);
}

struct LwLookFixture : ::testing::Test {
  TempDir dir{"lw_draw"};
  LwsScene lws;
  Scene scene;
  std::vector<uint8_t> rgba;
  int width = 160, height = 120;
  bool open = false;
  std::string extra_light_lines;  // inserted after the last light's "LightType" line
  std::string backdrop_lines;     // after the writer's own backdrop lines (the last value holds)
  bool load_may_fail = false;      // real objects that name pictures not shipped with them
  bool load_failed = false;

  void SetUp() override {
    log_set_echo(false);
    clock_set_virtual(2000);
    lws.ambient_intensity = 0;
  }
  void TearDown() override { close(); clock_use_real(); log_set_echo(true); }
  void close() {
    if (open) {
      delete_textures();
      (void)display_close();
      open = false;
    }
    scene_destroy(scene);
  }

  void add_object(const std::string& file, LwobWriter& w) {
    ASSERT_TRUE(w.write(dir.path(file)));
    LwsObject o;
    o.load_path = kPrefix + file;
    lws.objects.push_back(o);
  }

  // Loads and draws one frame in `look`; false (test skipped) without headless GL.
  bool draw(Look look = Look::lightwave, const std::string& scene_file = "") {
    std::string path = scene_file;
    if (path.empty()) {
      std::string text = write_lws(lws);
      if (!extra_light_lines.empty()) {
        const size_t at = text.rfind("LightType");
        const size_t eol = text.find('\n', at);
        text.insert(eol + 1, extra_light_lines);
      }
      if (!backdrop_lines.empty()) {
        const size_t at = text.find("SkyColor");
        if (at == std::string::npos) ADD_FAILURE() << "no SkyColor line";
        else text.insert(text.find('\n', at) + 1, backdrop_lines);
      }
      dir.touch("s.lws", text);
      path = dir.path("s.lws");
    }
    display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
    display_reset();
    if (display_open(DisplayOptions::DEPTH_BUFFER, width, height, 32, 0, 0, 0, "t") != DisplayResult::ok) {
      ADD_FAILURE() << "no headless GL: " << display_error();
      return false;
    }
    open = true;
    texture_counter = 0;
    scene_construct(scene);
    (void)scene_configure(scene, SceneFlags::DEPTH_BUFFER | SceneFlags::MIPMAP | SceneFlags::BILINEAR, width, height,
                          1024, 1);
    scene_set_lightwave_root(scene, dir.root.string() + "/");
    load_failed = false;
    if (scene_load(scene, path) != SceneStatus::ok) {
      load_failed = true;
      if (!load_may_fail) ADD_FAILURE() << "load " << path << ": " << scene.error_path;
      return false;
    }
    upload_textures(scene);
    scene_reset_motions(scene);
    RenderSettings settings;
    settings.look = look;
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, settings);
    int w = 0, h = 0;
    if (!display_read_frame(rgba, w, h) || w != width || h != height) {
      ADD_FAILURE() << "read back";
      return false;
    }
    if (const char* keep = std::getenv("ORVL_KEEP_PICTURES"))
      png_write_rgba(std::string(keep) + "/lw_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                         ".png",
                     rgba.data(), w, h, size_t(w) * 4);
    return true;
  }
  const uint8_t* px(int x, int y) const { return &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]; }

  // Where the ray through the centre of pixel (x, y) from a camera at the origin looking
  // along +Z with zoom 3.2 meets the sphere at (0, 0, cz) of radius r; false if it misses.
  bool hit(int x, int y, double cz, double r, double n[3]) const {
    const double zoom = 3.2, aspect = double(width) / height;
    const double d[3] = {((x + 0.5) / width * 2 - 1) * aspect / zoom, (1 - (y + 0.5) / height * 2) / zoom, 1};
    const double a = d[0] * d[0] + d[1] * d[1] + d[2] * d[2], b = -2 * d[2] * cz, c = cz * cz - r * r;
    const double disc = b * b - 4 * a * c;
    if (disc < 0) return false;
    const double t = (-b - std::sqrt(disc)) / (2 * a);
    n[0] = d[0] * t / r, n[1] = d[1] * t / r, n[2] = (d[2] * t - cz) / r;
    return true;
  }
};

LwsLight distant(float heading, float pitch) {
  LwsLight l;
  l.type = 0;
  l.motion[0].value = {0, 0, 0, heading, pitch, 0, 1, 1, 1};
  return l;
}

TEST_F(LwLookFixture, DistantLightAndAmbientFollowLambertOnASmoothSphere) {
  LwobWriter w;
  sphere(w, 0, 0, 5, 1);
  w.add_surface("White").colr(255, 255, 255).flag(0x4);
  add_object("ball.lwo", w);
  lws.lights.push_back(distant(90, 0));  // shines along +X: the sphere's left side is lit
  for (double ambient : {0.0, 0.25}) {
    lws.ambient_intensity = float(ambient);
    if (!draw()) return;
    EXPECT_TRUE(lw_draw_used_shaders());
    int checked = 0;
    for (int y = 20; y < height - 20; y += 7)
      for (int x = 20; x < width - 20; x += 7) {
        double n[3];
        // Pixels near the silhouette average facets; the rest follow the formula.
        if (!hit(x, y, 5, 0.97, n) || !hit(x, y, 5, 1.0, n)) continue;
        const double expected = 255 * std::min(1.0, std::max(0.0, -n[0]) + ambient);
        EXPECT_NEAR(px(x, y)[0], expected, 6) << x << "," << y << " ambient " << ambient;
        ++checked;
      }
    EXPECT_GT(checked, 20);
    // The unlit side shows exactly the ambient share of the colour.
    EXPECT_NEAR(px(width / 2 + 12, height / 2)[1], 255 * ambient, 2);
    close();
  }
}

TEST_F(LwLookFixture, SilhouetteRadiusFollowsTheZoomAtTwoOutputSizes) {
  LwobWriter w;
  sphere(w, 0, 0, 10, 1);
  w.add_surface("Glow").colr(255, 255, 255).sub("LUMI", u16(256)).sub("DIFF", u16(0));
  add_object("ball.lwo", w);
  for (float zoom : {3.2f, 6.0f})
    for (int size : {120, 240}) {
      lws.camera.zoom_factor = zoom;
      width = size * 4 / 3, height = size;
      if (!draw()) return;
      // Angular radius asin(1/10); the screen's half height is tan(vfov / 2) = 1 / zoom.
      const double radius = std::tan(std::asin(0.1)) * zoom * height / 2;
      const int cy = height / 2, cx = width / 2;
      EXPECT_GT(px(cx + int(radius * 0.9), cy)[0], 200) << zoom << " " << size;
      EXPECT_LT(px(cx + int(radius * 1.1) + 1, cy)[0], 10) << zoom << " " << size;
      EXPECT_GT(px(cx, cy - int(radius * 0.9))[0], 200) << zoom << " " << size;
      EXPECT_LT(px(cx, cy - int(radius * 1.1) - 1)[0], 10) << zoom << " " << size;
      close();
    }
}

TEST_F(LwLookFixture, SpotLightsADiscOfItsConeAngle) {
  LwobWriter w;
  w.add_point(-20, -20, 10);
  w.add_point(-20, 20, 10);
  w.add_point(20, 20, 10);
  w.add_point(20, -20, 10);
  w.add_polygon({0, 1, 2, 3}, 1);
  w.add_surface("Wall").colr(255, 255, 255).flag(0x100);
  add_object("wall.lwo", w);
  LwsLight spot;
  spot.type = 2;
  lws.lights.push_back(spot);
  extra_light_lines = "ConeAngle 15\nEdgeAngle 0\n";
  if (!draw()) return;
  const double radius = std::tan(15 * kPi / 180) * 3.2 * height / 2;
  const int cx = width / 2, cy = height / 2;
  EXPECT_GT(px(cx, cy)[0], 250);
  EXPECT_GT(px(cx + int(radius * 0.9), cy)[0], 200);
  EXPECT_LT(px(cx + int(radius * 1.1) + 1, cy)[0], 5);
  EXPECT_GT(px(cx, cy + int(radius * 0.9))[0], 200);
  EXPECT_LT(px(cx, cy + int(radius * 1.1) + 1)[0], 5);
}

TEST_F(LwLookFixture, UnsmoothedBoxFacesAreUniformAndLit) {
  LwobWriter w;
  // A unit cube, polygons clockwise seen from outside.
  for (int i = 0; i < 8; ++i) w.add_point(i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f);
  const std::vector<std::vector<uint16_t>> faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2},
                                                     {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}};
  for (const auto& f : faces) w.add_polygon(f, 1);
  LwobSurface& box = w.add_surface("Box").colr(255, 255, 255);  // FLAG 0: faceted, still lit
  add_object("box.lwo", w);
  lws.objects[0].motion[0].value = {0, 0, 6, 45, 0, 0, 1, 1, 1};
  lws.lights.push_back(distant(20, 0));
  lws.ambient_intensity = 0.05f;
  if (!draw()) return;
  // Turned 45 degrees, the box shows its -Z face on the left (normal (-1, 0, -1) / sqrt 2)
  // and its +X face on the right ((1, 0, -1) / sqrt 2), lit along (sin 20, 0, cos 20).
  const double s = std::sin(20 * kPi / 180) / std::sqrt(2.0), c = std::cos(20 * kPi / 180) / std::sqrt(2.0);
  const double left = 255 * (s + c + 0.05), right = 255 * (c - s + 0.05);
  const int cx = width / 2, cy = height / 2;
  for (int d : {-4, 0, 4}) {
    EXPECT_NEAR(px(cx - 8, cy + d)[0], left, 2);
    EXPECT_NEAR(px(cx - 14, cy + d)[0], left, 2);
    EXPECT_NEAR(px(cx + 8, cy + d)[0], right, 2);
    EXPECT_NEAR(px(cx + 14, cy + d)[0], right, 2);
  }
  // Double-sided, seen from inside: the far face's normal points away from the camera and
  // is turned toward it, so a light from behind the camera lights it fully.
  box.sub("FLAG", u16(0x100));
  close();
  std::filesystem::remove(dir.path("box.lwo"));
  lws.objects.clear();
  add_object("box.lwo", w);
  lws.objects[0].motion[0].value = {0, 0, 0, 0, 0, 0, 3, 3, 3};
  lws.lights[0] = distant(0, 0);
  lws.ambient_intensity = 0;
  if (!draw()) return;
  EXPECT_NEAR(px(cx, cy)[0], 255, 2);
  EXPECT_NEAR(px(cx + 10, cy - 10)[0], 255, 2);
}

// The gradient backdrop by the elevation of each pixel's view direction: sky to zenith above
// the horizon and ground to nadir below, eased by the exponent 1 / squeeze. Squeeze 2 (the
// default) and others are drawn by different programs.
TEST_F(LwLookFixture, GradientBackdropFollowsTheElevationOfTheViewDirection) {
  for (const auto& [sky, ground] : {std::pair{2.0, 2.0}, std::pair{4.0, 1.0}, std::pair{1.0, 4.0}}) {
    SCOPED_TRACE(std::to_string(sky) + " " + std::to_string(ground));
    close();
    if (lws.objects.empty()) {
      LwobWriter w;  // behind the camera: only the backdrop is in view
      triangle_object(w);
      add_object("behind.lwo", w);
      lws.objects[0].motion[0].value = {0, 0, -10, 0, 0, 0, 1, 1, 1};
    }
    backdrop_lines = "SolidBackdrop 0\nZenithColor 255 0 0\nSkyColor 0 0 0\nGroundColor 0 255 0\n"
                     "NadirColor 0 0 255\nSkySqueezeAmount " + std::to_string(sky) +
                     "\nGroundSqueezeAmount " + std::to_string(ground) + "\n";
    if (!draw()) return;
    const double zoom = 3.2, aspect = double(width) / height;
    for (int y : {0, 20, 50, 70, 100, 119})
      for (int x : {0, 80, 159}) {
        const double d[3] = {((x + 0.5) / width * 2 - 1) * aspect / zoom, (1 - (y + 0.5) / height * 2) / zoom, 1};
        const double e = d[1] / std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double t = std::pow(std::fabs(e), 1 / (e > 0 ? sky : ground));
        const uint8_t* p = px(x, y);
        if (e > 0) {
          EXPECT_NEAR(p[0], 255 * t, 2) << x << "," << y;
          EXPECT_LE(p[1] + p[2], 1) << x << "," << y;
        } else {
          EXPECT_NEAR(p[1], 255 * (1 - t), 2) << x << "," << y;
          EXPECT_NEAR(p[2], 255 * t, 2) << x << "," << y;
        }
      }
  }
}

// A square of side 2 in the XY plane, clockwise seen from -Z (facing the camera), on
// surface 1; `polygons` copies of it.
void square(LwobWriter& w, int polygons = 1) {
  w.add_point(-1, -1, 0);
  w.add_point(-1, 1, 0);
  w.add_point(1, 1, 0);
  w.add_point(1, -1, 0);
  for (int i = 0; i < polygons; ++i) w.add_polygon({0, 1, 2, 3}, 1);
}

// A 2 x 2 picture, and each quadrant's colour.
void quadrant_picture(const TempDir& dir, const std::string& name, int side) {
  RgbPicture pic;
  pic.width = pic.height = uint32_t(side);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const bool right = x >= side / 2, bottom = y >= side / 2;
      pic.pixels.push_back(!bottom ? (!right ? 0xFF0000u : 0x00FF00u) : (!right ? 0x0000FFu : 0xFFFFFFu));
    }
  ASSERT_TRUE(write_tga_picture(pic, dir.path(name)));
}

TEST_F(LwLookFixture, PlanarMapShowsTheImageUprightAndUnmirroredFromMinusZ) {
  quadrant_picture(dir, "quad.tga", 64);
  LwobWriter w;
  square(w);
  w.add_surface("Map")
      .colr(0, 0, 0)
      .sub("LUMI", u16(256))
      .sub("DIFF", u16(0))
      .ctex("Planar Image Map")
      .timg(kPrefix + "quad.tga")
      .tflg(0x4)
      .sub("TSIZ", vec3(2, 2, 2))
      .sub("TCTR", vec3(0, 0, 0));
  add_object("square.lwo", w);
  lws.objects[0].motion[0].value = {0, 0, 4, 0, 0, 0, 1, 1, 1};
  if (!draw()) return;
  const int cx = width / 2, cy = height / 2, d = 12;
  auto rgb = [&](int x, int y) { return (px(x, y)[0] > 128) * 4 + (px(x, y)[1] > 128) * 2 + (px(x, y)[2] > 128); };
  EXPECT_EQ(rgb(cx - d, cy - d), 4);  // red, top left
  EXPECT_EQ(rgb(cx + d, cy - d), 2);  // green, top right
  EXPECT_EQ(rgb(cx - d, cy + d), 1);  // blue, bottom left
  EXPECT_EQ(rgb(cx + d, cy + d), 7);  // white, bottom right
}

// A square of side 2 facing the camera, in one luminous colour.
void luminous_square(LwobWriter& w, const char* name, uint8_t r, uint8_t g, uint8_t b, uint16_t transparency) {
  square(w);
  w.add_surface(name).colr(r, g, b).sub("LUMI", u16(256)).sub("DIFF", u16(0)).sub("TRAN", u16(transparency));
}

TEST_F(LwLookFixture, TranslucentSurfacesBlendFarthestFirstWhateverTheirFileOrder) {
  // The nearer green square comes first in the scene; both let half the light through.
  LwobWriter near_square, far_square;
  luminous_square(near_square, "Green", 0, 255, 0, 128);
  luminous_square(far_square, "Red", 255, 0, 0, 128);
  add_object("near.lwo", near_square);
  add_object("far.lwo", far_square);
  lws.objects[0].motion[0].value = {0, 0, 4, 0, 0, 0, 1, 1, 1};
  lws.objects[1].motion[0].value = {0, 0, 6, 0, 0, 0, 2, 2, 2};
  if (!draw()) return;
  // Red over black, then green over that: (0.25, 0.5, 0). In file order it would be
  // (0.5, 0.25, 0).
  const uint8_t* c = px(width / 2, height / 2);
  EXPECT_NEAR(c[0], 64, 3);
  EXPECT_NEAR(c[1], 128, 3);
  EXPECT_EQ(c[2], 0);
}

TEST_F(LwLookFixture, StaticImageFillsTheFrameAsInTheEngineLook) {
  quadrant_picture(dir, "card.tga", 64);
  // The loader replaces the geometry with the picture's quad.
  LwobWriter card;
  square(card, 2);
  card.add_surface("Card__STATIC_IMAGE__").colr(255, 255, 255).ctex("Planar Image Map").timg(kPrefix + "card.tga").tflg(0x4);
  add_object("card.lwo", card);
  for (const Look look : {Look::engine, Look::lightwave}) {
    if (!draw(look)) return;
    // The picture's quad is the whole frame, as the engine sizes it.
    auto rgb = [&](int x, int y) { return (px(x, y)[0] > 128) * 4 + (px(x, y)[1] > 128) * 2 + (px(x, y)[2] > 128); };
    EXPECT_EQ(rgb(4, 4), 4) << look_name(look);                   // red, top left
    EXPECT_EQ(rgb(width - 5, 4), 2) << look_name(look);           // green, top right
    EXPECT_EQ(rgb(4, height - 5), 1) << look_name(look);          // blue, bottom left
    EXPECT_EQ(rgb(width - 5, height - 5), 7) << look_name(look);  // white, bottom right
    close();
  }
}

TEST_F(LwLookFixture, SphericalMapHasNoSeamColumn) {
  // Top half white, bottom half black: a seam drawn from the coarsest mip level would show
  // as a grey column in the white half, where the longitude wraps (facing the camera).
  RgbPicture pic;
  pic.width = pic.height = 64;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) pic.pixels.push_back(y < 32 ? 0xFFFFFFu : 0u);
  ASSERT_TRUE(write_tga_picture(pic, dir.path("half.tga")));
  LwobWriter w;
  sphere(w, 0, 0, 0, 1);
  w.add_surface("Globe")
      .colr(0, 0, 0)
      .flag(0x4)
      .sub("LUMI", u16(256))
      .sub("DIFF", u16(0))
      .ctex("Spherical Image Map")
      .timg(kPrefix + "half.tga")
      .tflg(0x2)
      .sub("TSIZ", vec3(1, 1, 1));
  add_object("globe.lwo", w);
  lws.objects[0].motion[0].value = {0, 0, 5, 0, 0, 0, 1, 1, 1};
  if (!draw()) return;
  const int cx = width / 2, cy = height / 2;
  const int top = cy - int(std::tan(std::asin(0.2)) * 3.2 * height / 2 * 0.8);
  for (int y = top; y < cy - 4; ++y)
    for (int x = cx - 6; x <= cx + 6; ++x) EXPECT_GT(px(x, y)[0], 240) << x << "," << y;
}

TEST_F(LwLookFixture, EveryRealObjectDrawsInBothLooksWithoutGlError) {
  if (!shared_testdata_present()) GTEST_SKIP() << shared_testdata_missing();
  int drawn = 0;
  load_may_fail = true;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(shared_testdata_dir())) {
    std::string ext = entry.path().extension().string();
    for (char& c : ext) c = char(std::tolower(c));
    if (!entry.is_regular_file() || (ext != ".lwo" && ext != ".lwob")) continue;
    lws = LwsScene{};
    LwsObject o;
    o.load_path = entry.path().string();
    lws.objects.push_back(o);
    lws.lights.push_back(distant(30, 20));
    bool loaded = true;
    for (Look look : {Look::engine, Look::lightwave}) {
      if (!draw(look)) {
        if (!load_failed) return;
        loaded = false;
        close();
        break;
      }
      EXPECT_EQ(gl().GetError(), GLenum(GL_NO_ERROR)) << entry.path() << " " << look_name(look);
      close();
    }
    drawn += loaded;
  }
  EXPECT_GT(drawn, 5);
}

TEST_F(LwLookFixture, ShaderFailureFallsBackWithOneLogLine) {
  LwobWriter w;
  sphere(w, 0, 0, 5, 1, 16, 8);
  w.add_surface("White").colr(255, 255, 255).flag(0x4);
  add_object("ball.lwo", w);
  lws.lights.push_back(distant(0, 0));
  if (!draw()) return;
  GlBackendScope scope(GlBackend::recorder);
  gl_recorder().reset();
  gl_recorder().compile_ok = false;
  gl_recorder().info_log = "0:1(1): error: forced";
  display_close();
  open = false;
  // A new context: the program is built again, fails, and the frame still draws.
  scene_destroy(scene);
  const size_t logged = log_lines().size();
  ASSERT_TRUE(draw());
  RenderSettings settings;
  settings.look = Look::lightwave;
  scene_render_frame(scene, ClearBits::COLOR, settings);
  EXPECT_FALSE(lw_draw_used_shaders());
  int fallback_lines = 0;
  for (size_t i = logged; i < log_lines().size(); ++i)
    fallback_lines += log_lines()[i].find("fixed-function") != std::string::npos &&
                      log_lines()[i].find("forced") != std::string::npos;
  EXPECT_EQ(fallback_lines, 1);
  EXPECT_GT(gl_recorder().count(GlFunc::Begin), 0u);
  EXPECT_EQ(gl_recorder().count(GlFunc::UseProgram), 0u);
}

TEST_F(LwLookFixture, FallbackDrawsTexturedSurfacesWithTheEngineTextureCoordinates) {
  quadrant_picture(dir, "quad.tga", 64);
  LwobWriter w;
  square(w);
  w.add_surface("Map").colr(0, 0, 0).ctex("Planar Image Map").timg(kPrefix + "quad.tga").tflg(0x4).sub("TSIZ", vec3(2, 2, 2));
  add_object("square.lwo", w);
  lws.objects[0].motion[0].value = {0, 0, 4, 0, 0, 0, 1, 1, 1};
  lws.lights.push_back(distant(0, 0));
  GlBackendScope scope(GlBackend::recorder);
  gl_recorder().reset();
  gl_recorder().compile_ok = false;
  if (!draw()) return;
  EXPECT_FALSE(lw_draw_used_shaders());
  // Both triangles of the square carry the engine's coordinates, with the picture bound.
  EXPECT_EQ(gl_recorder().count(GlFunc::TexCoord2f), 6u);
  EXPECT_GT(gl_recorder().count(GlFunc::BindTexture), 0u);
}

}  // namespace
