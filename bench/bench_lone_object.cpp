// A lone object from nothing to its first picture: the largest object of ../shared/testdata
// (by file size) loaded as a viewing scene, its textures uploaded and its first frame drawn
// in the lightwave look, headless at 640 x 480 with glFinish. What `orvl play OBJECT.lwo` and
// the thumbnailer wait for before the first picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "object/surface_image.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/texture_upload.h"
#include "scene/lone_object.h"
#include "support/shared_data.h"
#include "bench/bench_display.h"

namespace {

using namespace orvl;

std::string largest_object() {
  std::string best;
  std::uintmax_t size = 0;
  std::error_code ec;
  if (!test::shared_testdata_present()) return best;
  for (const auto& e : std::filesystem::recursive_directory_iterator(test::shared_testdata_dir(), ec)) {
    if (!e.is_regular_file() || lone_object_file_kind(e.path().string()) == LoneObjectKind::none) continue;
    if (e.file_size() > size) size = e.file_size(), best = e.path().string();
  }
  return best;
}

void BM_LoneObjectFirstFrame(benchmark::State& state) {
  static const std::string file = largest_object();
  if (file.empty()) {
    state.SkipWithError("shared test data absent");
    return;
  }
  log_set_echo(false);
  if (!bench::open_bench_display(state)) return;
  state.SetLabel(std::filesystem::path(file).filename().string());
  RenderSettings render;
  render.look = Look::lightwave;
  for (auto _ : state) {
    reset_texture_counter();
    Scene scene;
    scene_construct(scene);
    (void)scene_configure(scene, SceneFlags::MIPMAP | SceneFlags::BILINEAR | SceneFlags::DEPTH_BUFFER, 640, 480, 1024,
                          1);
    if (scene_load_lone_object(scene, file, LoneObjectOptions{}) != SceneStatus::ok) {
      state.SkipWithError("object did not load");
      break;
    }
    upload_textures(scene);
    clock_set_virtual(1000);
    scene_reset_motions(scene);
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, render);
    gl().Finish();
    delete_textures();
    scene_destroy(scene);
  }
  clock_use_real();
  (void)display_close();
}
BENCHMARK(BM_LoneObjectFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace
