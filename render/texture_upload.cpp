#include "render/texture_upload.h"

#include "object/surface_image.h"
#include "platform/log.h"
#include "render/gl_api.h"

namespace orvl {
namespace {

bool contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// Side of a square buffer, 0 when the buffer is not square. A surface records one texture
// size, that of the image it loaded last; its colour and reflection images can differ in
// size, so each buffer's side comes from the buffer itself (never read past a buffer).
int square_side(const PixelBuffer& pixels) {
  size_t side = 1;
  while (side * side < pixels.size()) side <<= 1;
  return side * side == pixels.size() ? static_cast<int>(side) : 0;
}

void upload_and_free(Scene& scene, Surface& surface, PixelBuffer& pixels, int number,
                     const TextureFilters& filters, bool sets_gl_texture) {
  if (pixels.empty()) return;
  const int side = square_side(pixels);
  if (number > 0 && side > 0) {
    upload_texture(scene, static_cast<uint32_t>(number), pixels, side, filters);
    if (sets_gl_texture) surface.gl_texture = static_cast<uint32_t>(number);
  } else {
    log_line("Texture of surface " + surface.name + " has no usable pixels; left blank.");
  }
  PixelBuffer().swap(pixels);  // free the memory, not just the size
}

}  // namespace

TextureFilters texture_filters_for(const std::string& name) {
  TextureFilters f;
  f.linear_allowed = !contains(name, "__NO_BILINEAR__");
  f.forced_linear = f.linear_allowed && contains(name, "__BILINEAR__");
  f.mipmap_allowed = !contains(name, "__NO_MIPMAPPING__");
  f.forced_mipmap = f.mipmap_allowed && contains(name, "__MIPMAPPING__");
  // Effect textures are rewritten every frame with sub-image updates: mipmaps would go stale.
  if (contains(name, "__2DEFFECT_")) f.mipmap_allowed = false;
  return f;
}

void upload_texture(Scene& scene, uint32_t name, PixelBuffer& pixels, int side,
                    const TextureFilters& filters) {
  const GlApi& g = gl();
  g.BindTexture(GL_TEXTURE_2D, name);
  g.TexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
  g.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  g.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  // Textures are opaque; transparency comes from the drawing.
  for (uint32_t& p : pixels) p |= 0xFF000000u;
  const bool mipmap = ((scene.flags & SceneFlags::MIPMAP) && filters.mipmap_allowed) || filters.forced_mipmap;
  const bool linear = ((scene.flags & SceneFlags::BILINEAR) && filters.linear_allowed) || filters.forced_linear;
  if (mipmap) {
    g.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST);
    g.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    g.Build2DMipmaps(GL_TEXTURE_2D, 4, side, side, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  } else {
    g.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    g.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    g.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, side, side, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  }
}

void upload_textures(Scene& scene) {
  for (int i = 0; i < scene.object_count && i < static_cast<int>(scene.objects.size()); ++i) {
    SceneObject& object = scene.objects[i];
    for (Surface& surface : object.surfaces) {
      const TextureFilters filters = texture_filters_for(surface.name);
      if (contains(surface.name, "__PARTICLES_")) {
        // texture is the first of the twelve numbers; copy m shows under first + m.
        const int first = surface.texture == -1 ? -1 : scene.texture_base + surface.texture - 1;
        for (int m = 0; m < kParticleTints; ++m)
          upload_and_free(scene, surface, surface.particle_pixels[m], first < 0 ? -1 : first + m, filters, m == 0);
        continue;
      }
      const int colour = surface.texture == -1 ? -1 : scene.texture_base + surface.texture - 1;
      const int reflection =
          surface.reflection_texture == -1 ? -1 : scene.texture_base + surface.reflection_texture - 1;
      upload_and_free(scene, surface, surface.image_pixels, colour, filters, true);
      upload_and_free(scene, surface, surface.reflection_pixels, reflection, filters, false);
    }
  }
}

void delete_textures() {
  const GlApi& g = gl();
  for (int name = 1; name <= texture_counter; ++name) {
    const GLuint n = static_cast<GLuint>(name);
    g.DeleteTextures(1, &n);
  }
}

}  // namespace orvl
