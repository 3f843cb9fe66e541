// glTF 2.0 export of a loaded scene (or a lone object) with its animation: `orvl export`
// builds a document here and writes it as one .glb, or as .gltf with its .bin and PNG files
// beside it. Reads the scene record, the surface record (object/lw_surface.h) and the pose
// (scene/lw_scene.h); never the renderer.
//
// The mapping, in one place:
//   coordinates   glTF is LightWave with Z mirrored: (x, y, z) -> (x, y, -z) for positions,
//                 normals and matrices (M' = S M S, S = diag(1, 1, -1)); each triangle's
//                 corners are swapped (0, 2, 1), as LightWave's visible side is the one its
//                 corners run clockwise on, so front faces stay front faces (unlit surfaces
//                 too, which carry no engine normal). LightWave's
//                 camera and lights look along local +Z, which becomes glTF's -Z.
//   time          0 is the scene's FirstFrame; samples at the scene's rate (or `fps`) up to
//                 and including LastFrame, which gets the spline's own value.
//   nodes         one per object (nulls too), per light, and the camera, parented as in the
//                 scene. Node TRS = inv(parent world) . world . T(pivot), from the same pose
//                 `orvl eval --look lightwave` prints; an item with a pivot gets a child
//                 node translated by -pivot that holds the mesh, and children hang below it
//                 (LightWave's child space includes its parent's pivot). Objects loaded only
//                 as Metamorph targets stay as empty nodes (no mesh), so their children keep
//                 a parent; their points live on as the morph target of the object morphing
//                 into them. The layers of a lone LWO2 object come as objects of their own
//                 (app/cmd_export.cpp splits them), with the layer's pivot and parent; at
//                 rest each node is T(pivot), its mesh child T(-pivot).
//   meshes        one primitive per surface; normals from `SceneObject::corner_normals`
//                 (vertices split where corners differ, so faceted surfaces stay faceted);
//                 texture coordinates per corner from the colour layer's projection, split
//                 where a cylindrical or spherical map wraps round.
//   materials     base colour = colour x diffuse, alpha = 1 - transparency (BLEND below 1);
//                 emissive = colour with KHR_materials_emissive_strength = luminosity;
//                 KHR_materials_unlit when luminosity >= 1 and diffuse is 0;
//                 metallic = 0; roughness from the Phong exponent n and the specular level s:
//                 r0 = (2 / (n + 2))^(1/4) (the Beckmann slope of a Phong lobe, square-rooted
//                 into glTF's perceptual roughness), roughness = 1 - s (1 - r0), so a surface
//                 without specular is fully rough; double-sided surfaces are `doubleSided`;
//                 additive, reflection, refraction, colour highlights/filter, translucency
//                 and the LightWave values themselves under `extras`. The colour image is
//                 embedded as PNG at the resolution the engine decoded it to (square power of
//                 two), whatever its file format; wrap: repeat -> REPEAT, mirror ->
//                 MIRRORED_REPEAT, edge and reset -> CLAMP_TO_EDGE.
//   animation     one animation, LINEAR samplers; rotations keep the sign of the previous
//                 sample. Metamorph: a morph target (target points - own points) whose
//                 weight is the morph amount. With `pointer` (KHR_animation_pointer): dissolve
//                 as the alpha of baseColorFactor of the object's own materials (BLEND),
//                 zoom as the camera's yfov = 2 atan(1 / zoom), light intensity, and the
//                 engine's scrolling textures as the KHR_texture_transform offset.
//   scene         extras.lightwave: ambient colour and intensity, backdrop colour (glTF has
//                 neither ambient light nor backdrop).
//   camera        perspective, yfov = 2 atan(1 / zoom), aspect = width / height x pixel aspect,
//                 no far plane, znear the smallest near plane the lightwave look uses over the
//                 samples (1/4096 of the farthest point, at least 1e-4), so scenes modelled
//                 tiny are not cut open in front of the camera.
//   lights        KHR_lights_punctual: distant -> directional, point -> point, spot -> spot
//                 (inner = cone - edge, outer = cone); linear and area lights become points.
//                 Intensity: LightWave's 100% on a white diffuse surface lights it fully,
//                 which a physically based reader gives for pi lux (directional) or pi
//                 candela at unit distance (point, spot): intensity = pi x LightWave
//                 intensity, times range^2 for lights with a falloff range.
//
// Limits: accessor counts and byte lengths must fit 32 bits, a .glb must stay below 4 GiB,
// and an animation holds at most 2^20 samples (about 9 hours at 30 per second; a scene whose
// LastFrame claims for ever is refused before anything is sampled, naming --to and --fps);
// beyond that the build says so (too_large). Values that are not finite are replaced (the
// rest value, or the previous sample) with one log line per document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scene/scene.h"

namespace orvl {

enum class [[nodiscard]] GltfStatus : int {
  ok = 0,
  write_failed = 1,  // an output file could not be written (nothing partial is left)
  too_large = 2,     // over a glTF or GLB limit (the error says which)
  bad_input = 3,     // nothing exportable, or options that do not fit the scene
};
const char* gltf_status_text(GltfStatus s);

struct GltfOptions {
  double fps = 0;           // samples per second, 0: the scene's own rate
  double from_ms = 0;       // sampled window, milliseconds after FirstFrame
  double to_ms = -1;        // -1: up to LastFrame
  bool pointer = true;      // KHR_animation_pointer channels
  int width = 640, height = 480;  // output size, for the camera's aspect ratio
  bool animate = true;      // false for lone objects: no animation at all
};

// A built document: JSON, one binary buffer and the PNG pictures it refers to.
struct GltfDocument {
  nlohmann::json json;
  std::vector<uint8_t> bin;
  std::vector<std::vector<uint8_t>> images;  // PNG bytes, glTF image i
  int samples = 0;                           // animation samples written
  std::vector<double> sample_frames;         // playback frame of each sample
};

// Builds the document for a loaded scene (lone objects: a scene holding one object and no
// timing, with `options.animate` false).
GltfStatus gltf_build(const Scene& scene, const GltfOptions& options, GltfDocument& out, std::string* error);

// Lays the document out as GLB bytes (images become buffer views). too_large past 4 GiB.
GltfStatus gltf_glb_bytes(GltfDocument& doc, std::vector<uint8_t>& out, std::string* error);

// Writes `path`: a .glb in one file, or a .gltf with NAME.bin and NAME_imgN.png beside it,
// every file through the atomic writer. When one of a .gltf's files cannot be written, those
// already written beside it are removed again (write_failed), so nothing partial is left.
GltfStatus gltf_write(GltfDocument& doc, const std::string& path, std::string* error);

}  // namespace orvl
