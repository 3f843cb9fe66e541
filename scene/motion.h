// Motion evaluation and transforms: brings a loaded Scene to the current moment and moves
// an object's vertices into camera space.
//
// Called by the frame renderer once per frame, in this order: `evaluate_objects`,
// `evaluate_camera`, then `evaluate_light` for each light; then `transform_object` for each
// object it draws (after setting `Scene::object_index`). The precalculation recorder uses
// the same calls.
//
// Time: during playback every motion runs on its own clock, started by its first
// evaluation after `scene_reset_motions` (start_tick 0 = not started) and read from
// `clock_now_ms`, so tests and `orvl eval` drive it with the virtual clock. While a
// precalculation file is built (SceneFlags::BUILD_PRECALC) each motion advances by
// `precalc_step` frames once per rendered frame instead.
//
// Keys are interpolated with the Kochanek-Bartels (tension, continuity, bias) Hermite
// spline of LightWave 5. Products are computed in double and stored as 32-bit floats.
// Envelope results (morph, dissolve, zoom) are divided by `Scene::scale`, because
// `scene_scale` multiplies every key's first three values, envelopes included.
//
// Angle conventions after evaluation (channels 3..5, in terms of the file's values):
//   object: pitch, heading, bank   camera: -pitch, -heading, -bank   light: -pitch, heading, -bank
// (the parser stores object pitch/bank and camera heading negated; the evaluation swaps).
//
// Bad input never fails and never reads outside a table: motion, object and parent indices
// out of range are ignored, a motion with no keys (or keys outside the pool) evaluates to
// the rest pose (0 position and angles, scale 1), parent chains are followed at most
// kMaxObjects links (a cycle cannot hang a frame), times outside the keys hold the first
// or last key, and keys sharing a frame never divide by zero. No call allocates.
#pragma once

#include "scene/scene.h"

namespace orvl {

// Degrees to radians as the player has always used it.
constexpr double kDegToRad = 0.017453292;
// Zoom envelopes hold LightWave zoom factors; 3.2 (the default lens) is a zoom of 1.
constexpr double kZoomNormalise = 0.3125;

// The spline: writes nine channel values for `time` (a frame) from `count` keys starting at
// `keys`. `last_frame` is the frame of the motion's last key: the keys at frame 0 and at
// `last_frame` are the ends of the curve (their tangents come from one neighbour only).
void interpolate_keys(const MotionKey* keys, int count, int last_frame, float time,
                      float out[kNumChannels]);

// Where the values of a motion come from: the key pool of LightWave 5 motions, the envelope
// tables of LightWave 6 ones, the frame rate of the scene timing (motion 0) and the scene
// scale. `motion_source` gives the engine's own tables; scene/lw_scene.h passes others too.
struct MotionSource {
  const MotionKey* keys = nullptr;
  size_t key_count = 0;
  const SceneEnvelopes* envelopes = nullptr;
  double frames_per_second = 0;  // 30 is used when not positive
  float scale = 1;
};
MotionSource motion_source(const Scene& scene);

// The nine values of motion `h` at `frame`, as the parser stores them (before the angle swap
// of evaluate_motion: degrees with the parser's signs, positions and envelopes times the
// scene scale). Reads no clock and changes nothing; evaluate_motion is this at the motion's
// own frame.
void motion_values_at(const MotionSource& src, const Motion& h, float frame, float out[kNumChannels]);

// Advances motion `m`'s clock and writes its nine values into `scene.channels`, the angle
// channels rewritten as c3' = -c4, c4' = c3, c5' = -c5. Motion 0 is the camera and holds the
// scene timing: it also maintains `finished`, `current_frame`, `progress` and the
// visibility cursor.
void evaluate_motion(Scene& scene, int m);

// Every object's position, angles, scale and rotation (static-image objects keep theirs),
// then its morph amount and dissolve level.
void evaluate_objects(Scene& scene);
// Camera position, angles (through its parent chain), matrix and zoom factor.
void evaluate_camera(Scene& scene);
// Light with motion `m`: `light_position`, `light_angles`, `light_matrix`.
void evaluate_light(Scene& scene, int m);

// Transforms object `scene.object_index` into camera space. The result is always left in
// that object's `transformed` array (parents included); positions are written for every
// vertex, normals (rotated to world space, not camera space) only when the object
// `needs_normals`.
void transform_object(Scene& scene);

// Rotation of objects and lights from radians (a, b, c) = (pitch, heading, bank) as
// evaluated; row major, a point p maps to (M[0..2]·p, M[3..5]·p, M[6..8]·p).
void object_rotation_matrix(double a, double b, double c, float m[9]);
// Camera rotation from its evaluated angles (u, v, w); row major.
void camera_rotation_matrix(double u, double v, double w, float m[9]);

}  // namespace orvl
