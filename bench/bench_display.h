// The headless 640 x 480 GL display with a depth buffer that the frame benchmarks draw
// into; a benchmark without one (no EGL here) skips with an error instead.
#pragma once

#include <benchmark/benchmark.h>

#include "render/display.h"

namespace orvl::bench {

inline bool open_bench_display(benchmark::State& state) {
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  display_reset();
  if (display_open(DisplayOptions::DEPTH_BUFFER, 640, 480, 32, 0, 0, 0, "bench") != DisplayResult::ok) {
    state.SkipWithError("no headless GL");
    return false;
  }
  return true;
}

}  // namespace orvl::bench
