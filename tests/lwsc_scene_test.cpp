// LightWave 6 scenes through scene_load into the scene record, played by the motion
// evaluation on the virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "object/surface_image.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "scene/lwsc.h"
#include "scene/motion.h"
#include "scene/scene.h"
#include "support/shared_data.h"
#include "support/object_fixtures.h"
#include "tools/lwo2_writer.h"
#include "tools/lwsc_writer.h"

namespace orvl {
namespace {

class LwscScenes : public ::testing::Test {
 protected:
  void SetUp() override {
    log_set_echo(false);
    log_clear();
    reset_texture_counter();
  }
  void TearDown() override {
    clock_use_real();
    scene_destroy(scene);
    log_set_echo(true);
  }
  SceneStatus load(const std::string& path) {
    scene_construct(scene);
    (void)scene_configure(scene, 0, 640, 480, 1024, 0);
    return scene_load(scene, path);
  }
  // The scene as playback shows it `ms` after it started.
  void play_to(uint32_t ms) {
    scene_reset_motions(scene);
    clock_set_virtual(1000);
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1) clock_advance_virtual(ms);
      evaluate_objects(scene);
      evaluate_camera(scene);
      for (int i = 0; i < scene.light_count; ++i) evaluate_light(scene, scene.lights[i].motion);
    }
  }
  Scene scene;
};

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(LwscScenes, LightWaveFilesPlayFromTheirFirstFrameInEveryGeneration) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const std::string text = file_text(test::shared_testdata("lightwave6/" + std::string("move_x.lws")));
  LwscScene ref;
  ASSERT_EQ(lwsc_read(reinterpret_cast<const uint8_t*>(text.data()), text.size(), ref), LwscStatus::ok);
  for (const char* name : {"move_x.lws", "move_x_oldformat_6.lws", "move_x_oldformat_56.lws"}) {
    ASSERT_EQ(load(test::shared_testdata("lightwave6/" + std::string(name))), SceneStatus::ok) << name;
    EXPECT_EQ(scene.object_count, 1);
    EXPECT_EQ(scene.objects[0].vertex_count, 8) << name;  // the LWO2 cube
    EXPECT_EQ(scene.light_count, 1);
    for (uint32_t ms : {0u, 300u, 633u, 1500u}) {
      play_to(ms);
      // Playback starts at FirstFrame (1 of 30 per second).
      const double t = 1.0 / 30 + ms / 1000.0;
      EXPECT_NEAR(scene.objects[0].position[0], ref.evaluate(ref.items[0].channels[0], t), 2e-4) << name << " " << ms;
      EXPECT_NEAR(scene.objects[0].scale[0], 0.9797581, 1e-5);
      EXPECT_NEAR(scene.camera_position[2], -6.384, 1e-4);
    }
    // The light's heading and pitch come out as radians whichever unit the file used.
    EXPECT_NEAR(scene.light_angles[1], 0.785398, 1e-5) << name;
    EXPECT_NEAR(scene.light_angles[0], -0.610865, 1e-5) << name;
    scene_destroy(scene);
  }
}

// One object (an LWO2 triangle) under a null with a pivot, a light with an animated
// intensity, a camera with a zoom envelope.
LwscScene written_scene() {
  LwscScene s;
  s.version = 3;
  s.first_frame = 0;
  s.last_frame = 60;
  auto env = [&s](std::vector<EnvKey> keys, EnvBehavior post = EnvBehavior::constant) {
    LwscEnvelope e;
    e.first_key = static_cast<uint32_t>(s.keys.size());
    e.key_count = static_cast<uint32_t>(keys.size());
    e.post = post;
    s.keys.insert(s.keys.end(), keys.begin(), keys.end());
    s.envelopes.push_back(e);
    return static_cast<int32_t>(s.envelopes.size() - 1);
  };
  auto key = [](float t, float v) {
    EnvKey k;
    k.time = t;
    k.value = v;
    k.shape = SpanShape::linear;
    return k;
  };
  LwscItem obj;
  obj.id = 0x10000000;
  obj.path = "tri.lwo";
  obj.channel_count = 9;
  obj.channels[0] = env({key(0, 0), key(1, 4)}, EnvBehavior::repeat);
  obj.channels[3] = env({key(0, 0.5f)});  // heading, radians
  obj.channels[7] = env({key(0, 2)});     // scale y
  obj.has_parent = true;
  obj.parent_id = 0x10000001;
  obj.dissolve = 0.25f;
  LwscItem null;
  null.kind = LwscItemKind::null_object;
  null.id = 0x10000001;
  null.path = "Rig";
  null.pivot[1] = 1.5f;
  LwscItem light;
  light.kind = LwscItemKind::light;
  light.id = 0x20000000;
  light.channel_count = 9;
  light.intensity_envelope = env({key(0, 0), key(2, 1)});
  LwscItem cam;
  cam.kind = LwscItemKind::camera;
  cam.id = 0x30000000;
  cam.channel_count = 6;
  cam.zoom_envelope = env({key(0, 6.4f)});
  s.items = {obj, null, light, cam};
  return s;
}

TEST_F(LwscScenes, WrittenSceneFillsTheRecord) {
  testing::TempDir dir("lwscscene");
  Lwo2Model m;
  m.surfaces.resize(1);
  Lwo2WriterLayer l;
  l.points = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  l.polygons = {{0, 1, 2}};
  m.layers = {l};
  ASSERT_TRUE(lwo2_write(dir.path("tri.lwo"), m));
  ASSERT_TRUE(write_lwsc_file(dir.path("a.lws"), written_scene()));
  ASSERT_EQ(load(dir.path("a.lws")), SceneStatus::ok);
  EXPECT_EQ(scene.envelopes.format_version, 3);
  ASSERT_EQ(scene.object_count, 2);
  EXPECT_EQ(scene.objects[0].parent, 1);
  EXPECT_FLOAT_EQ(scene.objects[1].pivot[1], -1.5f);  // stored negated
  EXPECT_EQ(scene.objects[0].polygon_count, 1);

  play_to(250);
  const SceneObject& o = scene.objects[0];
  EXPECT_NEAR(o.position[0], 1.0, 1e-4);
  EXPECT_NEAR(o.angles[1], 0.5, 1e-6);  // heading
  EXPECT_NEAR(o.scale[1], 2.0, 1e-6);
  EXPECT_NEAR(o.scale[0], 1.0, 1e-6);   // channels the file leaves out keep their rest value
  EXPECT_EQ(o.dissolve, 191);           // a static dissolve of 0.25
  EXPECT_NEAR(scene.zoom_factor, 2.0, 1e-5);
  play_to(1250);                        // post behaviour repeat
  EXPECT_NEAR(scene.objects[0].position[0], 1.0, 1e-4);
  EXPECT_NEAR(scene.lights[0].intensity, 0.625, 1e-4);

  // Positions follow the scene scale, envelopes keep their values.
  scene_scale(scene, 2.0f);
  play_to(250);
  EXPECT_NEAR(scene.objects[0].position[0], 2.0, 1e-4);
  EXPECT_NEAR(scene.zoom_factor, 2.0, 1e-5);
  EXPECT_EQ(scene.objects[0].dissolve, 191);
}

TEST_F(LwscScenes, DamagedAndOverFullScenesFailWithTheirStatus) {
  testing::TempDir dir("lwscbad");
  const std::string good = write_lwsc(written_scene());
  auto load_text = [&](const std::string& text) {
    scene_construct(scene);
    (void)scene_configure(scene, 0, 640, 480, 1024, 0);
    return scene_load_text(scene, dir.path("x.lws"), reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  EXPECT_EQ(load_text(good.substr(0, good.size() / 2)), SceneStatus::bad_scene);
  EXPECT_EQ(scene.loaded, 0);
  EXPECT_EQ(load_text(good + "{ Nodal_Block\n  { Root\n"), SceneStatus::bad_scene);
  // The object file is not there.
  EXPECT_EQ(load_text(good), SceneStatus::file_not_found);
  EXPECT_EQ(scene.error_path, "tri.lwo");

  // More keys than the pool holds, all channels together.
  LwscScene big;
  big.version = 5;
  LwscItem cam;
  cam.kind = LwscItemKind::camera;
  cam.channel_count = 6;
  for (int c = 0; c < 6; ++c) {
    LwscEnvelope e;
    e.first_key = static_cast<uint32_t>(big.keys.size());
    e.key_count = kMaxKeys / 6 + 1;
    for (uint32_t k = 0; k < e.key_count; ++k) {
      EnvKey key;
      key.time = float(k);
      big.keys.push_back(key);
    }
    cam.channels[c] = static_cast<int32_t>(big.envelopes.size());
    big.envelopes.push_back(e);
  }
  big.items = {cam};
  EXPECT_EQ(load_text(write_lwsc(big)), SceneStatus::out_of_memory);
  // More objects than the table holds.
  LwscScene many;
  many.version = 3;
  for (int i = 0; i <= kMaxObjects; ++i) {
    LwscItem n;
    n.kind = LwscItemKind::null_object;
    n.path = "N";
    many.items.push_back(n);
  }
  LwscWriteOptions no_ids;
  no_ids.item_ids = false;
  EXPECT_EQ(load_text(write_lwsc(many, no_ids)), SceneStatus::out_of_memory);
  EXPECT_EQ(scene.loaded, 0);
}

}  // namespace
}  // namespace orvl
