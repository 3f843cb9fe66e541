#include "render/frame_renderer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "object/surface_image.h"
#include "platform/log.h"
#include "render/gl_api.h"
#include "render/lw_draw.h"
#include "render/mesh_draw.h"
#include "scene/motion.h"
#include "scene/precalc_file.h"

namespace orvl {
namespace {

FrameState g_frame;
FrameHooks g_hooks;

// Metaform ranges are recorded per object, so the table can never overflow.
static_assert(kMaxObjects <= kMaxMetaformRanges, "one metaform range per object");

bool contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

// Video frames fill only part of their power-of-two texture: the first two triangles of
// the object show exactly the frame. `video_layout` true gives the texture effect's
// corner order, false the static image's.
void set_video_uv(SceneObject& object, int fw, int fh, bool effect_layout) {
  if (object.polygon_count < 2) return;
  Triangle& p0 = object.polygons[0];
  Triangle& p1 = object.polygons[1];
  auto ratio = [](int frame, int tex) { return tex > 0 ? static_cast<float>(frame) / tex : 0.f; };
  float a0 = ratio(fw, p0.surface ? p0.surface->texture_width : 0);
  float b0 = ratio(fh, p0.surface ? p0.surface->texture_height : 0);
  float a1 = ratio(fw, p1.surface ? p1.surface->texture_width : 0);
  float b1 = ratio(fh, p1.surface ? p1.surface->texture_height : 0);
  if (effect_layout) {
    const float uv0[6] = {0, 0, a0, 0, a0, b0};
    const float uv1[6] = {0, 0, a1, b1, 0, b1};
    std::copy(uv0, uv0 + 6, p0.uv);
    std::copy(uv1, uv1 + 6, p1.uv);
  } else {
    const float uv0[6] = {0, 0, 0, b0, a0, b0};
    const float uv1[6] = {0, 0, a1, 0, a1, b1};
    std::copy(uv0, uv0 + 6, p0.uv);
    std::copy(uv1, uv1 + 6, p1.uv);
  }
}

void refresh_effect_textures(Scene& scene, int steps = 1) {
  const GlApi& g = gl();
  for (int i = 0; i < scene.object_count; ++i) {
    SceneObject& object = scene.objects[i];
    for (Surface& surface : object.surfaces) {
      if (surface.effect_pixels.empty()) continue;
      if (contains(surface.name, "_VIDEO_")) {
        if (!g_hooks.video_next_frame || steps <= 0) continue;
        int fw = 0, fh = 0;
        const uint32_t* frame = nullptr;
        for (int k = 0; k < steps; ++k) frame = g_hooks.video_next_frame(scene, surface, fw, fh);
        // A video that failed to load has no frame: its texture keeps what it had.
        if (!frame || fw <= 0 || fh <= 0 || fw > surface.texture_width || fh > surface.texture_height)
          continue;
        scene.video_frame_width = fw;
        scene.video_frame_height = fh;
        set_video_uv(object, fw, fh, true);
        g.BindTexture(GL_TEXTURE_2D, surface.gl_texture);
        g.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, fw, fh, GL_RGBA, GL_UNSIGNED_BYTE, frame);
        continue;
      }
      if (steps <= 0) continue;  // held: the texture already shows this frame
      void (*const step)(Scene&, Surface&) = contains(surface.name, "_STARFIELD_")   ? g_hooks.star_field_step
                                             : contains(surface.name, "_SINUSDOTS_") ? g_hooks.sinus_dots_step
                                             : contains(surface.name, "_PLASMA_")    ? g_hooks.plasma_step
                                                                                      : nullptr;
      if (step)
        for (int k = 0; k < steps; ++k) step(scene, surface);
      if (surface.effect_pixels.size() <
          static_cast<size_t>(surface.texture_width) * static_cast<size_t>(surface.texture_height))
        continue;  // never hand GL a buffer smaller than the texture
      g.BindTexture(GL_TEXTURE_2D, surface.gl_texture);
      g.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, surface.texture_width, surface.texture_height, GL_RGBA,
                      GL_UNSIGNED_BYTE, surface.effect_pixels.data());
    }
  }
}

void step_particles(Scene& scene, SceneObject& object, int steps) {
  if (g_hooks.particles_step) g_hooks.particles_step(scene, object, steps);
}

// Next bit of the precalculated visibility stream. Each frame starts on a new byte
// (bit_mask restarts at 1); a stream that ends early reads as "not visible".
bool next_visibility_bit(Scene& scene, uint8_t& byte) {
  if (scene.draw.bit_mask == 1) {
    PrecalcState& p = scene.precalc;
    byte = p.visibility_cursor < p.visibility.size() ? p.visibility[p.visibility_cursor] : 0;
    ++p.visibility_cursor;
    scene.draw.bit_mask = 0x80;
  } else {
    scene.draw.bit_mask = static_cast<uint8_t>(scene.draw.bit_mask >> 1);
  }
  return (byte & scene.draw.bit_mask) != 0;
}

// Positive scalar triple product p0 . (p1 x p2): the triangle faces the camera.
bool faces_camera(const Vertex& a, const Vertex& b, const Vertex& c) {
  double cx = double(b.y) * c.z - double(b.z) * c.y;
  double cy = double(b.z) * c.x - double(b.x) * c.z;
  double cz = double(b.x) * c.y - double(b.y) * c.x;
  return a.x * cx + a.y * cy + a.z * cz > 0.0;
}

}  // namespace

FrameState& frame_state() { return g_frame; }
FrameHooks& frame_hooks() { return g_hooks; }

int32_t depth_key(float z0, float z1, float z2) {
  double z = std::min({double(z0), double(z1), double(z2)}) * 256.0;
  if (!(z > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (z >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(z);  // truncation toward zero
}

bool queue_entry(Scene& scene, const Triangle* triangle, Vertex* v0, Vertex* v1, Vertex* v2,
                 int32_t key) {
  // Drop policy: the list is sized for the scene's triangles plus room for particles;
  // anything past it is counted and left out of this frame.
  if (g_frame.draw_count < 0 || static_cast<size_t>(g_frame.draw_count) >= scene.draw.draw_list.size() ||
      static_cast<size_t>(g_frame.draw_count) >= scene.draw.sort_keys.size()) {
    ++g_frame.dropped;
    if (!scene.draw.warned_draw_list_full) {
      scene.draw.warned_draw_list_full = true;
      log_line("Draw list of " + scene.path + " is full (" + std::to_string(scene.draw.draw_list.size()) +
               " entries): further triangles are left out of the frame.");
    }
    return false;
  }
  const uint32_t state = draw_state_code(*triangle);
  if (g_frame.draw_count == 0) {
    g_frame.first_state = state;
    g_frame.mixed_states = false;
  } else if (state != g_frame.first_state) {
    g_frame.mixed_states = true;
  }
  scene.draw.draw_list[g_frame.draw_count] = DrawEntry{triangle, v0, v1, v2, state};
  scene.draw.sort_keys[g_frame.draw_count] = SortKey{key, g_frame.draw_count};
  ++g_frame.draw_count;
  return true;
}

void queue_polygon(Scene& scene, SceneObject& object, const Triangle& t) {
  Vertex* v0 = &object.transformed[size_t(t.corners[0])];
  Vertex* v1 = &object.transformed[size_t(t.corners[1])];
  Vertex* v2 = &object.transformed[size_t(t.corners[2])];
  queue_entry(scene, &t, v0, v1, v2, depth_key(v0->z, v1->z, v2->z));
}

void queue_polygon_culled(Scene& scene, SceneObject& object, const Triangle& t) {
  Vertex* v0 = &object.transformed[size_t(t.corners[0])];
  Vertex* v1 = &object.transformed[size_t(t.corners[1])];
  Vertex* v2 = &object.transformed[size_t(t.corners[2])];
  if (!faces_camera(*v0, *v1, *v2) && !(t.flags & TriangleFlags::DOUBLE_SIDED)) return;
  queue_entry(scene, &t, v0, v1, v2, depth_key(v0->z, v1->z, v2->z));
}

void queue_metaform_polygon(Scene& scene, SceneObject& object, const Triangle& t) {
  Vertex* v[3] = {&object.transformed[size_t(t.corners[0])], &object.transformed[size_t(t.corners[1])],
                  &object.transformed[size_t(t.corners[2])]};
  float saved[3][3];
  for (int k = 0; k < 3; ++k) {
    saved[k][0] = v[k]->x;
    saved[k][1] = v[k]->y;
    saved[k][2] = v[k]->z;
  }
  if (!faces_camera(*v[0], *v[1], *v[2]) && !(t.flags & TriangleFlags::DOUBLE_SIDED)) return;

  // Later metaform objects are pulled by the triangles of earlier ones. Each entry
  // restarts from the saved positions, so the last entry of the last range decides.
  for (int r = 0; r < scene.draw.metaform_range_count && r < kMaxMetaformRanges; ++r) {
    const int first = scene.draw.metaform_ranges[r][0];
    const int end = scene.draw.metaform_ranges[r][1];
    if (end == 0) break;
    for (int e = first; e < end; ++e) {
      const DrawEntry& other = scene.draw.draw_list[e];
      const Vertex* o[3] = {other.vertex0, other.vertex1, other.vertex2};
      for (int k = 0; k < 3; ++k) {
        v[k]->x = saved[k][0] + o[k]->x;
        v[k]->y = saved[k][1] + o[k]->y;
        v[k]->z = saved[k][2] + o[k]->z;
      }
    }
  }
  queue_entry(scene, &t, v[0], v[1], v[2], depth_key(saved[0][2], saved[1][2], saved[2][2]));
}

void queue_static_image(Scene& scene, SceneObject& object) {
  // The loader guarantees the quad; anything smaller has nothing to show.
  if (object.polygon_count < 2 || object.vertex_count < 4) return;
  const Triangle& first = object.polygons[0];
  if (first.surface && contains(first.surface->name, "_VIDEO_"))
    set_video_uv(object, scene.video_frame_width, scene.video_frame_height, false);
  Vertex* v = object.vertices.data();
  queue_entry(scene, &object.polygons[0], &v[0], &v[1], &v[2], kStaticImageKey);
  queue_entry(scene, &object.polygons[1], &v[0], &v[3], &v[2], kStaticImageKey);
}

void engine_camera_from_world(Scene& scene, const LwMatrix& world, double zoom) {
  for (int r = 0; r < 3; ++r) {
    scene.camera_position[r] = static_cast<float>(world.m[r * 4 + 3]);
    for (int c = 0; c < 3; ++c) scene.camera_matrix[r * 3 + c] = static_cast<float>(world.m[c * 4 + r]);
  }
  if (!(zoom > 0.01) || !std::isfinite(zoom)) zoom = 3.2;
  scene.zoom_factor = static_cast<float>(zoom * kZoomNormalise);
}

void update_lights(Scene& scene) { update_lights(scene, RenderSettings()); }

void update_lights(Scene& scene, const RenderSettings& settings) {
  const GlApi& g = gl();
  evaluate_objects(scene);
  evaluate_camera(scene);
  if (settings.camera_world) engine_camera_from_world(scene, *settings.camera_world, settings.camera_zoom);
  for (int k = 0; k < std::min(settings.effect_steps, kMaxEffectSteps); ++k) scroll_textures(scene);
  if ((scene.flags & SceneFlags::BUILD_PRECALC) || scene.light_count <= 0) {
    g.Disable(GL_LIGHTING);
    return;
  }
  g.Enable(GL_LIGHTING);
  const int lights = std::min(scene.light_count, kMaxGlLights);
  if (scene.light_count > kMaxGlLights && !scene.draw.warned_extra_lights) {
    scene.draw.warned_extra_lights = true;
    log_line(scene.path + " has " + std::to_string(scene.light_count) + " lights: only the first " +
             std::to_string(kMaxGlLights) + " are used.");
  }
  const float* m = scene.camera_matrix;
  for (int i = 0; i < lights; ++i) {
    const SceneLight& light = scene.lights[i];
    evaluate_light(scene, light.motion);
    // The z component is a sum: camera z is stored with the opposite sign of the lights'.
    const double d[3] = {double(scene.light_position[0]) - scene.camera_position[0],
                         double(scene.light_position[1]) - scene.camera_position[1],
                         double(scene.light_position[2]) + scene.camera_position[2]};
    const GLfloat position[4] = {static_cast<float>(m[0] * d[0] + m[1] * d[1] + m[2] * d[2]),
                                 static_cast<float>(m[3] * d[0] + m[4] * d[1] + m[5] * d[2]),
                                 static_cast<float>(m[6] * d[0] + m[7] * d[1] + m[8] * d[2]), 1.0f};
    const GLfloat diffuse[4] = {light.color[0] * light.intensity, light.color[1] * light.intensity,
                                light.color[2] * light.intensity, 1.0f};
    const GLenum id = GL_LIGHT0 + static_cast<GLenum>(i);
    g.Lightfv(id, GL_POSITION, position);
    g.Lightfv(id, GL_DIFFUSE, diffuse);
    g.Enable(id);
  }
  for (int i = lights; i < kMaxGlLights; ++i) g.Disable(GL_LIGHT0 + static_cast<GLenum>(i));
}

int scene_render_frame(Scene& scene, int clear_bits, const RenderSettings& settings) {
  const GlApi& g = gl();
  const bool building = (scene.flags & SceneFlags::BUILD_PRECALC) != 0;

  if (settings.look == Look::lightwave && !building) {
    // The lightwave look evaluates on the same clock and sets no engine lights.
    const int steps = std::min(settings.effect_steps, kMaxEffectSteps);
    refresh_effect_textures(scene, steps);
    evaluate_objects(scene);
    evaluate_camera(scene);
    for (int k = 0; k < steps; ++k) scroll_textures(scene);
    for (int i = 0; i < scene.light_count; ++i) evaluate_light(scene, scene.lights[i].motion);
    lw_draw_frame(scene, clear_bits, settings);
    return 0;
  }

  if (!building) {
    scene.draw.clear_mask =
        ((clear_bits & ClearBits::DEPTH) && (scene.flags & SceneFlags::DEPTH_BUFFER)) ? GL_DEPTH_BUFFER_BIT : 0;
    if (clear_bits & ClearBits::COLOR) {
      scene.draw.clear_mask |= GL_COLOR_BUFFER_BIT;
      if (settings.transparent_background) g.ClearColor(0, 0, 0, 0);
      else g.ClearColor(scene.backdrop_color[0], scene.backdrop_color[1], scene.backdrop_color[2], 1.0f);
    }
    if (clear_bits != 0) g.Clear(scene.draw.clear_mask);
  } else {
    for (int m = 0; m < scene.motion_count && m < static_cast<int>(scene.motions.size()); ++m)
      scene.motions[m].advanced = 0;
    update_lights(scene);
    if (g_hooks.precalc_record_frame) g_hooks.precalc_record_frame(scene);
    return 0;
  }

  const int steps = std::min(settings.effect_steps, kMaxEffectSteps);
  refresh_effect_textures(scene, steps);
  update_lights(scene, settings);

  g_frame.draw_count = 0;
  scene.draw.bit_mask = 1;
  bool from_stream = !scene.precalc.visibility.empty();
  if (from_stream && !precalc_frame_usable(scene)) {
    // Past the file's table, or the scene no longer matches the file: this frame is
    // decided by the renderer's own tests rather than by bits that belong elsewhere.
    from_stream = false;
    if (!scene.draw.warned_precalc_fallback) {
      scene.draw.warned_precalc_fallback = true;
      log_line(scene.path + ": its precalculation file does not answer frame " + std::to_string(scene.current_frame) +
               " (built for a shorter or different scene); such frames use the renderer's own visibility tests.");
    }
  }
  if (!from_stream) {
    for (int i = 0; i < scene.object_count && i < kMaxMetaformRanges; ++i)
      scene.draw.metaform_ranges[i][0] = scene.draw.metaform_ranges[i][1] = 0;
    scene.draw.metaform_range_count = 0;
  }
  uint8_t stream_byte = 0;

  for (int i = 0; i < scene.object_count; ++i) {
    SceneObject& object = scene.objects[i];
    if (object.polygon_count == 0 || object.is_morph_target) continue;
    if (object.static_image) {
      queue_static_image(scene, object);
      continue;
    }
    scene.object_index = i;
    transform_object(scene);

    if (from_stream) {
      if (object.particles) {
        step_particles(scene, object, steps);
        continue;
      }
      for (int t = 0; t < object.polygon_count; ++t) {
        if (next_visibility_bit(scene, stream_byte)) queue_polygon(scene, object, object.polygons[size_t(t)]);
      }
      continue;
    }

    if (object.plots) {
      for (int t = 0; t < object.polygon_count; ++t) queue_polygon(scene, object, object.polygons[size_t(t)]);
    } else if (object.particles) {
      step_particles(scene, object, steps);
    } else if (object.metaform) {
      const int r = scene.draw.metaform_range_count;
      scene.draw.metaform_ranges[r][0] = g_frame.draw_count;
      for (int t = 0; t < object.polygon_count; ++t)
        queue_metaform_polygon(scene, object, object.polygons[size_t(t)]);
      scene.draw.metaform_ranges[r][1] = g_frame.draw_count;
      ++scene.draw.metaform_range_count;
    } else {
      for (int t = 0; t < object.polygon_count; ++t)
        queue_polygon_culled(scene, object, object.polygons[size_t(t)]);
    }
  }

  draw_frame(scene, settings.exact_order, settings.transparent_background);
  return 0;
}

}  // namespace orvl
