// Scene text from the fuzzer through the whole parser. Object files named by the input are
// looked up relative to the working directory, as the show would; none are expected there.
// The LightWave reading of the same text runs on its own too (it needs no objects), and on a
// loaded scene the pose is taken at a few frames: every value it gives must be finite.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "platform/log.h"
#include "scene/lw_scene.h"
#include "scene/scene.h"

namespace {

void check_pose(const orvl::Scene& scene) {
  orvl::LwPose pose;
  for (double f : {-3.5, 0.0, 1.25, 59.0, 1e7}) {
    if (!orvl::lw_pose_at(scene, f, pose)) continue;
    for (const auto* list : {&pose.object_world, &pose.light_world})
      for (const orvl::LwMatrix& m : *list)
        for (double v : m.m)
          if (!std::isfinite(v)) __builtin_trap();
    for (double v : pose.camera_world.m)
      if (!std::isfinite(v)) __builtin_trap();
    for (float v : pose.light_intensity)
      if (!std::isfinite(v)) __builtin_trap();
    for (size_t i = 0; i < pose.dissolve.size(); ++i)
      if (!(pose.dissolve[i] >= 0 && pose.dissolve[i] <= 1) || !(pose.morph_amount[i] >= 0 && pose.morph_amount[i] <= 1))
        __builtin_trap();
    if (!(pose.zoom > 0) || !std::isfinite(pose.zoom)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvl::log_set_echo(false);
  orvl::log_clear();
  orvl::Scene scene;
  orvl::scene_construct(scene);
  (void)orvl::scene_configure(scene, 0, 640, 480, 1024, 0);
  orvl::LwSceneInfo info;
  orvl::LwMotionTables tables;
  orvl::lw_read_info(data, size, info, tables);
  if (orvl::scene_load_text(scene, "fuzz.lws", data, size) == orvl::SceneStatus::ok) check_pose(scene);
  orvl::scene_scale(scene, 50.0f);
  check_pose(scene);
  orvl::scene_reset_motions(scene);
  orvl::scene_destroy(scene);
  orvl::scene_destroy(scene);
  return 0;
}
