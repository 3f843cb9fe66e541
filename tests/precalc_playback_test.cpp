// Playing scenes from their precalculation files: the load finds the file, the renderer
// draws from it, and frames the file cannot answer fall back to the renderer's own tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "object/surface_image.h"
#include "render/texture_upload.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/png_writer.h"
#include "scene/precalc_file.h"
#include "support/object_fixtures.h"
#include "tools/demo_show.h"
#include "tools/lws_writer.h"

using namespace orvl;
using namespace orvl::testing;

namespace {

struct PlaybackFixture : ::testing::Test {
  TempDir dir{"precalc_play"};
  Scene scene;
  LwsScene lws;
  GlBackendScope recorder{GlBackend::recorder};

  void SetUp() override {
    log_set_echo(false);
    log_clear();
    gl_recorder().reset();
    clock_set_virtual(10000);
  }
  void TearDown() override {
    scene_destroy(scene);
    frame_hooks().precalc_record_frame = nullptr;
    clock_use_real();
    log_set_echo(true);
  }

  // `n` triangles 5 units ahead; the last one faces away.
  void add_object(const std::string& file, int n) {
    LwobWriter w;
    for (int i = 0; i < n; ++i) {
      const float x = 0.3f * float(i) - 1;
      w.add_point(x, 0, 5);
      w.add_point(x, 0.2f, 5);
      w.add_point(x + 0.2f, 0, 5);
      const uint16_t b = uint16_t(3 * i);
      w.add_polygon(i + 1 < n ? std::vector<uint16_t>{b, uint16_t(b + 1), uint16_t(b + 2)}
                              : std::vector<uint16_t>{b, uint16_t(b + 2), uint16_t(b + 1)},
                    1);
    }
    w.add_surface("Plain");
    ASSERT_TRUE(w.write(dir.path(file)));
    LwsObject o;
    o.load_path = kPrefix + file;
    lws.objects.push_back(o);
  }

  void load(uint32_t flags, int width = 640, int height = 480) {
    ASSERT_TRUE(write_lws_file(dir.path("scene.lws"), lws));
    scene_destroy(scene);
    scene_construct(scene);
    ASSERT_EQ(scene_configure(scene, flags, width, height, 1024, 2), 0);
    scene_set_lightwave_root(scene, dir.root.string() + "/");
    ASSERT_EQ(scene_load(scene, dir.path("scene.lws")), SceneStatus::ok);
    scene_reset_motions(scene);
  }

  void build() {
    load(SceneFlags::BUILD_PRECALC);
    frame_hooks().precalc_record_frame = precalc_record_frame;
    for (int i = 0; i < 100 && !(scene.precalc.precalc_started && !scene.precalc.precalc_open); ++i) scene_render_frame(scene, 192);
    ASSERT_EQ(scene.precalc.precalc_outcome, 1);
  }

  int fallback_lines() const {
    return int(std::count_if(log_lines().begin(), log_lines().end(),
                             [](const std::string& l) { return l.find("own visibility tests") != std::string::npos; }));
  }
};

}  // namespace

TEST_F(PlaybackFixture, LoadFindsTheFileAndTheBitsDecideWhatIsDrawn) {
  add_object("four.lwo", 4);
  build();
  load(0);
  ASSERT_FALSE(scene.precalc.visibility.empty());
  EXPECT_EQ(scene.precalc.precalc_invalid, 0);
  EXPECT_EQ(scene.precalc.frame_table.size(), 30u);  // frames 2, 4 ... 60 at step 2
  EXPECT_EQ(scene.precalc.visibility[0], 0xE0);       // three facing, one turned away
  scene.precalc.visibility[0] = 0x10;                  // the stream, not the facing test, decides
  scene_render_frame(scene, 192);
  ASSERT_EQ(frame_state().draw_count, 1);
  EXPECT_EQ(scene.draw.draw_list[0].triangle, &scene.objects[0].polygons[3]);
  EXPECT_EQ(fallback_lines(), 0);

  // Another output size: the file is ignored and both flags say why.
  load(0, 800, 600);
  EXPECT_TRUE(scene.precalc.visibility.empty());
  EXPECT_EQ(scene.precalc.precalc_invalid, 1);
  EXPECT_EQ(scene.precalc.precalc_resolution_differs, 1);
  // Building never reads the old file.
  load(SceneFlags::BUILD_PRECALC);
  EXPECT_TRUE(scene.precalc.visibility.empty());
  EXPECT_EQ(scene.precalc.precalc_invalid, 0);
}

TEST_F(PlaybackFixture, FramesTheFileCannotAnswerUseTheCulledPathWithOneLogLine) {
  add_object("four.lwo", 4);
  build();
  load(0);
  ASSERT_EQ(scene.precalc.frame_table.size(), 30u);
  // Past the table (the scene is longer than when it was built): culled, three facing drawn.
  scene.precalc.frame_table.resize(2);
  std::fill(scene.precalc.visibility.begin(), scene.precalc.visibility.end(), 0x10);
  clock_set_virtual(10000);
  scene_reset_motions(scene);
  scene_render_frame(scene, 192);
  EXPECT_EQ(frame_state().draw_count, 1);  // frame 0 is in the table
  clock_set_virtual(10000 + 1000);  // frame 30, entry 15
  scene_render_frame(scene, 192);
  EXPECT_EQ(frame_state().draw_count, 3);
  clock_set_virtual(10000 + 1500);
  scene_render_frame(scene, 192);
  EXPECT_EQ(frame_state().draw_count, 3);
  EXPECT_EQ(fallback_lines(), 1);

  // The scene gained an object after its file was built: a frame's bits would end past the
  // stream, so no frame reads them.
  add_object("more.lwo", 7);
  load(0);
  ASSERT_FALSE(scene.precalc.visibility.empty());
  log_clear();
  for (uint32_t t : {10000u, 10500u, 11900u}) {
    clock_set_virtual(t);
    scene_render_frame(scene, 192);
    EXPECT_EQ(frame_state().draw_count, 3 + 6) << t;
  }
  EXPECT_EQ(fallback_lines(), 1);
}

// The demo show drawn with and without its files: the pictures match closely. They cannot
// match exactly: a frame's bits come from the next recorded frame (up to one step later),
// particles and static images take no bits, "_PLOTS_" objects lose their turned-away
// triangles and metaform objects are not displaced when drawn from a file.
TEST(PrecalcPictures, DemoScenesLookTheSameWithTheirFiles) {
  log_set_echo(false);
  TempDir dir{"precalc_demo"};
  DemoOptions options;
  options.music_seconds = 0;
  DemoSummary summary;
  std::string error;
  ASSERT_TRUE(make_demo_show(dir.root.string(), options, summary, error)) << error;

  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  display_reset();
  if (display_open(DisplayOptions::DEPTH_BUFFER, 640, 480, 32, 0, 0, 0, "t") != DisplayResult::ok)
    GTEST_SKIP() << "no headless GL: " << display_error();
  std::vector<uint8_t> with, without;
  long all_queued[2] = {0, 0};
  for (const DemoSlot& slot : kDemoSlots) {
    const std::string path = dir.path(slot.file);
    Scene scene;
    {
      GlBackendScope noop(GlBackend::noop);
      scene_construct(scene);
      (void)scene_configure(scene, SceneFlags::BUILD_PRECALC | SceneFlags::DEPTH_BUFFER, 640, 480, 1024, 2);
      scene_set_lightwave_root(scene, dir.root.string() + "/");
      ASSERT_EQ(scene_load(scene, path), SceneStatus::ok);
      if (slot.scaled) scene_scale(scene, 50.0f);
      scene_reset_motions(scene);
      frame_hooks().precalc_record_frame = precalc_record_frame;
      for (int i = 0; i < 10000 && !(scene.precalc.precalc_started && !scene.precalc.precalc_open); ++i) scene_render_frame(scene, 0);
      frame_hooks().precalc_record_frame = nullptr;
      ASSERT_EQ(scene.precalc.precalc_outcome, 1) << slot.file;
      scene_destroy(scene);
    }
    // Two copies of the scene step through the same frames (scrolling textures advance per
    // frame); one draws from the file, the other has its stream taken away.
    reset_texture_counter();
    Scene copies[2];
    for (Scene& copy : copies) {
      scene_construct(copy);
      (void)scene_configure(copy, SceneFlags::DEPTH_BUFFER | SceneFlags::MIPMAP | SceneFlags::BILINEAR, 640, 480,
                            1024, 2);
      scene_set_lightwave_root(copy, dir.root.string() + "/");
      ASSERT_EQ(scene_load(copy, path), SceneStatus::ok);
      ASSERT_FALSE(copy.precalc.visibility.empty()) << slot.file;
      if (slot.scaled) scene_scale(copy, 50.0f);
      upload_textures(copy);
    }
    std::vector<uint8_t>().swap(copies[1].precalc.visibility);
    const double seconds = slot.end_seconds - slot.start_seconds;
    size_t differing = 0, total = 0;
    long queued[2] = {0, 0};
    for (double at : {0.25, 0.5, 0.75}) {
      for (int pass = 0; pass < 2; ++pass) {
        Scene& copy = copies[pass];
        clock_set_virtual(100000);
        scene_reset_motions(copy);
        scene_render_frame(copy, 0);  // starts the motion clocks
        clock_set_virtual(100000 + uint32_t(at * seconds * 1000));
        scene_render_frame(copy, 192);
        queued[pass] += frame_state().draw_count;
        int w = 0, h = 0;
        ASSERT_TRUE(display_read_frame(pass == 0 ? with : without, w, h));
        if (const char* keep = std::getenv("ORVL_KEEP_PICTURES")) {
          const std::string name = std::string(keep) + "/" + std::to_string(&slot - kDemoSlots) + "_" +
                                   std::to_string(int(at * 100)) + (pass == 0 ? "_file.png" : "_culled.png");
          png_write_rgba(name, (pass == 0 ? with : without).data(), w, h, size_t(w) * 4);
        }
      }
      for (size_t i = 0; i + 3 < with.size(); i += 4) {
        const int d = std::abs(with[i] - without[i]) + std::abs(with[i + 1] - without[i + 1]) +
                      std::abs(with[i + 2] - without[i + 2]);
        differing += d > 48;
        ++total;
      }
    }
    const double share = double(differing) / double(total);
    std::printf("%s: %.3f%% of pixels differ; triangles queued from the file %ld, culled %ld\n", slot.file,
                100 * share, queued[0], queued[1]);
    EXPECT_LT(share, 0.02) << slot.file;
    all_queued[0] += queued[0];
    all_queued[1] += queued[1];
    delete_textures();
    for (Scene& copy : copies) scene_destroy(copy);
  }
  (void)display_close();
  clock_use_real();
  // The files were used: they leave out what lies outside the view.
  EXPECT_LT(all_queued[0], all_queued[1]);
}
