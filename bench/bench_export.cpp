// glTF export: a lone LWO2 object of a million triangles (target: under 1 s from loaded
// object to GLB bytes, and to a file), every demo scene with its animation (the LightWave 6
// one included), and the folder form of `orvl export` over the demo and ../shared/testdata.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "export/gltf_export.h"
#include "object/object_loader.h"
#include "object/surface_image.h"
#include "platform/log.h"
#include "scene/scene.h"
#include "bench/demo_fixture.h"
#include "support/shared_data.h"
#include "tools/demo_lightwave6.h"
#include "tools/demo_show.h"
#include "tools/lwo2_writer.h"

namespace {

using namespace orvl;
namespace fs = std::filesystem;

// A rolling 708 x 708 grid (999,698 triangles) on a smoothed surface and a faceted one.
struct MillionObject {
  Scene scene;
  bool ok = false;
  MillionObject() {
    constexpr int kSide = 708;
    Lwo2Model m;
    m.surfaces.resize(2);
    m.surfaces[0].name = "Smooth";
    m.surfaces[0].smoothing_angle = 1.5f;
    m.surfaces[1].name = "Faceted";
    Lwo2WriterLayer l;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x)
        l.points.insert(l.points.end(), {float(x), 0.3f * std::sin(0.1f * float(x)) * std::cos(0.13f * float(y)), float(y)});
    for (int y = 0; y + 1 < kSide; ++y)
      for (int x = 0; x + 1 < kSide; ++x) {
        const uint32_t a = uint32_t(y * kSide + x), b = a + 1, c = a + kSide, d = c + 1;
        l.polygons.push_back({a, c, d, b});
        l.surfaces.push_back(uint16_t(y % 3 == 0));
      }
    m.layers = {l};
    log_set_echo(false);
    scene_construct(scene);
    (void)scene_configure(scene, 0, 640, 480, 1024, 0);
    scene.objects.resize(kMaxObjects);
    scene.motions.resize(kMaxMotions);
    scene.lights.resize(kMaxLights);
    ObjectLoadContext context;
    ok = load_object_data(scene, context, lwo2_bytes(m)) == LoadStatus::ok;
    if (ok) scene.objects[0].file_name = "grid.lwo";
  }
};

void BM_ExportMillionTriangles(benchmark::State& state) {
  static MillionObject obj;
  if (!obj.ok) return state.SkipWithError("object not loaded");
  const bool to_file = state.range(0) != 0;
  const std::string path = (fs::temp_directory_path() / ("orvl_bench_1m_" + std::to_string(getpid()) + ".glb")).string();
  GltfOptions options;
  options.animate = false;
  size_t bytes = 0;
  for (auto _ : state) {
    GltfDocument doc;
    std::string why;
    if (gltf_build(obj.scene, options, doc, &why) != GltfStatus::ok) return state.SkipWithError(why.c_str());
    if (to_file) {
      if (gltf_write(doc, path, &why) != GltfStatus::ok) return state.SkipWithError(why.c_str());
      bytes = fs::file_size(path);
    } else {
      std::vector<uint8_t> glb;
      if (gltf_glb_bytes(doc, glb, &why) != GltfStatus::ok) return state.SkipWithError(why.c_str());
      bytes = glb.size();
      benchmark::DoNotOptimize(glb.data());
    }
  }
  std::error_code ec;
  fs::remove(path, ec);
  state.counters["MiB"] = double(bytes) / (1 << 20);
  state.SetItemsProcessed(state.iterations() * int64_t(obj.scene.objects[0].polygons.size()));
}
BENCHMARK(BM_ExportMillionTriangles)->Arg(0)->Arg(1)->ArgNames({"file"})->Unit(benchmark::kMillisecond);

// The demo show, written once per run.
const bench::DemoFixture& demo() { return bench::DemoFixture::get(); }

// Scene loaded once (from its folder, as the show names its files); each iteration builds
// the whole document with the animation at the scene's rate and lays it out as GLB bytes.
void BM_ExportDemoScene(benchmark::State& state) {
  const bench::DemoFixture& d = demo();
  const int index = int(state.range(0));
  if (!d.ok) return state.SkipWithError("no demo");
  const std::string& file = d.files[index];
  const fs::path cwd = fs::current_path();
  fs::current_path(d.dir);
  log_set_echo(false);
  reset_texture_counter();
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, 0, 640, 480, 2048, 0);
  const bool loaded = scene_load(scene, file) == SceneStatus::ok;
  fs::current_path(cwd);
  if (!loaded) {
    scene_destroy(scene);
    return state.SkipWithError("scene not loaded");
  }
  size_t bytes = 0;
  int samples = 0;
  for (auto _ : state) {
    GltfDocument doc;
    std::string why;
    std::vector<uint8_t> glb;
    if (gltf_build(scene, GltfOptions(), doc, &why) != GltfStatus::ok || gltf_glb_bytes(doc, glb, &why) != GltfStatus::ok) {
      state.SkipWithError(why.c_str());
      break;
    }
    bytes = glb.size();
    samples = doc.samples;
    benchmark::DoNotOptimize(glb.data());
  }
  state.SetLabel(file);
  state.counters["samples"] = samples;
  state.counters["MiB"] = double(bytes) / (1 << 20);
  scene_destroy(scene);
}
BENCHMARK(BM_ExportDemoScene)->DenseRange(0, kDemoSceneCount)->Unit(benchmark::kMillisecond);

// `orvl export DIR --out DIR2` as a user runs it, into an empty folder each time (nothing is
// skipped as up to date): 0 the demo, 1 ../shared/testdata.
void BM_ExportFolder(benchmark::State& state) {
  const bench::DemoFixture& d = demo();
  const bool shared = state.range(0) != 0;
  if (!shared && !d.ok) return state.SkipWithError("no demo");
  if (shared && !test::shared_testdata_present()) return state.SkipWithError("no ../shared/testdata");
  const std::string in = shared ? test::shared_testdata_dir() : d.dir;
  const std::string out = d.dir + "_out";
  for (auto _ : state) {
    state.PauseTiming();
    std::error_code ec;
    fs::remove_all(out, ec);
    state.ResumeTiming();
    // Run from the folder: demo scenes name their objects relative to it.
    const std::string cmd = "cd '" + in + "' && '" ORVL_BINARY "' export . --out '" + out + "' >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    if (rc == -1 || (WEXITSTATUS(rc) != 0 && WEXITSTATUS(rc) != 1)) {
      state.SkipWithError("orvl export failed");
      break;
    }
  }
  std::error_code ec;
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(out, ec))
    if (e.is_regular_file()) ++files;
  state.counters["outputs"] = double(files);
  fs::remove_all(out, ec);
}
BENCHMARK(BM_ExportFolder)->Arg(0)->Arg(1)->ArgNames({"shared"})->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
