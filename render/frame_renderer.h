// Frame renderer: produces one frame of a Scene.
//
// Called by the show sequencer once per loop pass, right after the display layer's
// per-frame step. It clears, refreshes the textures of 2D-effect surfaces, evaluates
// camera, objects and lights, sets the OpenGL lights, transforms and culls every object's
// triangles into the Scene's draw list (with integer depth keys) and hands the list to the
// mesh drawing. Everything is drawn in camera space: the only GL matrix is the frustum the
// display layer put on the model-view matrix.
//
// The 2D effects, the particles and the precalculation recorder live in modules that sit
// above the renderer; they plug their per-frame steps into `frame_hooks()`. A hook left
// null means that feature is not part of the build: its surfaces keep their last texture
// contents and nothing is queued for them.
//
// A scene loaded with a precalculation file draws, per object, exactly the triangles whose
// bit is set for the current frame. A frame the file does not answer (past its table, or a
// scene that no longer matches it) is drawn with the renderer's own tests instead, with one
// log line per scene.
//
// Capacities: the draw list holds 3 x (polygon_total + 4096) entries (allocated with the
// Scene). A frame that would queue more drops the excess and counts it in
// `FrameState::dropped` (one log line per scene); the frame itself still draws. Only eight
// GL lights exist: lights after the eighth are not sent to OpenGL (one log line per scene).
// Metaform ranges are one per object, so their table cannot overflow. No call allocates
// (apart from those two log lines).
#pragma once

#include <cstdint>

#include "scene/look.h"
#include "scene/lw_info.h"
#include "scene/scene.h"

namespace orvl {

// Second argument of scene_render_frame.
namespace ClearBits {
constexpr int DEPTH = 0x40;  // clear depth too when the Scene uses a depth buffer
constexpr int COLOR = 0x80;  // clear the colour buffer with the backdrop colour
}  // namespace ClearBits

constexpr int kMaxGlLights = 8;
// Depth key that puts static images before every triangle in view (those have negative keys).
constexpr int32_t kStaticImageKey = 15;

// Process-wide state of the frame being built (valid during one call).
struct FrameState {
  int draw_count = 0;     // entries queued so far
  long long dropped = 0;  // entries that did not fit the draw list (all frames)
  // The first entry's drawing state and whether any other entry's differs: a frame of one
  // state has nothing to group.
  uint32_t first_state = 0;
  bool mixed_states = false;
  // What the last drawn frame sent to OpenGL (a viewer's overlay shows them): triangles, and
  // batches (glBegin/glEnd runs in the engine look, object-surface runs in the lightwave look).
  int triangles = 0;
  int batches = 0;
};
FrameState& frame_state();

// Per-frame steps contributed by modules above the renderer.
struct FrameHooks {
  // Draw the next picture of a texture effect into `surface.effect_pixels`.
  void (*plasma_step)(Scene& scene, Surface& surface) = nullptr;
  void (*sinus_dots_step)(Scene& scene, Surface& surface) = nullptr;
  void (*star_field_step)(Scene& scene, Surface& surface) = nullptr;
  // Next frame of a video surface: RGBA pixels and their size, or null when there is none.
  const uint32_t* (*video_next_frame)(Scene& scene, Surface& surface, int& width,
                                      int& height) = nullptr;
  // Moves the particles of a particle object (the current object) `steps` times and queues
  // them; 0 queues them where they stand.
  void (*particles_step)(Scene& scene, SceneObject& object, int steps) = nullptr;
  // Records the evaluated frame while a precalculation file is built.
  void (*precalc_record_frame)(Scene& scene) = nullptr;
};
FrameHooks& frame_hooks();

// How one frame is drawn, handed down by whoever draws it (the show, `orvl render` and
// `orvl play`, tests), never kept in a process-wide flag.
struct RenderSettings {
  Look look = Look::engine;
  // Plain depth order instead of grouping opaque triangles by state (see mesh_draw.h).
  bool exact_order = false;
  // A camera of the viewer's own in place of the scene's for this frame: its world matrix
  // in LightWave's coordinates (scene/lw_info.h) and its zoom factor. Null: the scene camera.
  // Both looks take it: the engine look as its camera position, the transposed rotation
  // and the zoom in its own units (zoom x 0.3125); a free camera is never parented.
  const LwMatrix* camera_world = nullptr;
  double camera_zoom = 3.2;
  // How many times this frame steps what advances once per drawn frame: the 2D-effect
  // textures, the video, scrolling textures and the particles. 1 is the show's rule; 0
  // holds them (a paused viewer); more catches them up after a jump in time, uploading the
  // textures once. At most kMaxEffectSteps are taken.
  int effect_steps = 1;
  // A picture whose background is transparent (thumbnails): the colour buffer is cleared to
  // (0, 0, 0, 0) instead of the backdrop colour and the lightwave look draws no backdrop
  // gradient, so the alpha channel keeps where something was drawn and the colours are those
  // drawn over black (premultiplied by that alpha). Translucent blending then adds the
  // surface's opacity to the alpha channel (coverage), where it normally multiplies it in
  // again; the colour channels blend as in any other picture.
  bool transparent_background = false;
};
constexpr int kMaxEffectSteps = 1 << 20;

// Draws one frame; returns 0.
int scene_render_frame(Scene& scene, int clear_bits, const RenderSettings& settings = RenderSettings());

// Evaluates objects, camera and scrolling textures, then sets the OpenGL lights. With
// `settings` the camera override and the effect steps apply (see RenderSettings).
void update_lights(Scene& scene);
void update_lights(Scene& scene, const RenderSettings& settings);

// Puts a viewer's camera (LightWave world matrix, zoom factor) into the engine's camera
// fields, as evaluate_camera leaves them.
void engine_camera_from_world(Scene& scene, const LwMatrix& world, double zoom);

// Queue triangle `t` of `object` with its transformed vertices: as it is, only when it
// faces the camera (or is double-sided), or pulled by the earlier metaform objects.
void queue_polygon(Scene& scene, SceneObject& object, const Triangle& t);
void queue_polygon_culled(Scene& scene, SceneObject& object, const Triangle& t);
void queue_metaform_polygon(Scene& scene, SceneObject& object, const Triangle& t);
// Queue the two triangles of a static-image object, untransformed.
void queue_static_image(Scene& scene, SceneObject& object);

// Appends one entry with its depth key; false (and a counted drop) when the list is full.
bool queue_entry(Scene& scene, const Triangle* triangle, Vertex* v0, Vertex* v1, Vertex* v2,
                 int32_t key);

// Smallest of three camera-space z values times 256, truncated toward zero (saturated to
// the 32-bit range).
int32_t depth_key(float z0, float z1, float z2);

}  // namespace orvl
