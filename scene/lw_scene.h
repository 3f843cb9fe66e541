// LightWave's own reading of a loaded scene, for the lightwave look, the glTF exporter,
// `orvl eval` and the thumbnailer: what the scene file says about lights, camera, ambient
// light, backdrop and fog beyond what the engine keeps (`LwSceneInfo`, filled by both scene
// readers after a load), and the pose of every item at any moment (`lw_pose_*`), with the
// transforms LightWave defines. The engine look never reads any of it, and nothing here
// changes a field the engine reads.
//
// Coordinates are LightWave's, left-handed: +X right, +Y up, +Z forward. An item's local
// matrix is
//     local = T(position) · Ry(heading) · Rx(pitch) · Rz(bank) · S(scale) · T(-pivot)
// (positive heading turns +Z toward +X, positive pitch tips +Z toward -Y), and
//     world = parent world · local
// for objects, lights and the camera alike. The nine channel values are the ones the
// engine's key evaluation gives (TCB keys of LightWave 5, envelopes of LightWave 6 with
// their spans and pre/post behaviours); only the way they are put together differs.
//
// Camera: tan(vfov / 2) = 1 / zoom (3.2, the default, is the 24 mm lens); the horizontal
// field follows from the frame aspect (width / height x pixel aspect).
// Lights: a distant light shines along its local +Z; a spot's cone angle is its half-angle,
// the edge angle the soft band measured inward from the cone's edge.
//
// Sources: the LightWave SDK's scene file format and envelope pages, and the LightWave 5
// and 6 manuals (Layout: lights, camera, effects panels).
//
// Matrices are row major 4 x 4 doubles acting on column vectors: p' = M · (x, y, z, 1).
// Nothing here allocates once a pose has been sized for its scene (`lw_pose_size`).
#pragma once

#include <cstdint>
#include <vector>

#include "scene/lw_info.h"
#include "scene/scene.h"

namespace orvl {

// Where every item stands at one moment.
struct LwPose {
  double frame = 0;                       // playback frame (see lw_pose_at)
  std::vector<LwMatrix> object_world;     // per object
  std::vector<float> morph_amount;        // per object, 0..1
  std::vector<float> dissolve;            // per object, 0 opaque .. 1 gone
  std::vector<LwMatrix> light_world;      // per light
  std::vector<float> light_intensity;     // per light, after its envelope
  LwMatrix camera_world;
  double zoom = 3.2;
};

// Sizes `pose` for `scene` (the only call that allocates).
void lw_pose_size(const Scene& scene, LwPose& pose);

// The pose at playback frame `frame`, evaluated without touching any motion's clock:
// frame 0 is where the player starts the scene (LightWave 6 scenes: their FirstFrame),
// fractional frames allowed. Returns false when the scene has no timing (no camera motion).
bool lw_pose_at(const Scene& scene, double frame, LwPose& pose);

// The pose at the frame every motion was last evaluated at by the engine's evaluation
// (the frame renderer's calls), so that both looks play on the same clock.
void lw_pose_current(const Scene& scene, LwPose& pose);

// The nine channel values of motion `m` at playback frame `frame` in the file's own terms:
// X, Y, Z (times the scene scale), heading, pitch, bank in radians, scale X, Y, Z. An
// envelope (one channel) writes channel 0 as the file gives it (dissolve 0..1, zoom factor).
void lw_motion_channels(const Scene& scene, int m, double frame, double out[9]);

// Matrix helpers shared by the look and the exporter.
LwMatrix lw_local_matrix(const double channels[9], const float pivot[3]);
LwMatrix lw_multiply(const LwMatrix& a, const LwMatrix& b);
bool lw_invert(const LwMatrix& a, LwMatrix& out);  // false when singular

// Vertical field of view in radians for a zoom factor: 2 atan(1 / zoom). A zoom that is not
// a positive finite number gives the default lens's field.
double lw_vertical_fov(double zoom);

}  // namespace orvl
