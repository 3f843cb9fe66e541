// Scene text through the LWSC 2-5 reader, then every envelope evaluated; every index the
// reader hands over must name an entry of its tables.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "scene/lw_scene.h"
#include "scene/lwsc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The record's tolerant reader takes any text; what it hands over is defined.
  orvl::LwSceneInfo info;
  orvl::LwMotionTables tables;
  orvl::lw_read_info(data, size, info, tables);
  if (!(info.camera.zoom > 0) || !std::isfinite(info.frames_per_second)) __builtin_trap();
  for (const auto& l : info.lights)
    if (!(l.edge_angle <= l.cone_angle) || !std::isfinite(l.intensity)) __builtin_trap();
  orvl::LwscLimits limits;
  limits.max_keys = 100000;
  orvl::LwscScene s;
  if (orvl::lwsc_read(data, size, s, limits) != orvl::LwscStatus::ok) {
    if (!s.items.empty() || !s.keys.empty()) __builtin_trap();
    return 0;
  }
  for (const auto& e : s.envelopes)
    if (size_t(e.first_key) + e.key_count > s.keys.size()) __builtin_trap();
  for (const auto& it : s.items) {
    if (it.parent >= static_cast<int>(s.items.size())) __builtin_trap();
    for (int32_t c : it.channels) {
      if (c >= static_cast<int32_t>(s.envelopes.size())) __builtin_trap();
      for (double t : {-7.5, 0.0, 0.4, 3.0, 1e9})
        if (c >= 0 && !std::isfinite(s.evaluate(c, t))) __builtin_trap();
    }
  }
  return 0;
}
