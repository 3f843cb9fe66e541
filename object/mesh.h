// Mesh records built by the LWOB object loader and read by the renderer, the effects and
// the particles: `Vertex`, `Triangle`, `Surface` and the per-triangle `TriangleFlags`, the
// `SceneObject` that owns them, and the `ObjectTable` the loader fills: the part of a
// scene the object layer works on (the scene record is built on top of it).
//
// Pixel buffers are 32-bit words; in a surface they hold RGBA bytes in memory order
// (red first), square and a power of two on a side, waiting for the texture upload.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "object/lw_surface.h"

namespace orvl {

constexpr int kMaxObjects = 50;
constexpr int kMaxImageNames = 256;
constexpr size_t kMaxPathLength = 255;  // paths and file names inside a scene

// Name fields in LightWave surfaces hold at most 127 characters.
constexpr size_t kMaxSurfaceNameLength = 127;
constexpr size_t kMaxImagePathLength = 127;
constexpr int kParticleTints = 12;

// Per-triangle drawing bits, set per surface by the loader's finishing step.
namespace TriangleFlags {
constexpr uint32_t TEXTURED = 0x1;
constexpr uint32_t REFLECTION = 0x2;
constexpr uint32_t FLAT_LIT = 0x4;
constexpr uint32_t SMOOTH_LIT = 0x8;
constexpr uint32_t ADDITIVE = 0x20;
constexpr uint32_t DOUBLE_SIDED = 0x40;
constexpr uint32_t INVERT = 0x80;
constexpr uint32_t WIREFRAME = 0x400;
constexpr uint32_t EFFECT_TEXTURE = 0x800;
constexpr uint32_t PARTICLE = 0x1000;
}  // namespace TriangleFlags

// Position then normal; the normal is filled only for objects that need lighting.
struct Vertex {
  float x = 0, y = 0, z = 0;
  float nx = 0, ny = 0, nz = 0;
};

using PixelBuffer = std::vector<uint32_t>;

struct Surface {
  float box[6] = {0, 0, 0, 0, 0, 0};  // min x, max x, min y, max y, min z, max z
  float extent[3] = {0, 0, 0};
  int16_t texture = -1;             // 1-based image index within the scene, -1 none
  int16_t reflection_texture = -1;  // the same for the reflection image
  int32_t axis = 2;                 // projection axis: 0 X, 1 Y, 2 Z
  uint32_t lw_flags = 0;            // "FLAG" word
  int32_t image_width = 0, image_height = 0;  // static image size before padding
  uint8_t color[3] = {200, 200, 200};
  std::string name;
  std::string image_path;       // colour image path, shortened
  std::string reflection_path;  // reflection image path, or a plasma surface's source image
  uint32_t scroll_flags = 0;
  float scroll_u = 0, scroll_v = 0;
  int32_t line_width = 0;  // digit after "__WIREFRAME"
  PixelBuffer image_pixels, reflection_pixels;
  PixelBuffer effect_pixels;  // work buffer of a 2D-effect surface
  int32_t texture_width = 0, texture_height = 0;
  uint32_t gl_texture = 0;
  std::array<PixelBuffer, kParticleTints> particle_pixels;
  // Surface translucency (LightWave 6 "TRAN"): 1 opaque. Triangles of a surface below 1
  // read their alpha from `alpha`, which the motion evaluation keeps at the object's
  // dissolve level times this opacity.
  float opacity = 1.0f;
  int alpha = 255;
  // The surface as LightWave defines it (object/lw_surface.h), for the lightwave look, the
  // exporter and the dumps; the engine's fields above stay what the engine draws from.
  LwSurfaceParams lw;
};

// The fields every drawn triangle reads come first, then what textured ones add, then what
// only loading reads: an untextured triangle is drawn from its first 32 bytes.
struct Triangle {
  uint32_t flags = 0;               // TriangleFlags
  uint8_t color[3] = {0, 0, 0};
  int16_t texture = -1;             // OpenGL texture name of the colour image
  int16_t reflection_texture = -1;  // OpenGL texture name of the reflection image
  int32_t corners[3] = {0, 0, 0};
  const int* dissolve_ref = nullptr;  // the owning object's dissolve level (0..255)
  Surface* surface = nullptr;
  float uv[6] = {0, 0, 0, 0, 0, 0};  // u, v of corner 0, 1, 2
  float normal[3] = {0, 0, 0};
};

struct ParticleEmitter;  // particle system state, owned through SceneObject::emitter

struct SceneObject {
  int polygon_count = 0;
  int vertex_count = 0;
  int surface_count = 0;
  int motion = 0;
  int parent = -1;
  int dissolve_envelope = -1;
  int deform = 0;
  float pivot[3] = {0, 0, 0};  // stored negated
  int dissolve = 0;            // 0..255
  std::vector<Triangle> polygons;
  std::vector<uint8_t> plots_buffer;  // vertex_count x 144 bytes for "_PLOTS_" objects
  std::vector<Vertex> vertices;
  std::vector<Vertex> transformed;
  std::vector<Vertex> transformed_parent;
  std::vector<Surface> surfaces;
  int needs_normals = 0;
  int metaform = 0;
  int no_dissolve = 0;
  float rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float position[3] = {0, 0, 0};
  float angles[3] = {0, 0, 0};  // radians
  float scale[3] = {1, 1, 1};
  int plots = 0;
  int particles = 0;
  std::shared_ptr<ParticleEmitter> emitter;
  float morph_amount = 0;
  int morph_target = -1;
  int morph_envelope = -1;
  int is_morph_target = 0;
  int static_image = 0;
  std::string file_name;    // the name on its "LoadObject" / "AddNullObject" line
  std::string loaded_path;  // the path the object file was opened as ("" for null objects)
  // A null object standing in for an object file that was not found (a scene loaded with
  // SceneFlags::MISSING_NULL); `file_name` still names the file.
  bool missing = false;
  // Per triangle corner, in object space: the normal LightWave shades with (the surface's
  // smoothing angle decides which faces a corner averages; faceted surfaces keep the face
  // normal). 9 floats per triangle, filled by the loaders for the lightwave look and export
  // (see lw_corner_normals in object/lw_surface.h); unit length, never NaN. A static-image
  // object's picture quad takes each triangle's face normal. The engine never reads them.
  std::vector<float> corner_normals;
};

// Per-vertex accumulator of the object loader's normal pass.
struct NormalAccumulator {
  float sum[3] = {0, 0, 0};
  int32_t count = 0;
};

// What the object loader and the surface images read and fill: the object table, the
// scene's image list, where files are looked for and the display limits textures obey.
// The scene record derives from it, so a scene is handed to the loader as it is.
struct ObjectTable {
  std::string path;            // the scene file (its folder is searched for images)
  std::string lightwave_root;  // second place object and image files are looked for
  int loaded = 1;              // 0 once a file could not be opened

  std::vector<SceneObject> objects;  // kMaxObjects entries once loading starts
  int object_count = 0;
  int polygon_total = 0;
  std::vector<std::string> image_names;  // at most kMaxImageNames, each at most kMaxPathLength
  int image_count = 0;
  int texture_base = 0;  // texture number of this scene's image 1

  int width = 0;
  int height = 0;
  int max_texture_size = 0;

  // The object file being loaded and the loader's normal sums; empty between loads.
  std::vector<uint8_t> object_data;
  size_t object_data_pos = 0;
  std::vector<NormalAccumulator> normal_work;
};

// What one object load reports back beyond its status: whether the file that was missing
// was a surface image, and then that image's shortened path.
struct ObjectLoadContext {
  bool image_missing = false;
  std::string error_path;
};

// The smallest power of two not below `n` (0 stays 0).
uint32_t round_up_pow2(uint32_t n);

}  // namespace orvl
