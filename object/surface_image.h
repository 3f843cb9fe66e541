// Surface images: turns the image paths of a surface ("TIMG" in its "SURF" chunk) into
// texture numbers, shares images between the objects of a scene, computes the planar
// texture coordinates of textured surfaces and moves scrolling textures every frame.
//
// Called by the object loader while it reads "SURF" chunks (`load_surface_image`) and in
// its finishing step (`map_surface_texture`); `scroll_textures` is called once per drawn
// frame by the frame renderer.
//
// Paths: the first 13 characters of an image path are dropped (they named the author's
// disk); the rest is looked for relative to the working directory, then below the
// LightWave root. Content made elsewhere names images relative to its own directory, so
// when both fail the path as written is tried relative to the working directory, the
// LightWave root and the scene file's folder (the log says which file was used). "(none)"
// means no image. Codes "SCUP", "SCDN", "SCLT", "SCRT" anywhere in the path scroll it.
//
// Capacities: image paths hold 127 characters, a scene 256 images, texture numbers are
// 16-bit (32767 images per show); going past any of them fails with over_capacity and a
// log line naming the limit. A missing image fails with `missing`, sets the load context's
// `image_missing` and `error_path` (the shortened path) and the table's `loaded` = 0.
#pragma once

#include <cstdint>
#include <string>

#include "object/mesh.h"

namespace orvl {

enum class [[nodiscard]] SurfaceImageStatus : int {
  ok = 0,
  missing = 1,        // the image file exists nowhere it was looked for
  over_capacity = 2,  // path too long, or too many images (a log line names the limit)
};
const char* surface_image_status_text(SurfaceImageStatus s);

// Bits of Surface::scroll_flags and the step per drawn frame.
namespace ScrollFlags {
constexpr uint32_t UP = 0x1;     // "SCUP": v grows
constexpr uint32_t DOWN = 0x2;   // "SCDN": v shrinks
constexpr uint32_t LEFT = 0x4;   // "SCLT": u shrinks
constexpr uint32_t RIGHT = 0x8;  // "SCRT": u grows
}  // namespace ScrollFlags
constexpr float kScrollStep = 0.005f;

// Characters dropped from the front of object and image paths found in data files.
constexpr size_t kDroppedPrefixLength = 13;
// Drops the prefix in place; a shorter path becomes empty.
void drop_path_prefix(std::string& path);

// Twelve RGB multipliers for the tinted copies of a particle surface's image.
extern const float kTintTable[kParticleTints * 3];

// Show-wide count of images loaded so far (each image's OpenGL texture name). A show
// starts it from zero with `reset_texture_counter` before its first scene loads.
extern int texture_counter;
void reset_texture_counter();

// Slot 0 is the colour image, slot 1 the reflection image, of `surface`, a surface of the
// object being loaded (entry `object_count`). `path` is the path as the file gives it and
// is shortened in place.
SurfaceImageStatus load_surface_image(ObjectTable& table, ObjectLoadContext& context,
                                      Surface& surface, std::string& path, int slot);

// Looks an image up: `shortened` as given, below the LightWave root, then `as_written`
// relative to the working directory, the LightWave root and the scene file's folder.
// Returns the file to read, or an empty string when there is none.
std::string find_surface_image(const ObjectTable& table, const std::string& shortened,
                               const std::string& as_written);

// Fills `box`, `extent` and the triangles' `uv` of `surface`, one of `object`'s surfaces,
// by projecting along the surface's axis over its bounding box.
void map_surface_texture(SceneObject& object, Surface& surface);
// The same for a surface of the object being loaded (entry `object_count`).
void map_surface_texture(ObjectTable& table, Surface& surface);

// One scroll step for every surface of every loaded object.
void scroll_textures(ObjectTable& table);

}  // namespace orvl
