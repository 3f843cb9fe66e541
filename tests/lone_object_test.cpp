// Lone objects: the viewing scene built around one LWOB or LWO2 file, drawn headless in both
// looks, and `orvl render` / `orvl play` handed an object.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <algorithm>
#include <sstream>

#include "app/scene_run.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/png_writer.h"
#include "render/texture_upload.h"
#include "scene/lone_object.h"
#include "scene/lw_scene.h"
#include "support/object_fixtures.h"
#include "support/shared_data.h"

namespace fs = std::filesystem;
using namespace orvl;
using namespace orvl::testing;

namespace {

constexpr int kW = 160, kH = 120;

struct LoneFixture : ::testing::Test {
  Scene scene;
  std::vector<uint8_t> rgba;
  bool open = false;

  void SetUp() override { log_set_echo(false); }
  void TearDown() override {
    if (open) {
      delete_textures();
      (void)display_close();
    }
    scene_destroy(scene);
    clock_use_real();
    log_set_echo(true);
  }

  // Loads `path` as a lone object without a display (the tables only).
  SceneStatus load(const std::string& path, LoneObjectOptions options = {}) {
    scene_construct(scene);
    (void)scene_configure(scene, SceneFlags::DEPTH_BUFFER, kW, kH, 1024, 1);
    return scene_load_lone_object(scene, path, options);
  }

  // Opens a headless display, loads `path` and draws the moment `ms` into `rgba` over a
  // green backdrop; false (test skipped) without headless GL.
  bool draw(const std::string& path, Look look, uint32_t ms = 0) {
    display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
    display_reset();
    if (display_open(DisplayOptions::DEPTH_BUFFER, kW, kH, 32, 0, 0, 0, "t") != DisplayResult::ok) return false;
    open = true;
    reset_texture_counter();
    EXPECT_EQ(load(path), SceneStatus::ok) << path;
    for (int k = 0; k < 3; ++k) scene.lw.backdrop.color[k] = scene.backdrop_color[k] = k == 1 ? 1.0f : 0.0f;
    scene.lw.backdrop.solid = true;
    upload_textures(scene);
    clock_set_virtual(1000);
    scene_reset_motions(scene);
    for (int m = 0; m < scene.motion_count; ++m) scene.motions[size_t(m)].start_tick = 1000;
    clock_set_virtual(1000 + ms);
    RenderSettings settings;
    settings.look = look;
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, settings);
    int w = 0, h = 0;
    EXPECT_TRUE(display_read_frame(rgba, w, h));
    if (const char* keep = std::getenv("ORVL_KEEP_PICTURES"))
      (void)png_write_frame(std::string(keep) + "/lone_" + fs::path(path).stem().string() + "_" + look_name(look) + ".png",
                     rgba.data(), kW, kH, kW * 4);
    return w == kW && h == kH;
  }

  // Rows holding anything but the green backdrop, as a share of the frame height; the
  // first and last such row.
  double silhouette_height(int* first = nullptr, int* last = nullptr) const {
    int top = -1, bottom = -1;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const uint8_t* p = &rgba[(size_t(y) * kW + x) * 4];
        if (p[0] > 8 || p[1] < 247 || p[2] > 8) {
          if (top < 0) top = y;
          bottom = y;
          break;
        }
      }
    if (first) *first = top;
    if (last) *last = bottom;
    return top < 0 ? 0.0 : double(bottom - top + 1) / kH;
  }
};

// An LWOB and an LWO2 from other tools fill 50 to 90% of the frame height in the lightwave
// look, whose projection the framing is made for, and stay centred; a quarter turn later they
// still fit. The engine look's own lens shows them at about half that size, centred too.
TEST_F(LoneFixture, RealObjectsAreFramedInBothLooks) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  for (const char* rel : {"lightwave/penguin.lwo", "lightwave6/hierarchy.lwo", "lightwave/head.lwo"}) {
    for (Look look : {Look::lightwave, Look::engine}) {
      for (uint32_t ms : {0u, 2500u}) {
        SCOPED_TRACE(std::string(rel) + " " + look_name(look) + " at " + std::to_string(ms) + " ms");
        const std::string path = orvl::test::shared_testdata(rel);
        if (!draw(path, look, ms)) GTEST_SKIP() << "no headless GL: " << display_error();
        int top = 0, bottom = 0;
        const double fill = silhouette_height(&top, &bottom);
        EXPECT_GE(fill, look == Look::lightwave ? 0.5 : 0.25);
        EXPECT_LE(fill, 0.9);
        EXPECT_GT(top, 0);            // nothing cut off at the top ...
        EXPECT_LT(bottom, kH - 1);    // ... or the bottom
        EXPECT_LT(std::abs((top + bottom) / 2 - kH / 2), kH / 5);
        delete_textures();
        (void)display_close();
        open = false;
        scene_destroy(scene);
      }
    }
  }
}

// The scene carries LightWave's default light and camera in both records, the object turns
// one full turn in the turntable time about +Y through its centre, and a still one does not.
TEST_F(LoneFixture, SceneRecordsLightCameraAndTurntable) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const std::string path = orvl::test::shared_testdata("lightwave/penguin.lwo");
  ASSERT_EQ(load(path), SceneStatus::ok);
  EXPECT_EQ(scene.lw.format_version, 0);
  EXPECT_EQ(default_look_for_format(scene.lw.format_version), Look::lightwave);
  ASSERT_EQ(scene.light_count, 1);
  EXPECT_EQ(scene.lights[0].type, 4);  // distant
  ASSERT_EQ(scene.lw.lights.size(), 1u);
  EXPECT_EQ(scene.lw.lights[0].type, LwLightType::distant);
  EXPECT_FLOAT_EQ(scene.lw.ambient_intensity, 0.05f);
  EXPECT_DOUBLE_EQ(scene.lw.last_frame, 299);

  const LoneFraming f = lone_object_framing(scene.objects[0], double(kW) / kH);
  LwPose pose;
  lw_pose_size(scene, pose);
  ASSERT_TRUE(lw_pose_at(scene, 0, pose));
  EXPECT_NEAR(pose.zoom, 3.2, 1e-6);
  EXPECT_NEAR(pose.camera_world.m[11], -f.distance, 1e-3 * f.distance);  // on -Z
  EXPECT_NEAR(pose.camera_world.m[3], 0, 1e-9);
  // The light shines along its +Z: toward +X, down and away from the camera.
  const LwMatrix& l = pose.light_world[0];
  EXPECT_GT(l.m[2], 0);
  EXPECT_LT(l.m[6], 0);
  EXPECT_GT(l.m[10], 0);
  // The centre of the bounding sphere sits at the origin at every moment.
  auto world_of_centre = [&](double frame, double out[3]) {
    ASSERT_TRUE(lw_pose_at(scene, frame, pose));
    const LwMatrix& m = pose.object_world[0];
    for (int r = 0; r < 3; ++r)
      out[r] = m.m[r * 4] * f.centre[0] + m.m[r * 4 + 1] * f.centre[1] + m.m[r * 4 + 2] * f.centre[2] + m.m[r * 4 + 3];
  };
  for (double frame : {0.0, 75.0, 150.0}) {
    double c[3];
    world_of_centre(frame, c);
    for (double v : c) EXPECT_NEAR(v, 0, 1e-4 * f.radius) << frame;
  }
  // A quarter turn after 2.5 s (frame 75): the object's +Z now points along +X.
  ASSERT_TRUE(lw_pose_at(scene, 75, pose));
  EXPECT_NEAR(pose.object_world[0].m[8], -1, 1e-4);  // row Z of the X axis
  EXPECT_NEAR(pose.object_world[0].m[2], 1, 1e-4);   // X of the Z axis
  ASSERT_TRUE(lw_pose_at(scene, 300, pose));          // one full turn: back where it began
  EXPECT_NEAR(pose.object_world[0].m[0], 1, 1e-4);

  scene_destroy(scene);
  LoneObjectOptions still;
  still.turntable_seconds = 0;
  ASSERT_EQ(load(path, still), SceneStatus::ok);
  EXPECT_DOUBLE_EQ(scene.lw.last_frame, 0);
  ASSERT_TRUE(lw_pose_at(scene, 75, pose));
  EXPECT_NEAR(pose.object_world[0].m[0], 1, 1e-9);
}

// Untextured objects in the engine look are lit by the viewing scene's light: an LWO2 cube
// (surface colour 200) rises above the 40 that the ambient light alone gives, and the
// penguin's LWOB surfaces, which set neither smoothing nor the sharp terminator, are shaded
// rather than drawn as one flat colour per surface. The lightwave look ignores where the
// light stands (checked by its own picture tests).
TEST_F(LoneFixture, TheEngineLookLightsUntexturedObjects) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  auto object_pixels = [&](int& brightest, size_t& colours) {
    std::set<uint32_t> seen;
    brightest = 0;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
      const uint8_t* p = &rgba[i];
      if (p[0] <= 8 && p[1] >= 247 && p[2] <= 8) continue;  // the green backdrop
      brightest = std::max({brightest, int(p[0]), int(p[1]), int(p[2])});
      seen.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
    colours = seen.size();
  };
  int brightest = 0;
  size_t colours = 0;
  if (!draw(orvl::test::shared_testdata("lightwave6/simple_cube.lwo"), Look::engine)) GTEST_SKIP() << "no headless GL";
  object_pixels(brightest, colours);
  EXPECT_GT(brightest, 60) << "only the ambient light reaches the cube";
  delete_textures();
  (void)display_close();
  open = false;
  scene_destroy(scene);

  ASSERT_TRUE(draw(orvl::test::shared_testdata("lightwave/penguin.lwo"), Look::engine));
  object_pixels(brightest, colours);
  EXPECT_GE(colours, 16u) << "the penguin is drawn in its flat surface colours";
  ASSERT_EQ(scene.object_count, 1);
  for (const Triangle& t : scene.objects[0].polygons)
    EXPECT_TRUE(t.flags & (TriangleFlags::FLAT_LIT | TriangleFlags::SMOOTH_LIT)) << t.surface->name;
}

// Layers: every layer by default, one with --layer, an absent one refused; an LWOB has one.
TEST_F(LoneFixture, LayersPickPartsOfTheObject) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const std::string lwo2 = orvl::test::shared_testdata("lightwave6/hierarchy.lwo");
  ASSERT_EQ(load(lwo2), SceneStatus::ok);
  const int all = scene.objects[0].vertex_count;
  scene_destroy(scene);
  LoneObjectOptions one;
  one.layer = 2;
  ASSERT_EQ(load(lwo2, one), SceneStatus::ok);
  EXPECT_GT(scene.objects[0].vertex_count, 0);
  EXPECT_LT(scene.objects[0].vertex_count, all);
  scene_destroy(scene);
  one.layer = 9;
  EXPECT_EQ(load(lwo2, one), SceneStatus::bad_object);
  scene_destroy(scene);
  EXPECT_EQ(load(orvl::test::shared_testdata("lightwave/penguin.lwo"), one), SceneStatus::bad_object);
}

// An object without polygons, one whose points all sit at one place, and a form with no
// points at all still get a camera: a unit sphere around where they are.
TEST_F(LoneFixture, DegenerateObjectsGetAUnitSphere) {
  TempDir dir("lone_object");
  auto write = [&](const std::string& name, const std::vector<std::array<float, 3>>& points, bool polygon) {
    LwobWriter w;
    for (const auto& p : points) w.add_point(p[0], p[1], p[2]);
    if (polygon) w.add_polygon({0, 1, 2}, 1);
    w.add_surface("S");
    EXPECT_TRUE(w.write(dir.path(name)));
    return dir.path(name);
  };
  const std::string cases[] = {
      write("points.lwo", {{{0, 0, 0}}, {{4, 0, 0}}, {{0, 2, 0}}}, false),
      write("one_place.lwo", {{{5, 5, 5}}, {{5, 5, 5}}, {{5, 5, 5}}}, true),
      write("empty.lwo", {}, false),
  };
  const double radius[] = {std::sqrt(5.0), 1, 1};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(cases[i]);
    ASSERT_EQ(load(cases[i]), SceneStatus::ok);
    const LoneFraming f = lone_object_framing(scene.objects[0], 4.0 / 3.0);
    EXPECT_NEAR(f.radius, radius[i], 1e-5);
    EXPECT_TRUE(std::isfinite(f.distance));
    EXPECT_GT(f.distance, f.radius);
    LwPose pose;
    ASSERT_TRUE(lw_pose_at(scene, 0, pose));
    EXPECT_NEAR(pose.camera_world.m[11], -f.distance, 1e-3 * f.distance);
    scene_destroy(scene);
  }
  // Detection goes by the bytes: a scene named .lwo is not an object, an object named .lws is.
  const std::string lwob = dir.path("points.lwo");
  fs::copy_file(lwob, dir.path("object.lws"));
  std::ofstream(dir.path("scene.lwo")) << "LWSC\n1\n";
  EXPECT_EQ(lone_object_file_kind(dir.path("object.lws")), LoneObjectKind::lwob);
  EXPECT_EQ(lone_object_file_kind(dir.path("scene.lwo")), LoneObjectKind::none);
  EXPECT_EQ(lone_object_file_kind(dir.path("absent.lwo")), LoneObjectKind::none);
}

// Without a turntable a lone object stands still in the lightwave look, whatever the time.
TEST(LoneObjectStill, WithoutATurntableTheObjectStands) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  log_set_echo(false);
  SceneRun run;
  run.file = orvl::test::shared_testdata("lightwave/penguin.lwo");
  run.width = 64;
  run.height = 48;
  run.turntable_seconds = 0;
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  Scene scene;
  if (!open_scene(run, DisplayOptions::DEPTH_BUFFER, scene)) GTEST_SKIP() << "no headless GL";
  settle_look(run, scene);
  EXPECT_EQ(run.render.look, Look::lightwave);
  clock_set_virtual(1000);
  start_motions_at(scene, 1000);
  std::vector<uint8_t> at0, at5;
  int w = 0, h = 0;
  for (auto [ms, picture] : {std::pair{0u, &at0}, std::pair{5000u, &at5}}) {
    clock_set_virtual(1000 + ms);
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, run.render);
    EXPECT_TRUE(display_read_frame(*picture, w, h));
  }
  clock_use_real();
  close_scene(scene);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  EXPECT_EQ(at0, at5);  // no turntable
  size_t lit = 0;
  for (size_t i = 0; i < at0.size(); i += 4) lit += at0[i] + at0[i + 1] + at0[i + 2] > 0;
  EXPECT_GT(lit, at0.size() / 4 / 25);  // the object, not an empty backdrop
  log_set_echo(true);
}

struct CliRun {
  int code = -1;
  std::string err;
};

CliRun orvl_run(const std::string& args, const TempDir& dir) {
  const std::string err_file = dir.path("stderr.txt");
  const int status = std::system((std::string(ORVL_BINARY) + " " + args + " >/dev/null 2>" + err_file).c_str());
  CliRun r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream ss;
  ss << std::ifstream(err_file).rdbuf();
  r.err = ss.str();
  return r;
}

// `orvl render OBJECT --out DIR` draws the turntable with --size and --every; absurd values
// are refused with exit code 2, object options on a scene with a clear line.
TEST(LoneObjectCli, RenderDrawsAnObjectAndRefusesAbsurdValues) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  TempDir dir("lone_cli");
  const std::string penguin = orvl::test::shared_testdata("lightwave/penguin.lwo");
  CliRun r = orvl_run("render " + penguin + " --out " + dir.path("out") + " --size 64x48 --every 100 --quiet", dir);
  ASSERT_EQ(r.code, 0) << r.err;
  int pictures = 0;
  for (const auto& e : fs::directory_iterator(dir.path("out"))) pictures += e.path().extension() == ".png";
  EXPECT_EQ(pictures, 3);  // frames 0, 100 and 200 of the 300 of one turn
  EXPECT_TRUE(fs::exists(dir.path("out/frame_000200.png")));

  r = orvl_run("render " + penguin + " --out " + dir.path("still") + " --turntable 0 --size 32x32 --quiet", dir);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.path("still/frame_000000.png")));
  EXPECT_FALSE(fs::exists(dir.path("still/frame_000001.png")));

  for (const char* bad : {"--turntable -1", "--turntable 0.01", "--turntable nan", "--turntable 1e9", "--layer 0",
                          "--layer 1.5", "--layer -3", "--layer 70000"}) {
    r = orvl_run("render " + penguin + " --out " + dir.path("bad") + " " + bad, dir);
    EXPECT_EQ(r.code, 2) << bad;
    EXPECT_NE(r.err.find(std::string(bad).substr(0, std::string(bad).find(' '))), std::string::npos) << r.err;
  }
  std::ofstream(dir.path("s.lws")) << "LWSC\n1\n\nFirstFrame 1\nLastFrame 1\n";
  r = orvl_run("render " + dir.path("s.lws") + " --out " + dir.path("bad") + " --layer 2", dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("are for object files"), std::string::npos) << r.err;
}

// `render --video`: the show's ffmpeg path with the music as its sound track; without ffmpeg
// a clear line, exit code 1, and an existing video left as it was.
TEST(LoneObjectCli, RenderWritesAVideoWithMusic) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir("lone_video");
  const std::string penguin = orvl::test::shared_testdata("lightwave/penguin.lwo");
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=3 " + dir.path("tone.wav"))
                            .c_str()),
            0);
  CliRun r = orvl_run("render " + penguin + " --video " + dir.path("v.mp4") + " --music " + dir.path("tone.wav") +
                          " --size 64x48 --seconds 1 --quiet",
                      dir);
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_TRUE(fs::exists(dir.path("v.mp4")));
  const std::string probe = "ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + dir.path("v.mp4") + " > " +
                            dir.path("streams.txt");
  ASSERT_EQ(std::system(probe.c_str()), 0);
  std::stringstream streams;
  streams << std::ifstream(dir.path("streams.txt")).rdbuf();
  EXPECT_NE(streams.str().find("video"), std::string::npos);
  EXPECT_NE(streams.str().find("audio"), std::string::npos);
  for (const auto& e : fs::directory_iterator(dir.root))  // the temporary is gone
    EXPECT_EQ(e.path().filename().string().find(".orvl-"), std::string::npos) << e.path();

  const auto before = fs::file_size(dir.path("v.mp4"));
  r = orvl_run("render " + penguin + " --video " + dir.path("v.mp4") + " --size 64x48 --seconds 0.2 --quiet", dir);
  ASSERT_EQ(r.code, 0) << r.err;  // written again, smaller
  EXPECT_NE(fs::file_size(dir.path("v.mp4")), before);
  const auto kept = fs::file_size(dir.path("v.mp4"));
  const std::string no_ffmpeg = "env PATH=/nonexistent " + std::string(ORVL_BINARY) + " render " + penguin + " --video " +
                                dir.path("v.mp4") + " --size 64x48 --seconds 0.2 --quiet 2>" + dir.path("err.txt");
  const int status = std::system(no_ffmpeg.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::stringstream err;
  err << std::ifstream(dir.path("err.txt")).rdbuf();
  EXPECT_NE(err.str().find("ffmpeg stopped: ffmpeg is not installed"), std::string::npos) << err.str();
  EXPECT_EQ(fs::file_size(dir.path("v.mp4")), kept);

  r = orvl_run("render " + penguin + " --video " + dir.path("w.mp4") + " --fps 29.97", dir);
  EXPECT_EQ(r.code, 2);
  r = orvl_run("render " + penguin + " --video " + dir.path("w.mp4") + " --music " + dir.path("absent.mp3"), dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("absent.mp3"), std::string::npos) << r.err;
}

}  // namespace
