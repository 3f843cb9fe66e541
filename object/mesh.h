// Mesh records built by the LWOB object loader and read by the renderer, the effects and
// the particles: `Vertex`, `Triangle`, `Surface` and the per-triangle `TriangleFlags`.
//
// Pixel buffers are 32-bit words; in a surface they hold RGBA bytes in memory order
// (red first), square and a power of two on a side, waiting for the texture upload.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

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
};

struct Triangle {
  int32_t corners[3] = {0, 0, 0};
  Surface* surface = nullptr;
  uint8_t color[3] = {0, 0, 0};
  float uv[6] = {0, 0, 0, 0, 0, 0};  // u, v of corner 0, 1, 2
  float normal[3] = {0, 0, 0};
  int16_t texture = -1;             // OpenGL texture name of the colour image
  int16_t reflection_texture = -1;  // OpenGL texture name of the reflection image
  uint32_t flags = 0;               // TriangleFlags
  const int* dissolve_ref = nullptr;  // the owning object's dissolve level (0..255)
};

}  // namespace orvl
