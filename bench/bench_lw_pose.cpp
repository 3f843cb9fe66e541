// LightWave's pose of a whole scene per frame (lw_pose_at), as the lightwave look takes it once
// per drawn frame and the exporter once per sample: every demo scene, the ninth (LightWave 6)
// included, at frames spread over its length.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/log.h"
#include "scene/lw_scene.h"
#include "scene/scene.h"
#include "tools/demo_lightwave6.h"
#include "tools/demo_show.h"

namespace {

using namespace orvl;

class PoseDemo {
 public:
  static const PoseDemo& get() {
    static const PoseDemo demo;
    return demo;
  }
  std::string dir;
  bool ok = false;

 private:
  PoseDemo() {
    dir = (std::filesystem::temp_directory_path() / ("orvl_bench_pose_" + std::to_string(getpid()))).string();
    DemoOptions options;
    options.music_seconds = 0;
    options.lightwave6 = true;
    DemoSummary summary;
    std::string error;
    ok = make_demo_show(dir, options, summary, error);
  }
  ~PoseDemo() { std::filesystem::remove_all(dir); }
};

void BM_LwPoseAt(benchmark::State& state) {
  const PoseDemo& demo = PoseDemo::get();
  if (!demo.ok) {
    state.SkipWithError("demo not generated");
    return;
  }
  const int slot = static_cast<int>(state.range(0));
  const std::string file = slot <= kDemoSceneCount ? kDemoSlots[slot - 1].file : kDemoLightWave6Scene;
  log_set_echo(false);
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(demo.dir);
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, 0, 640, 480, 1024, 0);
  const bool loaded = scene_load(scene, file) == SceneStatus::ok;
  std::filesystem::current_path(cwd);
  if (!loaded) {
    scene_destroy(scene);
    state.SkipWithError("scene did not load");
    return;
  }
  LwPose pose;
  lw_pose_size(scene, pose);
  const double last = scene.motions[0].last_frame > 0 ? scene.motions[0].last_frame : 60;
  double frame = 0;
  for (auto _ : state) {
    frame += 1.37;
    if (frame > last) frame -= last;
    benchmark::DoNotOptimize(lw_pose_at(scene, frame, pose));
    benchmark::DoNotOptimize(pose.camera_world.m);
  }
  state.counters["objects"] = scene.object_count;
  state.counters["lights"] = scene.light_count;
  state.counters["motions"] = scene.motion_count;
  scene_destroy(scene);
}
BENCHMARK(BM_LwPoseAt)->DenseRange(1, kDemoSceneCount + 1, 1)->Unit(benchmark::kMicrosecond);

}  // namespace
