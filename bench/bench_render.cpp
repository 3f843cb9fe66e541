// The renderer's own per-frame cost (evaluation, transform, culling, queueing, sorting and
// submission into a call table that does nothing), the depth sort against std::stable_sort,
// real llvmpipe frames per second, the drawing batches per frame of the demo scenes, the
// whole demo show headless and `orvl render` writing every frame.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>

#include "app/show.h"
#include "effects/effects.h"
#include "render/texture_upload.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/mesh_draw.h"
#include "tools/demo_show.h"
#include "tools/lwob_writer.h"
#include "tools/lws_writer.h"
#include "bench/bench_display.h"

namespace {

using namespace orvl;

// A lit grid of `triangles` triangles facing the camera, 20 units ahead, under one light.
// An object numbers its points with 16 bits, so a large grid is cut into bands of rows,
// one object each, every band with its own copy of the row it shares with the next.
struct GridScene {
  std::filesystem::path dir;
  Scene scene;
  int objects = 0;

  explicit GridScene(int triangles) {
    dir = std::filesystem::temp_directory_path() / ("orvl_bench_render_" + std::to_string(getpid()) + "_" +
                                                   std::to_string(triangles));
    std::filesystem::create_directories(dir);
    const int side = std::max(1, int(std::sqrt(triangles / 2.0)));
    const int band_rows = std::max(1, 65535 / (side + 1) - 1);
    LwsScene lws;
    int made = 0;
    for (int y0 = 0; y0 < side && made < triangles; y0 += band_rows) {
      const int rows = std::min(band_rows, side - y0);
      LwobWriter w;
      for (int y = y0; y <= y0 + rows; ++y)
        for (int x = 0; x <= side; ++x)
          w.add_point(-8.f + 16.f * x / side, -6.f + 12.f * y / side, 20.f + 0.5f * std::sin(x * 0.3f + y * 0.2f));
      auto at = [&](int x, int y) { return uint16_t((y - y0) * (side + 1) + x); };
      for (int y = y0; y < y0 + rows && made < triangles; ++y)
        for (int x = 0; x < side && made < triangles; ++x, made += 2)
          w.add_polygon({at(x, y), at(x, y + 1), at(x + 1, y + 1), at(x + 1, y)}, 1);
      w.add_surface("Lit").colr(180, 160, 120).flag(0x4);
      const std::string name = "grid" + std::to_string(objects++) + ".lwo";
      w.write((dir / name).string());
      LwsObject o;
      o.load_path = "C:\\LIGHTWAVE\\" + name;
      lws.objects.push_back(o);
    }
    LwsLight l;
    l.type = 1;
    l.motion[0].value = {0, 5, 10, 0, 0, 0, 1, 1, 1};
    lws.lights.push_back(l);
    write_lws_file((dir / "grid.lws").string(), lws);
    log_set_echo(false);
    scene_construct(scene);
    (void)scene_configure(scene, SceneFlags::DEPTH_BUFFER, 640, 480, 1024, 1);
    scene_set_lightwave_root(scene, dir.string() + "/");
    (void)scene_load(scene, (dir / "grid.lws").string());
  }
  ~GridScene() {
    scene_destroy(scene);
    std::filesystem::remove_all(dir);
  }
};

void BM_FrameCostNoopGl(benchmark::State& state) {
  const int triangles = int(state.range(0));
  GridScene grid(triangles);
  if (grid.scene.object_count != grid.objects) {
    state.SkipWithError("scene did not load");
    return;
  }
  GlBackendScope noop(GlBackend::noop);
  clock_set_virtual(1000);
  scene_reset_motions(grid.scene);
  uint32_t t = 1000;
  for (auto _ : state) {
    clock_set_virtual(t += 33);
    scene_render_frame(grid.scene, 192);
  }
  clock_use_real();
  state.counters["triangles"] = grid.scene.polygon_total;
  state.counters["ns_per_triangle"] = benchmark::Counter(
      double(grid.scene.polygon_total) * double(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FrameCostNoopGl)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

std::vector<SortKey> random_keys(int n) {
  std::mt19937 rng(3);
  std::vector<SortKey> keys(n);
  for (int i = 0; i < n; ++i) keys[i] = SortKey{-int32_t(rng() % 5000000), i};
  return keys;
}

void BM_RadixSort(benchmark::State& state) {
  const auto source = random_keys(int(state.range(0)));
  std::vector<SortKey> keys, scratch(source.size());
  std::vector<int32_t> histogram(257);
  for (auto _ : state) {
    keys = source;
    radix_sort_keys(keys.data(), scratch.data(), histogram.data(), int(keys.size()));
    benchmark::DoNotOptimize(keys.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RadixSort)->Arg(10000)->Arg(100000)->Arg(1000000);

void BM_StableSort(benchmark::State& state) {
  const auto source = random_keys(int(state.range(0)));
  std::vector<SortKey> keys;
  for (auto _ : state) {
    keys = source;
    std::stable_sort(keys.begin(), keys.end(),
                     [](const SortKey& a, const SortKey& b) { return uint32_t(a.key) < uint32_t(b.key); });
    benchmark::DoNotOptimize(keys.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StableSort)->Arg(10000)->Arg(100000)->Arg(1000000);

// Whole frames on llvmpipe at 640 x 480: a 10k-triangle lit scene, depth buffer on.
void BM_LlvmpipeFrames(benchmark::State& state) {
  if (!bench::open_bench_display(state)) return;
  {
    GridScene grid(10000);
    clock_set_virtual(1000);
    scene_reset_motions(grid.scene);
    uint32_t t = 1000;
    for (auto _ : state) {
      clock_set_virtual(t += 33);
      display_frame();
      scene_render_frame(grid.scene, 192);
      gl().Finish();
    }
    clock_use_real();
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  }
  (void)display_close();
}
BENCHMARK(BM_LlvmpipeFrames)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Drawing batches (glBegin/glEnd pairs) per frame of every demo scene: each scene is loaded
// as the show loads it (scaled where the show scales it) into the recording call table and
// drawn at 24 moments spread over its length. The batch count is what llvmpipe's cost
// follows: every state change between batches costs several microseconds there.
class DemoShow {
 public:
  static const DemoShow& get() {
    static const DemoShow show;
    return show;
  }
  std::string dir;
  bool ok = false;

 private:
  DemoShow() {
    dir = (std::filesystem::temp_directory_path() / ("orvl_bench_demo_" + std::to_string(getpid()))).string();
    DemoOptions options;
    options.music_seconds = 0;
    DemoSummary summary;
    std::string error;
    ok = make_demo_show(dir, options, summary, error);
  }
  ~DemoShow() { std::filesystem::remove_all(dir); }
};

void BM_DemoSceneBatches(benchmark::State& state) {
  const DemoShow& show = DemoShow::get();
  if (!show.ok) {
    state.SkipWithError("demo not generated");
    return;
  }
  const DemoSlot& slot = kDemoSlots[state.range(0) - 1];
  GlBackendScope recording(GlBackend::recorder);
  gl_recorder().reset();
  log_set_echo(false);
  RenderSettings render;
  render.exact_order = state.range(1) == 1;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(show.dir);  // the show names its files from here
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, SceneFlags::MIPMAP | SceneFlags::BILINEAR | SceneFlags::DEPTH_BUFFER, 640, 480,
                        1024, 1);
  const bool loaded = scene_load(scene, slot.file) == SceneStatus::ok;
  std::filesystem::current_path(cwd);
  if (!loaded) {
    scene_destroy(scene);
    state.SkipWithError("scene did not load");
    return;
  }
  if (slot.scaled) scene_scale(scene, 50.f);
  upload_textures(scene);
  const double length_ms = 1000.0 * (slot.end_seconds - slot.start_seconds);
  constexpr int kMoments = 24;
  size_t batches = 0, frames = 0;
  for (auto _ : state) {
    clock_set_virtual(1000);
    scene_reset_motions(scene);
    for (int m = 0; m < kMoments; ++m) {
      clock_set_virtual(1000 + uint32_t(length_ms * m / kMoments));
      gl_recorder().clear_calls();
      scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, render);
      batches += gl_recorder().count(GlFunc::Begin);
      ++frames;
    }
  }
  clock_use_real();
  scene_destroy(scene);
  state.counters["batches_per_frame"] = double(batches) / double(frames);
}
// Second argument: 0 grouped by state (as the show draws), 1 in exact depth order.
BENCHMARK(BM_DemoSceneBatches)
    ->ArgsProduct({benchmark::CreateDenseRange(1, kDemoSceneCount, 1), {0, 1}})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

namespace {

// The whole demo show as `orvl --headless` plays it with no pictures written: every scene
// at 30 frames per second of show time, llvmpipe at 640 x 480, timed from the first frame
// to the last (loading is not counted). Argument: 0 grouped by state (as the show draws),
// 1 in exact depth order.
void BM_DemoShowHeadless(benchmark::State& state) {
  const DemoShow& show = DemoShow::get();
  if (!show.ok) {
    state.SkipWithError("demo not generated");
    return;
  }
  log_set_echo(false);
  effects_install_hooks();
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(show.dir);
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  long long frames = 0;
  double seconds = 0;
  bool played = true;
  for (auto _ : state) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point first;
    long long n = 0;
    clock_set_virtual(1000);
    ShowHost host;
    host.after_frame = [&](int, const Scene&) {
      if (n++ == 0) first = Clock::now();
      clock_set_virtual(1000 + uint32_t(std::llround(double(n) * 1000.0 / kDemoFramesPerSecond)));
    };
    ShowSettings settings;
    settings.mode_selected = true;
    settings.render.exact_order = state.range(0) == 1;
    played = show_run(settings, host) == ShowResult::played && n > 1;
    const double s = std::chrono::duration<double>(Clock::now() - first).count();
    state.SetIterationTime(s);
    frames += n - 1;
    seconds += s;
  }
  clock_use_real();
  display_setup(DisplaySetup{});
  std::filesystem::current_path(cwd);
  if (!played) {
    state.SkipWithError("the show did not play");
    return;
  }
  state.counters["frames"] = double(frames) / double(state.iterations());
  state.counters["fps"] = double(frames) / seconds;
}
BENCHMARK(BM_DemoShowHeadless)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// `orvl render` of demo scene 5 (the busiest) writing every frame as a picture, as a whole
// process: frames per second of wall time.
void BM_RenderCommandEveryFrame(benchmark::State& state) {
  const DemoShow& show = DemoShow::get();
  if (!show.ok) {
    state.SkipWithError("demo not generated");
    return;
  }
  const std::string out = show.dir + "/render_out";
  const std::string scene = show.dir + "/scene/5vex.lws";
  const DemoSlot& slot = kDemoSlots[4];
  const double frames = std::floor((slot.end_seconds - slot.start_seconds) * kDemoFramesPerSecond);
  int status = 0;
  for (auto _ : state) {
    std::filesystem::remove_all(out);
    const pid_t pid = fork();
    if (pid == 0) {
      // The demo names its objects and images from the show's folder.
      if (chdir(show.dir.c_str()) != 0) _exit(127);
      execl(ORVL_BINARY, ORVL_BINARY, "render", scene.c_str(), "--out", out.c_str(),
            "--seconds", std::to_string(slot.end_seconds - slot.start_seconds).c_str(), "--quiet", (char*)nullptr);
      _exit(127);
    }
    (void)waitpid(pid, &status, 0);
  }
  std::filesystem::remove_all(out);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    state.SkipWithError("orvl render failed");
    return;
  }
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RenderCommandEveryFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
