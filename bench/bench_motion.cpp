// Per-frame cost of the motion evaluation and of moving a large object into camera space.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/clock.h"
#include "scene/motion.h"
#include "support/hand_scene.h"

namespace {

using orvl::testing::HandScene;
using orvl::testing::make_key;
using orvl::testing::pose_key;

// Ten TCB keys per motion over 300 frames, so every evaluation searches and splines.
std::vector<orvl::MotionKey> wandering_keys(int seed) {
  std::vector<orvl::MotionKey> keys;
  for (int k = 0; k <= 10; ++k) {
    const float v = static_cast<float>((seed * 7 + k * 13) % 17);
    orvl::MotionKey key = pose_key(k * 30, v, -v, v * 2, v * 10, v * 5, -v * 3, 1, 1 + v / 17, 1);
    key.tension = 0.2f;
    key.continuity = -0.1f;
    key.bias = 0.3f;
    keys.push_back(key);
  }
  return keys;
}

void BM_EvaluateObjectsAndCamera50(benchmark::State& state) {
  HandScene h(30, 300);
  h.set_camera(wandering_keys(99));
  for (int i = 0; i < orvl::kMaxObjects; ++i) {
    const int o = h.add_object(h.add_motion(wandering_keys(i)));
    if (i > 0 && i % 5 != 0) h.scene.objects[o].parent = o - 1;
  }
  h.scene.objects[3].dissolve_envelope = h.add_motion({make_key(0, {255}), make_key(300, {0})}, 1);
  orvl::clock_set_virtual(1000);
  for (auto _ : state) {
    orvl::clock_advance_virtual(33);
    orvl::evaluate_objects(h.scene);
    orvl::evaluate_camera(h.scene);
    benchmark::DoNotOptimize(h.scene.camera_matrix);
  }
  orvl::clock_use_real();
}
BENCHMARK(BM_EvaluateObjectsAndCamera50);

// 100k vertices under a chain of three parents; arg 1 also carries normals.
void BM_TransformObject100k(benchmark::State& state) {
  HandScene h(30, 300);
  h.set_camera({pose_key(0, 1, 2, -50, 10, 5, 0)});
  int parent = -1;
  for (int i = 0; i < 3; ++i) {
    const int o = h.add_object(h.add_motion({pose_key(0, 1.0f * i, 2, 3, 15.0f * i, 5, 10, 1.1f, 1, 0.9f)}));
    h.scene.objects[o].parent = parent;
    parent = o;
  }
  std::vector<orvl::Vertex> vertices(100000);
  for (size_t i = 0; i < vertices.size(); ++i)
    vertices[i] = {static_cast<float>(i % 100), static_cast<float>(i / 100 % 100), static_cast<float>(i / 10000),
                   0, 1, 0};
  const int obj = h.add_object(h.add_motion({pose_key(0, 0, 0, 0, 30, 20, 10)}), vertices);
  h.scene.objects[obj].parent = parent;
  h.scene.objects[obj].pivot[0] = -50;
  h.scene.objects[obj].needs_normals = static_cast<int>(state.range(0));
  orvl::clock_set_virtual(1000);
  orvl::evaluate_objects(h.scene);
  orvl::evaluate_camera(h.scene);
  h.scene.object_index = obj;
  for (auto _ : state) {
    orvl::transform_object(h.scene);
    benchmark::DoNotOptimize(h.scene.objects[obj].transformed.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(vertices.size()));
  orvl::clock_use_real();
}
BENCHMARK(BM_TransformObject100k)->Arg(0)->Arg(1);

}  // namespace
