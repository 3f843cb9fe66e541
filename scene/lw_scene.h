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
// (positive heading turns +Z toward +X, positive pitch tips +Z toward -Y, positive bank turns
// +X toward +Y: the rotation the engine has always used for objects), and
//     world = parent world · local
// for objects, lights and the camera alike. The nine channel values are the ones the
// engine's key evaluation gives (TCB keys of LightWave 5, envelopes of LightWave 6 with
// their spans and pre/post behaviours) from the keys as the engine holds them (its LightWave
// 5 reader adds a copy of a motion's last key at the scene's last frame, and that key shapes
// the curve here too); only the way they are put together differs.
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

#include <cstddef>
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

// Time. A playback frame counts frames from where the player starts the scene: LightWave 5
// scenes (LWSC 1) play from file frame 0 whatever their FirstFrame says, later scenes from
// their FirstFrame, so
//     file frame = playback frame + LwSceneInfo::frame_origin   (0, or FirstFrame).
// Every motion of the pose is evaluated at that one frame (LightWave's reading: the
// engine's LightWave 5 camera alone runs PreviewFrameStep times faster, which only
// lw_pose_current follows). Nothing is held: the file's LastFrame is the playback frame
// lw_playback_frame(scene, scene.lw.last_frame), and the pose there is the spline's own
// value (the player holds its last frame one step early). Before and after the keys the
// curves do what the file says (LightWave 5: hold the end keys; LightWave 6: the pre and
// post behaviours), negative frames included.
//
// Units of the pose: positions (and pivots) times the scene scale, as the engine's vertices;
// morph amount and dissolve 0..1 (LightWave 5's dissolve byte, 255 opaque, read back as
// 1 - level / 255); light intensity as the file writes it (1 = 100%); zoom factor as the
// file writes it. Values that are not finite never reach a pose: a channel that is not
// finite is read as its rest value, an intensity beyond +-1000 is clamped, a zoom that is not
// a positive finite number reads as 3.2 (and at least 0.01), a world matrix that still
// overflows is the identity.
double lw_file_frame(const Scene& scene, double playback_frame);
double lw_playback_frame(const Scene& scene, double file_frame);

// Sizes `pose` for `scene` (the only call that allocates; lw_pose_at and lw_pose_current size
// a pose that does not fit the scene themselves).
void lw_pose_size(const Scene& scene, LwPose& pose);

// The pose at playback frame `frame`, evaluated without touching any motion's clock,
// fractional frames allowed. Returns false when the scene has no timing (no camera motion)
// or `frame` is not finite; the pose is then left as it was.
bool lw_pose_at(const Scene& scene, double frame, LwPose& pose);

// The pose at the frames the engine's evaluation last left in each motion (call it after
// evaluate_objects, evaluate_camera and evaluate_light of the frame, as the frame renderer
// does), so that both looks play on the same clock, the player's hold at the end included.
void lw_pose_current(const Scene& scene, LwPose& pose);

// The nine channel values of motion `m` at playback frame `frame` in the file's own terms:
// X, Y, Z (times the scene scale), heading, pitch, bank in radians, scale X, Y, Z. An
// envelope (one channel) writes channel 0 as the file gives it (dissolve 0..1, zoom factor,
// morph amount, intensity) and rest values in the others. A motion index outside the table
// gives the rest pose.
void lw_motion_channels(const Scene& scene, int m, double frame, double out[9]);

// Matrix helpers shared by the look and the exporter.
LwMatrix lw_local_matrix(const double channels[9], const float pivot[3]);
LwMatrix lw_multiply(const LwMatrix& a, const LwMatrix& b);
bool lw_invert(const LwMatrix& a, LwMatrix& out);  // false when singular

// Vertical field of view in radians for a zoom factor: 2 atan(1 / zoom). A zoom that is not
// a positive finite number gives the default lens's field.
double lw_vertical_fov(double zoom);

// The record's reader (scene/lw_info_reader.cpp). Both scene readers call lw_fill_scene_info
// after every successful load, with the scene text (and, for LWSC 2 to 5, the reader's
// tables): it fills `Scene::lw` and `Scene::lw_motions`, maps lights, camera and parents onto
// the engine's entries, makes absurd values defined and logs one line per scene naming them.
// lw_read_info is the text pass alone (any bytes; never fails, unknown lines are skipped, a
// value that does not read keeps its default); lw_make_defined the repair, noted in
// `LwSceneInfo::repaired`.
struct LwscScene;
void lw_fill_scene_info(Scene& scene, const uint8_t* text, size_t size, const LwscScene* lwsc);
void lw_read_info(const uint8_t* text, size_t size, LwSceneInfo& info, LwMotionTables& tables);
void lw_make_defined(LwSceneInfo& info);

}  // namespace orvl
