#include <gtest/gtest.h>

#include "object/surface_image.h"
#include "scene/scene.h"

using namespace orvl;

TEST(SceneRecord, RoundUpPow2) {
  EXPECT_EQ(round_up_pow2(256), 256u);
  EXPECT_EQ(round_up_pow2(257), 512u);
  EXPECT_EQ(round_up_pow2(640), 1024u);
  EXPECT_EQ(round_up_pow2(1), 1u);
  EXPECT_EQ(round_up_pow2(0), 0u);
  EXPECT_EQ(round_up_pow2(3), 4u);
  EXPECT_EQ(round_up_pow2(0x80000000u), 0x80000000u);
}

TEST(SceneRecord, ConstructGivesDefaultsAndTintTable) {
  Scene scene;
  scene.loaded = 0;
  scene.ambient_intensity = 9;
  scene.scale = 3;
  scene.error_path = "x";
  scene_construct(scene);
  EXPECT_EQ(scene.loaded, 1);
  EXPECT_FLOAT_EQ(scene.scale, 1.0f);
  EXPECT_FLOAT_EQ(scene.ambient_color[2], 0.25f);
  EXPECT_FLOAT_EQ(scene.ambient_intensity, 0.25f);
  EXPECT_TRUE(scene.error_path.empty());
  EXPECT_TRUE(scene.objects.empty());
  const float expected[36] = {1, .5f, .5f, 1, .75f, .5f, 1, 1, .5f, .75f, 1, .5f,
                              .5f, 1, .5f, .5f, 1, .75f, .5f, 1, 1, .5f, .75f, 1,
                              .5f, .5f, 1, .75f, .5f, 1, 1, .5f, 1, 1, .5f, .75f};
  for (int i = 0; i < 36; ++i) EXPECT_FLOAT_EQ(kTintTable[i], expected[i]) << i;
}

TEST(SceneRecord, ConfigureTakesTextureBaseFromCounter) {
  Scene scene;
  scene_construct(scene);
  scene.now = 5;
  scene.finished = 1;
  texture_counter = 41;
  EXPECT_EQ(scene_configure(scene, SceneFlags::DEPTH_BUFFER, 640, 480, 1024, 2), 0);
  texture_counter = 0;
  EXPECT_EQ(scene.texture_base, 42);
  EXPECT_EQ(scene.flags, SceneFlags::DEPTH_BUFFER);
  EXPECT_EQ(scene.width, 640);
  EXPECT_EQ(scene.height, 480);
  EXPECT_EQ(scene.max_texture_size, 1024);
  EXPECT_EQ(scene.precalc.precalc_step, 2);
  EXPECT_EQ(scene.now, 0);
  EXPECT_EQ(scene.finished, 0);
}

TEST(SceneRecord, DestroyIsSafeTwiceAndLeavesNothingToIndex) {
  Scene never_loaded;
  scene_construct(never_loaded);
  scene_destroy(never_loaded);
  scene_destroy(never_loaded);
  EXPECT_EQ(never_loaded.loaded, 1);

  Scene scene;
  scene_construct(scene);
  scene.objects.resize(kMaxObjects);
  scene.motions.resize(kMaxMotions);
  scene.keys.resize(kMaxKeys);
  scene.draw.draw_list.resize(100);
  scene.object_count = 3;
  scene.motion_count = 4;
  scene.next_key = 10;
  scene_destroy(scene);
  EXPECT_TRUE(scene.objects.empty());
  EXPECT_EQ(scene.objects.capacity(), 0u);
  EXPECT_TRUE(scene.keys.empty());
  EXPECT_TRUE(scene.draw.draw_list.empty());
  EXPECT_EQ(scene.object_count, 0);
  EXPECT_EQ(scene.next_key, 0);
  scene_destroy(scene);
  // Whole-scene operations on a destroyed scene find nothing to touch.
  scene_scale(scene, 50);
  scene_reset_motions(scene);
}

TEST(SceneRecord, ScaleMultipliesPositionsButNotStaticImages) {
  Scene scene;
  scene_construct(scene);
  scene.keys.resize(kMaxKeys);
  scene.objects.resize(2);
  scene.lights.resize(1);
  scene.keys[0].value[0] = 0.4f;  // an envelope key
  scene.keys[1].value[1] = 2;
  scene.keys[1].value[3] = 90;    // angles are not positions
  scene.keys[1].value[6] = 1.5f;  // nor scales
  scene.keys[2].value[0] = 7;     // past next_key: not in use
  scene.next_key = 2;
  scene.object_count = 2;
  scene.objects[0].pivot[0] = -1;
  scene.objects[0].vertices.resize(1);
  scene.objects[0].vertices[0].z = 3;
  scene.objects[0].vertices[0].nz = 1;
  scene.objects[0].surfaces.resize(1);
  scene.objects[0].surfaces[0].extent[1] = 2;
  scene.objects[1].static_image = 1;
  scene.objects[1].pivot[0] = -1;
  scene.objects[1].vertices.resize(1);
  scene.objects[1].vertices[0].x = 0.5f;
  scene.light_count = 1;
  scene.lights[0].reserved_position[2] = 1;
  scene.lights[0].reserved_direction[0] = 2;

  scene_scale(scene, 50);
  EXPECT_FLOAT_EQ(scene.scale, 50);
  EXPECT_FLOAT_EQ(scene.keys[0].value[0], 20);
  EXPECT_FLOAT_EQ(scene.keys[1].value[1], 100);
  EXPECT_FLOAT_EQ(scene.keys[1].value[3], 90);
  EXPECT_FLOAT_EQ(scene.keys[1].value[6], 1.5f);
  EXPECT_FLOAT_EQ(scene.keys[2].value[0], 7);
  EXPECT_FLOAT_EQ(scene.objects[0].pivot[0], -50);
  EXPECT_FLOAT_EQ(scene.objects[0].vertices[0].z, 150);
  EXPECT_FLOAT_EQ(scene.objects[0].vertices[0].nz, 1);
  EXPECT_FLOAT_EQ(scene.objects[0].surfaces[0].extent[1], 100);
  EXPECT_FLOAT_EQ(scene.objects[1].pivot[0], -1);
  EXPECT_FLOAT_EQ(scene.objects[1].vertices[0].x, 0.5f);
  EXPECT_FLOAT_EQ(scene.lights[0].reserved_position[2], 50);
  EXPECT_FLOAT_EQ(scene.lights[0].reserved_direction[0], 100);
}

TEST(SceneRecord, ResetMotionsClearsOnlyMotionsInUse) {
  Scene scene;
  scene_construct(scene);
  scene.motions.resize(kMaxMotions);
  for (Motion& m : scene.motions) m.start_tick = 123;
  scene.motion_count = 3;
  scene_reset_motions(scene);
  EXPECT_EQ(scene.motions[0].start_tick, 0);
  EXPECT_EQ(scene.motions[2].start_tick, 0);
  EXPECT_EQ(scene.motions[3].start_tick, 123);
}
