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

// With the depth buffer on, the depth test alone decides what shows of opaque, depth-tested
// triangles, except where two fragments have exactly equal depth. So such triangles
// (single-pass, no outline, no inversion) are drawn grouped by drawing state (texture,
// shading, lighting, texture mode), depth order kept inside each group, which saves most
// state changes and glBegin/glEnd pairs. Blended, additive, inverting, outlined and two-pass
// triangles keep their exact place; an opaque triangle is drawn ahead of them only when its
// projected bounding box meets none of theirs (up to 32 runs of them back), since triangles
// that share no pixel give the same picture in either order. `exact_order` draws the plain
// depth order, one state change at a time, instead.
//
// `coverage_alpha` (pictures with a transparent background): translucent triangles add
// their opacity to the alpha channel (a + (1 - a) dst) rather than leaving a^2 over the
// cleared background; their colours are blended as always. Needs the separate blend
// function of GL 1.4, resolved with the shader calls; without them it is ignored.
void draw_frame(Scene& scene, bool exact_order = false, bool coverage_alpha = false);

// The drawing state a triangle is grouped by: bits for textured, lit, flat and texture
// mode, then the bound texture; kFixedPlace for a triangle that keeps its place in the depth
// order. Taken when the triangle is queued: its flags, textures and dissolve level are
// settled by then for the frame.
constexpr uint32_t kFixedPlace = 0xFFFFFFFFu;
uint32_t draw_state_code(const Triangle& t);


// Least-significant-digit radix sort of `count` pairs, up to four passes over 8-bit digits
// (none for a digit all keys share), in the order of the keys read as unsigned 32-bit
// numbers (keys >= 0 ascending, then negative keys ascending); equal keys keep their order.
// `scratch` has room for `count` pairs and `histogram` for 257 counters. The result, keys
// intact, is in `keys`.
void radix_sort_keys(SortKey* keys, SortKey* scratch, int32_t* histogram, int count);

}  // namespace orvl
