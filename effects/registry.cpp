// Preparing and releasing the effects a scene's surface names ask for, and plugging the
// per-frame steps into the frame renderer.
#include <algorithm>
#include <memory>
#include <string>

#include "effects/effects.h"
#include "object/surface_image.h"
#include "platform/log.h"
#include "render/frame_renderer.h"
#include "scene/scene.h"

namespace orvl {
namespace {

// The surface's effect buffer, or an empty one when it is smaller than its texture says.
EffectBuffer buffer_of(Surface& s) {
  const size_t need = static_cast<size_t>(s.texture_width) * static_cast<size_t>(s.texture_height);
  if (s.texture_width <= 0 || s.texture_height <= 0 || s.effect_pixels.size() < need) return {};
  return {s.effect_pixels.data(), s.texture_width, s.texture_height};
}

void step_plasma(Scene&, Surface& s) { plasma_step(buffer_of(s)); }
void step_sinus_dots(Scene&, Surface& s) { sinus_dots_step(buffer_of(s)); }
void step_star_field(Scene&, Surface& s) { star_field_step(buffer_of(s)); }
const uint32_t* next_video_frame(Scene&, Surface&, int& width, int& height) {
  return video_next_frame(width, height);
}

void queue_into(void* scene, const Triangle* t, Vertex* v0, Vertex* v1, Vertex* v2, int32_t key) {
  (void)queue_entry(*static_cast<Scene*>(scene), t, v0, v1, v2, key);
}

// Steps after a jump in time move the particles from where the emitter stands now: the
// emitter's places at the skipped frames are not evaluated.
void step_particles(Scene& scene, SceneObject& object, int steps) {
  if (!object.emitter || object.polygons.empty()) return;
  if (steps <= 0) {
    particles_queue(*object.emitter, queue_into, &scene);
    return;
  }
  for (int k = 1; k < steps; ++k)
    particles_step(*object.emitter, object.polygons[0], object.transformed.data(), object.transformed.size(),
                   nullptr, nullptr);
  particles_step(*object.emitter, object.polygons[0], object.transformed.data(), object.transformed.size(),
                 queue_into, &scene);
}

// Every surface that owns an effect buffer, in object order.
template <typename Fn>
void for_effect_surfaces(Scene& scene, Fn fn) {
  for (int i = 0; i < scene.object_count && i < static_cast<int>(scene.objects.size()); ++i)
    for (Surface& s : scene.objects[i].surfaces)
      if (!s.effect_pixels.empty()) fn(s);
}

void prepare_plasma(Scene& scene, Surface& s) {
  // The source path is kept as the object file wrote it.
  std::string shortened = s.reflection_path;
  drop_path_prefix(shortened);
  const std::string file = find_surface_image(scene, shortened, s.reflection_path);
  const EffectStatus st = file.empty() ? plasma_init_pixels(s.texture_width, s.texture_height, PixelBuffer())
                                       : plasma_init(s.texture_width, s.texture_height, file);
  if (st == EffectStatus::source_too_small)
    log_format("Plasma %s: source %s holds fewer than %zu pixels; the plasma stands still.", s.name.c_str(),
               s.reflection_path.c_str(), plasma_source_needed(s.texture_width));
  else if (st != EffectStatus::ok)
    log_format("Plasma %s: source %s: %s; the plasma stands still.", s.name.c_str(), s.reflection_path.c_str(),
               effect_status_text(st));
}

void prepare_video(Scene& scene, Surface& s, const EffectName& n) {
  if (n.count_cut)
    log_format("Video %s: frame count longer than %zu characters, cut.", s.name.c_str(), kMaxFrameCountText);
  // The frames live beside the picture the surface itself names.
  std::string file = find_surface_image(scene, s.image_path, std::string());
  if (file.empty()) file = s.image_path;
  const EffectStatus st = video_init(s.texture_width, s.texture_height, file, n.frame_count, n.flip);
  if (st != EffectStatus::ok)
    log_format("Video %s: %s; its texture keeps its picture.", s.name.c_str(), effect_status_text(st));
}

}  // namespace

void effects_install_hooks() {
  FrameHooks& h = frame_hooks();
  h.plasma_step = step_plasma;
  h.sinus_dots_step = step_sinus_dots;
  h.star_field_step = step_star_field;
  h.video_next_frame = next_video_frame;
  h.particles_step = step_particles;
}

void particles_setup_scene(Scene& scene) {
  for (int i = 0; i < scene.object_count && i < static_cast<int>(scene.objects.size()); ++i) {
    SceneObject& o = scene.objects[i];
    if (!o.particles || o.emitter) continue;  // set up once: the set-up shortens the name
    o.emitter = std::make_shared<ParticleEmitter>();
    (void)particles_setup(*o.emitter, o.polygons);
  }
}

void effects_init(Scene& scene) {
  for_effect_surfaces(scene, [&](Surface& s) {
    const EffectName n = parse_effect_name(s.name);
    switch (n.kind) {
      case EffectKind::star_field: star_field_init(s.texture_width, s.texture_height); break;
      case EffectKind::sinus_dots: sinus_dots_init(s.texture_width, s.texture_height); break;
      case EffectKind::plasma: prepare_plasma(scene, s); break;
      case EffectKind::video: prepare_video(scene, s, n); break;
      case EffectKind::none: break;
    }
  });
}

void effects_restart(Scene& scene) {
  effect_random_seed(1);
  for (int i = 0; i < scene.object_count && i < static_cast<int>(scene.objects.size()); ++i) {
    SceneObject& o = scene.objects[i];
    if (o.emitter) particles_restart(*o.emitter);
    for (Surface& s : o.surfaces) s.scroll_u = s.scroll_v = 0;
  }
  for_effect_surfaces(scene, [&](Surface& s) {
    switch (parse_effect_name(s.name).kind) {
      case EffectKind::star_field:
        std::fill(s.effect_pixels.begin(), s.effect_pixels.end(), 0u);
        star_field_init(s.texture_width, s.texture_height);
        break;
      case EffectKind::sinus_dots:
        std::fill(s.effect_pixels.begin(), s.effect_pixels.end(), 0u);
        sinus_dots_init(s.texture_width, s.texture_height);
        break;
      case EffectKind::plasma: plasma_state().phase_sin = plasma_state().phase_cos = 0; break;
      case EffectKind::video: video_state().position = 0; break;
      case EffectKind::none: break;
    }
  });
}

void effects_free(Scene& scene) {
  for_effect_surfaces(scene, [&](Surface& s) {
    switch (parse_effect_name(s.name).kind) {
      case EffectKind::plasma: plasma_free(); break;
      case EffectKind::video: video_free(); break;
      default: break;
    }
  });
}

}  // namespace orvl
