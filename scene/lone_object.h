// A viewing scene for one object file on its own: what `orvl render`, `orvl play` and the
// thumbnailer open when they are handed an LWOB or LWO2 object instead of a scene.
//
// Owns: telling an object file from a scene by its bytes (an IFF "FORM" of type "LWOB" or
// "LWO2", whatever the file is called), and building the scene around it. The scene is
// written as LightWave 6 scene text and read by the ordinary scene reader, so the object,
// its motion, the light and the camera land in the engine's tables and in LightWave's own
// records (`Scene::lw`, `Scene::lw_motions`) exactly as for a scene file; both looks draw it.
// Called by app/scene_run.cpp (open_scene, for every command that opens one file).
//
// The scene:
//   - the object, with its pivot at the centre of its bounding box, stands at the origin;
//     its bounding sphere (that centre, radius to the farthest point) is framed by a camera
//     on -Z looking along +Z (LightWave's default view direction) with LightWave's default
//     zoom factor 3.2, at the distance where the sphere's silhouette fills kLoneFill of the
//     frame's shorter side (the frame's aspect is the scene's configured width / height);
//   - LightWave's default light: the distant light "Light" a new LightWave scene starts
//     with, at (-2, 2, -2) with heading 45 and pitch 35 degrees, white, 100% (upper left,
//     in front of the object, shining down and away), and its default ambient light of 5%.
//     The lightwave look shines that light along its direction and never reads where a
//     distant light stands, so its position is free for the engine look, which draws every
//     light as a point light at its position and lights with the frustum on the model-view
//     matrix (render/display.h): there (-2, 2, -2) stands behind the object, or inside a
//     large one, and lights nothing the camera sees, and only a light far off to the side
//     shades anything. So the light stands at (-1, 1, 0) x kLoneEngineLightDistance times
//     the camera's distance: far to the upper left, level with the object's centre, where the
//     engine look lights the object's upper left; its direction stays LightWave's default;
//   - untextured LWOB surfaces that the engine reading would leave unlit (neither smoothing
//     nor the sharp terminator, not luminous) are lit flat, as LightWave lights them
//     (SceneFlags::LIGHT_UNLIT_SURFACES, ObjectLoadOptions::light_unlit_surfaces);
//   - a turntable: the object's heading runs linearly through one full turn (positive
//     heading, +Z toward +X) in `turntable_seconds`, repeated; 0 keeps it still. The scene
//     lasts one turn at 30 frames per second (frames 0 .. turn - 1, so that a loop is
//     seamless), a still one frame.
// An object with no points, or with all its points at one place, is framed as a sphere of
// radius 1 around them. Surface images that cannot be found are left off (a log line names
// each) rather than failing the load: a lone object is usually all one has.
// `Scene::lw.format_version` is 0 afterwards: the record of a lone object's viewing scene,
// which picks the lightwave look by default (scene/look.h).
//
// Sources: LightWave's default light and ambient level as LightWave itself writes them into
// a new scene (the "AddLight" item of the LightWave SDK's scene file format, LWSC 3:
// LightMotion channels -2, 2, -2, 0.7854, 0.6109, 0, 1, 1, 1, LightIntensity 1, LightType 0
// (distant), AmbientIntensity 0.05; the scenes saved by LightWave in the shared test data
// carry exactly these); the zoom factor and its lens from the camera panel of the LightWave
// manuals (zoom 3.2 is the default 24 mm lens: tan(vfov / 2) = 1 / zoom, scene/lw_scene.h);
// LWO2 layers numbered as LightWave's "LoadObjectLayer" numbers them (LAYR number + 1).
//
// Errors: the scene readers' own statuses (scene/scene.h); a layer the object does not have
// fails with bad_object and a log line naming it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/scene.h"

namespace orvl {

// The share of the frame's shorter side the bounding sphere's silhouette fills.
constexpr double kLoneFill = 0.7;
// LightWave's default zoom factor (the 24 mm lens).
constexpr double kLoneZoom = 3.2;
// How far out the light stands for the engine look, in camera distances (see above).
constexpr double kLoneEngineLightDistance = 20;
// Frames per second of the viewing scene.
constexpr double kLoneFramesPerSecond = 30;

struct LoneObjectOptions {
  int layer = 0;                   // LightWave layer number (1 = the first), 0 = every layer
  double turntable_seconds = 10;   // one turn in this many seconds; 0 = still
};
// Accepted ranges (callers refuse anything else before loading).
constexpr int kLoneMaxLayer = 65536;
constexpr double kLoneMinTurntableSeconds = 0.1;  // of a turning table
constexpr double kLoneMaxTurntableSeconds = 86400;

enum class LoneObjectKind : int { none = 0, lwob = 1, lwo2 = 2 };
// What the first bytes of a file say: an LWOB or LWO2 object, or neither.
LoneObjectKind lone_object_kind(const uint8_t* data, size_t size);
// The same for a file (resolved as every data path is); none when it cannot be read.
LoneObjectKind lone_object_file_kind(const std::string& path);

// Where the camera stands for a bounding sphere: the sphere (centre in object space) and the
// camera's distance from its centre.
struct LoneFraming {
  double centre[3] = {0, 0, 0};
  double radius = 1;
  double distance = 0;
};
// The framing of `object` (its untransformed vertices) for a frame of `aspect` = width /
// height (not positive: 4:3).
LoneFraming lone_object_framing(const SceneObject& object, double aspect);

// Loads `path` as a lone object into a constructed and configured `scene` (as scene_load
// does; `scene.width` / `scene.height` give the aspect the camera frames for). On failure the
// scene is cleaned up as a failed scene_load leaves it.
SceneStatus scene_load_lone_object(Scene& scene, const std::string& path, const LoneObjectOptions& options);

}  // namespace orvl
