// What a scene file says for LightWave's own look beyond what the engine keeps: lights
// (type, cone, edge, falloff, parent), camera (static zoom, pixel aspect, parent), ambient
// light, backdrop and fog. Filled by both scene readers after a load (`Scene::lw`), read by
// the lightwave look, the exporter, `orvl eval` and the thumbnailer through
// scene/lw_scene.h; the engine look never reads it. Units: angles in radians, colours 0..1,
// distances (pivots, light range, fog distances) in the file's units: multiply them by
// `Scene::scale` where a scene is scaled (the pose's matrices already are).
//
// Animated values: an index into the engine's `Scene::motions` where the engine keeps the
// envelope (`*_envelope`), or into `Scene::lw_motions.motions` where only this record needs
// it (`*_own`): LightWave 5 light intensity envelopes and a current camera that is not the
// engine's camera. At most one of the two is set.
#pragma once

#include <string>
#include <vector>

namespace orvl {

struct LwMatrix {
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

// LightWave light types as the scene files number them.
enum class LwLightType : int { distant = 0, point = 1, spot = 2, linear = 3, area = 4 };

// Falloff (LWSC 3+ LightFalloffType; LWSC 1 "Falloff" is a linear falloff over 1/value).
enum class LwFalloff : int { none = 0, linear = 1, inverse_distance = 2, inverse_distance_squared = 3 };

struct LwLight {
  LwLightType type = LwLightType::distant;
  float color[3] = {1, 1, 1};
  float intensity = 1;
  int intensity_envelope = -1;  // motion index of an animated intensity, -1 none
  float cone_angle = 0.5235988f;  // radians, half-angle (30 degrees)
  float edge_angle = 0.0872665f;  // radians (5 degrees)
  LwFalloff falloff = LwFalloff::none;
  float range = 1;  // distance the falloff is measured against
  int parent = -1;  // object index, -1 none
  int motion = 0;   // the light's motion (as SceneLight::motion)
  int intensity_own = -1;     // Scene::lw_motions index of an animated intensity, -1 none
  float pivot[3] = {0, 0, 0};  // "PivotPosition" (LightWave 6 items only)
  std::string name;            // "LightName"
};

struct LwCamera {
  float zoom = 3.2f;        // static "ZoomFactor"
  int zoom_envelope = -1;   // motion index of an animated zoom, -1 none
  float pixel_aspect = 1;
  int parent = -1;          // object index, -1 none
  int motion = 0;           // engine motion of the camera; -1 when `motion_own` holds it
  int motion_own = -1;      // Scene::lw_motions index of a current camera the engine lacks
  int zoom_own = -1;        // Scene::lw_motions index of that camera's zoom envelope
  float pivot[3] = {0, 0, 0};
  std::string name;         // "CameraName"
};

struct LwBackdrop {
  bool solid = true;  // "SolidBackdrop"
  float color[3] = {0, 0, 0};
  float zenith[3] = {0, 0.157f, 0.314f};
  float sky[3] = {0.47f, 0.47f, 0.47f};
  float ground[3] = {0.196f, 0.157f, 0.118f};
  float nadir[3] = {0.392f, 0.314f, 0.235f};
  float sky_squeeze = 2, ground_squeeze = 2;
};

struct LwFog {
  int type = 0;  // 0 off, 1 linear (other types are drawn as linear)
  float min_distance = 0, max_distance = 1;
  float min_amount = 0, max_amount = 1;
  float color[3] = {0, 0, 0};
};

struct LwSceneInfo {
  int format_version = 1;  // LWSC version; 0 for a lone object's viewing scene
  std::vector<LwLight> lights;  // one per Scene::lights entry in use
  LwCamera camera;
  float ambient_color[3] = {1, 1, 1};  // 0..1
  float ambient_intensity = 0.25f;
  LwBackdrop backdrop;
  LwFog fog;
  int frame_width = 0, frame_height = 0;  // the scene's own render size, 0 unknown

  // Timing as the file gives it, and how playback frames map onto file frames (see
  // scene/lw_scene.h): file frame = playback frame + frame_origin.
  double first_frame = 0, last_frame = 0;  // "FirstFrame", "LastFrame" (file frames)
  double frames_per_second = 30;           // "FramesPerSecond" (30 when absent)
  double frame_origin = 0;                 // 0 for LWSC 1, FirstFrame for later scenes
  int current_camera = 0;  // "CurrentCamera": the camera in use, counted from 0 in file order
  // What the reader found absurd and made defined (logged once per scene), empty if nothing.
  std::string repaired;
};

}  // namespace orvl
