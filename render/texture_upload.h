// Texture upload: turns the pixel buffers that surface images left in a Scene's surfaces
// into OpenGL textures, once, after the display is open and before the show clock starts.
//
// Each buffer is bound directly under its texture number (the number the surface-image
// loader used up for it), so texture k always shows image k whatever order the surface
// chunks came in; copy m of a particle surface goes under its first number + m. Filters
// come from the Scene's options and from words in the surface name. Buffers are freed
// after upload, so a second upload of the same Scene does nothing. All GL goes through
// the call table (render/gl_api.h). Called by the show sequencer; `delete_textures` at
// tear-down.
#pragma once

#include <cstdint>

#include "object/mesh.h"
#include "scene/scene.h"

namespace orvl {

// Filter choice for one surface, from the Scene flags and the surface name.
struct TextureFilters {
  bool forced_linear = false;
  bool linear_allowed = true;
  bool forced_mipmap = false;
  bool mipmap_allowed = true;
};
TextureFilters texture_filters_for(const std::string& surface_name);

// Uploads every pending buffer of the Scene.
void upload_textures(Scene& scene);

// Creates texture `name` from a square side x side RGBA buffer (fourth bytes set to 255
// first) and leaves it bound.
void upload_texture(Scene& scene, uint32_t name, PixelBuffer& pixels, int side,
                    const TextureFilters& filters);

// Deletes the textures named 1 to texture_counter, one call per name, in increasing order.
void delete_textures();

}  // namespace orvl
