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
#include "bench/demo_fixture.h"

namespace {

using namespace orvl;


void BM_LwPoseAt(benchmark::State& state) {
  const bench::DemoFixture& demo = bench::DemoFixture::get();
  if (!demo.ok) {
    state.SkipWithError("demo not generated");
    return;
  }
  const int slot = static_cast<int>(state.range(0));
  const std::string& file = demo.files[size_t(slot - 1)];
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
