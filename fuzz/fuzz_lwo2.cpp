// Raw bytes through the LWO2 object reader; every index it hands over must name a point.
#include <cstddef>
#include <cstdint>

#include "object/lwo2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvl::Lwo2Object o;
  if (orvl::lwo2_read(data, size, o) != orvl::Lwo2Status::ok) {
    if (!o.points.empty() || !o.polygons.empty()) __builtin_trap();
    return 0;
  }
  const uint32_t points = o.point_count();
  for (uint32_t c : o.corners)
    if (c >= points) __builtin_trap();
  for (const auto& p : o.polygons)
    if (size_t(p.first_corner) + p.corner_count > o.corners.size() || p.layer >= o.layers.size() ||
        (p.tag >= 0 && size_t(p.tag) >= o.tags.size()))
      __builtin_trap();
  for (const auto& m : o.uv_maps) {
    for (uint32_t c : m.points)
      if (c >= points) __builtin_trap();
    for (uint32_t c : m.corner_polygons)
      if (c >= o.polygons.size()) __builtin_trap();
  }
  return 0;
}
