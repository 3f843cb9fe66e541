// Object loading: an LWOB of 100,000 triangles on a lit grid, read from a file each time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>
#include <filesystem>
#include <string>

#include "object/lw_surface.h"
#include "object/object_loader.h"
#include "platform/log.h"
#include "scene/scene.h"
#include "tools/lwob_writer.h"

namespace {

const std::string& grid_object_file() {
  static const std::string path = [] {
    constexpr int kSide = 230;  // 52,900 points, within the 16-bit point numbers
    constexpr int kPolygons = 100000;
    orvl::LwobWriter w;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) w.add_point(float(x), float((x * y) % 7) * 0.1f, float(y));
    w.add_surface("Smooth").colr(200, 180, 160).flag(0x4);
    w.add_surface("Sharp").flag(0x80 | 0x100);
    int written = 0;
    for (int y = 0; y + 1 < kSide && written < kPolygons; ++y) {
      for (int x = 0; x + 1 < kSide && written < kPolygons; ++x) {
        const uint16_t a = uint16_t(y * kSide + x), b = uint16_t(a + 1);
        const uint16_t c = uint16_t(a + kSide), d = uint16_t(c + 1);
        const uint16_t surface = uint16_t(1 + (x & 1));
        w.add_polygon({a, b, d}, surface);
        if (++written < kPolygons) w.add_polygon({a, d, c}, surface), ++written;
      }
    }
    std::string p = (std::filesystem::temp_directory_path() / "orvl_bench_grid.lwo").string();
    w.write(p);
    return p;
  }();
  return path;
}

void BM_LoadObject100k(benchmark::State& state) {
  orvl::log_set_echo(false);
  const std::string file = grid_object_file();
  for (auto _ : state) {
    orvl::Scene scene;
    scene.objects.resize(orvl::kMaxObjects);
    scene.motions.resize(orvl::kMaxMotions);
    std::string name = file;
    orvl::ObjectLoadContext context;
    if (orvl::load_object(scene, context, name, true) != orvl::LoadStatus::ok) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(scene.objects[0].polygons.data());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_LoadObject100k)->Unit(benchmark::kMillisecond);

// LightWave's corner smoothing on a million triangles: a rolling 708 x 708 grid of quads,
// each quad one polygon of two triangles, alternate rows on a smoothed and a faceted surface.
struct CornerGrid {
  std::vector<int32_t> corners;
  std::vector<uint32_t> polygon, surface;
  std::vector<float> normals;
  size_t points = 0;
  CornerGrid() {
    constexpr int kSide = 708;
    points = size_t(kSide) * kSide;
    auto height = [](int x, int y) { return 0.3f * std::sin(0.1f * float(x)) * std::cos(0.13f * float(y)); };
    for (int y = 0; y + 1 < kSide; ++y)
      for (int x = 0; x + 1 < kSide; ++x) {
        const int32_t a = y * kSide + x, b = a + 1, c = a + kSide, d = c + 1;
        const auto q = uint32_t(normals.size() / 3);
        const float dx = height(x + 1, y) - height(x, y), dz = height(x, y + 1) - height(x, y);
        const float len = std::sqrt(dx * dx + 1 + dz * dz);
        normals.insert(normals.end(), {-dx / len, 1 / len, -dz / len});
        for (int32_t v : {a, b, d, a, d, c}) corners.push_back(v);
        polygon.insert(polygon.end(), {q, q});
        surface.insert(surface.end(), 2, uint32_t(y % 3 == 0));
      }
  }
};

void BM_CornerNormals1M(benchmark::State& state) {
  static const CornerGrid grid;
  const float cosines[2] = {orvl::lw_smoothing_cosine(1.5620697f), orvl::lw_smoothing_cosine(0)};
  std::vector<float> out;
  const size_t triangles = grid.polygon.size();
  for (auto _ : state) {
    orvl::lw_corner_normals(grid.corners.data(), triangles, grid.points, grid.polygon.data(),
                            grid.normals.data(), grid.surface.data(), cosines, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(triangles));
}
BENCHMARK(BM_CornerNormals1M)->Unit(benchmark::kMillisecond);

}  // namespace
