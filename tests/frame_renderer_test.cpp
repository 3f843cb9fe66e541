#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "support/object_fixtures.h"
#include "tools/lws_writer.h"

using namespace orvl;
using namespace orvl::testing;

namespace {

// Writes objects and a scene into a temporary LightWave root and loads it.
struct RenderFixture : ::testing::Test {
  TempDir dir{"render"};
  Scene scene;
  LwsScene lws;
  GlBackendScope recorder{GlBackend::recorder};

  void SetUp() override {
    log_set_echo(false);
    gl_recorder().reset();
    clock_set_virtual(10000);
    frame_state().draw_count = 0;
  }
  void TearDown() override {
    scene_destroy(scene);
    clock_use_real();
    log_set_echo(true);
  }

  // One triangle at depth z in front of the camera; `facing` picks the winding that faces it.
  void add_triangle_object(const std::string& file, float z, bool facing, uint16_t flag_bits = 0) {
    LwobWriter w;
    w.add_point(0, 0, z);
    w.add_point(facing ? 0.f : 1.f, facing ? 1.f : 0.f, z);
    w.add_point(facing ? 1.f : 0.f, facing ? 0.f : 1.f, z);
    w.add_polygon({0, 1, 2}, 1);
    w.add_surface("Plain").colr(200, 10, 10).flag(flag_bits);
    ASSERT_TRUE(w.write(dir.path(file)));
    LwsObject o;
    o.load_path = kPrefix + file;
    lws.objects.push_back(o);
  }

  void load(uint32_t flags = SceneFlags::DEPTH_BUFFER) {
    ASSERT_TRUE(write_lws_file(dir.path("scene.lws"), lws));
    scene_construct(scene);
    ASSERT_EQ(scene_configure(scene, flags, 640, 480, 1024, 1), 0);
    scene_set_lightwave_root(scene, dir.root.string() + "/");
    ASSERT_EQ(scene_load(scene, dir.path("scene.lws")), SceneStatus::ok);
    scene_reset_motions(scene);
  }

  size_t count(const std::string& text) {
    auto c = gl_recorder().texts();
    return size_t(std::count(c.begin(), c.end(), text));
  }
};

}  // namespace

TEST(DepthKey, SmallestZTimes256TruncatedAndSaturated) {
  EXPECT_EQ(depth_key(-10.5f, -3.f, -7.f), -2688);
  EXPECT_EQ(depth_key(0.9f, 2.f, 3.f), 230);
  EXPECT_EQ(depth_key(-0.001f, 1.f, 1.f), 0);
  EXPECT_EQ(depth_key(-1e30f, 0.f, 0.f), INT32_MIN);
  EXPECT_EQ(depth_key(1e30f, 1e30f, 1e30f), INT32_MAX);
}

TEST_F(RenderFixture, ClearMaskFollowsClearBitsAndDepthOption) {
  lws.backdrop_color = {255, 0, 51};
  add_triangle_object("front.lwo", 5, true);
  load(SceneFlags::DEPTH_BUFFER);
  scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR);
  auto clears = gl_recorder().of(GlFunc::Clear);
  ASSERT_EQ(clears.size(), 1u);
  EXPECT_EQ(clears[0]->arg(0), double(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT));
  auto colour = gl_recorder().of(GlFunc::ClearColor);
  ASSERT_EQ(colour.size(), 1u);
  EXPECT_FLOAT_EQ(float(colour[0]->arg(0)), 1.0f);
  EXPECT_NEAR(colour[0]->arg(2), 0.2, 1e-6);
  EXPECT_EQ(colour[0]->arg(3), 1.0);

  gl_recorder().clear_calls();
  scene_render_frame(scene, 0);
  EXPECT_EQ(gl_recorder().count(GlFunc::Clear), 0u);

  scene.flags = 0;
  gl_recorder().clear_calls();
  scene_render_frame(scene, ClearBits::DEPTH);
  clears = gl_recorder().of(GlFunc::Clear);
  ASSERT_EQ(clears.size(), 1u);
  EXPECT_EQ(clears[0]->arg(0), 0.0);  // a clear with an empty mask is still made
  gl_recorder().clear_calls();
  scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR);
  EXPECT_EQ(gl_recorder().of(GlFunc::Clear)[0]->arg(0), double(GL_COLOR_BUFFER_BIT));
}

TEST_F(RenderFixture, BackFacingTrianglesAreDroppedUnlessDoubleSided) {
  add_triangle_object("front.lwo", 5, true);
  add_triangle_object("back.lwo", 5, false);
  add_triangle_object("both.lwo", 5, false, 0x100);  // double sided
  load();
  scene_render_frame(scene, 192);
  ASSERT_EQ(frame_state().draw_count, 2);
  EXPECT_EQ(scene.draw.draw_list[0].triangle, &scene.objects[0].polygons[0]);
  EXPECT_EQ(scene.draw.draw_list[1].triangle, &scene.objects[2].polygons[0]);
  // Camera space looks down -z: an object 5 units ahead sits at z = -5, key -1280.
  EXPECT_FLOAT_EQ(scene.draw.draw_list[0].vertex0->z, -5.f);
  EXPECT_EQ(gl_recorder().count(GlFunc::Vertex3f), 6u);
}

TEST_F(RenderFixture, LightsBeyondTheSceneAreSwitchedOff) {
  add_triangle_object("front.lwo", 5, true);
  for (int i = 0; i < 3; ++i) {
    LwsLight l;
    l.color = {255, 128, 0};
    l.intensity = 0.5f;
    l.motion[0].value = {float(i), 2, -3, 0, 0, 0, 1, 1, 1};
    lws.lights.push_back(l);
  }
  load();
  scene_render_frame(scene, 192);
  EXPECT_EQ(count("glEnable(GL_LIGHTING)"), 1u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(count("glEnable(GL_LIGHT" + std::to_string(i) + ")"), 1u);
  for (int i = 3; i < 8; ++i) EXPECT_EQ(count("glDisable(GL_LIGHT" + std::to_string(i) + ")"), 1u);
  auto lights = gl_recorder().of(GlFunc::Lightfv);
  ASSERT_EQ(lights.size(), 6u);
  // Light 1 at (1, 2, -3) seen from a camera at the origin: z is a sum, position is w = 1.
  EXPECT_EQ(lights[2]->arg(0), double(GL_LIGHT1));
  EXPECT_EQ(lights[2]->arg(1), double(GL_POSITION));
  EXPECT_FLOAT_EQ(float(lights[2]->arg(2)), 1.f);
  EXPECT_FLOAT_EQ(float(lights[2]->arg(3)), 2.f);
  EXPECT_FLOAT_EQ(float(lights[2]->arg(4)), -3.f);
  EXPECT_FLOAT_EQ(float(lights[2]->arg(5)), 1.f);
  // Diffuse = colour x intensity.
  EXPECT_FLOAT_EQ(float(lights[3]->arg(2)), 0.5f);
  EXPECT_NEAR(lights[3]->arg(3), 128.0 / 255 * 0.5, 1e-6);
  EXPECT_FLOAT_EQ(float(lights[3]->arg(4)), 0.f);
}

TEST_F(RenderFixture, NoLightsMeansLightingOffAndNoLightTouched) {
  add_triangle_object("front.lwo", 5, true);
  load();
  scene_render_frame(scene, 192);
  EXPECT_EQ(gl_recorder().count(GlFunc::Lightfv), 0u);
  EXPECT_EQ(count("glEnable(GL_LIGHTING)"), 0u);
  EXPECT_GE(count("glDisable(GL_LIGHTING)"), 1u);
  for (const GlCall* c : gl_recorder().of(GlFunc::Disable)) EXPECT_NE(c->arg(0), double(GL_LIGHT0));
}

TEST_F(RenderFixture, VisibilityStreamDecidesWhatIsDrawn) {
  LwobWriter w;
  for (int i = 0; i < 3; ++i) {
    w.add_point(0, 0, 5);
    w.add_point(0, 1, 5);
    w.add_point(1, 0, 5);
  }
  w.add_polygon({0, 1, 2}, 1);
  w.add_polygon({3, 4, 5}, 1);
  w.add_polygon({6, 8, 7}, 1);  // faces away, but the stream says draw it
  w.add_surface("Plain");
  ASSERT_TRUE(w.write(dir.path("three.lwo")));
  LwsObject o;
  o.load_path = kPrefix + "three.lwo";
  lws.objects.push_back(o);
  load();

  scene.precalc.visibility = {0x00};
  scene.precalc.frame_table = {0};
  scene.precalc.precalc_file_step = 1;
  scene_render_frame(scene, 192);
  EXPECT_EQ(frame_state().draw_count, 0);  // facing triangles, but all bits 0

  scene.precalc.visibility = {0xA0};  // bits 1 0 1
  scene_render_frame(scene, 192);
  ASSERT_EQ(frame_state().draw_count, 2);
  EXPECT_EQ(scene.draw.draw_list[0].triangle, &scene.objects[0].polygons[0]);
  EXPECT_EQ(scene.draw.draw_list[1].triangle, &scene.objects[0].polygons[2]);
}

TEST_F(RenderFixture, MorphTargetsAreNeverQueued) {
  add_triangle_object("a.lwo", 5, true);
  add_triangle_object("b.lwo", 6, true);
  LwsEnvelope env;
  env.keys.push_back({0.0f, 0});
  lws.objects[0].metamorph = env;
  lws.objects[0].morph_target = 2;
  load();
  ASSERT_EQ(scene.objects[1].is_morph_target, 1);
  scene_render_frame(scene, 192);
  ASSERT_EQ(frame_state().draw_count, 1);
  EXPECT_EQ(scene.draw.draw_list[0].triangle, &scene.objects[0].polygons[0]);
}

TEST_F(RenderFixture, PrecalculationBuildOnlyEvaluatesAndRecords) {
  add_triangle_object("front.lwo", 5, true);
  load(SceneFlags::BUILD_PRECALC | SceneFlags::DEPTH_BUFFER);
  static int recorded = 0;
  recorded = 0;
  frame_hooks().precalc_record_frame = [](Scene&) { ++recorded; };
  for (int m = 0; m < scene.motion_count; ++m) scene.motions[m].advanced = 1;
  scene_render_frame(scene, 192);
  frame_hooks().precalc_record_frame = nullptr;
  EXPECT_EQ(recorded, 1);
  EXPECT_EQ(gl_recorder().count(GlFunc::Clear), 0u);
  EXPECT_EQ(gl_recorder().count(GlFunc::Begin), 0u);
  EXPECT_EQ(count("glDisable(GL_LIGHTING)"), 1u);
  // Every motion was cleared, then advanced once by this frame's evaluation.
  EXPECT_FLOAT_EQ(scene.motions[0].frame, 1.f);
}

TEST_F(RenderFixture, DrawListOverflowDropsAndCounts) {
  add_triangle_object("front.lwo", 5, true);
  load();
  scene.draw.draw_list.resize(0);
  long long before = frame_state().dropped;
  log_clear();
  scene_render_frame(scene, 192);
  scene_render_frame(scene, 192);
  EXPECT_EQ(frame_state().draw_count, 0);
  EXPECT_EQ(frame_state().dropped, before + 2);
  ASSERT_EQ(log_lines().size(), 1u);  // said once per scene, not once per frame
  EXPECT_NE(log_lines()[0].find("Draw list"), std::string::npos);
}

TEST_F(RenderFixture, LightsAfterTheEighthAreLeftOutOnce) {
  add_triangle_object("front.lwo", 5, true);
  for (int i = 0; i < 10; ++i) lws.lights.push_back(LwsLight{});
  load();
  log_clear();
  scene_render_frame(scene, 192);
  scene_render_frame(scene, 192);
  EXPECT_EQ(gl_recorder().count(GlFunc::Lightfv), 2u * 8 * 2);
  for (const GlCall* c : gl_recorder().of(GlFunc::Enable)) EXPECT_LT(c->arg(0), double(GL_LIGHT0 + 8));
  ASSERT_EQ(log_lines().size(), 1u);
  EXPECT_NE(log_lines()[0].find("10 lights"), std::string::npos);
}

// The whole path on real GL: a red triangle in front of a blue backdrop.
TEST(RenderHeadless, DrawsTheSceneIntoTheOffscreenFrame) {
  TempDir dir("render_gl");
  LwobWriter w;
  w.add_point(-1, -1, 3);
  w.add_point(0, 1, 3);
  w.add_point(1, -1, 3);
  w.add_polygon({0, 1, 2}, 1);
  w.add_surface("Red").colr(255, 0, 0);
  ASSERT_TRUE(w.write(dir.path("tri.lwo")));
  LwsScene lws;
  LwsObject o;
  o.load_path = kPrefix + "tri.lwo";
  lws.objects.push_back(o);
  lws.backdrop_color = {0, 0, 255};
  ASSERT_TRUE(write_lws_file(dir.path("s.lws"), lws));

  log_set_echo(false);
  clock_set_virtual(5000);
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  display_reset();
  DisplayResult r = display_open(DisplayOptions::DEPTH_BUFFER, 64, 48, 32, 0, 0, 0, "test");
  if (r != DisplayResult::ok) GTEST_SKIP() << "no headless GL here: " << display_error();

  Scene scene;
  scene_construct(scene);
  ASSERT_EQ(scene_configure(scene, SceneFlags::DEPTH_BUFFER, 64, 48, 1024, 1), 0);
  scene_set_lightwave_root(scene, dir.root.string() + "/");
  ASSERT_EQ(scene_load(scene, dir.path("s.lws")), SceneStatus::ok);
  scene_reset_motions(scene);
  scene_render_frame(scene, 192);
  std::vector<uint8_t> rgba;
  int width = 0, height = 0;
  ASSERT_TRUE(display_read_frame(rgba, width, height));
  ASSERT_EQ(width, 64);
  ASSERT_EQ(height, 48);
  auto px = [&](int x, int y) { return &rgba[(size_t(y) * width + x) * 4]; };
  EXPECT_EQ(px(32, 28)[0], 255);  // inside the triangle
  EXPECT_EQ(px(32, 28)[2], 0);
  EXPECT_EQ(px(2, 2)[0], 0);  // backdrop
  EXPECT_EQ(px(2, 2)[2], 255);
  scene_destroy(scene);
  (void)display_close();
  clock_use_real();
  log_set_echo(true);
}

// A unit cube made of six quads whose outside faces the viewer the LightWave way.
static void cube(LwobWriter& w, float half) {
  for (int i = 0; i < 8; ++i) w.add_point(i & 1 ? half : -half, i & 2 ? half : -half, i & 4 ? half : -half);
  // Corners listed clockwise as seen from outside.
  w.add_polygon({0, 2, 3, 1}, 1);  // -z (front, toward the camera)
  w.add_polygon({4, 5, 7, 6}, 1);  // +z
  w.add_polygon({0, 4, 6, 2}, 1);  // -x
  w.add_polygon({1, 3, 7, 5}, 1);  // +x
  w.add_polygon({0, 1, 5, 4}, 1);  // -y
  w.add_polygon({2, 6, 7, 3}, 1);  // +y
  w.add_surface("Cube").colr(90, 90, 200);
}

TEST_F(RenderFixture, ACubeShowsTheFacesTowardTheCameraThroughAParentChain) {
  LwobWriter w;
  cube(w, 1);
  ASSERT_TRUE(w.write(dir.path("cube.lwo")));
  LwsObject parent;  // a null object 10 ahead and 3 to the right
  parent.motion[0].value = {3, 0, 10, 0, 0, 0, 1, 1, 1};
  lws.objects.push_back(parent);
  LwsObject child;
  child.load_path = kPrefix + "cube.lwo";
  child.parent = 1;
  lws.objects.push_back(child);
  load();
  scene_render_frame(scene, 192);
  // Seen from the origin, the cube's front and its left side face the camera.
  ASSERT_EQ(frame_state().draw_count, 4);
  for (int i = 0; i < 4; ++i) {
    const DrawEntry& e = scene.draw.draw_list[i];
    EXPECT_EQ(e.triangle->color[2], 200);
    for (const Vertex* v : {e.vertex0, e.vertex1, e.vertex2}) {
      EXPECT_NEAR(v->x, 3, 1.0001);
      EXPECT_NEAR(v->z, -10, 1.0001);
    }
  }
  EXPECT_EQ(gl_recorder().count(GlFunc::Vertex3f), 12u);
  EXPECT_EQ(gl_recorder().count(GlFunc::Begin), 1u);  // like triangles share one primitive
}
