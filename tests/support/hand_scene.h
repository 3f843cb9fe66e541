// Scenes assembled in memory for tests and benchmarks that exercise evaluation without a
// scene file: tables sized to their capacities, motions and keys written directly.
#pragma once

#include <initializer_list>
#include <vector>

#include "scene/scene.h"

namespace orvl::testing {

// A key at `frame` whose first values are `values` (the rest 0, scale channels included).
MotionKey make_key(int frame, std::initializer_list<float> values, float tension = 0, float continuity = 0,
                   float bias = 0, int linear = 0);
// The same with all nine values given; scale defaults to 1 when only six are listed.
MotionKey pose_key(int frame, float x, float y, float z, float h = 0, float p = 0, float b = 0, float sx = 1,
                   float sy = 1, float sz = 1);

struct HandScene {
  Scene scene;

  // Empty tables at their capacities; header 0 holds the timing and a camera at rest.
  explicit HandScene(float frames_per_second = 30, float last_frame = 60);

  // Appends a motion (9 channels) or envelope (1 channel) with these keys; returns its
  // index. The header's last frame is its last key's frame, as the parser leaves it.
  int add_motion(const std::vector<MotionKey>& keys, int channel_count = 9);
  // Replaces the camera's keys (header 0 keeps the scene timing).
  void set_camera(const std::vector<MotionKey>& keys);
  // Appends an object driven by `motion` with the given untransformed vertices; its
  // transformed arrays are sized as the loader sizes them.
  int add_object(int motion, const std::vector<Vertex>& vertices = {});
  int add_light(int motion);
};

}  // namespace orvl::testing
