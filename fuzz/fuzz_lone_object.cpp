// Raw bytes as a lone object's file: the viewing scene is built around whatever the object
// loaders make of them. The first byte picks the layer and whether the table turns. A scene
// that loads must have a camera that sees something: a finite, positive distance beyond the
// bounding sphere.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "object/surface_image.h"
#include "platform/log.h"
#include "scene/lone_object.h"
#include "scene/lw_scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (orvl::log_set_echo(false), true);
  (void)quiet;
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/orvl_fuzz_lone_" + std::to_string(::getpid()) + ".lwo";
  }();
  if (size < 1) return 0;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  const bool written = std::fwrite(data + 1, 1, size - 1, f) == size - 1;
  if (std::fclose(f) != 0 || !written) return 0;
  orvl::log_clear();
  orvl::reset_texture_counter();
  orvl::LoneObjectOptions options;
  options.layer = data[0] & 7;
  options.turntable_seconds = data[0] & 8 ? 0 : 10;
  orvl::Scene scene;
  orvl::scene_construct(scene);
  (void)orvl::scene_configure(scene, 0, 640, 480, 256, 1);
  if (orvl::scene_load_lone_object(scene, path, options) == orvl::SceneStatus::ok) {
    const orvl::LoneFraming fr = orvl::lone_object_framing(scene.objects[0], 640.0 / 480.0);
    if (!(fr.radius > 0) || !std::isfinite(fr.radius) || !(fr.distance > fr.radius) || !std::isfinite(fr.distance))
      __builtin_trap();
    orvl::LwPose pose;
    if (!orvl::lw_pose_at(scene, 0, pose) || !std::isfinite(pose.camera_world.m[11])) __builtin_trap();
  }
  orvl::scene_destroy(scene);
  ::unlink(path.c_str());
  return 0;
}
