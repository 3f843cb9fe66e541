// Precalculation: recording the demo show's visibility files (frames recorded per second),
// reading a file at scene load, and the renderer's per-frame cost when it draws from a
// visibility stream against its own facing test, at 100k triangles (GL calls go nowhere).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "platform/clock.h"
#include "platform/log.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "scene/precalc_file.h"
#include "tools/demo_show.h"
#include "tools/lwob_writer.h"
#include "tools/lws_writer.h"

namespace {

using namespace orvl;
namespace fs = std::filesystem;

// The demo show without its music, written once for all benchmarks of this file.
struct DemoFiles {
  fs::path dir = fs::temp_directory_path() / ("orvl_bench_precalc_demo_" + std::to_string(getpid()));
  bool ok = false;
  DemoFiles() {
    DemoOptions options;
    options.music_seconds = 0;
    DemoSummary summary;
    std::string error;
    ok = make_demo_show(dir.string(), options, summary, error);
  }
  ~DemoFiles() { fs::remove_all(dir); }
};
DemoFiles& demo() {
  static DemoFiles files;
  return files;
}

// Runs one build of an already loaded scene to its end; returns the frames recorded.
int build_once(Scene& s) {
  for (int m = 0; m < s.motion_count; ++m) s.motions[m].frame = 0;
  s.finished = 0;
  s.precalc.build_precalc = 1;
  s.precalc.precalc_started = 0;
  scene_reset_motions(s);
  const size_t bound = precalc_table_entries(s) + 2;
  for (size_t i = 0; i < bound && !(s.precalc.precalc_started && !s.precalc.precalc_open); ++i) scene_render_frame(s, 0);
  return s.precalc.frames_recorded;
}

using SceneList = std::vector<std::unique_ptr<Scene>>;

SceneList load_demo(uint32_t flags) {
  SceneList scenes;
  for (const DemoSlot& slot : kDemoSlots) {
    auto s = std::make_unique<Scene>();
    scene_construct(*s);
    (void)scene_configure(*s, flags, 640, 480, 1024, 2);
    scene_set_lightwave_root(*s, demo().dir.string() + "/");
    (void)scene_load(*s, (demo().dir / slot.file).string());
    if (slot.scaled) scene_scale(*s, 50.0f);
    scenes.push_back(std::move(s));
  }
  return scenes;
}

void destroy(SceneList& scenes) {
  for (auto& s : scenes) scene_destroy(*s);
}

void BM_PrecalcBuildDemo(benchmark::State& state) {
  log_set_echo(false);
  if (!demo().ok) return state.SkipWithError("demo not written");
  GlBackendScope noop(GlBackend::noop);
  frame_hooks().precalc_record_frame = precalc_record_frame;
  SceneList scenes = load_demo(SceneFlags::BUILD_PRECALC);
  long long frames = 0;
  for (auto _ : state)
    for (auto& s : scenes) frames += build_once(*s);
  frame_hooks().precalc_record_frame = nullptr;
  destroy(scenes);
  state.counters["frames_per_second"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PrecalcBuildDemo)->Unit(benchmark::kMillisecond);

void BM_PrecalcReadAtLoad(benchmark::State& state) {
  log_set_echo(false);
  if (!demo().ok) return state.SkipWithError("demo not written");
  {
    GlBackendScope noop(GlBackend::noop);
    frame_hooks().precalc_record_frame = precalc_record_frame;
    SceneList scenes = load_demo(SceneFlags::BUILD_PRECALC);
    for (auto& s : scenes) build_once(*s);
    frame_hooks().precalc_record_frame = nullptr;
    destroy(scenes);
  }
  Scene s;
  scene_construct(s);
  (void)scene_configure(s, 0, 640, 480, 1024, 2);
  s.path = (demo().dir / kDemoSlots[0].file).string();
  size_t bytes = 0;
  for (auto _ : state) {
    if (precalc_read(s) != PrecalcStatus::ok) return state.SkipWithError("file not read");
    bytes += s.precalc.visibility.size();
  }
  state.counters["stream_bytes"] = double(s.precalc.visibility.size());
  state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_PrecalcReadAtLoad)->Unit(benchmark::kMicrosecond);

// A grid of `triangles` triangles 20 units ahead; half of the quads face away so that the
// facing test has work to do.
struct Grid {
  fs::path dir;
  Scene scene;
  explicit Grid(int triangles) {
    dir = fs::temp_directory_path() / ("orvl_bench_precalc_grid_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const int side = std::max(1, int(std::sqrt(triangles / 2.0)));
    LwobWriter w;
    for (int y = 0; y <= side; ++y)
      for (int x = 0; x <= side; ++x) w.add_point(-8.f + 16.f * x / side, -6.f + 12.f * y / side, 20.f);
    auto at = [&](int x, int y) { return uint16_t((y * (side + 1) + x) & 0xFFFF); };
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        if ((x + y) % 2)
          w.add_polygon({at(x, y), at(x, y + 1), at(x + 1, y + 1), at(x + 1, y)}, 1);
        else
          w.add_polygon({at(x + 1, y), at(x + 1, y + 1), at(x, y + 1), at(x, y)}, 1);
      }
    w.add_surface("Plain").colr(180, 160, 120);
    w.write((dir / "grid.lwo").string());
    LwsScene lws;
    LwsObject o;
    o.load_path = "C:\\LIGHTWAVE\\grid.lwo";
    lws.objects.push_back(o);
    write_lws_file((dir / "grid.lws").string(), lws);
  }
  bool load(uint32_t flags) {
    scene_construct(scene);
    (void)scene_configure(scene, flags, 640, 480, 1024, 1);
    scene_set_lightwave_root(scene, dir.string() + "/");
    return scene_load(scene, (dir / "grid.lws").string()) == SceneStatus::ok;
  }
  ~Grid() {
    scene_destroy(scene);
    fs::remove_all(dir);
  }
};

void frame_cost(benchmark::State& state, bool from_stream) {
  log_set_echo(false);
  Grid grid(int(state.range(0)));
  GlBackendScope noop(GlBackend::noop);
  if (from_stream) {
    frame_hooks().precalc_record_frame = precalc_record_frame;
    const bool built = grid.load(SceneFlags::BUILD_PRECALC) && build_once(grid.scene) > 0;
    frame_hooks().precalc_record_frame = nullptr;
    scene_destroy(grid.scene);
    if (!built) return state.SkipWithError("no file built");
  }
  if (!grid.load(0)) return state.SkipWithError("scene did not load");
  if (from_stream) (void)precalc_read(grid.scene);
  if (from_stream == grid.scene.precalc.visibility.empty()) return state.SkipWithError("stream not as wanted");
  // A still clock: every frame is frame 0, whose bits the file holds.
  clock_set_virtual(1000);
  scene_reset_motions(grid.scene);
  for (auto _ : state) scene_render_frame(grid.scene, 192);
  clock_use_real();
  state.counters["triangles"] = grid.scene.polygon_total;
  state.counters["queued"] = frame_state().draw_count;
}

void BM_FrameFromStream(benchmark::State& state) { frame_cost(state, true); }
void BM_FrameCulled(benchmark::State& state) { frame_cost(state, false); }
BENCHMARK(BM_FrameFromStream)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameCulled)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
