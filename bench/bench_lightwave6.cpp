// Reading LightWave 6 content and evaluating its envelopes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "object/lwo2.h"
#include "object/object_loader.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "scene/lwsc.h"
#include "scene/motion.h"
#include "scene/scene.h"
#include "tools/lwo2_writer.h"
#include "tools/lwsc_writer.h"

namespace {

// Fifty objects of nine channels, each channel with `keys` TCB/Hermite/Bezier keys.
orvl::LwscScene many_channels(int objects, int keys) {
  orvl::LwscScene s;
  s.version = 3;
  for (int o = 0; o < objects; ++o) {
    orvl::LwscItem it;
    it.id = 0x10000000u + static_cast<uint32_t>(o);
    it.path = "Objects/part" + std::to_string(o) + ".lwo";
    it.channel_count = 9;
    for (int c = 0; c < 9; ++c) {
      orvl::LwscEnvelope e;
      e.first_key = static_cast<uint32_t>(s.keys.size());
      e.key_count = static_cast<uint32_t>(keys);
      e.post = static_cast<orvl::EnvBehavior>(c % 6);
      for (int k = 0; k < keys; ++k) {
        orvl::EnvKey key;
        key.time = k * 0.4f;
        key.value = std::sin(0.7f * k + c + o) * 3.0f;
        key.shape = static_cast<orvl::SpanShape>((k + c) % 4);
        key.p[0] = 0.1f;
        key.p[3] = 0.5f;
        key.p[4] = -0.25f;
        s.keys.push_back(key);
      }
      it.channels[c] = static_cast<int32_t>(s.envelopes.size());
      s.envelopes.push_back(e);
    }
    s.items.push_back(it);
  }
  return s;
}

// A scene text of about 1 MB (fifty objects, 9 channels of 50 keys each, and skipped
// blocks between them).
void BM_ParseLwsc1MB(benchmark::State& state) {
  orvl::LwscWriteOptions opt;
  opt.extra_lines = "APSDisplay\n{ APS\n  Version 1\n  { VParm\n    0\n  }\n}\nIKInitialState 0\n";
  const std::string text = orvl::write_lwsc(many_channels(50, 50), opt);
  for (auto _ : state) {
    orvl::LwscScene s;
    if (orvl::lwsc_read(reinterpret_cast<const uint8_t*>(text.data()), text.size(), s) != orvl::LwscStatus::ok)
      state.SkipWithError("scene did not parse");
    benchmark::DoNotOptimize(s.keys.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseLwsc1MB)->Unit(benchmark::kMillisecond);

// A grid of 100k quads with UVs on one layer.
std::vector<uint8_t> grid_object() {
  orvl::Lwo2Model m;
  orvl::Lwo2WriterSurface surf;
  surf.image = "grid.png";
  surf.projection = 5;
  surf.uv_map = "UV";
  m.surfaces = {surf};
  orvl::Lwo2WriterLayer l;
  const int n = 316;  // 316 x 316 quads ~ 100k
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) {
      l.points.insert(l.points.end(), {float(x), float(y), 0});
      l.uvs.insert(l.uvs.end(), {float(x) / n, float(y) / n});
    }
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const uint32_t a = static_cast<uint32_t>(y * (n + 1) + x);
      l.polygons.push_back({a, a + 1, a + n + 2, a + n + 1});
    }
  m.layers = {l};
  return orvl::lwo2_bytes(m);
}

void BM_ReadLwo2_100kPolygons(benchmark::State& state) {
  const std::vector<uint8_t> bytes = grid_object();
  for (auto _ : state) {
    orvl::Lwo2Object o;
    if (orvl::lwo2_read(bytes.data(), bytes.size(), o) != orvl::Lwo2Status::ok)
      state.SkipWithError("object did not read");
    benchmark::DoNotOptimize(o.corners.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ReadLwo2_100kPolygons)->Unit(benchmark::kMillisecond);

// The same object all the way into the scene's object table: triangles, surfaces, UVs and
// normals (its picture is not on disk, so it loads without it).
void BM_LoadLwo2_100kPolygons(benchmark::State& state) {
  orvl::log_set_echo(false);
  const std::vector<uint8_t> bytes = grid_object();
  orvl::ObjectLoadOptions options;
  options.images_required = false;
  for (auto _ : state) {
    orvl::Scene scene;
    scene.objects.resize(orvl::kMaxObjects);
    scene.motions.resize(orvl::kMaxMotions);
    orvl::ObjectLoadContext context;
    if (orvl::load_object_data(scene, context, bytes, options) != orvl::LoadStatus::ok)
      state.SkipWithError("object did not load");
    benchmark::DoNotOptimize(scene.objects[0].polygons.data());
  }
  orvl::log_set_echo(true);
}
BENCHMARK(BM_LoadLwo2_100kPolygons)->Unit(benchmark::kMillisecond);

// One frame of a LightWave 6 scene of 50 objects with 9 animated channels each (10 keys per
// channel, 4500 in all: the key pool holds 5000), through the motion evaluation the renderer calls.
void BM_EvaluateLw6Objects50(benchmark::State& state) {
  orvl::log_set_echo(false);
  orvl::LwscScene src = many_channels(50, 10);
  for (auto& it : src.items) it.kind = orvl::LwscItemKind::null_object;
  const std::string text = orvl::write_lwsc(src);
  orvl::Scene scene;
  orvl::scene_construct(scene);
  (void)orvl::scene_configure(scene, 0, 640, 480, 1024, 0);
  if (orvl::scene_load_text(scene, "bench.lws", reinterpret_cast<const uint8_t*>(text.data()), text.size()) !=
      orvl::SceneStatus::ok) {
    state.SkipWithError("scene did not load");
    return;
  }
  orvl::clock_set_virtual(1000);
  for (auto _ : state) {
    orvl::clock_advance_virtual(33);
    orvl::evaluate_objects(scene);
    benchmark::DoNotOptimize(scene.objects[49].rotation);
  }
  orvl::clock_use_real();
  orvl::scene_destroy(scene);
  orvl::log_set_echo(true);
}
BENCHMARK(BM_EvaluateLw6Objects50);

// One frame's worth of channel evaluation: 50 objects x 9 channels of 20 keys.
void BM_EvaluateEnvelopes50x9(benchmark::State& state) {
  const orvl::LwscScene s = many_channels(50, 20);
  double t = 0;
  for (auto _ : state) {
    t += 1.0 / 30;
    if (t > 12) t -= 14;  // also before the first key and after the last
    double sum = 0;
    for (const auto& it : s.items)
      for (int c = 0; c < 9; ++c) sum += s.evaluate(it.channels[c], t);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_EvaluateEnvelopes50x9);

}  // namespace
