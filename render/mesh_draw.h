// Mesh drawing: sorts the frame's draw list by depth and sends it to OpenGL in immediate
// mode, the last step of every drawn frame.
//
// Triangles are painted farthest first. Their look (lighting, shading, texture, blending,
// depth test, outline, reflection pass) follows their flag bits and dissolve alpha. A state
// tracker changes GL state only where the wanted value differs and never while a primitive
// is open, so runs of like triangles share one glBegin/glEnd pair. Called by the frame
// renderer with the Scene whose list it built; draws `frame_state().draw_count` entries.
#pragma once

#include <cstdint>

#include "scene/scene.h"

namespace orvl {

// Blend states of the tracker: (source, destination) factors.
enum class BlendState : int {
  additive = 1,           // GL_ONE, GL_ONE: opaque additive triangles, reflection pass
  translucent = 2,        // GL_SRC_ALPHA, GL_ONE_MINUS_DST_ALPHA
  translucent_add = 3,    // GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA
  particle = 4,           // GL_SRC_COLOR, GL_DST_ALPHA
  invert = 5,             // GL_ONE_MINUS_DST_COLOR, GL_ZERO
};

void draw_frame(Scene& scene);

// Least-significant-digit radix sort of `count` pairs, four passes over 8-bit digits, in
// the order of the keys read as unsigned 32-bit numbers (keys >= 0 ascending, then negative
// keys ascending); equal keys keep their order. `scratch` has room for `count` pairs and
// `histogram` for 257 counters. The result is in `keys` (whose key fields are consumed).
void radix_sort_keys(SortKey* keys, SortKey* scratch, int32_t* histogram, int count);

}  // namespace orvl
