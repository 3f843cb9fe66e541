// What a scene file says for LightWave's own look beyond what the engine keeps: lights
// (type, cone, edge, falloff, parent), camera (static zoom, pixel aspect, parent), ambient
// light, backdrop and fog. Filled by both scene readers after a load (`Scene::lw`), read by
// the lightwave look, the exporter, `orvl eval` and the thumbnailer through
// scene/lw_scene.h; the engine look never reads it. Units: angles in radians, colours 0..1.
#pragma once

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
};

struct LwCamera {
  float zoom = 3.2f;        // static "ZoomFactor"
  int zoom_envelope = -1;   // motion index of an animated zoom, -1 none
  float pixel_aspect = 1;
  int parent = -1;          // object index, -1 none
  int motion = 0;
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
};

}  // namespace orvl
