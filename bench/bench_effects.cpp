// Per-frame steps of the 2D effects on a 256 x 256 buffer, and a full particle pool.
#include <benchmark/benchmark.h>

#include <vector>

#include "effects/effects.h"
#include "platform/log.h"

namespace {

constexpr int kSide = 256;

void BM_PlasmaStep(benchmark::State& state) {
  orvl::PixelBuffer source(size_t(kSide) * kSide);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint32_t(i * 2654435761u);
  (void)orvl::plasma_init_pixels(kSide, kSide, source);
  std::vector<uint32_t> buf(size_t(kSide) * kSide);
  for (auto _ : state) {
    orvl::plasma_step({buf.data(), kSide, kSide});
    benchmark::DoNotOptimize(buf.data());
  }
  orvl::plasma_free();
}
BENCHMARK(BM_PlasmaStep);

void BM_SinusDotsStep(benchmark::State& state) {
  orvl::sinus_dots_init(kSide, kSide);
  std::vector<uint32_t> buf(size_t(kSide) * kSide);
  for (auto _ : state) {
    orvl::sinus_dots_step({buf.data(), kSide, kSide});
    benchmark::DoNotOptimize(buf.data());
  }
}
BENCHMARK(BM_SinusDotsStep);

void BM_StarFieldStep(benchmark::State& state) {
  orvl::effect_random_seed(1);
  orvl::star_field_init(kSide, kSide);
  std::vector<uint32_t> buf(size_t(kSide) * kSide);
  for (auto _ : state) {
    orvl::star_field_step({buf.data(), kSide, kSide});
    benchmark::DoNotOptimize(buf.data());
  }
}
BENCHMARK(BM_StarFieldStep);

// A video step hands out a prepared frame; the copy into the texture corner is the
// renderer's upload, measured here as a copy into a buffer.
void BM_VideoStep(benchmark::State& state) {
  orvl::VideoState& v = orvl::video_state();
  orvl::video_free();
  v.frame_count = 4;
  v.frames.resize(4);
  for (auto& f : v.frames) {
    f.pixels.assign(size_t(kSide) * kSide, 0x00102030u);
    f.width = f.height = kSide;
  }
  std::vector<uint32_t> buf(size_t(kSide) * kSide);
  for (auto _ : state) {
    int w = 0, h = 0;
    const uint32_t* frame = orvl::video_next_frame(w, h);
    std::copy(frame, frame + size_t(w) * h, buf.data());
    benchmark::DoNotOptimize(buf.data());
  }
  orvl::video_free();
}
BENCHMARK(BM_VideoStep);

void count_queued(void* context, const orvl::Triangle*, orvl::Vertex*, orvl::Vertex*, orvl::Vertex*,
                  int32_t) {
  ++*static_cast<int*>(context);
}

void BM_ParticleStep4096(benchmark::State& state) {
  orvl::log_set_echo(false);
  orvl::Surface surface;
  surface.name = "__PARTICLES_FALL_DOWNSIZE_4096__";
  std::vector<orvl::Triangle> polygons(2);
  for (auto& t : polygons) t.surface = &surface;
  polygons[0].corners[1] = 1;
  polygons[0].corners[2] = 2;
  std::vector<orvl::Vertex> camera{{-1, -1, -20}, {1, -1, -20}, {1, 1, -20}};
  orvl::ParticleEmitter emitter;
  (void)orvl::particles_setup(emitter, polygons);
  int queued = 0;
  for (auto _ : state) {
    orvl::particles_step(emitter, polygons[0], camera.data(), camera.size(), count_queued, &queued);
    benchmark::DoNotOptimize(queued);
  }
  state.counters["queued_per_step"] = double(queued) / double(state.iterations());
}
BENCHMARK(BM_ParticleStep4096)->Unit(benchmark::kMicrosecond);

}  // namespace
