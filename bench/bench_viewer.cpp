// Seek latency of the player (app/viewer.h): headless on llvmpipe at 640 x 480, every demo
// scene (the LightWave 6 one included) in both looks, one iteration = a seek to another whole
// second of the scene (forward and back, spread over its length) and the frame drawn there
// with glFinish. The goal: every seek redraws within one frame time of the scene's frame rate
// (33.3 ms at 30 fps). Counters: `frame_ms` the budget, `within` the share of seeks inside it,
// `worst_ms` the slowest seek.
// Third argument 1: the baseline, the frame after the same moment as playback draws it
// (one frame later, effects stepped once), which tells the seek's own cost from the drawing's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/viewer.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/gl_api.h"
#include "bench/demo_fixture.h"

namespace {

using namespace orvl;


void BM_SeekAndRedraw(benchmark::State& state) {
  const bench::DemoFixture& demo = bench::DemoFixture::get();
  const size_t index = size_t(state.range(0));
  if (!demo.ok || index >= demo.files.size()) {
    state.SkipWithError("no such scene");
    return;
  }
  log_set_echo(false);
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(demo.dir);
  clock_set_virtual(1000);
  SceneRun run;
  run.cmd = "bench";
  run.file = demo.files[index];
  run.render.look = state.range(1) ? Look::lightwave : Look::engine;
  run.look_given = true;
  Player player;
  ViewerOptions options;
  const bool opened = player.open(run, options);
  std::filesystem::current_path(cwd);
  if (!opened) {
    clock_use_real();
    state.SkipWithError("scene did not open");
    return;
  }
  const bool seeking = state.range(2) == 0;
  state.SetLabel(std::filesystem::path(run.file).filename().string() + (state.range(1) ? " lightwave" : " engine") +
                 (seeking ? " seek" : " redraw"));
  player.transport().set_paused(clock_now_ms(), true);
  (void)player.frame();
  const int seconds = std::max(1, int(player.transport().length_ms / 1000));
  const double budget_ms = player.transport().frame_ms;
  long long seeks = 0, within = 0;
  double worst_ms = 0;
  int k = 0;
  for (auto _ : state) {
    // Strides of 7 s visit every second, jumping forward and back.
    const int second = (k++ * 7) % seconds;
    if (!seeking) {
      // The baseline: the same moment reached outside the timing; then its next frame.
      state.PauseTiming();
      player.seek(second * 1000.0);
      (void)player.frame();
      gl().Finish();
      state.ResumeTiming();
    }
    const auto t0 = std::chrono::steady_clock::now();
    if (seeking) player.seek(second * 1000.0);
    else player.transport().seek_to(clock_now_ms(), second * 1000.0 + player.transport().frame_ms);
    (void)player.frame();
    gl().Finish();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    ++seeks;
    within += ms <= budget_ms;
    worst_ms = std::max(worst_ms, ms);
  }
  state.counters["frame_ms"] = budget_ms;
  state.counters["within"] = seeks > 0 ? double(within) / double(seeks) : 0.0;
  state.counters["worst_ms"] = worst_ms;
  player.close();
  clock_use_real();
}
BENCHMARK(BM_SeekAndRedraw)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kDemoSceneCount, 1), {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.3);

}  // namespace
