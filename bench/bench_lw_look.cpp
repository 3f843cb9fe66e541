// Frame time of both looks side by side, headless on llvmpipe at 640 x 480: every demo scene
// (the LightWave 6 one included) and the real test scenes of ../shared/testdata, each drawn
// at 24 moments spread over its length, glFinish after every frame, after one untimed pass
// over the same moments. Second argument:
// 0 engine, 1 lightwave. The lightwave look's target: at least 60 frames per second and at
// most 1.5 times the engine's frame time. Counter `covered`: the share of the frame drawn
// over, averaged over the moments (the lightwave look's perspective usually frames a scene
// larger than the engine's, so it shades more pixels of the same scene).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "object/surface_image.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/texture_upload.h"
#include "scene/scene.h"
#include "support/shared_data.h"
#include "bench/demo_fixture.h"
#include "bench/bench_display.h"

namespace {

using namespace orvl;

// The demo scenes (relative to the demo folder), then the real ones (absolute).
class LookScenes {
 public:
  static const LookScenes& get() {
    static const LookScenes scenes;
    return scenes;
  }
  const bench::DemoFixture& demo = bench::DemoFixture::get();
  std::vector<std::string> files = demo.files;

 private:
  LookScenes() {
    const std::filesystem::path shared = std::filesystem::path(test::shared_testdata_dir());
    std::error_code ec;
    if (test::shared_testdata_present() && std::filesystem::is_directory(shared, ec))
      for (const auto& e : std::filesystem::recursive_directory_iterator(shared, ec))
        if (e.is_regular_file() && e.path().extension() == ".lws") files.push_back(e.path().string());
  }
};

constexpr int kMaxScenes = 40;

void BM_LookFrame(benchmark::State& state) {
  const LookScenes& scenes = LookScenes::get();
  const bench::DemoFixture& demo = scenes.demo;
  const size_t index = size_t(state.range(0));
  if (!demo.ok || index >= scenes.files.size()) {
    state.SkipWithError("no such scene");
    return;
  }
  log_set_echo(false);
  if (!bench::open_bench_display(state)) return;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(demo.dir);
  reset_texture_counter();
  Scene scene;
  scene_construct(scene);
  // Archived scenes often lack some of their objects: what is there is drawn.
  (void)scene_configure(scene,
                        SceneFlags::MIPMAP | SceneFlags::BILINEAR | SceneFlags::DEPTH_BUFFER | SceneFlags::MISSING_NULL,
                        640, 480, 1024, 1);
  const bool loaded = scene_load(scene, scenes.files[index]) == SceneStatus::ok;
  std::filesystem::current_path(cwd);
  if (!loaded) {
    scene_destroy(scene);
    (void)display_close();
    state.SkipWithError("scene did not load");
    return;
  }
  upload_textures(scene);
  state.SetLabel(std::filesystem::path(scenes.files[index]).filename().string() +
                 (state.range(1) ? " lightwave" : " engine"));
  RenderSettings render;
  render.look = state.range(1) ? Look::lightwave : Look::engine;
  constexpr int kMoments = 24;
  const double length_ms = 10000;
  clock_set_virtual(1000);
  scene_reset_motions(scene);
  // One untimed pass over the moments first: the first frame of a scene builds what it
  // keeps (shader programs, mipmaps touched, arrays sized), which playback pays once. It
  // also counts the pixels drawn over (depth below the cleared 1): the two looks frame a
  // scene differently, so their times compare only together with what they shade.
  std::vector<float> depth(size_t(640) * 480);
  double covered = 0;
  for (int w = 0; w < kMoments; ++w) {
    clock_set_virtual(1000 + uint32_t(length_ms * w / kMoments));
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, render);
    gl().ReadPixels(0, 0, 640, 480, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
    for (float d : depth) covered += d < 1.f ? 1 : 0;
  }
  state.counters["covered"] = covered / kMoments / double(depth.size());
  gl().Finish();
  clock_set_virtual(1000);
  scene_reset_motions(scene);
  int m = 0;
  for (auto _ : state) {
    clock_set_virtual(1000 + uint32_t(length_ms * (m++ % kMoments) / kMoments));
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, render);
    gl().Finish();
  }
  clock_use_real();
  delete_textures();
  scene_destroy(scene);
  (void)display_close();
}
BENCHMARK(BM_LookFrame)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kMaxScenes - 1, 1), {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.3);

}  // namespace
