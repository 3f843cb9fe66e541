// Parsing a 1 MB scene from memory.
//
// The scene tables cap what a scene can hold (50 objects, 64 motions, 5000 keys), so a
// megabyte of scene text cannot be a megabyte of objects. This one fills the key pool as
// real scenes do with long animations: 49 null objects with 100 keys each and a 50-key
// camera, full-precision values and non-zero tension, continuity and bias (about 0.6 MB),
// and brings the rest up to 1 MB with camera and render settings that the scanner skips
// on its way to the backdrop colour, as LightWave writes dozens of such lines there.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/log.h"
#include "scene/scene.h"
#include "tools/lws_writer.h"

namespace {

std::string megabyte_scene() {
  using orvl::LwsKey;
  orvl::LwsScene sc;
  sc.last_frame = 990;
  auto motion = [](int keys, int seed) {
    std::vector<LwsKey> m;
    for (int k = 0; k < keys; ++k) {
      LwsKey key;
      key.frame = k * 990 / (keys - 1);
      for (int c = 0; c < 9; ++c) key.value[c] = (seed * 131 + k * 17 + c * 7) * 1.2345678f - 3000.5f;
      key.tension = 0.25f;
      key.continuity = -0.5f;
      key.bias = 0.125f;
      m.push_back(key);
    }
    return m;
  };
  for (int i = 0; i < 49; ++i) {
    orvl::LwsObject o;
    o.null_name = "Segment" + std::to_string(i);
    o.motion = motion(100, i);
    if (i > 0) o.parent = i;
    sc.objects.push_back(o);
  }
  orvl::LwsLight light;
  light.motion = motion(2, 99);
  sc.lights.push_back(light);
  sc.camera.motion = motion(50, 7);
  std::string text = orvl::write_lws(sc);
  const std::string setting = "AdaptiveThreshold 16\nFogMinDist 0.000000\nFogMaxDist 1.000000\n";
  std::string padding;
  // Each of the three lines grows by a carriage return when written.
  while (text.size() + padding.size() * (setting.size() + 3) / setting.size() < (1u << 20)) padding += setting;
  sc.camera_settings = padding;
  return orvl::write_lws(sc);
}

void BM_ParseScene1MB(benchmark::State& state) {
  orvl::log_set_echo(false);
  const std::string text = megabyte_scene();
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (auto _ : state) {
    auto scene = std::make_unique<orvl::Scene>();
    orvl::scene_construct(*scene);
    (void)orvl::scene_configure(*scene, 0, 640, 480, 1024, 0);
    if (orvl::scene_load_text(*scene, "bench.lws", bytes, text.size()) != orvl::SceneStatus::ok ||
        scene->next_key != 4900 + 50 + 2) {
      state.SkipWithError("the benchmark scene did not load as intended");
      break;
    }
    benchmark::DoNotOptimize(scene->keys.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["scene_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseScene1MB)->Unit(benchmark::kMillisecond);

}  // namespace
